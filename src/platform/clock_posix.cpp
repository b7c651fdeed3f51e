// POSIX: the machine's steady clock, CLOCK_BOOTTIME, and the kernel's boot id.
#include <ctime>
#include <fstream>

#include "platform/clock.h"

namespace qar::platform {

TSteadyStamp SystemSteadyStamp() {
  static const std::string boot = [] {
    std::string id;
    std::ifstream("/proc/sys/kernel/random/boot_id") >> id;
    return id;
  }();
  timespec ts{};
  if (clock_gettime(CLOCK_BOOTTIME, &ts) != 0) return {};
  return {static_cast<double>(ts.tv_sec) + ts.tv_nsec / 1e9, boot};
}

}  // namespace qar::platform
