#include "platform/socket_api.h"

namespace qar::platform {

TSocketLibrary::TSocketLibrary() {
  WSADATA data;
  started_ = WSAStartup(MAKEWORD(2, 2), &data) == 0;
}

TSocketLibrary::~TSocketLibrary() {
  if (started_) WSACleanup();
}

}  // namespace qar::platform
