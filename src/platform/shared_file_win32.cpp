// Windows: the file takes the rights its directory passes on.
#include <windows.h>

#include <stdexcept>

#include "platform/shared_file.h"

namespace qar::platform {

std::string CreateGroupFile(const std::string& ansiPath, const std::string& /*group*/) {
  const HANDLE file = CreateFileA(ansiPath.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) {
    throw std::runtime_error("cannot create " + ansiPath + ": error " + std::to_string(GetLastError()));
  }
  CloseHandle(file);
  return "the rights of its directory";
}

}  // namespace qar::platform
