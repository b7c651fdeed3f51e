#include "com/remote_data_module.h"

#include <algorithm>

#include "platform/text.h"

namespace qar::com {

namespace {

// Sets an in-out argument; DispInvoke hands it on to a caller that passed a reference.
void WriteBack(Variant& argument, Variant value) { argument = std::move(value); }

}  // namespace

void TRemoteDataModule::RegisterProvider(TCustomProvider& provider) {
  for (const TCustomProvider* registered : providers_)
    if (platform::SameTextAscii(registered->Name(), provider.Name()))
      throw EProviderError("A provider named " + provider.Name() + " is already registered");
  providers_.push_back(&provider);
}

void TRemoteDataModule::UnRegisterProvider(TCustomProvider& provider) {
  providers_.erase(std::remove(providers_.begin(), providers_.end(), &provider), providers_.end());
}

TCustomProvider& TRemoteDataModule::GetProvider(const std::string& name) const {
  for (TCustomProvider* provider : providers_)
    if (platform::SameTextAscii(provider->Name(), name)) return *provider;
  throw EProviderError("Provider not found: " + name);
}

HResult TRemoteDataModule::AS_ApplyUpdates(const std::string& providerName, const Variant& delta,
                                           std::int32_t maxErrors, std::int32_t& errorCount,
                                           Variant& ownerData, Variant& result) {
  result = Variant();
  return AppServerEntry([&] { result = DoApplyUpdates(providerName, delta, maxErrors, errorCount, ownerData); });
}

HResult TRemoteDataModule::AS_GetRecords(const std::string& providerName, std::int32_t count,
                                         std::int32_t& recsOut, std::int32_t options,
                                         const std::string& commandText, Variant& params,
                                         Variant& ownerData, Variant& result) {
  result = Variant();
  return AppServerEntry(
      [&] { result = DoGetRecords(providerName, count, recsOut, options, commandText, params, ownerData); });
}

HResult TRemoteDataModule::AS_DataRequest(const std::string& providerName, const Variant& data,
                                          Variant& result) {
  result = Variant();
  return AppServerEntry([&] { result = DoDataRequest(providerName, data); });
}

HResult TRemoteDataModule::AS_GetProviderNames(Variant& result) {
  result = Variant();
  return AppServerEntry([&] { result = DoGetProviderNames(); });
}

HResult TRemoteDataModule::AS_GetParams(const std::string& providerName, Variant& ownerData,
                                        Variant& result) {
  result = Variant();
  return AppServerEntry([&] { result = DoGetParams(providerName, ownerData); });
}

HResult TRemoteDataModule::AS_RowRequest(const std::string& providerName, const Variant& row,
                                         std::int32_t requestType, Variant& ownerData, Variant& result) {
  result = Variant();
  return AppServerEntry([&] { result = DoRowRequest(providerName, row, requestType, ownerData); });
}

HResult TRemoteDataModule::AS_Execute(const std::string& providerName, const std::string& commandText,
                                      Variant& params, Variant& ownerData) {
  return AppServerEntry([&] { DoExecute(providerName, commandText, params, ownerData); });
}

Variant TRemoteDataModule::DoApplyUpdates(const std::string& providerName, const Variant& delta,
                                          std::int32_t maxErrors, std::int32_t& errorCount, Variant& ownerData) {
  return GetProvider(providerName).ApplyUpdates(delta, maxErrors, errorCount, ownerData);
}

Variant TRemoteDataModule::DoGetRecords(const std::string& providerName, std::int32_t count, std::int32_t& recsOut,
                                        std::int32_t options, const std::string& commandText, Variant& params,
                                        Variant& ownerData) {
  return GetProvider(providerName).GetRecords(count, recsOut, options, commandText, params, ownerData);
}

Variant TRemoteDataModule::DoDataRequest(const std::string& providerName, const Variant& data) {
  return GetProvider(providerName).DataRequest(data);
}

Variant TRemoteDataModule::DoGetProviderNames() {
  std::vector<Variant> names;
  for (const TCustomProvider* provider : providers_) names.emplace_back(provider->Name());
  return Variant::Array(std::move(names));
}

Variant TRemoteDataModule::DoGetParams(const std::string& providerName, Variant& ownerData) {
  return GetProvider(providerName).GetParams(ownerData);
}

Variant TRemoteDataModule::DoRowRequest(const std::string& providerName, const Variant& row,
                                        std::int32_t requestType, Variant& ownerData) {
  return GetProvider(providerName).RowRequest(row, requestType, ownerData);
}

void TRemoteDataModule::DoExecute(const std::string& providerName, const std::string& commandText, Variant& params,
                                  Variant& ownerData) {
  GetProvider(providerName).Execute(commandText, params, ownerData);
}

Variant TRemoteDataModule::DispApplyUpdates(std::string providerName, Variant delta, std::int32_t maxErrors,
                                            Variant& errorCount, Variant& ownerData) {
  std::int32_t count = 0;
  Variant owner = ownerData.Deref();
  Variant result = DoApplyUpdates(providerName, delta.Deref(), maxErrors, count, owner);
  WriteBack(errorCount, count);
  WriteBack(ownerData, owner);
  return result;
}

Variant TRemoteDataModule::DispGetRecords(std::string providerName, std::int32_t count, Variant& recsOut,
                                          std::int32_t options, std::string commandText, Variant& params,
                                          Variant& ownerData) {
  std::int32_t records = 0;
  Variant parameters = params.Deref();
  Variant owner = ownerData.Deref();
  Variant result = DoGetRecords(providerName, count, records, options, commandText, parameters, owner);
  WriteBack(recsOut, records);
  WriteBack(params, parameters);
  WriteBack(ownerData, owner);
  return result;
}

Variant TRemoteDataModule::DispDataRequest(std::string providerName, Variant data) {
  return DoDataRequest(providerName, data.Deref());
}

Variant TRemoteDataModule::DispGetProviderNames() { return DoGetProviderNames(); }

Variant TRemoteDataModule::DispGetParams(std::string providerName, Variant& ownerData) {
  Variant owner = ownerData.Deref();
  Variant result = DoGetParams(providerName, owner);
  WriteBack(ownerData, owner);
  return result;
}

Variant TRemoteDataModule::DispRowRequest(std::string providerName, Variant row, std::int32_t requestType,
                                          Variant& ownerData) {
  Variant owner = ownerData.Deref();
  Variant result = DoRowRequest(providerName, row.Deref(), requestType, owner);
  WriteBack(ownerData, owner);
  return result;
}

void TRemoteDataModule::DispExecute(std::string providerName, std::string commandText, Variant& params,
                                    Variant& ownerData) {
  Variant parameters = params.Deref();
  Variant owner = ownerData.Deref();
  DoExecute(providerName, commandText, parameters, owner);
  WriteBack(params, parameters);
  WriteBack(ownerData, owner);
}

}  // namespace qar::com
