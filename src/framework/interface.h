// Interface identifiers, the root of reference-counted interfaces and the smart reference.
#pragma once

#include <cstdint>
#include <stdexcept>
#include <string>
#include <string_view>
#include <type_traits>
#include <utility>

namespace qar {

// A 128-bit interface or class identifier, laid out as the system lays it out.
// Written and read as "{E07892A0-F52E-11CF-BD2F-0020AF0E5B81}":
//
//   constexpr TGUID kIID_IFoo = TGUID::Parse("{E07892A0-F52E-11CF-BD2F-0020AF0E5B81}");
struct TGUID {
  std::uint32_t D1 = 0;
  std::uint16_t D2 = 0;
  std::uint16_t D3 = 0;
  std::uint8_t D4[8] = {};

  friend constexpr bool operator==(const TGUID& a, const TGUID& b) {
    if (a.D1 != b.D1 || a.D2 != b.D2 || a.D3 != b.D3) return false;
    for (int i = 0; i < 8; ++i)
      if (a.D4[i] != b.D4[i]) return false;
    return true;
  }

  // Reads the braced form (either case of hex digits). Throws std::invalid_argument on
  // anything else; in a constant expression that is a compile error.
  static constexpr TGUID Parse(std::string_view text) {
    if (text.size() != 38 || text[0] != '{' || text[37] != '}' || text[9] != '-' ||
        text[14] != '-' || text[19] != '-' || text[24] != '-')
      throw std::invalid_argument("Not an identifier in braces: " + std::string(text));
    TGUID guid;
    guid.D1 = static_cast<std::uint32_t>(Hex(text, 1, 8));
    guid.D2 = static_cast<std::uint16_t>(Hex(text, 10, 4));
    guid.D3 = static_cast<std::uint16_t>(Hex(text, 15, 4));
    guid.D4[0] = static_cast<std::uint8_t>(Hex(text, 20, 2));
    guid.D4[1] = static_cast<std::uint8_t>(Hex(text, 22, 2));
    for (int i = 0; i < 6; ++i) guid.D4[2 + i] = static_cast<std::uint8_t>(Hex(text, 25 + 2 * i, 2));
    return guid;
  }

  // The braced form with upper-case digits.
  std::string ToString() const;

 private:
  static constexpr std::uint64_t Hex(std::string_view text, std::size_t at, std::size_t count) {
    std::uint64_t value = 0;
    for (std::size_t i = at; i < at + count; ++i) {
      const char c = text[i];
      int digit = -1;
      if (c >= '0' && c <= '9') digit = c - '0';
      else if (c >= 'A' && c <= 'F') digit = c - 'A' + 10;
      else if (c >= 'a' && c <= 'f') digit = c - 'a' + 10;
      if (digit < 0) throw std::invalid_argument("Not a hexadecimal digit in " + std::string(text));
      value = value * 16 + static_cast<std::uint64_t>(digit);
    }
    return value;
  }
};

// A 32-bit result code: negative means failure.
using HResult = std::int32_t;

// A cast to an interface that the object does not answer (TComPtr::As): the query's
// failure code, E_NOINTERFACE when it gave none.
class EIntfCastError : public std::runtime_error {
 public:
  static constexpr HResult kNoInterface = static_cast<HResult>(0x80004002u);
  explicit EIntfCastError(HResult code) : std::runtime_error("Interface not supported"), code_(code) {}
  HResult Code() const { return code_; }

 private:
  HResult code_;
};

// The root of every reference-counted interface. An object answers QueryInterface
// for each identifier it implements with a counted reference (or a failure result
// and null), and frees itself when its count drops to zero. There is no virtual
// destructor on purpose: the table of these three operations is the system's own
// on 64-bit Windows, so the bridge can hand such pointers across unchanged.
class IUnknown {
 public:
  static constexpr TGUID kIID = TGUID::Parse("{00000000-0000-0000-C000-000000000046}");
  virtual HResult QueryInterface(const TGUID& iid, void** object) = 0;
  virtual std::uint32_t AddRef() = 0;
  virtual std::uint32_t Release() = 0;

 protected:
  ~IUnknown() = default;
};

// A counted reference to an interface T (IUnknown or derived). Copying adds a
// reference, destruction releases it; Put() hands the slot to a function that
// returns a counted reference through an out parameter:
//
//   TComPtr<IUnknown> unknown = factory.CreateComObject();
//   TComPtr<IDispatch> dispatch;
//   unknown->QueryInterface(IDispatch::kIID, dispatch.PutVoid());
//   TComPtr<IDispatch> same = unknown.As<IDispatch>();         // throws when it is none
//   if (TComPtr<IExtra> extra = unknown.TryAs<IExtra>()) ...   // null when it is none
template <class T>
class TComPtr {
 public:
  TComPtr() = default;
  TComPtr(std::nullptr_t) {}
  // Takes a new reference to `object` (AddRef).
  explicit TComPtr(T* object) : ptr_(object) {
    if (ptr_) ptr_->AddRef();
  }
  TComPtr(const TComPtr& other) : TComPtr(other.ptr_) {}
  TComPtr(TComPtr&& other) noexcept : ptr_(std::exchange(other.ptr_, nullptr)) {}
  // Only upward (a derived interface to its base); anything else is a query: As<U>().
  template <class U>
    requires std::is_convertible_v<U*, T*>
  TComPtr(const TComPtr<U>& other) : TComPtr(static_cast<T*>(other.Get())) {}
  ~TComPtr() { Reset(); }
  TComPtr& operator=(TComPtr other) noexcept {
    std::swap(ptr_, other.ptr_);
    return *this;
  }

  // Adopts a reference that the caller already holds (no AddRef).
  static TComPtr Attach(T* object) {
    TComPtr result;
    result.ptr_ = object;
    return result;
  }
  // Gives up the reference without releasing it.
  T* Detach() { return std::exchange(ptr_, nullptr); }

  void Reset() {
    if (T* old = std::exchange(ptr_, nullptr)) old->Release();
  }
  T* Get() const { return ptr_; }
  T* operator->() const { return ptr_; }
  T& operator*() const { return *ptr_; }
  explicit operator bool() const { return ptr_ != nullptr; }

  // Releases the current reference and exposes the slot to an out parameter.
  T** Put() {
    Reset();
    return &ptr_;
  }
  void** PutVoid() { return reinterpret_cast<void**>(Put()); }

  // A reference to interface U of the same object. Throws EIntfCastError when the object
  // does not answer U, or when there is no object.
  template <class U>
  TComPtr<U> As() const {
    TComPtr<U> result;
    const HResult code = ptr_ ? ptr_->QueryInterface(U::kIID, result.PutVoid()) : EIntfCastError::kNoInterface;
    if (!result) throw EIntfCastError(code < 0 ? code : EIntfCastError::kNoInterface);
    return result;
  }
  // A reference to interface U of the same object, or null.
  template <class U>
  TComPtr<U> TryAs() const {
    TComPtr<U> result;
    if (ptr_) ptr_->QueryInterface(U::kIID, result.PutVoid());
    return result;
  }

  friend bool operator==(const TComPtr& a, const TComPtr& b) { return a.ptr_ == b.ptr_; }
  friend bool operator==(const TComPtr& a, std::nullptr_t) { return a.ptr_ == nullptr; }

 private:
  T* ptr_ = nullptr;
};

}  // namespace qar
