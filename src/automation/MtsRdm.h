// MtsRdm: the remote data module that votes on its transactional context after each provider operation.
#pragma once

#include <cstdint>
#include <string>

#include "com/object_context.h"
#include "com/remote_data_module.h"
#include "framework/event.h"

namespace qar::automation {

// A remote data module for transactional servers. The host activates it (Activate
// keeps the context ObjectContextOf gives, Deactivate drops it); while AutoComplete
// is on (the default), each IAppServer operation votes on that context afterwards:
//
//   AS_ApplyUpdates      complete when maxErrors >= the reported error count, or the
//                        count is -1; abort otherwise and when the operation fails
//   AS_DataRequest       no vote
//   the five others      complete, whether the operation succeeded or failed
//
// Through IAppServer a failure (the operation's or a vote's) comes back as the
// operation's result code with its description, never as an exception; through the
// dispatch members it is thrown to the automation object's Invoke. Without a context every vote does
// nothing. The instrumented call fires OnActivate and OnDeactivate around each
// dispatch call and votes complete itself before it. Tests observe the votes by
// giving the factory's environment a recording context before Activate.
//
//   class TdmVendas : public automation::TMtsDataModule {
//    public:
//     TdmVendas() {
//       connection.SetConnectionString("Provider=SQLite;Data Source=vendas.db");
//       query.SetConnection(&connection);
//       query.SQL().Add("SELECT ID, NOME, PRECO FROM PRODUTO WHERE PRECO >= :MINIMO");
//       dspProdutos.SetName("dspProdutos");
//       dspProdutos.SetDataSet(&query);
//       dspProdutos.SetTableName("PRODUTO");
//       dspProdutos.SetKeyFields({"ID"});
//       RegisterProvider(dspProdutos);
//     }
//     TADOConnection& connection = CreateComponent<TADOConnection>();
//     TADOQuery& query = CreateComponent<TADOQuery>();
//     TDataSetProvider& dspProdutos = CreateComponent<TDataSetProvider>();
//   };
class TMtsDataModule : public com::TRemoteDataModule, public com::IObjectControl {
 public:
  TMtsDataModule();
  std::string ClassName() const override { return "TMtsDataModule"; }

  bool AutoComplete() const { return autoComplete_; }
  void SetAutoComplete(bool value) { autoComplete_ = value; }
  TNotifyEvent OnActivate;
  TNotifyEvent OnDeactivate;
  // The context held from Activate to Deactivate; null otherwise.
  const TComPtr<com::IObjectContext>& ObjectContext() const { return objectContext_; }

  // The context's votes; a failure result is thrown as EOleError. Nothing without a context.
  void SetComplete();
  void SetAbort();
  // With AutoComplete on: SetComplete when `complete`, else SetAbort. Otherwise nothing.
  virtual void CallComplete(bool complete);

  // IObjectControl
  HResult Activate() override;
  void Deactivate() override;
  std::int32_t CanBePooled() override { return -1; }

  // One object to clients: both interfaces count on the automation object.
  HResult QueryInterface(const TGUID& iid, void** object) override {
    return TRemoteDataModule::QueryInterface(iid, object);
  }
  std::uint32_t AddRef() override { return TRemoteDataModule::AddRef(); }
  std::uint32_t Release() override { return TRemoteDataModule::Release(); }
  bool GetInterface(const TGUID& iid, void** object) override;

 protected:
  // The provider operations, each with its vote.
  Variant DoApplyUpdates(const std::string& providerName, const Variant& delta, std::int32_t maxErrors,
                         std::int32_t& errorCount, Variant& ownerData) override;
  Variant DoGetRecords(const std::string& providerName, std::int32_t count, std::int32_t& recsOut,
                       std::int32_t options, const std::string& commandText, Variant& params,
                       Variant& ownerData) override;
  Variant DoGetProviderNames() override;
  Variant DoGetParams(const std::string& providerName, Variant& ownerData) override;
  Variant DoRowRequest(const std::string& providerName, const Variant& row, std::int32_t requestType,
                       Variant& ownerData) override;
  void DoExecute(const std::string& providerName, const std::string& commandText, Variant& params,
                 Variant& ownerData) override;

 private:
  // Runs the inherited operation, then CallComplete(true) whatever it did; when both
  // fail, the operation's failure is the one that goes on.
  template <class F>
  Variant CompleteAfter(F&& inherited);

  bool autoComplete_ = true;
  TComPtr<com::IObjectContext> objectContext_;
};

}  // namespace qar::automation
