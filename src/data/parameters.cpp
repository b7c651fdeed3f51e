#include "data/parameters.h"

#include "data/data_error.h"
#include "platform/text.h"

namespace qar {

Variant TParameter::BindValue() const {
  if (value_.Type() != TVarType::String) return value_;  // Null and Empty too
  switch (dataType_) {
    case ftSmallint:
    case ftInteger:
    case ftWord:
    case ftLargeint: return Variant(value_.AsInt64());
    case ftFloat:
    case ftCurrency: return Variant(value_.AsDouble());
    default: return value_;
  }
}

TParameter& TParameters::Items(int index) const {
  if (index < 0 || index >= Count())
    throw EDataError("Parameter index out of range (" + std::to_string(index) + ")");
  return *items_[static_cast<std::size_t>(index)];
}

TParameter* TParameters::FindParam(std::string_view name) const {
  for (const auto& item : items_)
    if (platform::SameTextAscii(item->Name(), name)) return item.get();
  return nullptr;
}

TParameter& TParameters::ParamByName(std::string_view name) const {
  TParameter* parameter = FindParam(name);
  if (parameter == nullptr) throw EDataError("Parameter '" + std::string(name) + "' not found");
  return *parameter;
}

TParameter& TParameters::CreateParameter(std::string name, TFieldType dataType,
                                         TParameterDirection direction, int size, Variant value) {
  items_.push_back(std::make_unique<TParameter>(std::move(name), dataType, direction, size,
                                                std::move(value)));
  return *items_.back();
}

bool TParameters::HoldsExactly(const std::vector<std::string>& names) const {
  std::size_t held = 0;
  for (const std::string& name : names) {
    if (held < items_.size() && platform::SameTextAscii(items_[held]->Name(), name)) {
      ++held;
      continue;
    }
    bool repeated = false;
    for (std::size_t i = 0; i < held && !repeated; ++i) repeated = platform::SameTextAscii(items_[i]->Name(), name);
    if (!repeated) return false;
  }
  return held == items_.size();
}

void TParameters::SyncNames(const std::vector<std::string>& names) {
  if (HoldsExactly(names)) return;  // the common case: the same statement again
  std::vector<std::unique_ptr<TParameter>> synced;
  for (const std::string& name : names) {
    bool seen = false;
    for (const auto& item : synced) seen = seen || platform::SameTextAscii(item->Name(), name);
    if (seen) continue;
    std::unique_ptr<TParameter> kept;
    for (auto& item : items_) {
      if (item && platform::SameTextAscii(item->Name(), name)) {
        kept = std::move(item);
        break;
      }
    }
    if (!kept) kept = std::make_unique<TParameter>(name, ftUnknown, pdInput, 0, Variant());
    synced.push_back(std::move(kept));
  }
  items_ = std::move(synced);
}

}  // namespace qar
