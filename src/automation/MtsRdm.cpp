#include "automation/MtsRdm.h"

#include <exception>

#include "com/error_info.h"

namespace qar::automation {

TMtsDataModule::TMtsDataModule() { com::EnableSystemObjectControl(); }

void TMtsDataModule::SetComplete() {
  if (objectContext_) com::OleCheck(objectContext_->SetComplete());
}

void TMtsDataModule::SetAbort() {
  if (objectContext_) com::OleCheck(objectContext_->SetAbort());
}

void TMtsDataModule::CallComplete(bool complete) {
  if (!autoComplete_) return;
  if (complete) SetComplete();
  else SetAbort();
}

HResult TMtsDataModule::Activate() {
  try {
    objectContext_ = com::GetObjectContext();
    return com::kS_OK;
  } catch (...) {
    return com::HandleSafeCallException(std::current_exception(), ClassName());
  }
}

void TMtsDataModule::Deactivate() { objectContext_.Reset(); }

bool TMtsDataModule::GetInterface(const TGUID& iid, void** object) {
  if (object != nullptr && iid == com::IObjectControl::kIID) {
    *object = static_cast<com::IObjectControl*>(this);
    AddRef();
    return true;
  }
  return TRemoteDataModule::GetInterface(iid, object);
}

template <class F>
HResult TMtsDataModule::CompleteAfter(F&& inherited) {
  // The vote sits where it always runs; a failing vote is the call's failure too.
  std::exception_ptr failure;
  try {
    com::SafeCallCheck(inherited());
  } catch (...) {
    failure = std::current_exception();
  }
  try {
    CallComplete(true);
  } catch (...) {
    failure = std::current_exception();
  }
  return failure ? com::HandleSafeCallException(failure, ClassName()) : com::kS_OK;
}

HResult TMtsDataModule::AS_ApplyUpdates(const std::string& providerName, const Variant& delta,
                                        std::int32_t maxErrors, std::int32_t& errorCount,
                                        Variant& ownerData, Variant& result) {
  result = Variant();
  return SafeCall([&] {
    try {
      com::SafeCallCheck(
          TRemoteDataModule::AS_ApplyUpdates(providerName, delta, maxErrors, errorCount, ownerData, result));
      CallComplete(maxErrors >= errorCount || errorCount == -1);
    } catch (...) {
      CallComplete(false);
      throw;
    }
  });
}

HResult TMtsDataModule::AS_GetRecords(const std::string& providerName, std::int32_t count,
                                      std::int32_t& recsOut, std::int32_t options,
                                      const std::string& commandText, Variant& params, Variant& ownerData,
                                      Variant& result) {
  result = Variant();
  return CompleteAfter([&] {
    return TRemoteDataModule::AS_GetRecords(providerName, count, recsOut, options, commandText, params,
                                            ownerData, result);
  });
}

HResult TMtsDataModule::AS_DataRequest(const std::string& providerName, const Variant& data, Variant& result) {
  result = Variant();
  return SafeCall([&] { com::SafeCallCheck(TRemoteDataModule::AS_DataRequest(providerName, data, result)); });
}

HResult TMtsDataModule::AS_GetProviderNames(Variant& result) {
  result = Variant();
  return CompleteAfter([&] { return TRemoteDataModule::AS_GetProviderNames(result); });
}

HResult TMtsDataModule::AS_GetParams(const std::string& providerName, Variant& ownerData, Variant& result) {
  result = Variant();
  return CompleteAfter([&] { return TRemoteDataModule::AS_GetParams(providerName, ownerData, result); });
}

HResult TMtsDataModule::AS_RowRequest(const std::string& providerName, const Variant& row,
                                      std::int32_t requestType, Variant& ownerData, Variant& result) {
  result = Variant();
  return CompleteAfter(
      [&] { return TRemoteDataModule::AS_RowRequest(providerName, row, requestType, ownerData, result); });
}

HResult TMtsDataModule::AS_Execute(const std::string& providerName, const std::string& commandText,
                                   Variant& params, Variant& ownerData) {
  return CompleteAfter(
      [&] { return TRemoteDataModule::AS_Execute(providerName, commandText, params, ownerData); });
}

}  // namespace qar::automation
