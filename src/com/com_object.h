// Reference-counted objects that answer queries from a declared list of interfaces.
#pragma once

#include <atomic>
#include <cstdint>
#include <utility>

#include "com/result.h"
#include "framework/interface.h"

namespace qar::com {

class TComObjectFactory;

// The base of every object of the model: an atomic reference count (the object frees
// itself when it drops to zero), the factory that made it, and Initialize, which runs
// once the object is constructed. Derive through TImplements, which answers queries:
//
//   class TCalc : public TImplements<TComObject, ICalc> { ... };
//   TComPtr<TCalc> calc = NewComObject<TCalc>(factory);   // constructed, then initialised
class TComObject : public IUnknown {
 public:
  explicit TComObject(TComObjectFactory* factory = nullptr);
  virtual ~TComObject();
  TComObject(const TComObject&) = delete;
  TComObject& operator=(const TComObject&) = delete;

  HResult QueryInterface(const TGUID& iid, void** object) override { return ObjQueryInterface(iid, object); }
  std::uint32_t AddRef() override { return ObjAddRef(); }
  std::uint32_t Release() override { return ObjRelease(); }

  // Called once after construction; an exception makes the construction fail.
  virtual void Initialize() {}
  virtual std::uint32_t ObjAddRef();
  // The object's own interfaces; this base answers IUnknown only.
  virtual HResult ObjQueryInterface(const TGUID& iid, void** object);
  virtual std::uint32_t ObjRelease();

  TComObjectFactory* Factory() const { return factory_; }
  std::uint32_t RefCount() const { return refCount_.load(); }

 private:
  std::atomic<std::uint32_t> refCount_{0};
  TComObjectFactory* factory_;
};

// The number of model objects alive in this module (a server may unload at 0).
std::int64_t LiveComObjectCount();

// Base with the interfaces of the list: a query for one of them answers this object
// as that interface; anything else goes to Base.
template <class Base, class... Interfaces>
class TImplements : public Base, public Interfaces... {
 public:
  using Base::Base;

  HResult QueryInterface(const TGUID& iid, void** object) override {
    return this->ObjQueryInterface(iid, object);
  }
  std::uint32_t AddRef() override { return this->ObjAddRef(); }
  std::uint32_t Release() override { return this->ObjRelease(); }

  HResult ObjQueryInterface(const TGUID& iid, void** object) override {
    if (object == nullptr) return kE_POINTER;
    void* found = nullptr;
    ((found == nullptr && iid == Interfaces::kIID ? (found = static_cast<Interfaces*>(this)) : nullptr),
     ...);
    if (found == nullptr) return Base::ObjQueryInterface(iid, object);
    *object = found;
    this->ObjAddRef();
    return kS_OK;
  }
};

// Constructs a T, then initialises it. When Initialize throws, the object is freed
// and the exception reaches the caller.
template <class T, class... A>
TComPtr<T> NewComObject(A&&... args) {
  TComPtr<T> object(new T(std::forward<A>(args)...));
  object->Initialize();
  return object;
}

}  // namespace qar::com
