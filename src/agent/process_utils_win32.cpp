// Windows: the Toolhelp32 snapshot, bound at run time from the loaded kernel32.
#include <windows.h>
#include <tlhelp32.h>

#include <atomic>

#include "agent/agent_state.h"
#include "agent/process_utils.h"

namespace qar::agent {

namespace {
using CreateSnapshotFn = HANDLE(WINAPI*)(DWORD, DWORD);
using ProcessWalkFn = BOOL(WINAPI*)(HANDLE, LPPROCESSENTRY32);

// Process-wide binding; looked up again on every call until kernel32 is found.
std::atomic<HMODULE> gKernel32{nullptr};
std::atomic<CreateSnapshotFn> gCreateSnapshot{nullptr};
std::atomic<ProcessWalkFn> gProcess32First{nullptr};
std::atomic<ProcessWalkFn> gProcess32Next{nullptr};

bool Bound() {
  if (gKernel32.load() == nullptr) {
    HMODULE kernel = GetModuleHandleA("kernel32.dll");
    if (kernel != nullptr) {
      gCreateSnapshot = reinterpret_cast<CreateSnapshotFn>(
          reinterpret_cast<void*>(GetProcAddress(kernel, "CreateToolhelp32Snapshot")));
      gProcess32First = reinterpret_cast<ProcessWalkFn>(
          reinterpret_cast<void*>(GetProcAddress(kernel, "Process32First")));
      gProcess32Next = reinterpret_cast<ProcessWalkFn>(
          reinterpret_cast<void*>(GetProcAddress(kernel, "Process32Next")));
      gKernel32 = kernel;
    }
  }
  return gKernel32.load() != nullptr && gCreateSnapshot.load() != nullptr;
}

HANDLE CreateToolhelp32SnapshotBound(DWORD flags, DWORD processId) {
  if (!Bound()) return nullptr;
  return gCreateSnapshot.load()(flags, processId);
}

BOOL Process32FirstBound(HANDLE snapshot, PROCESSENTRY32* entry) {
  if (!Bound() || gProcess32First.load() == nullptr) return FALSE;
  return gProcess32First.load()(snapshot, entry);
}

BOOL Process32NextBound(HANDLE snapshot, PROCESSENTRY32* entry) {
  if (!Bound() || gProcess32Next.load() == nullptr) return FALSE;
  return gProcess32Next.load()(snapshot, entry);
}

// Closes a snapshot handle when the walk ends, however it ends.
struct SnapshotHandle {
  HANDLE handle;
  ~SnapshotHandle() {
    if (handle != nullptr && handle != INVALID_HANDLE_VALUE) CloseHandle(handle);
  }
};

std::string ExeName(const PROCESSENTRY32& entry) {
  std::size_t length = 0;
  while (length < MAX_PATH && entry.szExeFile[length] != '\0') ++length;
  return std::string(entry.szExeFile, length);
}

// Walks every process, calling `visit` for each entry.
template <class Visit>
void WalkProcesses(Visit visit) {
  SnapshotHandle snapshot{CreateToolhelp32SnapshotBound(TH32CS_SNAPPROCESS, 0)};
  if (snapshot.handle == nullptr || snapshot.handle == INVALID_HANDLE_VALUE) return;
  PROCESSENTRY32 entry{};
  entry.dwSize = sizeof(PROCESSENTRY32);  // the ANSI entry of this build
  for (BOOL more = Process32FirstBound(snapshot.handle, &entry); more;
       more = Process32NextBound(snapshot.handle, &entry)) {
    visit(entry);
  }
}
}  // namespace

bool IsProcessRunning(const std::string& name) {
  bool result = false;
  WalkProcesses([&](const PROCESSENTRY32& entry) {
    if (ProcessNameMatches(ExeName(entry), name)) result = true;
  });
  return result;
}

void KillProcessByName(const std::string& name) {
  WalkProcesses([&](const PROCESSENTRY32& entry) {
    if (!ProcessNameMatches(ExeName(entry), name)) return;
    HANDLE process = OpenProcess(PROCESS_TERMINATE, FALSE, entry.th32ProcessID);
    if (process == nullptr) return;
    TerminateProcess(process, 0);
    CloseHandle(process);
  });
}

}  // namespace qar::agent
