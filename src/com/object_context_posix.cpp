#include "com/object_context.h"

namespace qar::com {

// No transaction service exists here: only an environment's own provider gives a context.
TComPtr<IObjectContext> GetObjectContext() { return nullptr; }

void EnableSystemObjectControl() {}

}  // namespace qar::com
