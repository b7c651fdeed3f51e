#include "com/class_manager.h"

#include <algorithm>
#include <typeinfo>

#include "com/factory.h"
#include "platform/text.h"

namespace qar::com {

void TComClassManager::AddObjectFactory(TComObjectFactory& factory) {
  std::lock_guard lock(mutex_);
  factories_.push_back(&factory);
}

void TComClassManager::RemoveObjectFactory(TComObjectFactory& factory) {
  std::lock_guard lock(mutex_);
  factories_.erase(std::remove(factories_.begin(), factories_.end(), &factory), factories_.end());
}

TComObjectFactory& TComClassManager::GetFactoryFromClass(const TComponent& component) const {
  const std::type_index type = typeid(component);
  {
    std::lock_guard lock(mutex_);
    for (TComObjectFactory* factory : factories_) {
      const TComponentClass* componentClass = factory->ComponentClass();
      if (componentClass != nullptr && componentClass->Type == type) return *factory;
    }
  }
  throw EOleError(kCLASS_E_CLASSNOTAVAILABLE,
                  "No class factory is registered for " + component.ClassName());
}

TComObjectFactory* TComClassManager::GetFactoryFromClassID(const TGUID& classId) const {
  std::lock_guard lock(mutex_);
  for (TComObjectFactory* factory : factories_)
    if (factory->ClassID() == classId) return factory;
  return nullptr;
}

TComObjectFactory* TComClassManager::GetFactoryFromProgID(std::string_view progId) const {
  std::lock_guard lock(mutex_);
  for (TComObjectFactory* factory : factories_)
    if (platform::SameTextAscii(factory->ProgID(), progId)) return factory;
  return nullptr;
}

std::vector<TComObjectFactory*> TComClassManager::Factories() const {
  std::lock_guard lock(mutex_);
  return factories_;
}

TComClassManager& ComClassManager() {
  static TComClassManager manager;
  return manager;
}

}  // namespace qar::com
