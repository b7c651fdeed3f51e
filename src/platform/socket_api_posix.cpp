#include "platform/socket_api.h"

#include <unistd.h>

namespace qar::platform {

TSocketLibrary::TSocketLibrary() = default;
TSocketLibrary::~TSocketLibrary() = default;

void CloseSocket(TSocketHandle socket) { close(socket); }

}  // namespace qar::platform
