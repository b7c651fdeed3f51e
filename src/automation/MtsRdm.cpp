#include "automation/MtsRdm.h"

#include <exception>

#include "automation/VCLCom.h"
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
    objectContext_ = ObjectContextOf(*this);
    return com::kS_OK;
  } catch (...) {
    return com::ResultOfFailure(std::current_exception(), ClassName());
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
Variant TMtsDataModule::CompleteAfter(F&& inherited) {
  Variant result;
  try {
    result = inherited();
  } catch (...) {
    try {
      CallComplete(true);
    } catch (...) {
      // The operation's own failure is the one its caller hears of.
    }
    throw;
  }
  CallComplete(true);  // a failing vote is the operation's failure
  return result;
}

Variant TMtsDataModule::DoApplyUpdates(const std::string& providerName, const Variant& delta,
                                       std::int32_t maxErrors, std::int32_t& errorCount, Variant& ownerData) {
  // A failed vote to complete counts as a failure too: it is followed by an abort.
  try {
    Variant result = TRemoteDataModule::DoApplyUpdates(providerName, delta, maxErrors, errorCount, ownerData);
    CallComplete(maxErrors >= errorCount || errorCount == -1);
    return result;
  } catch (...) {
    CallComplete(false);
    throw;
  }
}

Variant TMtsDataModule::DoGetRecords(const std::string& providerName, std::int32_t count, std::int32_t& recsOut,
                                     std::int32_t options, const std::string& commandText, Variant& params,
                                     Variant& ownerData) {
  return CompleteAfter([&] {
    return TRemoteDataModule::DoGetRecords(providerName, count, recsOut, options, commandText, params, ownerData);
  });
}

Variant TMtsDataModule::DoGetProviderNames() {
  return CompleteAfter([&] { return TRemoteDataModule::DoGetProviderNames(); });
}

Variant TMtsDataModule::DoGetParams(const std::string& providerName, Variant& ownerData) {
  return CompleteAfter([&] { return TRemoteDataModule::DoGetParams(providerName, ownerData); });
}

Variant TMtsDataModule::DoRowRequest(const std::string& providerName, const Variant& row, std::int32_t requestType,
                                     Variant& ownerData) {
  return CompleteAfter([&] { return TRemoteDataModule::DoRowRequest(providerName, row, requestType, ownerData); });
}

void TMtsDataModule::DoExecute(const std::string& providerName, const std::string& commandText, Variant& params,
                               Variant& ownerData) {
  CompleteAfter([&] {
    TRemoteDataModule::DoExecute(providerName, commandText, params, ownerData);
    return Variant();
  });
}

}  // namespace qar::automation
