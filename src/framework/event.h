// TEvent: a bound event slot, a handler (method + object) a component calls when something happens.
#pragma once

#include <cstddef>
#include <cstring>
#include <functional>
#include <utility>

namespace qar {

class TComponent;

template <class Signature>
class TEvent;

// A slot holds one handler or none. It is a plain value: a hook saves the slot's
// current handler by copying it, installs its own, calls the saved one after its own
// work, and puts the copy back when it is done.
//
//   TEvent<void(int)> saved = slot;                    // save
//   slot = TEvent<void(int)>::Bind(monitor, &TMonitor::OnValue);
//   if (saved) saved(value);                           // chain
//   slot = saved;                                      // restore
template <class... Args>
class TEvent<void(Args...)> {
 public:
  TEvent() = default;
  TEvent(std::nullptr_t) {}

  // A handler that is a method of `object`, as the framework binds event handlers.
  // Held in place, without an allocation: monitors bind and unbind theirs on every call.
  template <class T>
  static TEvent Bind(T& object, void (T::*method)(Args...)) {
    using Method = void (T::*)(Args...);
    static_assert(sizeof(Method) <= sizeof(method_));
    TEvent event;
    std::memcpy(event.method_, &method, sizeof method);
    event.object_ = &object;
    event.bound_ = [](const TEvent& self, Args... args) {
      Method m;
      std::memcpy(&m, self.method_, sizeof m);
      (static_cast<T*>(const_cast<void*>(self.object_))->*m)(std::forward<Args>(args)...);
    };
    return event;
  }

  // A handler that is a free function or lambda, bound to no object.
  template <class F>
  static TEvent FromFunction(F function) {
    TEvent event;
    event.function_ = std::move(function);
    return event;
  }

  // Empty when no handler is installed; an empty slot must not be called.
  bool Assigned() const { return bound_ != nullptr || static_cast<bool>(function_); }
  explicit operator bool() const { return Assigned(); }

  // The object the handler is bound to (null for an unbound function or none).
  const void* Object() const { return object_; }

  void operator()(Args... args) const {
    if (bound_ != nullptr) return bound_(*this, std::forward<Args>(args)...);
    function_(std::forward<Args>(args)...);
  }

 private:
  std::function<void(Args...)> function_;  // a free function's
  void (*bound_)(const TEvent&, Args...) = nullptr;  // a method's: calls method_ on object_
  unsigned char method_[2 * sizeof(void*)] = {};  // copied in and out: no alignment needed
  const void* object_ = nullptr;
};

// The event that only says "this happened" to its handler, with the component as sender.
using TNotifyEvent = TEvent<void(TComponent& sender)>;

}  // namespace qar
