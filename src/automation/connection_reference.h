// A caller's own database connection, handed to a server call as an object reference.
#pragma once

#include <memory>

#include "com/dispatch.h"
#include "data/ado_connection.h"
#include "framework/variant.h"

namespace qar::automation {

// What a caller puts in front of its identity argument to have the server work in
// its own database session: a counted reference to its connection's connection
// object (the data layer's shared TConnectionObject), never an address. The object
// is a dispatch object without members, so on Windows it also crosses the system's
// COM inside one process and comes back as itself; a connection object of any other
// kind (a foreign one, or one from another process) is refused.
//
//   // caller, in the server's process
//   server->Invoke(id, ..., TDispArgs{ConnectionArgument(myConnection), identity, ...}, ...);
class IConnectionObject : public com::IDispatch {
 public:
  static constexpr TGUID kIID = TGUID::Parse("{7E2B1C40-5A9D-4F36-B8E1-2C4D6F8A0B13}");
  virtual std::shared_ptr<TConnectionObject> ConnectionObject() = 0;

 protected:
  ~IConnectionObject() = default;
};

// The argument that hands `connection`'s current connection object to a call.
Variant ConnectionArgument(const TADOConnection& connection);
Variant ConnectionArgument(std::shared_ptr<TConnectionObject> object);

// The connection object a connection argument carries. 0, Empty, Null and a null
// object reference carry none (null result); anything else that is not a connection
// object (a plain number, a text, another object) throws com::EOleError with
// kDISP_E_TYPEMISMATCH. A by-reference argument is read through.
std::shared_ptr<TConnectionObject> ConnectionObjectOfArgument(const Variant& argument);

}  // namespace qar::automation
