// The client side of late-bound calls: create a class by ProgID and call its
// members by name, as a script does.
#pragma once

#include <string_view>
#include <vector>

#include "com/dispatch.h"

namespace qar::com {

// A new object of the class registered under `progId` in ComClassManager, as its
// dispatch interface. Throws EOleError (kREGDB_E_CLASSNOTREG) for an unknown ProgID,
// or the factory's failure.
TComPtr<IDispatch> CreateOleObject(std::string_view progId);

// Calls member `name` with `args` in call order and returns its result. A failure of
// the method throws EOleException with the method's description and code (kE_FAIL
// when its exception record holds no failure code); any other failure throws
// EOleError with the result code.
Variant CallByName(IDispatch& object, std::string_view name, std::vector<Variant> args,
                   std::uint16_t flags = kDispatchMethod | kDispatchPropertyGet);

}  // namespace qar::com
