// The caller identity that a client puts in front of a method's arguments, and taking it out.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

#include "automation/call_context.h"
#include "com/dispatch.h"

namespace qar::automation {

// An identity argument is an automation string (type code 8 once the flag bits above
// the low 12 are masked off) whose first three characters in the system code page are
// "«#»" (basic identity) or "«$»" (extended identity). Everything after them, cut to
// 50 characters, is the IdentityText, read at fixed positions:
//
//   characters  1-4   the caller's IPv4 address, one character per byte
//               5-19  host          20-29 application
//              30-41  operator (kinds 4 and 5)   42-46 database key (kind 5)
//
// A field beyond the end of the text is as much of it as there is, possibly empty;
// nothing is trimmed.
//
// A script variable reaches the server by reference to a variant (type code 12 once
// masked), so an identity held in a variable is an ordinary argument: a script sends
// its identity as an expression or literal.
inline constexpr std::string_view kBasicIdentityPrefix = "\xAB#\xBB";
inline constexpr std::string_view kExtendedIdentityPrefix = "\xAB$\xBB";
inline constexpr std::size_t kMaxIdentityText = 50;
inline constexpr std::size_t kDatabaseKeyIdentityLength = 46;

// A field of the IdentityText: its first character (counted from 0) and its width.
struct TIdentityField {
  std::size_t first;
  std::size_t width;
};
inline constexpr TIdentityField kAddressField{0, 4};
inline constexpr TIdentityField kHostField{4, 15};
inline constexpr TIdentityField kApplicationField{19, 10};
inline constexpr TIdentityField kOperatorField{29, 12};
inline constexpr TIdentityField kDatabaseKeyField{41, 5};

// The part of `identityText` that `field` covers (shorter or empty near the end).
std::string_view IdentityField(std::string_view identityText, TIdentityField field);

// The dotted decimal form of the codes of the first four characters; missing ones
// count as 0: "\xC0\xA8\x00\x0A" gives "192.168.0.10".
std::string FormatIPv4(std::string_view text);

// Finds the identity among the call's arguments (the first argument is the last in
// params.Args), sets call.IdentityKind, IdentityText and ClientConnection, and lowers
// params.ArgCount so the method sees only its own arguments:
//   - the second argument is an identity: the first is the caller's connection
//     argument (see ConnectionObjectOfArgument), both are removed;
//   - otherwise the first argument is an identity: it is removed;
//   - otherwise kind 0 and nothing changes.
// Only positional arguments count: named arguments (the first NamedArgCount entries
// of Args) are never taken, so the record stays consistent. The count is lowered in
// `params` itself and is not put back after the call. On Windows `params` is the
// model's copy of the system caller's record, so the caller's own record keeps its
// count: with a lowered count written back, the caller would free only the arguments
// the method saw and leak the identity and connection arguments. A connection argument that is
// not a connection object, 0, Empty or Null throws com::EOleError (type mismatch)
// and leaves `params` as it was.
void ExtractCallerIdentity(CallContext& call, com::TDispParams& params);

}  // namespace qar::automation
