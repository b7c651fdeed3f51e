// Windows: the access list of a service's secret file, and the rule that tells a private file from one others may read.
#pragma once

#include <windows.h>

#include <string>

namespace qar::platform {

// The security descriptor, in SDDL, that CreatePrivateFile gives the files of the user
// `userSid` (SDDL too): that user owns it; a protected access list lets that user, the
// system and the administrators do anything, and NETWORK SERVICE read.
std::string ServiceSecretSddl(const std::string& userSid);

// The first account that the access list `dacl` of a file owned by `owner` (either
// may be null) allows to read or write it besides its owner, `reader`, the system, the
// administrators and CREATOR OWNER, and NETWORK SERVICE reading only; null when none.
// ReadPrivateFile refuses a file for which it names one.
PSID OtherAccountAllowed(PACL dacl, PSID owner, PSID reader);

}  // namespace qar::platform
