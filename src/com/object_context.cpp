#include "com/object_context.h"

#include <mutex>
#include <utility>

namespace qar::com {

namespace {

std::mutex gProviderMutex;
TObjectContextProvider gProvider;

}  // namespace

TComPtr<IObjectContext> GetObjectContext() {
  TObjectContextProvider provider;
  {
    std::lock_guard lock(gProviderMutex);
    provider = gProvider;
  }
  return provider ? provider() : SystemObjectContext();
}

TObjectContextProvider SetObjectContextProvider(TObjectContextProvider provider) {
  std::lock_guard lock(gProviderMutex);
  return std::exchange(gProvider, std::move(provider));
}

}  // namespace qar::com
