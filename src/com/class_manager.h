// The process-wide list of class factories, looked up by component class, class
// identifier or ProgID.
#pragma once

#include <mutex>
#include <string_view>
#include <typeindex>
#include <vector>

#include "framework/component.h"
#include "framework/interface.h"

namespace qar::com {

class TComObjectFactory;

// Factories add themselves when constructed and remove themselves when destroyed.
class TComClassManager {
 public:
  void AddObjectFactory(TComObjectFactory& factory);
  void RemoveObjectFactory(TComObjectFactory& factory);

  // The factory whose component class is exactly the class of `component`. Throws
  // EOleError (kCLASS_E_CLASSNOTAVAILABLE) when none is registered.
  TComObjectFactory& GetFactoryFromClass(const TComponent& component) const;
  // Null when none is registered.
  TComObjectFactory* GetFactoryFromClassID(const TGUID& classId) const;
  // Case-insensitive; null when none is registered.
  TComObjectFactory* GetFactoryFromProgID(std::string_view progId) const;
  std::vector<TComObjectFactory*> Factories() const;

 private:
  mutable std::mutex mutex_;
  std::vector<TComObjectFactory*> factories_;
};

TComClassManager& ComClassManager();

}  // namespace qar::com
