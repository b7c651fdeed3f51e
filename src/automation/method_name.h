// The name of the method a dispatch identifier calls, from the automation object's type information.
#pragma once

#include <cstddef>
#include <string>

#include "com/dispatch.h"

namespace qar::automation {

inline constexpr std::size_t kMaxMethodName = 30;

// The name (at most 30 characters) that type description 0 of `object` gives the
// member `id`; empty when the object has no type information, the description is not
// of an interface or dispatch interface, or the member has no name. A type
// description that cannot be had, or whose attributes cannot be read, throws
// com::EOleError.
std::string GetMethodName(com::IDispatch& object, com::DispId id);

}  // namespace qar::automation
