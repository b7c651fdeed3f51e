// What the diagnostics compose: log file names, masked connection strings, statements
// with their named markers rewritten, connection log and bug report entries.
#include <gtest/gtest.h>

#include "data/named_params.h"
#include "diagnostics/bug_report.h"
#include "diagnostics/connection_log.h"
#include "diagnostics/log_file.h"
#include "diagnostics/log_file_name.h"
#include "diagnostics/mask_password.h"
#include "diagnostics/replace_named_params.h"
#include "diagnostics_sandbox.h"

namespace qar::diagnostics {

TEST(LogFileNameTest, IdentityPiecesByLevelDateAndKind) {
  // The expected name follows "C:\Temp\QarSnc.exe_".
  const struct { std::int32_t level; const char *op, *app, *host; bool isErrorLog; const char* expected; } cases[] = {
      {1, "MARIA", "CAIXA", "LOJA01-PC", false, "20261205_Monitor.log"},
      {2, "MARIA", "CAIXA", "LOJA01-PC", false, "MARIA_20261205_Monitor.log"},
      {3, "MARIA", "CAIXA", "LOJA01-PC", false, "CAIXA_MARIA_20261205_Monitor.log"},
      {9, "MARIA", "CAIXA", "LOJA01-PC", true, "LOJA01-PC_CAIXA_MARIA_20261205_Error.log"},
      {3, " ", "CAIXA", "LOJA01-PC", false, "CAIXA_20261205_Monitor.log"},
      {4, "MARIA", "  ", "LOJA01-PC", false, "LOJA01-PC__MARIA_20261205_Monitor.log"},
      {2, "\t MARIA\r\n", "", "", false, "MARIA_20261205_Monitor.log"},
      {-56, "MARIA", "CAIXA", "LOJA01-PC", false, "20261205_Monitor.log"},
      {4, "Jo\xE3o.Silva-2", "PDV (1)", "loja_01", false, "loja_01_PDV (1)_Jo\xE3o.Silva-2_20261205_Monitor.log"},
      // Remote callers supply the pieces: separators and characters Windows refuses become "_".
      {4, "..\\..\\x", " a/b:c\t", "<>\"|?*e\x01\x7F", false, "______e___a_b_c_.._.._x_20261205_Monitor.log"},
  };
  const platform::TDateTime lastMoment = platform::EncodeDateTime({2026, 12, 5, 23, 59, 59, 999});
  for (const auto& c : cases) {
    EXPECT_EQ(ComposeLogFileName("C:\\Temp\\", "QarSnc.exe", lastMoment, c.level, c.op, c.app, c.host, c.isErrorLog),
              std::string("C:\\Temp\\QarSnc.exe_") + c.expected) << c.level << " " << c.op;
  }
  EXPECT_EQ(ShortNameOfModule("C:\\Servidor\\ServidorRetaguarda.dll"), "ServidorRetagua");
  EXPECT_EQ(ModuleShortName(), ShortNameOfModule(platform::ExecutableFileName()));
}

// The value of every key ending in "PASSWORD=", and of every "PWD=" where a key starts
// (at the beginning, or after ";" or a quote, blanks allowed), is masked up to the
// next ";"; everything else stays as it is.
TEST(MaskPasswordTest, MasksEveryPasswordAndPwdValueUpToTheNextSemicolon) {
  const std::pair<std::string, std::string> cases[] = {
      {"Provider=SQLOLEDB;PassWord=s3cret;User ID=sa", "Provider=SQLOLEDB;PassWord=******;User ID=sa"},
      {"Password=;User ID=sa", "Password=;User ID=sa"}, {"", ""},
      {"Password=\"a;b\";User ID=sa", "Password=**;b\";User ID=sa"},  // quotes mean nothing
      {"Password =abc;PWD =def", "Password =abc;PWD =def"},           // a blank before "=" makes another key
      {"Password=one;Data Source=x;password=two", "Password=***;Data Source=x;password=***"},
      {"PWD=first;Password=second", "PWD=*****;Password=******"},
      {"Jet OLEDB:Database Password=db;Mode=1", "Jet OLEDB:Database Password=**;Mode=1"},
      {"OLDPWD=keep;  pwd=hide", "OLDPWD=keep;  pwd=****"},
      {"Extended Properties=\"DSN=x;PWD=y\"", "Extended Properties=\"DSN=x;PWD=**"},
      {"Extended Properties='PWD=y;UID=u'", "Extended Properties='PWD=*;UID=u'"},
  };
  for (const auto& [text, masked] : cases) EXPECT_EQ(MaskPassword(text), masked) << text;
  EXPECT_EQ(MaskPassword(u"Password=s\u00E3o;Data Source=Jo\u00E3o"), "Password=***;Data Source=Jo\xE3o");
}

// The statement sent must read the same: the monitor finds a query's parameters by it.
// In the double-byte code page of the last cases 0x81 to 0x9F open a two-byte character
// (as in Shift-JIS) whose second byte may look like a colon, a quote or a delimiter.
TEST(ReplaceNamedParamsTest, WorkedPairsAndTheirEdges) {
  const std::pair<std::string, std::string> cases[] = {
      {"select * from T where A = :A and B = :B", "select * from T where A = ? and B = ?"},
      {"values (:A,:B)", "values (?,?)"}, {"where A = :A=1 and B = :B", "where A = ? and B = ?"},
      {"where X = 'a:b' and A = :A", "where X = 'a:b' and A = ?"}, {"select A::int, :B", "select A:int, ?"},
      {"where A = :\"MY NAME\" and B = :B", "where A = ? and B = ?"}, {"where A = : and B = :B", "where A = ? and B = ?"},
      {"where X = 'it\"s' and A = :A", "where X = 'it\"s' and A = :A"},  // any quote closes a literal
      {"where X = `a:b` and A = :A", "where X = `a:b` and A = ?"}, {"a = :A\r\nand b = :B;", "a = ?\r\nand b = ?;"},
      {"a = :A\tand b = :B", "a = ? b = ?"},  // only the listed delimiters end a name
      {":A:B :C", "? ?"}, {"a = :\"open, b = :B", "a = ?"}, {std::string("a = :A\0 and b = :B", 18), "a = ?"},
      {"where N = '\x81:x' and A = :A", "where N = '\x81:x' and A = ?"},  // Windows-1252: no lead bytes
  };
  for (const auto& [text, expected] : cases) {
    EXPECT_EQ(ReplaceNamedParams(text), expected) << text;
    if (text.find('\0') == std::string::npos) {
      EXPECT_EQ(ParseNamedParams(text).text, expected) << text;
    }
  }
  LeadByteTable leadBytes{};
  for (int b = 0x81; b <= 0x9F; ++b) leadBytes[b] = true;
  const std::pair<std::string, std::string> doubleByte[] = {
      {"x = \x81: and A = :A", "x = \x81: and A = ?"}, {"x = \x81' and A = :A", "x = \x81' and A = ?"},
      {"a = :N\x81 x b", "a = ? b"}, {"a = :A\x81", "a = ?"}, {std::string("a = :A \x81\0:B", 11), "a = ? \x81"},
  };
  for (const auto& [text, expected] : doubleByte) EXPECT_EQ(ReplaceNamedParams(text, leadBytes), expected) << text;
}

using LogEntriesTest = testing::DiagnosticsSandbox;

// Monitored connections follow layout A, unmonitored failures layout B (nothing for a
// success): a connection of `module` at 14:03:`second` for MARIA from CAIXA on PDV01.
TEST_F(LogEntriesTest, ConnectionEntriesMatchTheGoldens) {
  std::string connectionString = "Provider=SQLOLEDB.1;Password=segredo;User ID=sa;Initial Catalog=LOJA;Data Source=SRV01";
  const auto write = [&](const char* module, bool designTime, bool socket, const TADOError* error, bool failed, int second) {
    TComponent owner;
    owner.SetName(module);
    owner.CreateComponent<TADOConnection>().SetConnectionString(connectionString);
    platform::SimulatedClock clock(platform::EncodeDateTime({2026, 12, 5, 14, 3, second}));
    WriteConnectionLogEntry(static_cast<TADOConnection&>(owner.Components(0)), designTime, socket, "MARIA", "CAIXA",
                            "PDV01", error, failed ? esErrorsOccured : esOK, clock);
  };
  const std::string log = LogDir() + ModuleShortName() + "_20261205_";
  MonitorEverybody(1);
  write("dmVendas", true, true, nullptr, false, 27);
  const TADOError refused{"Login failed for user 'sa'.", "28000", 18456}, timeout{"Timeout expired", "HYT00", 0};
  write("dmEstoque", false, false, &refused, true, 28);
  EXPECT_EQ(ReadFile(log + "Monitor.log"), Golden("connection_monitor.txt"));
  Store("SqlMonitor=#0|TmpFileDir=" + LogDir());
  connectionString = "Driver={SQL Server};Server=SRV01;UID=sa;PWD=segredo";
  write("dmVendas", false, true, &timeout, false, 28);
  write("dmVendas", false, true, &timeout, true, 29);
  EXPECT_EQ(ReadFile(log + "Error.log"), Golden("connection_error.txt"));
  EXPECT_EQ(Files(LogDir()), 2);
}

// Entries follow a separator; a report that cannot be written raises with the path and
// the system's text; a component's failure goes beside the module, naming the executable.
TEST_F(LogEntriesTest, BugReportEntriesMatchTheGoldenAndFailuresAreRaised) {
  platform::SetShortDateFormat("dd/MM/yyyy", '/');
  const std::string path = Dir() + "bugreport.txt";
  std::string exe = "C:\\Loja\\QarSnc.exe";
  AppendBugReport(path, {exe, "C:\\Loja\\Vendas.dll", "dmVendas", "TCreateError", "N\xE3o foi poss\xEDvel conectar"},
                  platform::EncodeDateTime({2026, 12, 5, 14, 3, 27}));
  AppendBugReport(path, {exe, exe, "dmEstoque", "TCreateError", "Access denied"}, platform::EncodeDateTime({2026, 12, 5, 14, 5}));
  EXPECT_EQ(ReadFile(path), Golden("bugreport.txt"));
  try {
    AppendBugReport(Dir() + "missing" + platform::kPathDelim + "bugreport.txt", {}, 0);
    ADD_FAILURE() << "no failure raised";
  } catch (const EInOutError& e) {
    EXPECT_GT(std::string(e.what()).size(), e.Path().size() + 2) << e.what();
  }

  static const int inThisExecutable = 0;
  exe = platform::ExecutableFileName();
  const std::string report = platform::ExtractFilePath(exe) + "bugreport.txt";
  std::filesystem::remove(platform::ToNativePath(report));
  platform::SimulatedClock clock(platform::EncodeDateTime({2026, 12, 5, 9, 30}));
  WriteBugReport("TCreateError", "falhou", ModuleFileName(&inThisExecutable), "dmTeste", clock);
  const std::string text = ReadFile(report);
  std::filesystem::remove(platform::ToNativePath(report));
  EXPECT_EQ(BugReportPath(), report);
  EXPECT_EQ(text, "Data/Hora .: 05/12/2026 09:30:00\r\nEXE .......: " + exe + "\r\nDLL .......: " + exe +
                      "\r\nDatamodule : dmTeste\r\nErro ......: TCreateError\r\nMensagem ..: falhou\r\n");
}

}  // namespace qar::diagnostics
