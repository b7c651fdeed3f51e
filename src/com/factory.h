// Class factories: what a class is called, how its objects and its component are made.
#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <typeindex>

#include "com/dispatch.h"
#include "framework/component.h"
#include "framework/interface.h"

namespace qar::com {

// Lies in the module that instantiates it: the module that holds class T.
template <class T>
inline const char kModuleAnchorOf = 0;

// A component class: its name, its virtual constructor (no owner), and where in an
// instance lies the object that its dispatch interface's members are bound to (null
// for a component of another class).
struct TComponentClass {
  std::string Name;
  std::type_index Type = typeid(void);
  std::function<std::unique_ptr<TComponent>()> Create;
  std::function<void*(TComponent&)> DispatchTarget;
  const void* ModuleAnchor = nullptr;

  template <class C>
  static TComponentClass Of(std::string name) {
    TComponentClass result;
    result.Name = std::move(name);
    result.Type = typeid(C);
    result.Create = [] { return std::unique_ptr<TComponent>(std::make_unique<C>()); };
    result.DispatchTarget = [](TComponent& component) -> void* { return dynamic_cast<C*>(&component); };
    result.ModuleAnchor = &kModuleAnchorOf<C>;
    return result;
  }
};

// The registration of one class: identifier, names and threading model.
struct TFactoryInfo {
  TGUID ClassId;
  std::string ClassName;    // the registered class name
  std::string ProgId;       // what clients create it by ("Servidor.dmVendas")
  std::string Description;
  std::string ThreadingModel = "Apartment";
};

// Makes the objects of one class. A factory enters the process-wide ComClassManager
// when fully constructed and leaves it when destroyed, so a server declares its
// classes as static factory objects. A derived factory class builds its base with the
// protected constructor, enters last in its own constructor and leaves first in its
// destructor, so no lookup meets a factory half built or half destroyed.
class TComObjectFactory {
 public:
  using TCreator = std::function<TComPtr<IUnknown>(TComObjectFactory& factory)>;

  // `moduleAnchor` is any address in the module that holds the class. Enters the
  // class manager last.
  TComObjectFactory(TFactoryInfo info, TCreator creator, const void* moduleAnchor,
                    std::optional<TComponentClass> componentClass = std::nullopt);
  virtual ~TComObjectFactory();
  TComObjectFactory(const TComObjectFactory&) = delete;
  TComObjectFactory& operator=(const TComObjectFactory&) = delete;

  // A new object of the class; a failure to make it is thrown.
  TComPtr<IUnknown> CreateComObject();

  const TGUID& ClassID() const { return info_.ClassId; }
  const std::string& ClassName() const { return info_.ClassName; }
  const std::string& ProgID() const { return info_.ProgId; }
  const std::string& Description() const { return info_.Description; }
  const std::string& ThreadingModel() const { return info_.ThreadingModel; }
  // The component class the objects wrap, or null.
  const TComponentClass* ComponentClass() const {
    return componentClass_ ? &*componentClass_ : nullptr;
  }
  // The full file name of the module that holds the class.
  std::string ModuleFileName() const;

 protected:
  struct TRegisteredByDerived {};
  // Does not enter the class manager: the derived class does, with Register().
  TComObjectFactory(TRegisteredByDerived, TFactoryInfo info, TCreator creator, const void* moduleAnchor,
                    std::optional<TComponentClass> componentClass);
  void Register();
  void Unregister();

 private:
  TFactoryInfo info_;
  TCreator creator_;
  const void* moduleAnchor_;
  std::optional<TComponentClass> componentClass_;
};

class TAutoObject;

// The factory of automation objects: adds the type information of the class's
// dispatch interface, and where its members are bound in an object of the class.
// A derived factory builds itself through the protected constructor and registers
// at the end of its own constructor, so no lookup finds it half made.
class TAutoObjectFactory : public TComObjectFactory {
 public:
  using TDispatchTarget = std::function<void*(TAutoObject& object)>;

  TAutoObjectFactory(TFactoryInfo info, TCreator creator, const void* moduleAnchor,
                     TComPtr<ITypeInfo> typeInfo, std::optional<TComponentClass> componentClass,
                     TDispatchTarget dispatchTarget = nullptr);
  ~TAutoObjectFactory() override { Unregister(); }

  ITypeInfo* ClassTypeInfo() const { return typeInfo_.Get(); }
  // The identifier of the dispatch interface (from the type information).
  const TGUID& DispIntfIID() const { return dispIntfIID_; }
  // The object the members are called on for `object`, or null when the members are
  // bound to the component.
  void* DispatchTargetOf(TAutoObject& object) const {
    return dispatchTarget_ ? dispatchTarget_(object) : nullptr;
  }

 protected:
  TAutoObjectFactory(TRegisteredByDerived, TFactoryInfo info, TCreator creator, const void* moduleAnchor,
                     TComPtr<ITypeInfo> typeInfo, std::optional<TComponentClass> componentClass,
                     TDispatchTarget dispatchTarget);

 private:
  TComPtr<ITypeInfo> typeInfo_;
  TGUID dispIntfIID_;
  TDispatchTarget dispatchTarget_;
};

}  // namespace qar::com
