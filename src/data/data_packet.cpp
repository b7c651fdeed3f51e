#include "data/data_packet.h"

#include <cctype>
#include <limits>

#include "platform/text.h"

namespace qar {

namespace {

bool IsIntegerCode(std::uint16_t code) {
  switch (code) {
    case kVarSmallInt: case kVarInteger: case kVarShortInt: case kVarByte:
    case kVarWord: case kVarLongWord: case kVarInt64: case kVarUInt64: return true;
    default: return false;
  }
}

bool IsFieldType(std::int64_t type) {
  return type == kVarInteger || type == kVarInt64 || type == kVarDouble || type == kVarOleStr ||
         type == kVarDate || type == kVarBoolean;
}

std::string CodeName(std::uint16_t code) {
  if ((code & kVarArray) != 0) return "Array";
  if (IsIntegerCode(code)) return code == kVarInt64 || code == kVarUInt64 ? "Int64" : "Integer";
  switch (code) {
    case kVarEmpty: return "Empty";
    case kVarNull: return "Null";
    case kVarSingle:
    case kVarDouble: return "Double";
    case kVarOleStr: return "Text";
    case kVarDate: return "Date";
    case kVarBoolean: return "Boolean";
    case kVarDispatch:
    case kVarUnknown: return "Object";
    default: return "type " + std::to_string(code);
  }
}

// Reading one form: every refusal names the form.
class TReader {
 public:
  explicit TReader(std::string form) : form_(std::move(form)) {}

  [[noreturn]] void Fail(const std::string& detail) const {
    throw EProviderError("Invalid " + form_ + ": " + detail);
  }

  const std::vector<Variant>& Array(const Variant& value, const std::string& what) const {
    if ((value.Deref().VarType() & kVarArray) == 0)
      Fail(what + " is " + CodeName(value.Deref().VarType()) + ", not an array");
    return value.ArrayItems();
  }

  const std::vector<Variant>& Array(const Variant& value, const std::string& what,
                                    std::size_t minSize, std::size_t maxSize) const {
    const std::vector<Variant>& items = Array(value, what);
    if (items.size() < minSize || items.size() > maxSize) {
      Fail(what + " has " + std::to_string(items.size()) + " items, not " + std::to_string(minSize) +
           (maxSize != minSize ? " to " + std::to_string(maxSize) : ""));
    }
    return items;
  }

  std::int64_t Integer(const Variant& value, const std::string& what) const {
    if (!IsIntegerCode(value.Deref().VarType()))
      Fail(what + " is " + CodeName(value.Deref().VarType()) + ", not an integer");
    try {
      return value.AsInt64();
    } catch (const EVariantOverflow&) {
      Fail(what + " is out of range");
    }
  }

  std::string Text(const Variant& value, const std::string& what) const {
    if (value.Deref().VarType() != kVarOleStr || value.AsString().empty())
      Fail(what + " is not a text");
    return value.AsString();
  }

  void Format(const Variant& value, const char* expected) const {
    if (value.Deref().VarType() != kVarOleStr || value.AsString() != expected)
      Fail(std::string("it does not start with \"") + expected + "\"");
  }

  // A form's three items: its name, its fields (into `fields`), its row list.
  const std::vector<Variant>& Form(const Variant& value, const char* format, bool plainNames,
                                   std::vector<TPacketField>& fields) const {
    const std::vector<Variant>& items = Array(value, "the " + form_, 3, 3);
    Format(items[0], format);
    fields = Fields(items[1], plainNames);
    return Array(items[2], "the row list");
  }

  std::vector<TPacketField> Fields(const Variant& value, bool plainNames) const {
    std::vector<TPacketField> fields;
    const std::vector<Variant>& items = Array(value, "the field list");
    for (std::size_t i = 0; i < items.size(); ++i) {
      const std::string what = "field " + std::to_string(i);
      const std::vector<Variant>& field = Array(items[i], what, 2, 2);
      TPacketField read{Text(field[0], what + "'s name"), 0};
      if (plainNames && !IsPlainColumnName(read.Name)) Fail(what + " is not a plain column name");
      for (const TPacketField& other : fields)
        if (platform::SameTextAscii(other.Name, read.Name)) Fail("field " + read.Name + " appears twice");
      const std::int64_t type = Integer(field[1], "the type of " + read.Name);
      if (!IsFieldType(type)) Fail("field " + read.Name + " has no field type " + std::to_string(type));
      read.Type = static_cast<std::uint16_t>(type);
      fields.push_back(std::move(read));
    }
    return fields;
  }

  // One value per field, each stored as its field's type; Empty only when allowed.
  std::vector<Variant> Values(const Variant& value, const std::vector<TPacketField>& fields,
                              const std::string& what, bool allowEmpty) const {
    const std::vector<Variant>& items = Array(value, what, fields.size(), fields.size());
    std::vector<Variant> values(items.size());
    for (std::size_t i = 0; i < items.size(); ++i) {
      const Variant& item = items[i].Deref();
      if (item.IsEmpty() && allowEmpty) continue;
      const std::string misfit = Misfit(item, fields[i].Type, values[i]);
      if (!misfit.empty()) Fail(what + ", field " + fields[i].Name + ": " + misfit);
    }
    return values;
  }

 private:
  // Why `value` does not fit a field of `type` (empty when it fits; `stored` then
  // holds it as the field's type).
  static std::string Misfit(const Variant& value, std::uint16_t type, Variant& stored) {
    const std::uint16_t code = value.VarType();
    const std::string mismatch = CodeName(code) + " where " + CodeName(type) + " is expected";
    if (code == kVarNull) {
      stored = Variant::Null();
      return {};
    }
    try {
      switch (type) {
        case kVarInteger:
          if (!IsIntegerCode(code)) return mismatch;
          stored = Variant(value.AsInteger());
          return {};
        case kVarInt64:
          if (!IsIntegerCode(code)) return mismatch;
          stored = Variant(value.AsInt64());
          return {};
        case kVarDouble:
          if (!IsIntegerCode(code) && code != kVarDouble && code != kVarSingle) return mismatch;
          stored = Variant(value.AsDouble());
          return {};
        case kVarDate:
          if (code != type) return mismatch;
          stored = Variant::FromDate(value.AsDateTime());
          return {};
        default:
          if (code != type) return mismatch;
          stored = value;
          return {};
      }
    } catch (const EVariantOverflow&) {
      return "overflow, the value does not fit " + CodeName(type);
    }
  }

  std::string form_;
};

Variant FieldsValue(const std::vector<TPacketField>& fields) {
  std::vector<Variant> items;
  for (const TPacketField& field : fields)
    items.push_back(Variant::Array({field.Name, static_cast<std::int32_t>(field.Type)}));
  return Variant::Array(std::move(items));
}

// A column name that a packet can carry: never empty, never twice.
std::string UniqueName(std::string name, std::size_t index, const std::vector<TPacketField>& taken) {
  if (name.empty()) name = "Field" + std::to_string(index + 1);
  std::string unique = name;
  for (int n = 1;; ++n) {
    bool clash = false;
    for (const TPacketField& field : taken) clash = clash || platform::SameTextAscii(field.Name, unique);
    if (!clash) return unique;
    unique = name + "_" + std::to_string(n);
  }
}

}  // namespace

bool IsPlainColumnName(const std::string& name) {
  if (name.empty() || name.size() > 128) return false;
  const auto letter = [](char c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || c == '_'; };
  if (!letter(name[0])) return false;
  for (char c : name)
    if (!letter(c) && !(c >= '0' && c <= '9')) return false;
  return true;
}

Variant MakeDataPacket(const TDataPacket& packet) {
  std::vector<Variant> rows;
  rows.reserve(packet.Rows.size());
  for (const std::vector<Variant>& row : packet.Rows) rows.push_back(Variant::Array(row));
  return Variant::Array({kDataPacketFormat, FieldsValue(packet.Fields), Variant::Array(std::move(rows))});
}

TDataPacket ReadDataPacket(const Variant& value) {
  const TReader reader("data packet");
  TDataPacket packet;
  const std::vector<Variant>& rows = reader.Form(value, kDataPacketFormat, false, packet.Fields);
  for (std::size_t r = 0; r < rows.size(); ++r)
    packet.Rows.push_back(reader.Values(rows[r], packet.Fields, "row " + std::to_string(r), false));
  return packet;
}

namespace {

// The packet type of a column declared `type` that holds no value to tell it.
std::uint16_t DeclaredPacketType(TFieldType type) {
  switch (type) {
    case ftSmallint: case ftInteger: case ftWord: return kVarInteger;
    case ftLargeint: return kVarInt64;
    case ftFloat: case ftCurrency: return kVarDouble;
    case ftDate: case ftTime: case ftDateTime: return kVarDate;
    case ftBoolean: return kVarBoolean;
    default: return kVarOleStr;
  }
}

}  // namespace

TDataPacket DataPacketOf(std::vector<std::string> columns, std::vector<std::vector<Variant>> rows,
                         std::size_t keep, const std::vector<TFieldType>& declared) {
  TDataPacket packet;
  std::vector<std::uint16_t> types;
  for (std::size_t c = 0; c < columns.size(); ++c) {
    bool any = false, integers = true, narrow = true, numbers = true, dates = true, booleans = true;
    for (std::vector<Variant>& row : rows) {
      if (row.size() < columns.size()) row.resize(columns.size(), Variant::Null());
      const Variant& value = row[c];
      if (value.IsNull() || value.IsEmpty()) continue;
      const TVarType type = value.Type();
      any = true;
      integers = integers && type == TVarType::Integer;
      if (type == TVarType::Integer) {
        const std::int64_t number = value.AsInt64();
        narrow = narrow && number >= std::numeric_limits<std::int32_t>::min() &&
                 number <= std::numeric_limits<std::int32_t>::max();
      }
      numbers = numbers && (type == TVarType::Integer || type == TVarType::Double);
      dates = dates && type == TVarType::Date;
      booleans = booleans && type == TVarType::Boolean;
    }
    std::uint16_t type = kVarOleStr;
    if (any && integers) type = narrow ? kVarInteger : kVarInt64;
    else if (any && numbers) type = kVarDouble;
    else if (any && dates) type = kVarDate;
    else if (any && booleans) type = kVarBoolean;
    else if (!any && c < declared.size()) type = DeclaredPacketType(declared[c]);
    types.push_back(type);
  }
  if (rows.size() > keep) rows.resize(keep);  // the rest only counted for the types
  for (std::size_t c = 0; c < columns.size(); ++c) {
    const std::uint16_t type = types[c];
    for (std::vector<Variant>& row : rows) {
      Variant& value = row[c];
      if (value.IsNull() || value.IsEmpty()) value = Variant::Null();
      else if (type == kVarInteger) value = Variant(value.AsInteger());
      else if (type == kVarInt64) value = Variant(value.AsInt64());
      else if (type == kVarDouble) value = Variant(value.AsDouble());
      else if (type == kVarOleStr) value = Variant(value.AsString());
    }
    packet.Fields.push_back({UniqueName(std::move(columns[c]), c, packet.Fields), type});
  }
  for (std::vector<Variant>& row : rows) row.resize(columns.size());
  packet.Rows = std::move(rows);
  return packet;
}

Variant MakeDelta(const TDelta& delta) {
  std::vector<Variant> rows;
  for (const TDeltaRow& row : delta.Rows) {
    std::vector<Variant> items{static_cast<std::int32_t>(row.State), Variant::Array(row.Values)};
    if (row.State == TDeltaState::Modify) items.push_back(Variant::Array(row.Original));
    rows.push_back(Variant::Array(std::move(items)));
  }
  return Variant::Array({kDeltaFormat, FieldsValue(delta.Fields), Variant::Array(std::move(rows))});
}

TDelta ReadDelta(const Variant& value) {
  const TReader reader("delta");
  TDelta delta;
  const std::vector<Variant>& rows = reader.Form(value, kDeltaFormat, true, delta.Fields);
  for (std::size_t r = 0; r < rows.size(); ++r) {
    const std::string what = "row " + std::to_string(r);
    const std::vector<Variant>& row = reader.Array(rows[r], what, 2, 3);
    const std::int64_t state = reader.Integer(row[0], what + "'s state");
    if (state < 1 || state > 3) reader.Fail(what + " has no state " + std::to_string(state));
    TDeltaRow read;
    read.State = static_cast<TDeltaState>(state);
    if (row.size() != (read.State == TDeltaState::Modify ? 3u : 2u))
      reader.Fail(what + " has " + std::to_string(row.size()) + " items for its state");
    read.Values = reader.Values(row[1], delta.Fields, what, true);
    if (read.State == TDeltaState::Modify) read.Original = reader.Values(row[2], delta.Fields, what + "'s original", true);
    bool anyValue = false;
    for (const Variant& v : read.Values) anyValue = anyValue || !v.IsEmpty();
    if (!anyValue && read.State != TDeltaState::Delete) reader.Fail(what + " gives no value");
    delta.Rows.push_back(std::move(read));
  }
  return delta;
}

std::vector<std::pair<std::string, Variant>> ReadParams(const Variant& value) {
  std::vector<std::pair<std::string, Variant>> params;
  if (value.IsEmpty() || value.IsNull()) return params;
  const TReader reader("parameter list");
  const std::vector<Variant>& items = reader.Array(value, "the list");
  for (std::size_t i = 0; i < items.size(); ++i) {
    const std::string what = "parameter " + std::to_string(i);
    const std::vector<Variant>& item = reader.Array(items[i], what, 2, 4);
    if (item.size() == 3) reader.Fail(what + " has 3 items, not 2 or 4");
    std::string name = reader.Text(item[0], what + "'s name");
    // A copy of the value: nothing the caller sent by reference is kept.
    const Variant given = item[1].Detached();
    if (given.Type() == TVarType::Unknown)
      reader.Fail("parameter " + name + " has a value of no database type (" + CodeName(given.VarType()) + ")");
    try {
      // Every value a statement can bind: a 64-bit integer, a representable date.
      if (given.Type() == TVarType::Integer) given.AsInt64();
      if (given.Type() == TVarType::Date) given.AsDateTime();
    } catch (const EVariantOverflow&) {
      reader.Fail("parameter " + name + ": overflow, " + CodeName(given.VarType()) + " out of range");
    }
    if (item.size() == 4) {
      reader.Integer(item[2], "the data type of " + name);
      reader.Integer(item[3], "the direction of " + name);
    }
    for (const auto& other : params)
      if (platform::SameTextAscii(other.first, name)) reader.Fail("parameter " + name + " appears twice");
    params.emplace_back(std::move(name), given);
  }
  return params;
}

Variant MakeParams(const TParameters& parameters, bool outputsOnly) {
  std::vector<Variant> items;
  for (int i = 0; i < parameters.Count(); ++i) {
    const TParameter& parameter = parameters[i];
    const TParameterDirection direction = parameter.Direction();
    if (outputsOnly && direction != pdOutput && direction != pdInputOutput && direction != pdReturnValue)
      continue;
    items.push_back(Variant::Array({parameter.Name(), parameter.Value(),
                                    static_cast<std::int32_t>(parameter.DataType()),
                                    static_cast<std::int32_t>(direction)}));
  }
  return Variant::Array(std::move(items));
}

Variant MakeUpdateErrors(const std::vector<TUpdateError>& errors) {
  std::vector<Variant> items;
  for (const TUpdateError& error : errors) items.push_back(Variant::Array({error.RowIndex, error.Message}));
  return Variant::Array(std::move(items));
}

}  // namespace qar
