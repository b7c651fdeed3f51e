#include "com/com_object.h"

namespace qar::com {

namespace {
std::atomic<std::int64_t> gLiveObjects{0};
}

std::int64_t LiveComObjectCount() { return gLiveObjects.load(); }

TComObject::TComObject(TComObjectFactory* factory) : factory_(factory) { ++gLiveObjects; }

TComObject::~TComObject() { --gLiveObjects; }

std::uint32_t TComObject::ObjAddRef() { return ++refCount_; }

std::uint32_t TComObject::ObjRelease() {
  const std::uint32_t count = --refCount_;
  // The final release frees the object: the one place it deletes itself.
  if (count == 0) delete this;
  return count;
}

HResult TComObject::ObjQueryInterface(const TGUID& iid, void** object) {
  if (object == nullptr) return kE_POINTER;
  if (iid == IUnknown::kIID) {
    *object = static_cast<IUnknown*>(this);
    ObjAddRef();
    return kS_OK;
  }
  *object = nullptr;
  return kE_NOINTERFACE;
}

}  // namespace qar::com
