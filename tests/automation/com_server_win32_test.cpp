// A script run by the system's script host calls the test server through real COM:
// QarComTestServer.dll registered with regsvr32, the script run with cscript.
#include <windows.h>

#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <memory>
#include <string>

#include "platform/module.h"
#include "platform/process.h"

namespace qar::automation {
namespace {

using THandle = std::unique_ptr<void, decltype(&CloseHandle)>;

struct TRunResult {
  DWORD exitCode = 1;
  std::string output;
};

// Runs `commandLine` in `directory` and collects what it writes to its standard
// output and error (through a file: a helper process the system starts may inherit
// the handle and outlive the program). Waits at most five minutes for it to end.
TRunResult RunProgram(std::string commandLine, const std::string& directory) {
  const std::string outputFile = directory + "\\output.txt";
  SECURITY_ATTRIBUTES inheritable{sizeof inheritable, nullptr, TRUE};
  THandle output(CreateFileA(outputFile.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                             &inheritable, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr),
                 &CloseHandle);
  STARTUPINFOA startup{};
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESTDHANDLES;
  startup.hStdOutput = output.get();
  startup.hStdError = output.get();
  PROCESS_INFORMATION info{};
  TRunResult result;
  if (!CreateProcessA(nullptr, commandLine.data(), nullptr, nullptr, TRUE, CREATE_NO_WINDOW, nullptr,
                      directory.c_str(), &startup, &info)) {
    ADD_FAILURE() << "cannot start " << commandLine << ": " << GetLastError();
    return result;
  }
  THandle process(info.hProcess, &CloseHandle);
  THandle thread(info.hThread, &CloseHandle);
  output.reset();
  if (WaitForSingleObject(info.hProcess, 300000) != WAIT_OBJECT_0) {
    ADD_FAILURE() << commandLine << " did not end";
    TerminateProcess(info.hProcess, 1);
    WaitForSingleObject(info.hProcess, 10000);
  }
  GetExitCodeProcess(info.hProcess, &result.exitCode);
  std::ifstream in(outputFile, std::ios::binary);
  result.output.assign(std::istreambuf_iterator<char>(in), {});
  in.close();
  DeleteFileA(outputFile.c_str());
  return result;
}

std::string SystemDirectory() {
  char buffer[MAX_PATH + 1] = {};
  const UINT n = GetSystemDirectoryA(buffer, MAX_PATH);
  return std::string(buffer, n) + "\\";
}

const char kScript[] =
    "On Error Resume Next\r\n"
    "Set o = CreateObject(\"QarTeste.Servidor\")\r\n"
    "If Err.Number <> 0 Then\r\n"
    "  WScript.Echo \"CreateObject=\" & Hex(Err.Number) & \" \" & Err.Description\r\n"
    "  WScript.Quit 2\r\n"
    "End If\r\n"
    "WScript.Echo \"Concat=\" & o.Concat(\"abc\", \"def\")\r\n"
    "WScript.Echo \"Add=\" & o.Add(40, 2)\r\n"
    "WScript.Echo \"FirstByte=\" & o.FirstByte(Chr(171) & \"x\")\r\n"
    "WScript.Echo \"Ansi=\" & (o.Concat(\"a\", Chr(233)) = \"a\" & Chr(233))\r\n"
    "WScript.Echo \"Null=\" & o.ArgType(Null)\r\n"
    "x = 5\r\n"
    "o.Increment x\r\n"
    "WScript.Echo \"Variable=\" & o.ArgType(x) & \" \" & o.ValueType(x) & \" \" & x\r\n"
    "o.Fail \"Estoque insuficiente\"\r\n"
    "WScript.Echo \"Fail=\" & Hex(Err.Number) & \" \" & Err.Description\r\n"
    "Err.Clear\r\n"
    "o.Add 1\r\n"
    "WScript.Echo \"Count=\" & Hex(Err.Number)\r\n"
    "Err.Clear\r\n"
    "WScript.Echo \"Identity=\" & o.Concat(Chr(171) & \"#\" & Chr(187) & \"abc\", \"x\", \"y\")\r\n"
    "id = Chr(171) & \"#\" & Chr(187) & \"abc\"\r\n"
    "WScript.Echo \"IdentityVariable=\" & (o.Concat(id, \"x\") = id & \"x\")\r\n"
    "Set o = Nothing\r\n"
    "WScript.Quit 0\r\n";

TEST(ComServerTest, AScriptCreatesTheClassByProgIdAndCallsItsMethodsByName) {
  const std::string dll = platform::ExtractFilePath(platform::ExecutableFileName()) + "QarComTestServer.dll";
  const std::string dir = platform::TempDirectory() + "qar_com_" + std::to_string(platform::CurrentProcessId());
  CreateDirectoryA(dir.c_str(), nullptr);
  std::ofstream(dir + "\\calls.vbs", std::ios::binary) << kScript;

  const std::string regsvr32 = "\"" + SystemDirectory() + "regsvr32.exe\" /s ";
  const TRunResult registered = RunProgram(regsvr32 + "\"" + dll + "\"", dir);
  ASSERT_EQ(registered.exitCode, 0u) << registered.output;

  // The script's path relative to the current directory, as the script host wants it.
  const TRunResult script = RunProgram("\"" + SystemDirectory() + "cscript.exe\" //Nologo calls.vbs", dir);
  EXPECT_EQ(script.output,
            "Concat=abcdef\r\n"
            "Add=42\r\n"
            "FirstByte=171\r\n"
            "Ansi=True\r\n"
            "Null=1\r\n"
            "Variable=16396 3 6\r\n"
            "Fail=80004005 Estoque insuficiente\r\n"
            "Count=1C2\r\n"  // the script host's number for a wrong argument count
            // An identity sent as an expression is taken out; one in a variable (by
            // reference) is an ordinary argument.
            "Identity=xy\r\n"
            "IdentityVariable=True\r\n");
  EXPECT_EQ(script.exitCode, 0u);

  EXPECT_EQ(RunProgram(regsvr32 + "/u \"" + dll + "\"", dir).exitCode, 0u);
  DeleteFileA((dir + "\\calls.vbs").c_str());
  RemoveDirectoryA(dir.c_str());
}

}  // namespace
}  // namespace qar::automation
