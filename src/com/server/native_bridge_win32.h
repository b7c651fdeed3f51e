// Windows: what every bridge to the system shares: the count of holders that keeps
// the server loaded, the one conversion of a thrown value into a result code, and
// the base of a native interface's bridge.
#pragma once

#include <windows.h>
#include <ole2.h>

#include <atomic>
#include <exception>
#include <string_view>
#include <utility>

#include "com/com_server.h"

namespace qar::com {

// One holder of this server while it lives (DllCanUnloadNow answers S_FALSE).
class TServerHolder {
 public:
  TServerHolder();
  ~TServerHolder();
  TServerHolder(const TServerHolder&) = delete;
  TServerHolder& operator=(const TServerHolder&) = delete;
};

// The one place on the system's side where a thrown value becomes a result code. The
// code and message are the model's classification (DescribeFailure): std::bad_alloc
// gives E_OUTOFMEMORY and nothing else. The message goes where the caller reads it:
// into `excepInfo` with the result DISP_E_EXCEPTION when one is given, else into the
// thread's error information. An argument's error (EArgumentError) sets *argErr; a
// conversion's (type mismatch, bad type) is its own code, without a description.
HRESULT FailureToSystem(std::exception_ptr error, std::string_view source, EXCEPINFO* excepInfo = nullptr,
                        UINT* argErr = nullptr) noexcept;

// Runs `body` (which returns an HRESULT) at an entry point the system calls, so that
// nothing it throws crosses into the system: the one catch of every bridge.
template <class F>
HRESULT SystemEntry(std::string_view source, F&& body, EXCEPINFO* excepInfo = nullptr,
                    UINT* argErr = nullptr) noexcept {
  try {
    return std::forward<F>(body)();
  } catch (...) {
    return FailureToSystem(std::current_exception(), source, excepInfo, argErr);
  }
}

// The base of the system's view of one model interface (ModelInterface, laid out
// for the system interface SystemInterface): QueryInterface asks the owner, so the
// object keeps one identity; the bridge holds its owner (so the server stays loaded
// while the system holds the bridge) and the model interface. Derive, forward each
// operation to ModelInterfaceOf() inside SystemEntry, and register with
// RegisterNativeBridge.
template <class SystemInterface, class ModelInterface>
class TNativeBridge : public SystemInterface {
 public:
  using System = SystemInterface;
  using Model = ModelInterface;

  TNativeBridge(TComPtr<ModelInterface> model, ::IUnknown* owner) : model_(std::move(model)), owner_(owner) {
    owner_->AddRef();
  }
  virtual ~TNativeBridge() { owner_->Release(); }
  TNativeBridge(const TNativeBridge&) = delete;
  TNativeBridge& operator=(const TNativeBridge&) = delete;

  STDMETHODIMP QueryInterface(REFIID riid, void** object) override { return owner_->QueryInterface(riid, object); }
  STDMETHODIMP_(ULONG) AddRef() override { return ++refCount_; }
  STDMETHODIMP_(ULONG) Release() override {
    const ULONG count = --refCount_;
    if (count == 0) delete this;
    return count;
  }

 protected:
  ModelInterface& ModelInterfaceOf() const { return *model_; }

 private:
  std::atomic<ULONG> refCount_{1};
  TComPtr<ModelInterface> model_;
  ::IUnknown* owner_;
};

// Registers Bridge (a TNativeBridge) as the system's view of its model interface.
template <class Bridge>
void RegisterNativeBridge() {
  RegisterNativeInterface(Bridge::Model::kIID, [](void* modelInterface, void* owner) -> void* {
    auto model = TComPtr<typename Bridge::Model>::Attach(static_cast<typename Bridge::Model*>(modelInterface));
    return static_cast<typename Bridge::System*>(new Bridge(std::move(model), static_cast<::IUnknown*>(owner)));
  });
}

}  // namespace qar::com
