#include "automation/connection_reference.h"

#include "com/com_object.h"
#include "com/result.h"

namespace qar::automation {

namespace {

// Holds the connection object for as long as anybody holds the reference.
class TConnectionReference : public com::TImplements<com::TComObject, IConnectionObject> {
 public:
  explicit TConnectionReference(std::shared_ptr<TConnectionObject> object) : object_(std::move(object)) {}

  HResult ObjQueryInterface(const TGUID& iid, void** object) override {
    if (object != nullptr && iid == com::IDispatch::kIID) {
      *object = static_cast<com::IDispatch*>(this);
      ObjAddRef();
      return com::kS_OK;
    }
    return TImplements::ObjQueryInterface(iid, object);
  }

  std::shared_ptr<TConnectionObject> ConnectionObject() override { return object_; }

  // No members: the reference is only ever handed back to the server.
  HResult GetTypeInfoCount(std::uint32_t* count) override {
    if (count == nullptr) return com::kE_POINTER;
    *count = 0;
    return com::kS_OK;
  }
  HResult GetTypeInfo(std::uint32_t, com::LocaleId, com::ITypeInfo** info) override {
    if (info != nullptr) *info = nullptr;
    return com::kDISP_E_BADINDEX;
  }
  HResult GetIDsOfNames(const TGUID&, const std::string*, std::uint32_t count, com::LocaleId,
                        com::DispId* ids) override {
    for (std::uint32_t i = 0; ids != nullptr && i < count; ++i) ids[i] = com::kDispIdUnknown;
    return com::kDISP_E_UNKNOWNNAME;
  }
  HResult Invoke(com::DispId, const TGUID&, com::LocaleId, std::uint16_t, com::TDispParams&, Variant*,
                 com::TExcepInfo*, std::uint32_t*) override {
    return com::kDISP_E_MEMBERNOTFOUND;
  }

 private:
  std::shared_ptr<TConnectionObject> object_;
};

[[noreturn]] void Refuse() {
  throw com::EOleError(com::kDISP_E_TYPEMISMATCH,
                       "The argument before the caller identity is not a connection object "
                       "(0, Empty or Null for none)");
}

}  // namespace

Variant ConnectionArgument(std::shared_ptr<TConnectionObject> object) {
  TComPtr<TConnectionReference> reference(new TConnectionReference(std::move(object)));
  return Variant::FromInterface(TComPtr<IUnknown>(static_cast<com::TComObject*>(reference.Get())),
                                kVarDispatch);
}

Variant ConnectionArgument(const TADOConnection& connection) {
  return ConnectionArgument(connection.ConnectionObject());
}

std::shared_ptr<TConnectionObject> ConnectionObjectOfArgument(const Variant& argument) {
  const Variant& value = argument.Deref();
  const std::uint16_t type = value.VarType() & kVarTypeMask;
  if ((value.VarType() & kVarArray) == 0 && (type == kVarUnknown || type == kVarDispatch)) {
    const TComPtr<IUnknown>& object = value.Interface();
    if (!object) {
      if (value.Object()) Refuse();  // an opaque object of the caller's, not a reference
      return nullptr;
    }
    TComPtr<IConnectionObject> connection = object.TryAs<IConnectionObject>();
    if (!connection) Refuse();
    return connection->ConnectionObject();
  }
  std::int32_t number = 0;
  try {
    number = value.AsInteger();
  } catch (const EVariantError&) {
    Refuse();
  }
  // A number other than 0 would be an address in the caller's memory: never used.
  if (number != 0) Refuse();
  return nullptr;
}

}  // namespace qar::automation
