// TParameters / TParameter: the parameters of a statement, found by name or by position.
#pragma once

#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "framework/variant.h"

namespace qar {

// Data types a parameter may be declared with (the framework's numbering subset).
enum TFieldType {
  ftUnknown = 0,
  ftString = 1,
  ftSmallint = 2,
  ftInteger = 3,
  ftWord = 4,
  ftBoolean = 5,
  ftFloat = 6,
  ftCurrency = 7,
  ftDate = 9,
  ftTime = 10,
  ftDateTime = 11,
  ftMemo = 16,
  ftWideString = 24,
  ftLargeint = 25,
};

// Directions, the same numbers in the framework's and in the database layer's numbering.
enum TParameterDirection {
  pdUnknown = 0,
  pdInput = 1,
  pdOutput = 2,
  pdInputOutput = 3,
  pdReturnValue = 4,
};

class TParameter {
 public:
  TParameter(std::string name, TFieldType dataType, TParameterDirection direction, int size,
             Variant value)
      : name_(std::move(name)), dataType_(dataType), direction_(direction), size_(size),
        value_(value.Detached()) {}

  const std::string& Name() const { return name_; }
  void SetName(std::string name) { name_ = std::move(name); }
  TFieldType DataType() const { return dataType_; }
  void SetDataType(TFieldType dataType) { dataType_ = dataType; }
  TParameterDirection Direction() const { return direction_; }
  void SetDirection(TParameterDirection direction) { direction_ = direction; }
  int Size() const { return size_; }
  void SetSize(int size) { size_ = size; }
  const Variant& Value() const { return value_; }
  // Keeps a copy: a caller's reference is followed, never kept.
  void SetValue(const Variant& value) { value_ = value.Detached(); }

  // The value as the driver should receive it: a text given to a parameter declared
  // as a number is converted (EVariantError when it is no number).
  Variant BindValue() const;

 private:
  std::string name_;
  TFieldType dataType_;
  TParameterDirection direction_;
  int size_;
  Variant value_;
};

// An ordered collection; positions count from 0 in order of appearance in the
// statement. Items keep their address while they are in the collection.
class TParameters {
 public:
  TParameters() = default;
  TParameters(const TParameters&) = delete;
  TParameters& operator=(const TParameters&) = delete;

  int Count() const { return static_cast<int>(items_.size()); }
  TParameter& Items(int index) const;
  TParameter& operator[](int index) const { return Items(index); }
  // Item by an index given as a variant integer, as automation callers pass it.
  TParameter& Item(const Variant& index) const { return Items(index.AsInteger()); }

  // Finds a parameter by name, ignoring the case of a to z.
  TParameter* FindParam(std::string_view name) const;
  TParameter& ParamByName(std::string_view name) const;  // EDataError when absent

  TParameter& CreateParameter(std::string name, TFieldType dataType,
                              TParameterDirection direction, int size, Variant value);
  void Clear() { items_.clear(); }

  // Makes the collection hold exactly one parameter per distinct name, in order of
  // first appearance; a parameter already present under a name keeps its declaration
  // and value.
  void SyncNames(const std::vector<std::string>& names);

 private:
  // True when the collection already is one parameter per distinct name, in order.
  bool HoldsExactly(const std::vector<std::string>& names) const;

  std::vector<std::unique_ptr<TParameter>> items_;
};

}  // namespace qar
