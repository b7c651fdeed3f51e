#include "platform/socket_api.h"

namespace qar::platform {

TSocketLibrary::TSocketLibrary() {
  WSADATA data;
  started_ = WSAStartup(MAKEWORD(2, 2), &data) == 0;
}

TSocketLibrary::~TSocketLibrary() {
  if (started_) WSACleanup();
}

void CloseSocket(TSocketHandle socket) { closesocket(socket); }

}  // namespace qar::platform
