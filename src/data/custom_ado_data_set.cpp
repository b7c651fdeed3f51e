#include "data/custom_ado_data_set.h"

#include "data/data_error.h"
#include "platform/text.h"

namespace qar {

Variant TField::Value() const { return dataSet_.FieldValue(index_); }

TCustomADODataSet::~TCustomADODataSet() { SetConnection(nullptr); }

void TCustomADODataSet::SetConnection(TADOConnection* connection) {
  if (connection == connection_) return;
  Close();
  if (connection_) connection_->DetachDataSet(*this);
  connection_ = connection;
  if (connection_) connection_->AttachDataSet(*this);
}

TDriverResult TCustomADODataSet::Run(std::optional<std::size_t> maxRows) {
  if (connection_ == nullptr) throw EDataError("Missing Connection or ConnectionString");
  TStatementRequest request = BuildRequest();
  request.parameters = &parameters_;
  request.maxRows = maxRows;
  return connection_->RunStatement(request);
}

void TCustomADODataSet::Open(std::optional<std::size_t> maxRows) {
  if (active_) return;
  TDriverResult result = Run(maxRows);
  static const TResultColumns kNone;
  const TResultColumns& columns = result.columns ? *result.columns : kNone;
  const auto typeOf = [&columns](std::size_t i) { return i < columns.types.size() ? columns.types[i] : ftUnknown; };
  // The fields of the last open serve again for the same columns (a query opened
  // again and again); any other result gets fields of its own.
  bool same = spareFields_.size() == columns.names.size();
  for (std::size_t i = 0; same && i < spareFields_.size(); ++i)
    same = spareFields_[i]->FieldName() == columns.names[i] && spareFields_[i]->DataType() == typeOf(i);
  if (same) {
    fields_.swap(spareFields_);
  } else {
    fields_.clear();
    for (std::size_t i = 0; i < columns.names.size(); ++i)
      fields_.push_back(std::make_unique<TField>(*this, columns.names[i], static_cast<int>(i), typeOf(i)));
  }
  spareFields_.clear();
  rows_ = std::move(result.rows);
  recordIndex_ = 0;
  active_ = true;
}

void TCustomADODataSet::Close() {
  active_ = false;
  if (!fields_.empty()) spareFields_.swap(fields_);
  fields_.clear();
  rows_.clear();
  recordIndex_ = 0;
}

TField& TCustomADODataSet::Fields(int index) const {
  if (index < 0 || index >= FieldCount())
    throw EDataError("List index out of bounds (" + std::to_string(index) + ")");
  return *fields_[static_cast<std::size_t>(index)];
}

TField* TCustomADODataSet::FindField(std::string_view name) const {
  for (const auto& field : fields_)
    if (platform::SameTextAscii(field->FieldName(), name)) return field.get();
  return nullptr;
}

TField& TCustomADODataSet::FieldByName(std::string_view name) const {
  TField* field = FindField(name);
  if (field == nullptr) throw EDataError(Name() + ": Field '" + std::string(name) + "' not found");
  return *field;
}

Variant TCustomADODataSet::FieldValue(int index) const {
  if (!active_ || Eof()) return Variant::Null();
  const auto& row = rows_[static_cast<std::size_t>(recordIndex_)];
  if (index < 0 || static_cast<std::size_t>(index) >= row.size()) return Variant::Null();
  return row[static_cast<std::size_t>(index)];
}

}  // namespace qar
