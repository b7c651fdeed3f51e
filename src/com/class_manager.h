// The process-wide list of class factories, looked up by component class, class
// identifier or ProgID.
#pragma once

#include <future>
#include <memory>
#include <mutex>
#include <string_view>
#include <typeindex>
#include <vector>

#include "framework/component.h"
#include "framework/interface.h"

namespace qar::com {

class TComObjectFactory;

// A counted reference to a registered factory, as lookups hand it out. While one is
// held the factory's removal (its destructor) waits, so a factory found is never a
// destroyed one: hold it for the use, not for the life of what the factory made.
using TFactoryRef = std::shared_ptr<TComObjectFactory>;

// A factory enters when fully built (the end of its most derived constructor) and
// leaves at the start of its destructor.
class TComClassManager {
 public:
  void AddObjectFactory(TComObjectFactory& factory);
  // Returns once no reference from a lookup is held any more.
  void RemoveObjectFactory(TComObjectFactory& factory);

  // The factory whose component class is exactly the class of `component`. Throws
  // EOleError (kCLASS_E_CLASSNOTAVAILABLE) when none is registered.
  TFactoryRef GetFactoryFromClass(const TComponent& component) const;
  // Null when none is registered.
  TFactoryRef GetFactoryFromClassID(const TGUID& classId) const;
  // Case-insensitive; null when none is registered.
  TFactoryRef GetFactoryFromProgID(std::string_view progId) const;
  std::vector<TFactoryRef> Factories() const;

 private:
  struct TEntry {
    TFactoryRef ref;                 // released by the removal
    std::shared_future<void> freed;  // ready once the last reference is released
  };
  template <class F>
  TFactoryRef Find(F matches) const;

  mutable std::mutex mutex_;
  std::vector<TEntry> entries_;
};

TComClassManager& ComClassManager();

}  // namespace qar::com
