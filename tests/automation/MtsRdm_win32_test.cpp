// The system's COM reaches a transactional module: CoCreateInstance makes the
// automation object, a query for IObjectControl answers, and its calls reach the module.
#include "automation/MtsRdm.h"
#include "automation/VCLCom.h"
#include "com/com_server.h"
#include "mts_test_support.h"

#include <windows.h>
#include <ole2.h>
#include <comsvcs.h>
#undef GetObjectContext  // the system header's macro; the model has a function of that name

#include <gtest/gtest.h>

#include <algorithm>
#include <iterator>

namespace qar::automation {
namespace {

constexpr TGUID kCLSID_dmAtivacao = TGUID::Parse("{6C1F2A3B-4D5E-4F60-8172-93A4B5C6D7EC}");

class TdmAtivacao : public TMtsDataModule {
 public:
  TdmAtivacao() { last = this; }
  static inline TdmAtivacao* last = nullptr;
};

com::TAutoObjectFactory gAtivacaoFactory = VCLAutoObjectFactoryOf<TdmAtivacao>(
    {kCLSID_dmAtivacao, "dmAtivacao", "QarTeste.Ativacao", ""},
    com::AppServerTypeInfo<TdmAtivacao>("IdmAtivacao", TGUID::Parse("{6C1F2A3B-4D5E-4F60-8172-93A4B5C6D7ED}")).Build());

GUID ToSystem(const TGUID& guid) {
  GUID result{guid.D1, guid.D2, guid.D3, {}};
  std::copy(std::begin(guid.D4), std::end(guid.D4), std::begin(result.Data4));
  return result;
}

TEST(MtsDataModuleComTest, TheSystemActivatesDeactivatesAndPoolsTheModuleThroughItsAutomationObject) {
  ASSERT_TRUE(SUCCEEDED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED)));
  EXPECT_EQ(com::GetObjectContext(), nullptr);  // not under the transaction service
  testing::TInstalledObjectContext installed;
  {
    // The class as a running server offers it, so CoCreateInstance finds it.
    ::IUnknown* factory = nullptr;
    ASSERT_EQ(com::ServerGetClassObject(kCLSID_dmAtivacao, IUnknown::kIID, reinterpret_cast<void**>(&factory)), S_OK);
    DWORD cookie = 0;
    ASSERT_EQ(CoRegisterClassObject(ToSystem(kCLSID_dmAtivacao), factory, CLSCTX_INPROC_SERVER, REGCLS_MULTIPLEUSE, &cookie),
              S_OK);
    factory->Release();

    ::IDispatch* object = nullptr;
    ASSERT_EQ(CoCreateInstance(ToSystem(kCLSID_dmAtivacao), nullptr, CLSCTX_INPROC_SERVER, IID_IDispatch,
                               reinterpret_cast<void**>(&object)),
              S_OK);
    ::IObjectControl* control = nullptr;
    ASSERT_EQ(object->QueryInterface(ToSystem(com::IObjectControl::kIID), reinterpret_cast<void**>(&control)), S_OK);
    EXPECT_EQ(control->Activate(), S_OK);
    EXPECT_EQ(TdmAtivacao::last->ObjectContext().Get(), installed.context.Get());

    // A call by name votes on the context the activation gave: before the operation
    // (the instrumented call) and after it.
    LPOLESTR name = const_cast<LPOLESTR>(L"AS_GetProviderNames");
    DISPID id = 0;
    ASSERT_EQ(object->GetIDsOfNames(IID_NULL, &name, 1, 0, &id), S_OK);
    DISPPARAMS none{};
    VARIANT result;
    VariantInit(&result);
    EXPECT_EQ(object->Invoke(id, IID_NULL, 0, DISPATCH_METHOD, &none, &result, nullptr, nullptr), S_OK);
    VariantClear(&result);
    EXPECT_EQ(installed.context->votes, "complete,complete");

    EXPECT_EQ(control->CanBePooled(), -1);
    control->Deactivate();
    EXPECT_EQ(TdmAtivacao::last->ObjectContext(), nullptr);
    control->Release();
    object->Release();
    EXPECT_EQ(CoRevokeClassObject(cookie), S_OK);
  }
  CoUninitialize();
}

}  // namespace
}  // namespace qar::automation
