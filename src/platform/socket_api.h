// The system's socket declarations, and the use of its socket library where it must be started (Windows).
#pragma once

#ifdef _WIN32
#include <winsock2.h>
#include <ws2tcpip.h>
#else
#include <netdb.h>
#include <netinet/in.h>
#include <sys/socket.h>
#endif

namespace qar::platform {

#ifdef _WIN32
using TSocketHandle = SOCKET;
#else
using TSocketHandle = int;
#endif

// Closes a socket (Windows: closesocket; POSIX: close).
void CloseSocket(TSocketHandle socket);

// Holds the socket library started for as long as it lives (Windows: WSAStartup and
// WSACleanup; POSIX: nothing to do).
class TSocketLibrary {
 public:
  TSocketLibrary();
  ~TSocketLibrary();
  TSocketLibrary(const TSocketLibrary&) = delete;
  TSocketLibrary& operator=(const TSocketLibrary&) = delete;

 private:
  [[maybe_unused]] bool started_ = false;
};

}  // namespace qar::platform
