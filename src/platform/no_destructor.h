// NoDestructor: a process-wide object that is never destroyed, for threads that outlive main.
#pragma once

#include <new>

namespace qar::platform {

// Built on first use in static storage and never destroyed, so a thread still
// running while the process exits (the watchdog) never meets a destroyed object.
//
//   static NoDestructor<RealClock> clock;
//   return *clock;
template <class T>
class NoDestructor {
 public:
  NoDestructor() : object_(::new (storage_) T()) {}
  T& operator*() { return *object_; }
  T* operator->() { return object_; }

 private:
  alignas(T) unsigned char storage_[sizeof(T)];
  T* object_;
};

}  // namespace qar::platform
