// TCustomADODataSet / TField: a statement's result rows, read field by field by name.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "data/ado_connection.h"
#include "data/ado_types.h"
#include "data/parameters.h"
#include "framework/component.h"
#include "framework/variant.h"

namespace qar {

class TCustomADODataSet;

// One column of a data set; reads the value of the data set's current row. With no
// current row (an empty result) every field reads as Null, that is empty text.
class TField {
 public:
  TField(TCustomADODataSet& dataSet, std::string name, int index, TFieldType dataType = ftUnknown)
      : dataSet_(dataSet), name_(std::move(name)), index_(index), dataType_(dataType) {}

  const std::string& FieldName() const { return name_; }
  // The column's type as the server declares it; ftUnknown when it declares none.
  TFieldType DataType() const { return dataType_; }
  Variant Value() const;
  bool IsNull() const { return Value().IsNull(); }
  std::string AsString() const { return Value().AsString(); }
  std::int32_t AsInteger() const { return Value().AsInteger(); }
  double AsFloat() const { return Value().AsDouble(); }

 private:
  TCustomADODataSet& dataSet_;
  std::string name_;
  int index_;
  TFieldType dataType_;
};

// The common part of queries and stored procedures: opening fetches every row of
// the result (or the rows asked for) into memory (the cursor is released at once, so the connection is free
// for the next statement); the first row is the current one.
class TCustomADODataSet : public TComponent {
 public:
  ~TCustomADODataSet() override;
  std::string ClassName() const override { return "TCustomADODataSet"; }

  TADOConnection* Connection() const { return connection_; }
  void SetConnection(TADOConnection* connection);

  TParameters& Parameters() { return parameters_; }
  int CommandTimeout() const { return commandTimeout_; }
  void SetCommandTimeout(int seconds) { commandTimeout_ = seconds; }

  bool Active() const { return active_; }
  void SetActive(bool value) { value ? Open() : Close(); }
  // With `maxRows`, fetches no more rows than that (the rest of the result is never read).
  void Open(std::optional<std::size_t> maxRows = std::nullopt);
  void Close();

  int FieldCount() const { return static_cast<int>(fields_.size()); }
  TField& Fields(int index) const;
  TField* FindField(std::string_view name) const;  // ignoring the case of a to z
  TField& FieldByName(std::string_view name) const;  // EDataError when there is none

  int RecordCount() const { return static_cast<int>(rows_.size()); }
  bool IsEmpty() const { return rows_.empty(); }
  bool Eof() const { return recordIndex_ >= RecordCount(); }
  void First() { recordIndex_ = 0; }
  void Next() {
    if (!Eof()) ++recordIndex_;
  }

  // The current row's value of a column; Null without a current row.
  Variant FieldValue(int index) const;

  // The statement it last sent, as its will-execute notification left it: the text
  // with "?" markers, or the procedure name. Empty until it runs.
  const std::string& Source() const { return source_; }

 protected:
  // What the data set sends: the reported text, its command type and marker names.
  virtual TStatementRequest BuildRequest() = 0;
  // Runs the request on the connection (for statements without rows, too).
  TDriverResult Run(std::optional<std::size_t> maxRows = std::nullopt);

 private:
  friend class TADOConnection;  // records Source as the statement goes out

  TADOConnection* connection_ = nullptr;
  TParameters parameters_;
  int commandTimeout_ = 30;
  bool active_ = false;
  std::vector<std::unique_ptr<TField>> fields_;
  std::vector<std::unique_ptr<TField>> spareFields_;  // the fields of the last open, while closed
  std::vector<std::vector<Variant>> rows_;
  int recordIndex_ = 0;
  std::string source_;
};

}  // namespace qar
