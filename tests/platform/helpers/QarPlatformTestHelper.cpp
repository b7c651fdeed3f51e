// A program that the process and mutex tests start, find, and kill.
//
// It takes one argument, the way StartDetached passes its parameter string: a mode
// and its operands joined by '|':
//   sleep|PIDFILE            writes its id to PIDFILE, then waits to be killed
//   exit|PIDFILE             writes its id to PIDFILE and ends at once
//   record|FILE              writes its argument count, current directory and
//                            arguments to FILE, one per line, and ends
//   hold-mutex|NAME|FILE     creates the named mutex, writes "<id> <outcome>" to
//                            FILE, then waits to be killed
// Files appear whole (written beside and renamed), so a reader never sees half.
// A waiting helper ends by itself after two minutes, so none outlives a failed test.
#include <chrono>
#include <cstdio>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "platform/module.h"
#include "platform/mutex.h"
#include "platform/process.h"

namespace {

using namespace qar::platform;

std::vector<std::string> Split(const std::string& text, char separator) {
  std::vector<std::string> parts;
  std::size_t start = 0;
  for (;;) {
    const std::size_t end = text.find(separator, start);
    parts.push_back(text.substr(start, end - start));
    if (end == std::string::npos) return parts;
    start = end + 1;
  }
}

bool WriteWhole(const std::string& file, const std::string& content) {
  const std::string part = file + ".part";
  {
    std::ofstream out(ToNativePath(part), std::ios::binary | std::ios::trunc);
    out << content;
    if (!out.flush()) return false;
  }
  return std::rename(part.c_str(), file.c_str()) == 0;
}

void WaitToBeKilled() {
  for (int second = 0; second < 120; ++second) std::this_thread::sleep_for(std::chrono::seconds(1));
}

std::string Id() { return std::to_string(CurrentProcessId()); }

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) return 2;
  const std::vector<std::string> parts = Split(argv[1], '|');
  const std::string& mode = parts[0];
  if ((mode == "sleep" || mode == "exit") && parts.size() == 2) {
    if (!WriteWhole(parts[1], Id() + "\n")) return 3;
    if (mode == "sleep") WaitToBeKilled();
    return 0;
  }
  if (mode == "record" && parts.size() >= 2) {
    std::string content = std::to_string(argc - 1) + "\n" + FromNativePath(std::filesystem::current_path()) + "\n";
    for (int i = 1; i < argc; ++i) content += std::string(argv[i]) + "\n";
    return WriteWhole(parts[1], content) ? 0 : 3;
  }
  if (mode == "hold-mutex" && parts.size() == 3) {
    NamedMutex mutex(parts[1]);
    const char* outcome = mutex.Outcome() == MutexOutcome::kCreated         ? "created"
                          : mutex.Outcome() == MutexOutcome::kAlreadyExists ? "exists"
                                                                            : "failed";
    if (!WriteWhole(parts[2], Id() + " " + outcome + "\n")) return 3;
    WaitToBeKilled();
    return 0;
  }
  return 2;
}
