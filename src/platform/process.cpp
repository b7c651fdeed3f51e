// Process names out of /proc, as pure text work shared by every platform.
#include "platform/process.h"

namespace qar::platform::procfs {

namespace {
std::string_view BaseName(std::string_view path) {
  const std::size_t slash = path.rfind('/');
  return slash == std::string_view::npos ? path : path.substr(slash + 1);
}

// A longer name that begins with the cut one is the same program's full name.
bool Completes(std::string_view candidate, std::string_view comm) {
  return candidate.size() > comm.size() && candidate.substr(0, comm.size()) == comm;
}
}  // namespace

bool ParseStat(std::string_view stat, std::string& comm, char& state) {
  const std::size_t open = stat.find('(');
  const std::size_t close = stat.rfind(')');
  if (open == std::string_view::npos || close == std::string_view::npos || close < open) return false;
  // ") S ...": the state letter follows the name after one blank.
  if (close + 2 >= stat.size() || stat[close + 1] != ' ') return false;
  comm.assign(stat.substr(open + 1, close - open - 1));
  state = stat[close + 2];
  return true;
}

std::string CompleteName(std::string_view comm, std::string_view argv0, std::string_view exePath) {
  std::string_view name = comm;
  if (comm.size() >= kCommMax) {
    constexpr std::string_view kDeleted = " (deleted)";
    if (exePath.size() > kDeleted.size() && exePath.substr(exePath.size() - kDeleted.size()) == kDeleted) {
      exePath.remove_suffix(kDeleted.size());
    }
    if (Completes(BaseName(argv0), comm)) {
      name = BaseName(argv0);
    } else if (Completes(BaseName(exePath), comm)) {
      name = BaseName(exePath);
    }
  }
  return std::string(name.substr(0, kMaxExeName));
}

}  // namespace qar::platform::procfs
