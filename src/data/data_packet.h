// The forms the data-set provider and its clients exchange: data packets, deltas, parameter lists, update errors.
#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "data/parameters.h"
#include "framework/provider.h"
#include "framework/variant.h"

namespace qar {

// Every form is made of variant arrays (any first index; written with index 0), so a
// script builds one with Array(...). Readers are strict: anything else is refused
// with EProviderError naming the row and field, before the provider touches the
// database.
//
// Field types are variant type codes:
//   3 Integer (32-bit), 20 Int64, 5 Double, 8 Text, 7 Date, 11 Boolean.
// A value fits a field when it is Null or of the field's kind: any integer code
// within range for Integer and Int64, any integer or floating code for Double, and
// exactly 8, 7 or 11 for Text, Date and Boolean. Readers store values as the field's
// type (a script's 2-byte integer becomes a 4-byte one). Type codes, states, row
// indexes and parameter types are integers of any integer code.
//
// DATA PACKET: ["DataPacket 1", Fields, Rows]
//   Fields: one [Name, Type] per field; names are non-empty and unique (case ignored).
//   Rows:   one array per row, one value per field; Null for no value.
//   Example, two products:
//     ["DataPacket 1", [["ID", 3], ["NOME", 8], ["PRECO", 5]],
//                      [[1, "Caf\xE9", 12.5], [2, "Ch\xE1", Null]]]
//
// DELTA: ["Delta 1", Fields, Rows], Fields as in a data packet; each name must be a
// plain column name (a letter or "_", then letters, digits or "_", at most 128).
//   Rows: [1, Values]            insert: the new row; Empty leaves a column to its default
//         [2, Values, Original]  modify: Values the new values, Empty for unchanged;
//                                Original the row as read (its key fields are used)
//         [3, Values]            delete: the row as read (its key fields are used)
//   Example: insert product 3, rename product 1, delete product 2 (key field ID):
//     ["Delta 1", [["ID", 3], ["NOME", 8]],
//                 [[1, [3, "Mate"]], [2, [Empty, "Caf\xE9 forte"], [1, "Caf\xE9"]], [3, [2, "Ch\xE1"]]]]
//
// PARAMETERS: [[Name, Value], ...] or [[Name, Value, DataType, Direction], ...], the
// second form as GetParams returns it (DataType a TFieldType, Direction a
// TParameterDirection; a client's DataType and Direction are not used). Values are
// Null, Empty, numbers, texts, dates or booleans. Empty or Null instead of a list: none.
//   Example: [["MINIMO", 10]]
//
// UPDATE ERRORS: [[RowIndex, Message], ...], RowIndex counting the delta's rows from 0.
//   Example: [[1, "UNIQUE constraint failed: PRODUTO.NOME"]]

inline constexpr const char* kDataPacketFormat = "DataPacket 1";
inline constexpr const char* kDeltaFormat = "Delta 1";

struct TPacketField {
  std::string Name;
  std::uint16_t Type = kVarOleStr;
};

struct TDataPacket {
  std::vector<TPacketField> Fields;
  std::vector<std::vector<Variant>> Rows;
};

enum class TDeltaState : std::int32_t { Insert = 1, Modify = 2, Delete = 3 };

struct TDeltaRow {
  TDeltaState State = TDeltaState::Insert;
  std::vector<Variant> Values;
  std::vector<Variant> Original;  // modify rows only
};

struct TDelta {
  std::vector<TPacketField> Fields;
  std::vector<TDeltaRow> Rows;
};

struct TUpdateError {
  std::int32_t RowIndex = 0;
  std::string Message;
};

Variant MakeDataPacket(const TDataPacket& packet);
TDataPacket ReadDataPacket(const Variant& packet);

// A packet of result rows. Each field's type follows its values: Integer when all
// are integers of 32 bits, Int64 when wider, Double when any is fractional, Date or
// Boolean when all are, Text otherwise (mixed values then become their texts). A
// column with no value takes its type from `declared` (Text when unknown). Only the
// first `keep` rows are converted and kept.
TDataPacket DataPacketOf(std::vector<std::string> columns, std::vector<std::vector<Variant>> rows,
                         std::size_t keep = SIZE_MAX, const std::vector<TFieldType>& declared = {});

Variant MakeDelta(const TDelta& delta);
TDelta ReadDelta(const Variant& delta);

std::vector<std::pair<std::string, Variant>> ReadParams(const Variant& params);
// The parameters in the second form (only those that return a value when `outputsOnly`).
Variant MakeParams(const TParameters& parameters, bool outputsOnly = false);

Variant MakeUpdateErrors(const std::vector<TUpdateError>& errors);

// True for a name a statement may hold as it is: see DELTA above.
bool IsPlainColumnName(const std::string& name);

}  // namespace qar
