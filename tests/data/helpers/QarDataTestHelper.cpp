// A program the data tests run twice at once, so that two processes use one SQLite file.
// Its argument "<connection string>|<long or short>|<reply file>|<release file>": it registers
// its session in SQLWEBTUNNING with the long or the short insert, writes its session number to
// <reply file>, waits (two minutes at most) until <release file> exists, unregisters its session
// and writes the rows it deleted to <reply file>.done. Files appear whole (written and renamed).
#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "../../platform/helpers/helper_process.h"
#include "../session_statements.h"
#include "data/ado_command.h"
#include "data/ado_connection.h"

namespace {

using namespace qar;

bool WriteWhole(const std::string& file, const std::string& content) {
  {
    std::ofstream out(platform::ToNativePath(file + ".part"), std::ios::binary | std::ios::trunc);
    if (!(out << content).flush()) return false;
  }
  return std::rename((file + ".part").c_str(), file.c_str()) == 0;
}

}  // namespace

int main(int argc, char** argv) {
  std::vector<std::string> parts;
  std::istringstream argument(argc == 2 ? argv[1] : "");
  for (std::string part; std::getline(argument, part, '|');) parts.push_back(part);
  if (parts.size() != 4) return 2;
  try {
    TADOConnection connection;
    connection.SetConnectionString(parts[0]);
    TADOCommand command;
    command.SetConnection(&connection);
    command.SetCommandText(parts[1] == "long" ? testing::kInsertLongSqlServer : testing::kInsertShortSqlServer);
    for (int i = 0; i < command.Parameters().Count(); ++i) command.Parameters()[i].SetValue("x");
    command.Execute();
    if (!WriteWhole(parts[2], std::to_string(connection.ConnectionObject()->SessionId()))) return 3;
    if (!platform::test::WaitFor([&] { return std::ifstream(platform::ToNativePath(parts[3])).good(); }, 2400)) return 4;
    command.SetCommandText(testing::kDeleteSqlServer);
    return WriteWhole(parts[2] + ".done", std::to_string(command.Execute())) ? 0 : 3;
  } catch (const std::exception& error) {
    WriteWhole(parts[2], std::string("error: ") + error.what());
    return 1;
  }
}
