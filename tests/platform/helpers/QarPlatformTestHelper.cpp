// A program that the process and mutex tests start, find and kill. Its one argument
// is a mode and its operands joined by '|', the way StartDetached passes a parameter
// string; the last operand is always the FILE it writes:
//   sleep|FILE            its id, then it waits to be killed
//   record|...|FILE       its argument count, current directory and arguments, one a line
//   hold-mutex|NAME|FILE  "<id> <outcome>" of creating the named mutex, then it waits to be killed
// The file appears whole (written beside and renamed). A waiting helper ends by itself
// after two minutes, so none outlives a failed test.
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string>
#include <thread>

#include "platform/module.h"
#include "platform/mutex.h"
#include "platform/process.h"

int main(int argc, char** argv) {
  using namespace qar::platform;
  if (argc < 2) return 2;
  const std::string arg = argv[1], mode = arg.substr(0, arg.find('|')), file = arg.substr(arg.rfind('|') + 1);
  std::string content = std::to_string(CurrentProcessId());
  std::optional<NamedMutex> mutex;
  if (mode == "record") {
    content = std::to_string(argc - 1) + "\n" + FromNativePath(std::filesystem::current_path());
    for (int i = 1; i < argc; ++i) content += "\n" + std::string(argv[i]);
  } else if (mode == "hold-mutex") {
    mutex.emplace(arg.substr(mode.size() + 1, arg.size() - mode.size() - file.size() - 2));
    const MutexOutcome outcome = mutex->Outcome();
    content += outcome == MutexOutcome::kCreated ? " created" : outcome == MutexOutcome::kAlreadyExists ? " exists" : " failed";
  } else if (mode != "sleep") {
    return 2;
  }
  if (!(std::ofstream(ToNativePath(file + ".part"), std::ios::binary) << content + "\n")) return 3;
  if (std::rename((file + ".part").c_str(), file.c_str()) != 0) return 3;
  if (mode != "record") std::this_thread::sleep_for(std::chrono::minutes(2));
  return 0;
}
