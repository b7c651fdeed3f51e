// The system's COM reaches the automation objects: CoCreateInstance makes a
// transactional module that the system activates and pools, and a script run by the
// system's script host calls the test server (QarComTestServer.dll, registered with
// regsvr32, the script run with cscript).
#include <windows.h>
#include <ole2.h>
#include <comsvcs.h>
#undef GetObjectContext  // the system header's macro; the model has a function of that name

#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <iterator>
#include <optional>
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
  const GUID clsid = ToSystem(kCLSID_dmAtivacao);
  // The class as a running server offers it, so CoCreateInstance finds it.
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
  EXPECT_EQ(control->Activate(), S_OK);
  EXPECT_EQ(TdmAtivacao::last->ObjectContext().Get(), installed.context.Get());
  // A call by name votes on the context the activation gave: before the operation (the
  // instrumented call) and after it.
  LPOLESTR name = const_cast<LPOLESTR>(L"AS_GetProviderNames");
  DISPID id = 0;
  ASSERT_EQ(object->GetIDsOfNames(IID_NULL, &name, 1, 0, &id), S_OK);
  DISPPARAMS none{};
  VARIANT result;
  VariantInit(&result);
  testing::gEvents.clear();
  EXPECT_EQ(object->Invoke(id, IID_NULL, 0, DISPATCH_METHOD, &none, &result, nullptr, nullptr), S_OK);
  VariantClear(&result);
  EXPECT_EQ(testing::gEvents, "complete,complete");
  EXPECT_EQ(control->CanBePooled(), -1);
  control->Deactivate();
  EXPECT_EQ(TdmAtivacao::last->ObjectContext(), nullptr);
  control->Release();
  object->Release();
  EXPECT_EQ(CoRevokeClassObject(cookie), S_OK);
  CoUninitialize();
}

// Runs `program` with `args` in `directory`, waiting at most five minutes for it to end:
// its exit code and what it wrote to its standard output.
std::pair<std::optional<int>, std::string> RunProgram(const std::string& program, const std::vector<std::string>& args,
                                                      const std::string& directory) {
  std::optional<int> exitCode = e2e::ChildProcess(program, args, directory, directory + "\\output").Wait(300);
  std::string text = diagnostics::testing::DiagnosticsSandbox::ReadFile(directory + "\\output.out");
  DeleteFileA((directory + "\\output.out").c_str());
  DeleteFileA((directory + "\\output.err").c_str());
  return {exitCode, text};
}

// Each line of output is one line of the script; an identity sent as an expression is
// taken out, one in a variable (by reference) is an ordinary argument.
const char kScript[] =
    "On Error Resume Next\r\n"
    "Set o = CreateObject(\"QarTeste.Servidor\")\r\n"
    "If Err.Number <> 0 Then WScript.Echo Hex(Err.Number) & \" \" & Err.Description: WScript.Quit 2\r\n"
    "x = 5: o.Increment x: id = Chr(171) & \"#\" & Chr(187) & \"abc\"\r\n"
    "WScript.Echo o.Concat(\"abc\", \"def\") & \" \" & o.Add(40, 2) & \" \" & o.FirstByte(Chr(171) & \"x\") & \" \" & "
    "(o.Concat(\"a\", Chr(233)) = \"a\" & Chr(233))\r\n"
    "WScript.Echo o.ArgType(Null) & \" \" & o.ArgType(x) & \" \" & o.ValueType(x) & \" \" & x\r\n"
    "WScript.Echo o.Concat(Chr(171) & \"#\" & Chr(187) & \"abc\", \"x\", \"y\") & \" \" & (o.Concat(id, \"x\") = id & \"x\")\r\n"
    "o.Fail \"Estoque insuficiente\"\r\n"
    "WScript.Echo Hex(Err.Number) & \" \" & Err.Description\r\n"
    "Err.Clear\r\n"
    "o.Add 1\r\n"
    "WScript.Echo Hex(Err.Number)\r\n";  // the script host's number for a wrong argument count

TEST(ComServerTest, AScriptCreatesTheClassByProgIdAndCallsItsMethodsByName) {
  const std::string dll = platform::ExtractFilePath(platform::ExecutableFileName()) + "QarComTestServer.dll";
  const std::string dir = platform::TempDirectory() + "qar_com_" + std::to_string(platform::CurrentProcessId());
  CreateDirectoryA(dir.c_str(), nullptr);
  std::ofstream(dir + "\\calls.vbs", std::ios::binary) << kScript;
  char buffer[MAX_PATH + 1] = {};
  const std::string systemDir(buffer, GetSystemDirectoryA(buffer, MAX_PATH));
  const std::string regsvr32 = systemDir + "\\regsvr32.exe";
  const auto [registered, registerOutput] = RunProgram(regsvr32, {"/s", dll}, dir);
  ASSERT_EQ(registered, 0) << registerOutput;
  // The script's path relative to the current directory, as the script host wants it.
  EXPECT_EQ(RunProgram(systemDir + "\\cscript.exe", {"//Nologo", "calls.vbs"}, dir),
            std::make_pair(std::optional<int>(0), std::string("abcdef 42 171 True\r\n1 3 3 6\r\nxy True\r\n"
                                                              "80004005 Estoque insuficiente\r\n1C2\r\n")));
  EXPECT_EQ(RunProgram(regsvr32, {"/s", "/u", dll}, dir).first, 0);
  DeleteFileA((dir + "\\calls.vbs").c_str());
  RemoveDirectoryA(dir.c_str());
}

}  // namespace
}  // namespace qar::automation
