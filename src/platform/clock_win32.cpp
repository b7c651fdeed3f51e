// Windows: the machine's steady clock, GetTickCount64, and the system's boot time as its boot identity.
#include <windows.h>
#include <winternl.h>

#include <string>

#include "platform/clock.h"

namespace qar::platform {

namespace {

// The system's boot time (100 ns since 1601, UTC), or empty when it cannot be asked.
std::string BootTime() {
  using Query = LONG(NTAPI*)(ULONG, PVOID, ULONG, PULONG);
  const auto query = reinterpret_cast<Query>(
      reinterpret_cast<void*>(GetProcAddress(GetModuleHandleA("ntdll.dll"), "NtQuerySystemInformation")));
  constexpr ULONG kSystemTimeOfDayInformation = 3;
  SYSTEM_TIMEOFDAY_INFORMATION info{};
  if (query == nullptr || query(kSystemTimeOfDayInformation, &info, sizeof info, nullptr) < 0) return {};
  return "boot@" + std::to_string(info.BootTime.QuadPart);
}

}  // namespace

TSteadyStamp SystemSteadyStamp() {
  // Asked each time: the boot time moves with a change of the system time.
  return {static_cast<double>(GetTickCount64()) / 1000.0, BootTime()};
}

}  // namespace qar::platform
