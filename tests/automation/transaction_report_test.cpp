// tr_report.txt byte for byte: a new file's first entry, then an entry after the separator and title.
#include "automation/transaction_report.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>

#include "automation/automation_texts.h"
#include "diagnostics/log_file.h"
#include "platform/module.h"
#include "platform/process.h"

namespace qar::automation {
namespace {

std::string ReadBytes(const std::string& path) {
  std::ifstream in(platform::ToNativePath(path), std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

std::string Golden(const std::string& name) { return ReadBytes(std::string(QAR_AUTOMATION_GOLDEN_DIR) + name); }

TEST(TransactionReportTest, FirstEntryWithoutSeparatorLaterOnesAfterTheTitle) {
  const std::string dir = platform::TempDirectory() + "qar_tr_" + std::to_string(platform::CurrentProcessId());
  std::filesystem::create_directories(platform::ToNativePath(dir));
  const std::string path = dir + platform::kPathDelim + "tr_report.txt";
  std::filesystem::remove(platform::ToNativePath(path));
  platform::SetShortDateFormat("dd/MM/yyyy", '/');

  // Longer texts than the identity holds show the cuts of the last three lines.
  TransactionReportEntry entry{"C:\\Servidores\\QarDemoSrv.dll", "dmVendas", "GravaPedido",
                               "MARIA DA SILVA", "LOJA01-PDV01-CAIXA", "CAIXA-RAPIDO"};
  AppendTransactionReport(path, entry, platform::EncodeDateTime({2026, 12, 5, 14, 3, 29, 0}));
  EXPECT_EQ(ReadBytes(path), Golden("tr_report_first.txt"));

  // A call without identity, on a connection whose owner has no name.
  entry = {"C:\\Servidores\\QarDemoSrv.dll", "", std::string(texts::kMethodNotIdentified), "", "", ""};
  AppendTransactionReport(path, entry, platform::EncodeDateTime({2026, 12, 5, 14, 5, 0, 0}));
  EXPECT_EQ(ReadBytes(path), Golden("tr_report_second.txt"));

  std::filesystem::remove_all(platform::ToNativePath(dir));
  EXPECT_THROW(AppendTransactionReport(path, entry, 0), diagnostics::TInOutError);
}

}  // namespace
}  // namespace qar::automation
