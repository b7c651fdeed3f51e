#include "com/com_object.h"

#include <cassert>

namespace qar::com {

namespace {
std::atomic<std::int64_t> gLiveObjects{0};
}

std::int64_t LiveComObjectCount() { return gLiveObjects.load(); }

TComObject::TComObject(TComObjectFactory* factory) : factory_(factory) { ++gLiveObjects; }

TComObject::~TComObject() {
  // Gone while referenced: someone still holds a pointer to freed memory.
  assert(refCount_.load() == 0 && "an object destroyed while references to it remain");
  [[maybe_unused]] const std::int64_t live = --gLiveObjects;
  assert(live >= 0 && "more objects destroyed than made");
}

std::uint32_t TComObject::ObjAddRef() { return ++refCount_; }

std::uint32_t TComObject::ObjRelease() {
  const std::uint32_t before = refCount_.fetch_sub(1);
  // Below zero the count would wrap and the object never be freed, or freed early later.
  assert(before != 0 && "an object released more often than referenced");
  const std::uint32_t count = before - 1;
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
