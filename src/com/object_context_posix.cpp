#include "com/object_context.h"

namespace qar::com {

// No transaction service exists here: only a host's provider gives a context.
TComPtr<IObjectContext> SystemObjectContext() { return nullptr; }

void EnableSystemObjectControl() {}

}  // namespace qar::com
