// TRemoteDataModule: a data module that serves its providers to remote clients through IAppServer.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "com/error_info.h"
#include "com/interfaced_component.h"
#include "com/type_info.h"
#include "framework/provider.h"

namespace qar::com {

// The data-provider interface. Each operation returns a result code; a failure
// leaves its description as the thread's error information (error_info.h). Out and
// in-out values are references; `result` is the operation's value.
class IAppServer : public IUnknown {
 public:
  static constexpr TGUID kIID = TGUID::Parse("{1AEFCC20-7A24-11D2-98B0-C69BEB4B5B6D}");

  virtual HResult AS_ApplyUpdates(const std::string& providerName, const Variant& delta,
                                  std::int32_t maxErrors, std::int32_t& errorCount,
                                  Variant& ownerData, Variant& result) = 0;
  virtual HResult AS_GetRecords(const std::string& providerName, std::int32_t count,
                                std::int32_t& recsOut, std::int32_t options,
                                const std::string& commandText, Variant& params, Variant& ownerData,
                                Variant& result) = 0;
  virtual HResult AS_DataRequest(const std::string& providerName, const Variant& data,
                                 Variant& result) = 0;
  virtual HResult AS_GetProviderNames(Variant& result) = 0;
  virtual HResult AS_GetParams(const std::string& providerName, Variant& ownerData, Variant& result) = 0;
  virtual HResult AS_RowRequest(const std::string& providerName, const Variant& row,
                                std::int32_t requestType, Variant& ownerData, Variant& result) = 0;
  virtual HResult AS_Execute(const std::string& providerName, const std::string& commandText,
                             Variant& params, Variant& ownerData) = 0;

 protected:
  ~IAppServer() = default;
};

// The dispatch identifiers of the operations, in the interface's order.
inline constexpr DispId kDispIdAS_ApplyUpdates = 20000000;
inline constexpr DispId kDispIdAS_GetRecords = 20000001;
inline constexpr DispId kDispIdAS_DataRequest = 20000002;
inline constexpr DispId kDispIdAS_GetProviderNames = 20000003;
inline constexpr DispId kDispIdAS_GetParams = 20000004;
inline constexpr DispId kDispIdAS_RowRequest = 20000005;
inline constexpr DispId kDispIdAS_Execute = 20000006;

// Owns components like any data module and keeps a list of providers by name (case
// ignored). Each operation finds the named provider and hands the call to it. The
// operations themselves (Do*) throw; the IAppServer entries turn a failure into the
// operation's result code and the thread's error information, the dispatch members
// (Disp*) leave it to the automation object's Invoke. A server derives its module
// from this class (or TMtsDataModule), creates its connection, queries and
// providers in its constructor, registers the providers, and declares its dispatch
// interface with AppServerTypeInfo, which binds the seven operations by name:
//
//   class TdmVendas : public com::TRemoteDataModule {
//    public:
//     TdmVendas() { ...; RegisterProvider(dspProdutos); }
//     std::int32_t Total() { ... }
//   };
//   automation::TVCLAutoObjectFactory factory = automation::VCLAutoObjectFactoryOf<TdmVendas>(
//       {kCLSID_dmVendas, "dmVendas", "Servidor.dmVendas"},
//       com::AppServerTypeInfo<TdmVendas>("IdmVendas", kIID_IdmVendas)
//           .Method(1, "Total", &TdmVendas::Total)
//           .Build());
//
// A script then calls, for instance, server.AS_GetRecords("dspProdutos", -1, n, 0, "",
// params, owner). Out and in-out arguments are written back when the caller passes
// them by reference; a failure reaches it with its description.
class TRemoteDataModule : public TInterfacedComponent<IAppServer> {
 public:
  std::string ClassName() const override { return "TRemoteDataModule"; }

  // The provider must stay alive while it is registered. A second provider of the
  // same name is refused (EProviderError).
  void RegisterProvider(TCustomProvider& provider);
  void UnRegisterProvider(TCustomProvider& provider);
  // The registered provider of that name; EProviderError when there is none.
  TCustomProvider& GetProvider(const std::string& name) const;

  HResult AS_ApplyUpdates(const std::string& providerName, const Variant& delta, std::int32_t maxErrors,
                          std::int32_t& errorCount, Variant& ownerData, Variant& result) override;
  HResult AS_GetRecords(const std::string& providerName, std::int32_t count, std::int32_t& recsOut,
                        std::int32_t options, const std::string& commandText, Variant& params,
                        Variant& ownerData, Variant& result) override;
  HResult AS_DataRequest(const std::string& providerName, const Variant& data, Variant& result) override;
  HResult AS_GetProviderNames(Variant& result) override;
  HResult AS_GetParams(const std::string& providerName, Variant& ownerData, Variant& result) override;
  HResult AS_RowRequest(const std::string& providerName, const Variant& row, std::int32_t requestType,
                        Variant& ownerData, Variant& result) override;
  HResult AS_Execute(const std::string& providerName, const std::string& commandText, Variant& params,
                     Variant& ownerData) override;

  // The operations as dispatch members (what AppServerTypeInfo binds): in-out
  // arguments as Variant&, which DispInvoke writes back to a caller's reference;
  // failures thrown with their description.
  Variant DispApplyUpdates(std::string providerName, Variant delta, std::int32_t maxErrors,
                           Variant& errorCount, Variant& ownerData);
  Variant DispGetRecords(std::string providerName, std::int32_t count, Variant& recsOut,
                         std::int32_t options, std::string commandText, Variant& params, Variant& ownerData);
  Variant DispDataRequest(std::string providerName, Variant data);
  Variant DispGetProviderNames();
  Variant DispGetParams(std::string providerName, Variant& ownerData);
  Variant DispRowRequest(std::string providerName, Variant row, std::int32_t requestType, Variant& ownerData);
  void DispExecute(std::string providerName, std::string commandText, Variant& params, Variant& ownerData);

 protected:
  // The operations themselves, each the provider's; a failure is thrown. A derived
  // module adds its own work around them (TMtsDataModule votes).
  virtual Variant DoApplyUpdates(const std::string& providerName, const Variant& delta, std::int32_t maxErrors,
                                 std::int32_t& errorCount, Variant& ownerData);
  virtual Variant DoGetRecords(const std::string& providerName, std::int32_t count, std::int32_t& recsOut,
                               std::int32_t options, const std::string& commandText, Variant& params,
                               Variant& ownerData);
  virtual Variant DoDataRequest(const std::string& providerName, const Variant& data);
  virtual Variant DoGetProviderNames();
  virtual Variant DoGetParams(const std::string& providerName, Variant& ownerData);
  virtual Variant DoRowRequest(const std::string& providerName, const Variant& row, std::int32_t requestType,
                               Variant& ownerData);
  virtual void DoExecute(const std::string& providerName, const std::string& commandText, Variant& params,
                         Variant& ownerData);

 private:
  // The IAppServer edge: runs `operation`, turning what it throws into a result code.
  template <class F>
  HResult AppServerEntry(F&& operation);

  std::vector<TCustomProvider*> providers_;
};

template <class F>
HResult TRemoteDataModule::AppServerEntry(F&& operation) {
  try {
    operation();
    return kS_OK;
  } catch (...) {
    return ResultOfFailure(std::current_exception(), ClassName());
  }
}

// The type information of module class C's dispatch interface with the seven
// operations already bound; add the class's own members and Build().
template <class C>
TTypeInfoBuilder<C> AppServerTypeInfo(std::string name, const TGUID& iid) {
  using M = TRemoteDataModule;
  TTypeInfoBuilder<C> builder(std::move(name), iid);
  builder.Method(kDispIdAS_ApplyUpdates, "AS_ApplyUpdates",
                 static_cast<Variant (C::*)(std::string, Variant, std::int32_t, Variant&, Variant&)>(&M::DispApplyUpdates))
      .Method(kDispIdAS_GetRecords, "AS_GetRecords",
              static_cast<Variant (C::*)(std::string, std::int32_t, Variant&, std::int32_t, std::string, Variant&,
                                         Variant&)>(&M::DispGetRecords))
      .Method(kDispIdAS_DataRequest, "AS_DataRequest",
              static_cast<Variant (C::*)(std::string, Variant)>(&M::DispDataRequest))
      .Method(kDispIdAS_GetProviderNames, "AS_GetProviderNames",
              static_cast<Variant (C::*)()>(&M::DispGetProviderNames))
      .Method(kDispIdAS_GetParams, "AS_GetParams",
              static_cast<Variant (C::*)(std::string, Variant&)>(&M::DispGetParams))
      .Method(kDispIdAS_RowRequest, "AS_RowRequest",
              static_cast<Variant (C::*)(std::string, Variant, std::int32_t, Variant&)>(&M::DispRowRequest))
      .Method(kDispIdAS_Execute, "AS_Execute",
              static_cast<void (C::*)(std::string, std::string, Variant&, Variant&)>(&M::DispExecute));
  return builder;
}

}  // namespace qar::com
