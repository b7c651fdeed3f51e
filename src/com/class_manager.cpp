#include "com/class_manager.h"

#include <algorithm>
#include <typeinfo>

#include "com/factory.h"
#include "platform/text.h"

namespace qar::com {

void TComClassManager::AddObjectFactory(TComObjectFactory& factory) {
  // The reference does not own the factory: its last release only says so.
  auto freed = std::make_shared<std::promise<void>>();
  TEntry entry{TFactoryRef(&factory, [freed](TComObjectFactory*) { freed->set_value(); }),
               freed->get_future().share()};
  std::lock_guard lock(mutex_);
  entries_.push_back(std::move(entry));
}

void TComClassManager::RemoveObjectFactory(TComObjectFactory& factory) {
  TEntry removed;
  {
    std::lock_guard lock(mutex_);
    const auto at = std::find_if(entries_.begin(), entries_.end(),
                                 [&](const TEntry& entry) { return entry.ref.get() == &factory; });
    if (at == entries_.end()) return;
    removed = std::move(*at);
    entries_.erase(at);
  }
  removed.ref.reset();
  removed.freed.wait();
}

template <class F>
TFactoryRef TComClassManager::Find(F matches) const {
  std::lock_guard lock(mutex_);
  for (const TEntry& entry : entries_)
    if (matches(*entry.ref)) return entry.ref;
  return nullptr;
}

TFactoryRef TComClassManager::GetFactoryFromClass(const TComponent& component) const {
  const std::type_index type = typeid(component);
  TFactoryRef factory = Find([&](const TComObjectFactory& candidate) {
    const TComponentClass* componentClass = candidate.ComponentClass();
    return componentClass != nullptr && componentClass->Type == type;
  });
  if (!factory)
    throw EOleError(kCLASS_E_CLASSNOTAVAILABLE, "No class factory is registered for " + component.ClassName());
  return factory;
}

TFactoryRef TComClassManager::GetFactoryFromClassID(const TGUID& classId) const {
  return Find([&](const TComObjectFactory& candidate) { return candidate.ClassID() == classId; });
}

TFactoryRef TComClassManager::GetFactoryFromProgID(std::string_view progId) const {
  return Find([&](const TComObjectFactory& candidate) { return platform::SameTextAscii(candidate.ProgID(), progId); });
}

std::vector<TFactoryRef> TComClassManager::Factories() const {
  std::lock_guard lock(mutex_);
  std::vector<TFactoryRef> factories;
  for (const TEntry& entry : entries_) factories.push_back(entry.ref);
  return factories;
}

TComClassManager& ComClassManager() {
  static TComClassManager manager;
  return manager;
}

}  // namespace qar::com
