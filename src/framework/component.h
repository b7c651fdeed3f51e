// TComponent: the base of everything that has an owner, a name and a tag and owns other components.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <stdexcept>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "framework/interface.h"

namespace qar {

class TComponent;

// The hook that makes an automation object for a component that has none yet. The
// automation layer installs it while it is initialised; it returns the new object
// (which has stored itself in the component's slot) or throws.
using TCreateVCLComObjectProc = TComPtr<IUnknown> (*)(TComponent& component);
extern std::atomic<TCreateVCLComObjectProc> CreateVCLComObjectProc;

// The automation object's side of a component's slot: told when the component is
// destroyed, so that it never reaches a freed component.
class IComponentWrapper {
 public:
  virtual void ComponentDestroyed() noexcept = 0;

 protected:
  ~IComponentWrapper() = default;
};

class EComponentError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// A message delivered synchronously through Dispatch.
struct TMessage {
  unsigned Msg = 0;
  std::intptr_t WParam = 0;
  std::intptr_t LParam = 0;
  std::intptr_t Result = 0;
};

// An owner keeps its components in creation order and destroys them when it is
// destroyed (last created first, so a query goes before the connection it uses).
// Components are made inside their owner:
//
//   TComponent module;
//   auto& query = module.CreateComponent<TADOQuery>();   // owned by module
//
// A component without an owner is an ordinary object (stack or unique_ptr).
class TComponent {
 public:
  TComponent() = default;
  virtual ~TComponent();
  TComponent(const TComponent&) = delete;
  TComponent& operator=(const TComponent&) = delete;

  // Creates a component of type T owned by this one and returns it.
  template <class T, class... A>
  T& CreateComponent(A&&... args) {
    auto component = std::make_unique<T>(std::forward<A>(args)...);
    T& result = *component;
    InsertComponent(std::move(component));
    return result;
  }
  // Takes ownership of `component` and returns it.
  TComponent& InsertComponent(std::unique_ptr<TComponent> component);
  // Hands an owned component back to the caller; it no longer has an owner.
  std::unique_ptr<TComponent> RemoveComponent(TComponent& component);

  TComponent* Owner() const { return owner_; }
  int ComponentCount() const { return static_cast<int>(components_.size()); }
  TComponent& Components(int index) const;
  // The owned component with this name (case-insensitive for a to z), or null.
  TComponent* FindComponent(std::string_view name) const;

  const std::string& Name() const { return name_; }
  // Names are unique among the components of one owner (empty names excepted).
  void SetName(std::string name);

  // The general-purpose 32-bit value every component carries.
  std::int32_t Tag() const { return tag_; }
  void SetTag(std::int32_t tag) { tag_ = tag; }

  // The class's own name ("TADOConnection", ...). Each class overrides it.
  virtual std::string ClassName() const { return "TComponent"; }

  // The "is a" test: true for T and every class derived from it.
  template <class T>
  bool Is() const {
    return dynamic_cast<const T*>(this) != nullptr;
  }

  // Delivers a message to the component; classes that handle messages override it.
  // The default handler ignores the message.
  virtual void Dispatch(TMessage& message);

  // The automation-object slot: the automation object that wraps this component, as
  // the component-side interface it handed over, not counted (the object clears the
  // slot before it dies). Null while no object wraps the component. A component has
  // at most one object: setting another while one is there throws EComponentError;
  // null clears the slot. `wrapper`, when given, hears of the component's destruction.
  IUnknown* VCLComObject() const { return vclComObject_; }
  void SetVCLComObject(IUnknown* object, IComponentWrapper* wrapper = nullptr);
  // The automation object of this component, made through CreateVCLComObjectProc
  // when the slot is empty. Throws EComponentError when no hook is installed.
  TComPtr<IUnknown> ComObject();

  // Interfaces the component implements itself: a counted reference to `iid` in
  // `object`, or false. The base class implements none.
  virtual bool GetInterface(const TGUID& iid, void** object);

 private:
  TComponent* owner_ = nullptr;
  std::vector<std::unique_ptr<TComponent>> components_;
  std::string name_;
  std::int32_t tag_ = 0;
  IUnknown* vclComObject_ = nullptr;
  IComponentWrapper* wrapper_ = nullptr;
};

}  // namespace qar
