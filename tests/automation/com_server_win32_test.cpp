// The system's COM reaches the automation objects: CoCreateInstance activates and pools a
// transactional module; cscript calls QarComTestServer.dll registered with regsvr32.
#include <windows.h>
#include <ole2.h>
#include <comsvcs.h>
#undef GetObjectContext  // the system header's macro; the model has a function of that name

#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <functional>
#include <iterator>
#include <new>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "../diagnostics/diagnostics_sandbox.h"
#include "automation/MtsRdm.h"
#include "automation/VCLCom.h"
#include "child_process.h"
#include "com/com_server.h"
#include "mts_test_support.h"
#include "platform/module.h"
#include "platform/process.h"

namespace qar::automation {
namespace {

constexpr TGUID kCLSID_dmAtivacao = TGUID::Parse("{6C1F2A3B-4D5E-4F60-8172-93A4B5C6D7EC}");

class TdmAtivacao : public TMtsDataModule {
 public:
  TdmAtivacao() { last = this; }
  static inline TdmAtivacao* last = nullptr;
};

TVCLAutoObjectFactory gAtivacaoFactory = VCLAutoObjectFactoryOf<TdmAtivacao>(
    {kCLSID_dmAtivacao, "dmAtivacao", "QarTeste.Ativacao", ""},
    com::AppServerTypeInfo<TdmAtivacao>("IdmAtivacao", TGUID::Parse("{6C1F2A3B-4D5E-4F60-8172-93A4B5C6D7ED}")).Build());

GUID ToSystem(const TGUID& guid) {
  GUID result{guid.D1, guid.D2, guid.D3, {}};
  std::copy(std::begin(guid.D4), std::end(guid.D4), std::begin(result.Data4));
  return result;
}

TEST(MtsDataModuleComTest, TheSystemActivatesDeactivatesAndPoolsTheModuleThroughItsAutomationObject) {
  ASSERT_TRUE(SUCCEEDED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED)));
  EXPECT_EQ(com::GetObjectContext(), nullptr);  // the system's: not under the transaction service
  testing::TInstalledObjectContext installed(gAtivacaoFactory);
  const GUID clsid = ToSystem(kCLSID_dmAtivacao);
  ::IUnknown* factory = nullptr;
  ASSERT_EQ(com::ServerGetClassObject(kCLSID_dmAtivacao, IUnknown::kIID, reinterpret_cast<void**>(&factory)), S_OK);
  DWORD cookie = 0;
  ASSERT_EQ(CoRegisterClassObject(clsid, factory, CLSCTX_INPROC_SERVER, REGCLS_MULTIPLEUSE, &cookie), S_OK);
  factory->Release();
  ::IDispatch* object = nullptr;
  ASSERT_EQ(CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, IID_IDispatch, reinterpret_cast<void**>(&object)),
            S_OK);
  ::IObjectControl* control = nullptr;
  ASSERT_EQ(object->QueryInterface(ToSystem(com::IObjectControl::kIID), reinterpret_cast<void**>(&control)), S_OK);
  // The control interface answers the object's own identity and a working dispatch.
  ::IUnknown *identity = nullptr, *controlIdentity = nullptr;
  ::IDispatch* controlDispatch = nullptr;
  ASSERT_EQ(object->QueryInterface(IID_IUnknown, reinterpret_cast<void**>(&identity)), S_OK);
  ASSERT_EQ(control->QueryInterface(IID_IUnknown, reinterpret_cast<void**>(&controlIdentity)), S_OK);
  EXPECT_EQ(controlIdentity, identity);
  ASSERT_EQ(control->QueryInterface(IID_IDispatch, reinterpret_cast<void**>(&controlDispatch)), S_OK);
  LPOLESTR getParams = const_cast<LPOLESTR>(L"AS_GetParams");
  DISPID paramsId = 0;
  EXPECT_EQ(controlDispatch->GetIDsOfNames(IID_NULL, &getParams, 1, 0, &paramsId), S_OK);
  for (::IUnknown* held : {identity, controlIdentity, static_cast<::IUnknown*>(controlDispatch)}) held->Release();
  EXPECT_EQ(control->Activate(), S_OK);
  EXPECT_EQ(TdmAtivacao::last->ObjectContext().Get(), installed.context.Get());
  // A call by name votes on the activation's context before and after the operation.
  LPOLESTR name = const_cast<LPOLESTR>(L"AS_GetProviderNames");
  DISPID id = 0;
  ASSERT_EQ(object->GetIDsOfNames(IID_NULL, &name, 1, 0, &id), S_OK);
  DISPPARAMS none{};
  VARIANT result{};
  testing::gEvents.clear();
  EXPECT_EQ(object->Invoke(id, IID_NULL, 0, DISPATCH_METHOD, &none, &result, nullptr, nullptr), S_OK);
  VariantClear(&result);
  EXPECT_EQ(testing::gEvents, "complete,complete");
  EXPECT_EQ(control->CanBePooled(), -1);
  control->Deactivate();
  EXPECT_EQ(TdmAtivacao::last->ObjectContext(), nullptr);
  EXPECT_EQ(CoRevokeClassObject(cookie), S_OK);
  object->Release();
  EXPECT_EQ(com::ServerCanUnloadNow(), S_FALSE);  // the control interface still holds the object
  control->Release();
  EXPECT_EQ(com::ServerCanUnloadNow(), S_OK);
  CoUninitialize();
}

// A model object whose dispatch operations each case writes.
class TProbe : public com::TImplements<com::TComObject, com::IDispatch> {
 public:
  std::function<HResult(com::TDispParams&, Variant*, com::TExcepInfo*)> invoke;
  std::function<void()> names;
  bool called = false;

  HResult GetTypeInfoCount(std::uint32_t* count) override { return *count = 0, com::kS_OK; }
  HResult GetTypeInfo(std::uint32_t, com::LocaleId, com::ITypeInfo**) override { return com::kDISP_E_BADINDEX; }
  HResult GetIDsOfNames(const TGUID&, const std::string*, std::uint32_t, com::LocaleId, com::DispId* ids) override {
    if (names) names();
    return ids[0] = 1, com::kS_OK;
  }
  HResult Invoke(com::DispId, const TGUID&, com::LocaleId, std::uint16_t, com::TDispParams& params, Variant* result,
                 com::TExcepInfo* excepInfo, std::uint32_t*) override {
    called = true;
    return invoke ? invoke(params, result, excepInfo) : com::kS_OK;
  }
};

constexpr TGUID kCLSID_Probe = TGUID::Parse("{6C1F2A3B-4D5E-4F60-8172-93A4B5C6D7EE}");
std::function<TComPtr<IUnknown>()> gMakeProbe;
com::TComObjectFactory gProbeFactory({kCLSID_Probe, "Probe", "QarTeste.Sonda", ""},
                                     [](com::TComObjectFactory&) { return gMakeProbe(); }, &gMakeProbe);

// A system object released when the holder goes.
template <class T>
struct TSystemRef {
  T* p = nullptr;
  TSystemRef() = default;
  TSystemRef(const TSystemRef&) = delete;
  ~TSystemRef() { if (p != nullptr) p->Release(); }
  T* operator->() const { return p; }
  void** Put() { return reinterpret_cast<void**>(&p); }
};

class ComBridgeTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_EQ(com::ServerGetClassObject(kCLSID_Probe, IUnknown::kIID, factory.Put()), S_OK); }
  void TearDown() override { gMakeProbe = nullptr; }
  HRESULT Create(const std::function<TComPtr<IUnknown>()>& make, TSystemRef<::IDispatch>& object) {
    gMakeProbe = make;
    return factory->CreateInstance(nullptr, IID_IDispatch, object.Put());
  }
  TComPtr<TProbe> NewProbe(TSystemRef<::IDispatch>& object) {
    TComPtr<TProbe> probe = com::NewComObject<TProbe>();
    EXPECT_EQ(Create([&] { return TComPtr<IUnknown>(static_cast<com::TComObject*>(probe.Get())); }, object), S_OK);
    return probe;
  }
  TSystemRef<::IClassFactory> factory;
};

TEST_F(ComBridgeTest, CreationReportsSuccessOnlyWithAnObject) {
  const std::pair<std::function<TComPtr<IUnknown>()>, HRESULT> cases[] = {
      {[]() -> TComPtr<IUnknown> { throw com::EOleError(com::kS_OK, "criado sem objeto"); }, E_FAIL},
      {[]() -> TComPtr<IUnknown> { throw com::EOleError(com::kS_FALSE, "criado sem objeto"); }, E_FAIL},
      {[]() -> TComPtr<IUnknown> { throw std::bad_alloc(); }, E_OUTOFMEMORY}, {[] { return TComPtr<IUnknown>(); }, E_FAIL},
  };
  for (const auto& [make, expected] : cases) {
    TSystemRef<::IDispatch> object;
    EXPECT_EQ(Create(make, object), expected);
    EXPECT_EQ(object.p, nullptr);
  }
}

// A typed client variable passed by reference gets what the method left there, in its
// own type; a value that does not fit is the call's type mismatch and the variable stays.
TEST_F(ComBridgeTest, EveryByReferenceArgumentIsWrittenBackInItsOwnType) {
  const struct { VARTYPE type; const wchar_t* sent; Variant left; HRESULT outcome; const wchar_t* read; } cases[] = {
      {VT_I4, L"5", 7, S_OK, L"7"}, {VT_I2, L"5", "12", S_OK, L"12"}, {VT_UI1, L"5", 255, S_OK, L"255"},
      {VT_I8, L"5", std::int64_t{1} << 40, S_OK, L"1099511627776"}, {VT_R8, L"5", 2.5, S_OK, L"2.5"},
      {VT_BOOL, L"0", true, S_OK, L"True"}, {VT_BSTR, L"a", 42, S_OK, L"42"}, {VT_VARIANT, L"5", "texto", S_OK, L"texto"},
      {VT_BSTR, L"\x3A9", Variant(), S_OK, L"\x3A9"},  // untouched: no round trip through the code page
      {VT_I2, L"5", 70000, DISP_E_TYPEMISMATCH, L"5"}, {VT_I4, L"5", "abc", DISP_E_TYPEMISMATCH, L"5"},
      {VT_UI1, L"5", -1, DISP_E_TYPEMISMATCH, L"5"},
  };
  for (const auto& c : cases) {
    TSystemRef<::IDispatch> object;
    TComPtr<TProbe> probe = NewProbe(object);
    probe->invoke = [&](com::TDispParams& params, Variant*, com::TExcepInfo*) {
      if (!c.left.IsEmpty()) *params.Args[0].Target() = c.left;
      return com::kS_OK;
    };
    VARIANT variable{}, sent{};  // the client's variable: `sent` in its type
    V_VT(&sent) = VT_BSTR;
    V_BSTR(&sent) = SysAllocString(c.sent);
    EXPECT_EQ(VariantChangeTypeEx(&variable, &sent, 0x0409, 0, c.type == VT_VARIANT ? VARTYPE{VT_I4} : c.type), S_OK);
    VariantClear(&sent);
    VARIANT arg;
    V_VT(&arg) = VT_BYREF | c.type;
    V_BYREF(&arg) = c.type == VT_VARIANT ? static_cast<void*>(&variable) : static_cast<void*>(&V_I8(&variable));
    DISPPARAMS params{&arg, nullptr, 1, 0};
    UINT argErr = 99;
    EXPECT_EQ(object->Invoke(1, IID_NULL, 0x0409, DISPATCH_METHOD, &params, nullptr, nullptr, &argErr), c.outcome)
        << c.type;
    if (c.outcome == DISP_E_TYPEMISMATCH) { EXPECT_EQ(argErr, 0u); }
    VARIANT read{};
    ASSERT_EQ(VariantChangeTypeEx(&read, &variable, 0x0409, VARIANT_ALPHABOOL, VT_BSTR), S_OK);
    EXPECT_EQ(std::wstring(V_BSTR(&read)), c.read) << c.type;
    VariantClear(&read);
    VariantClear(&variable);
  }
}

// Neither a failure record with a success code, nor anything thrown, reaches the client
// as success or as a C++ exception.
TEST_F(ComBridgeTest, EveryFailureReachesTheClientAsAFailure) {
  using TInvoke = std::function<HResult(com::TDispParams&, Variant*, com::TExcepInfo*)>;
  const struct { TInvoke invoke; HRESULT outcome, scode; } cases[] = {
      {[](auto&, auto, auto e) { return e->Description = "no code", com::kDISP_E_EXCEPTION; }, DISP_E_EXCEPTION, E_FAIL},
      {[](auto&, auto, auto e) { return e->SCode = com::kE_INVALIDARG, com::kS_OK; }, DISP_E_EXCEPTION, E_INVALIDARG},
      {[](auto&, auto, auto) -> HResult { throw com::EOleError(com::kS_FALSE, "falhou"); }, DISP_E_EXCEPTION, E_FAIL},
      {[](auto&, auto, auto) -> HResult { throw 42; }, DISP_E_EXCEPTION, E_UNEXPECTED},
      {[](auto&, auto, auto) -> HResult { throw std::bad_alloc(); }, E_OUTOFMEMORY, 0},
      {[](auto&, auto result, auto) { return *result = Variant::FromObject(std::make_shared<int>(1)), com::kS_OK; },
       DISP_E_EXCEPTION, DISP_E_TYPEMISMATCH},  // a result the system cannot take
  };
  for (const auto& c : cases) {
    TSystemRef<::IDispatch> object;
    NewProbe(object)->invoke = c.invoke;
    DISPPARAMS none{};
    VARIANT result;
    EXCEPINFO excepInfo{};
    EXPECT_EQ(object->Invoke(1, IID_NULL, 0, DISPATCH_METHOD, &none, &result, &excepInfo, nullptr), c.outcome);
    EXPECT_EQ(excepInfo.scode, c.scode);
    EXPECT_EQ(V_VT(&result), VT_EMPTY);
    SysFreeString(excepInfo.bstrSource);
    SysFreeString(excepInfo.bstrDescription);
  }
  const std::pair<std::function<void()>, HRESULT> names[] = {
      {[] { throw std::bad_alloc(); }, E_OUTOFMEMORY},
      {[] { throw std::runtime_error("nome"); }, E_FAIL},
  };
  for (const auto& [fail, expected] : names) {
    TSystemRef<::IDispatch> object;
    NewProbe(object)->names = fail;
    LPOLESTR name = const_cast<LPOLESTR>(L"Qualquer");
    DISPID id = 0;
    EXPECT_EQ(object->GetIDsOfNames(IID_NULL, &name, 1, 0, &id), expected);
  }
}

// Arrays nested past the bound and arguments past the total size are refused with a
// description, and the method is not called.
TEST_F(ComBridgeTest, ArgumentsPastTheBoundsAreRefusedBeforeTheMethod) {
  VARIANT nested{};
  for (int depth = 0; depth < 20; ++depth) {
    SAFEARRAYBOUND bound{1, 0};
    SAFEARRAY* array = SafeArrayCreate(VT_VARIANT, 1, &bound);
    LONG index = 0;
    SafeArrayPutElement(array, &index, &nested);
    VariantClear(&nested);
    V_VT(&nested) = VT_ARRAY | VT_VARIANT;
    V_ARRAY(&nested) = array;
  }
  VARIANT large;
  V_VT(&large) = VT_BSTR;
  V_BSTR(&large) = SysAllocStringLen(nullptr, 33u << 20);
  for (VARIANT* arg : {&nested, &large}) {
    TSystemRef<::IDispatch> object;
    TComPtr<TProbe> probe = NewProbe(object);
    DISPPARAMS params{arg, nullptr, 1, 0};
    EXCEPINFO excepInfo{};
    EXPECT_EQ(object->Invoke(1, IID_NULL, 0, DISPATCH_METHOD, &params, nullptr, &excepInfo, nullptr), DISP_E_EXCEPTION);
    EXPECT_EQ(excepInfo.scode, E_INVALIDARG);
    EXPECT_NE(excepInfo.bstrDescription, nullptr);
    EXPECT_FALSE(probe->called);
    SysFreeString(excepInfo.bstrSource);
    SysFreeString(excepInfo.bstrDescription);
    VariantClear(arg);
  }
}

// A model object returned again and again is one system object; the object returning
// itself gives the client the object it holds.
TEST_F(ComBridgeTest, AReturnedObjectKeepsItsIdentity) {
  TSystemRef<::IDispatch> object;
  TComPtr<TProbe> probe = NewProbe(object);
  TComPtr<TProbe> child = com::NewComObject<TProbe>();
  bool self = false;
  probe->invoke = [&](com::TDispParams&, Variant* result, com::TExcepInfo*) {
    com::TComObject* returned = self ? static_cast<com::TComObject*>(probe.Get()) : static_cast<com::TComObject*>(child.Get());
    *result = Variant::FromInterface(TComPtr<IUnknown>(returned), kVarDispatch);
    return com::kS_OK;
  };
  DISPPARAMS none{};
  VARIANT first, second;
  ASSERT_EQ(object->Invoke(1, IID_NULL, 0, DISPATCH_METHOD, &none, &first, nullptr, nullptr), S_OK);
  ASSERT_EQ(object->Invoke(1, IID_NULL, 0, DISPATCH_METHOD, &none, &second, nullptr, nullptr), S_OK);
  EXPECT_EQ(V_DISPATCH(&first), V_DISPATCH(&second));
  VariantClear(&first);
  VariantClear(&second);
  self = true;
  ASSERT_EQ(object->Invoke(1, IID_NULL, 0, DISPATCH_METHOD, &none, &first, nullptr, nullptr), S_OK);
  EXPECT_EQ(V_DISPATCH(&first), object.p);
  VariantClear(&first);
}

// An unlock without a lock changes nothing, so the server stays loaded while a client's
// lock is outstanding.
TEST_F(ComBridgeTest, AnUnbalancedUnlockCannotCancelALock) {
  EXPECT_EQ(factory->LockServer(FALSE), E_UNEXPECTED);
  EXPECT_EQ(factory->LockServer(TRUE), S_OK);
  std::exchange(factory.p, nullptr)->Release();
  EXPECT_EQ(com::ServerCanUnloadNow(), S_FALSE);
  ASSERT_EQ(com::ServerGetClassObject(kCLSID_Probe, IUnknown::kIID, factory.Put()), S_OK);
  EXPECT_EQ(factory->LockServer(FALSE), S_OK);
  std::exchange(factory.p, nullptr)->Release();
  EXPECT_EQ(com::ServerCanUnloadNow(), S_OK);
}

// `program`'s exit code (waiting at most five minutes) and standard output.
std::pair<std::optional<int>, std::string> RunProgram(const std::string& program, const std::vector<std::string>& args,
                                                      const std::string& directory) {
  std::optional<int> exitCode = e2e::ChildProcess(program, args, directory, directory + "\\output").Wait(300);
  std::string text = diagnostics::testing::DiagnosticsSandbox::ReadFile(directory + "\\output.out");
  DeleteFileA((directory + "\\output.out").c_str());
  DeleteFileA((directory + "\\output.err").c_str());
  return {exitCode, text};
}

// Each line of output is one line of the script; an identity sent as an expression is
// taken out, one in a variable (by reference) is an ordinary argument. Typed variables
// passed by reference read back what the server left in them.
const char kScript[] =
    "On Error Resume Next\r\n"
    "Set o = CreateObject(\"QarTeste.Servidor\")\r\n"
    "If Err.Number <> 0 Then WScript.Echo Hex(Err.Number) & \" \" & Err.Description: WScript.Quit 2\r\n"
    "x = 5: o.Increment x: id = Chr(171) & \"#\" & Chr(187) & \"abc\"\r\n"
    "WScript.Echo o.Concat(\"abc\", \"def\") & \" \" & o.Add(40, 2) & \" \" & o.FirstByte(Chr(171) & \"x\") & \" \" & "
    "(o.Concat(\"a\", Chr(233)) = \"a\" & Chr(233))\r\n"
    "WScript.Echo o.ArgType(Null) & \" \" & o.ArgType(x) & \" \" & o.ValueType(x) & \" \" & x\r\n"
    "WScript.Echo o.Concat(Chr(171) & \"#\" & Chr(187) & \"abc\", \"x\", \"y\") & \" \" & (o.Concat(id, \"x\") = id & \"x\")\r\n"
    "i = CInt(5): s = \"a\": d = CDbl(1.5): b = False: t = Now\r\n"
    "o.Assign i, 300: o.Assign s, 42: o.Assign d, \"x\": o.Assign b, True: o.Assign t, CDate(\"2026-12-07\")\r\n"
    "WScript.Echo TypeName(i) & i & \" \" & TypeName(s) & s & \" \" & TypeName(d) & d & \" \" & TypeName(b) & b & \" \" & "
    "TypeName(t) & Year(t) & \" \" & Hex(Err.Number)\r\n"
    "o.Fail \"Estoque insuficiente\"\r\n"
    "WScript.Echo Hex(Err.Number) & \" \" & Err.Description\r\n"
    "Err.Clear\r\n"
    "o.Add 1\r\n"
    "WScript.Echo Hex(Err.Number)\r\n";  // the script host's number for a wrong argument count

// After the server is unregistered a new object cannot be made: the script hears why.
const char kScriptAfterUnregistering[] =
    "On Error Resume Next\r\n"
    "Set o = CreateObject(\"QarTeste.Servidor\")\r\n"
    "WScript.Echo Hex(Err.Number) & \" \" & TypeName(o)\r\n";

TEST(ComServerTest, AScriptCreatesTheClassByProgIdAndCallsItsMethodsByName) {
  const std::string dll = platform::ExtractFilePath(platform::ExecutableFileName()) + "QarComTestServer.dll";
  const std::string dir = platform::TempDirectory() + "qar_com_" + std::to_string(platform::CurrentProcessId());
  CreateDirectoryA(dir.c_str(), nullptr);
  std::ofstream(dir + "\\calls.vbs", std::ios::binary) << kScript;
  std::ofstream(dir + "\\again.vbs", std::ios::binary) << kScriptAfterUnregistering;
  char buffer[MAX_PATH + 1] = {};
  const std::string systemDir(buffer, GetSystemDirectoryA(buffer, MAX_PATH));
  const std::string regsvr32 = systemDir + "\\regsvr32.exe";
  const auto [registered, registerOutput] = RunProgram(regsvr32, {"/s", dll}, dir);
  ASSERT_EQ(registered, 0) << registerOutput;
  // The script's path relative to the current directory, as the script host wants it.
  EXPECT_EQ(RunProgram(systemDir + "\\cscript.exe", {"//Nologo", "calls.vbs"}, dir),
            std::make_pair(std::optional<int>(0), std::string("abcdef 42 171 True\r\n1 3 3 6\r\nxy True\r\n"
                                                              "Integer300 Integer42 Stringx BooleanTrue Date2026 0\r\n"
                                                              "80004005 Estoque insuficiente\r\n1C2\r\n")));
  EXPECT_EQ(RunProgram(regsvr32, {"/s", "/u", dll}, dir).first, 0);
  EXPECT_EQ(RunProgram(systemDir + "\\cscript.exe", {"//Nologo", "again.vbs"}, dir),
            std::make_pair(std::optional<int>(0), std::string("1AD Empty\r\n")));
  for (const char* script : {"\\again.vbs", "\\calls.vbs"}) DeleteFileA((dir + script).c_str());
  RemoveDirectoryA(dir.c_str());
}

}  // namespace
}  // namespace qar::automation
