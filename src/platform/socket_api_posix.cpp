#include "platform/socket_api.h"

namespace qar::platform {

TSocketLibrary::TSocketLibrary() = default;
TSocketLibrary::~TSocketLibrary() = default;

}  // namespace qar::platform
