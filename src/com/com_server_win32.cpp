// Windows: model objects as real COM objects (IDispatch, IClassFactory) and the
// registration of an in-process server. Every entry point the system calls catches
// everything; FailureToSystem is the one place that turns a thrown value into a result.
#include <windows.h>
#include <ole2.h>
#include <olectl.h>
#include <oleauto.h>

#include <algorithm>
#include <atomic>
#include <cstring>
#include <mutex>
#include <new>
#include <string>
#include <unordered_map>
#include <vector>

#include "com/class_manager.h"
#include "com/com_object.h"
#include "com/dispatch.h"
#include "com/factory.h"
#include "com/server/native_bridge_win32.h"
#include "platform/module.h"
#include "platform/text.h"

namespace qar::com {

static_assert(sizeof(TGUID) == sizeof(GUID));
static_assert(kE_NOINTERFACE == E_NOINTERFACE && kDISP_E_EXCEPTION == DISP_E_EXCEPTION &&
              kDISP_E_BADPARAMCOUNT == DISP_E_BADPARAMCOUNT &&
              kDISP_E_PARAMNOTOPTIONAL == DISP_E_PARAMNOTOPTIONAL &&
              kCLASS_E_CLASSNOTAVAILABLE == CLASS_E_CLASSNOTAVAILABLE &&
              kCONTEXT_E_NOCONTEXT == CONTEXT_E_NOCONTEXT && kE_OUTOFMEMORY == E_OUTOFMEMORY);
static_assert(kDispatchMethod == DISPATCH_METHOD && kDispatchPropertyPut == DISPATCH_PROPERTYPUT);
static_assert(kVarOleStr == VT_BSTR && kVarByRef == VT_BYREF && kVarArray == VT_ARRAY &&
              kVarTypeMask == VT_TYPEMASK && kVarInt64 == VT_I8);

// What one call may bring: the arguments' total size (texts at two bytes a
// character, every value and array item 16 bytes more) and how deep arrays and
// references to references nest. A call beyond either fails before the method runs.
inline constexpr std::size_t kMaxArgumentBytes = std::size_t{64} << 20;
inline constexpr unsigned kMaxArgumentDepth = 16;

namespace {

// Holders of this server (bridges the system holds) and LockServer(TRUE) calls.
std::atomic<long> gServerHolders{0};
std::atomic<long> gServerLocks{0};

std::mutex gNativeMutex;
std::vector<std::pair<TGUID, TNativeBridgeMaker>> gNativeInterfaces;

// Answers a system query with the bridge object itself (see TDispatchBridge).
constexpr TGUID kIID_Bridge = TGUID::Parse("{5C0F6A57-2B3D-4E8F-9A1B-7C6D5E4F3A2B}");

// Inside the bridge classes the system's names win; these name the model's.
using TModelUnknown = qar::IUnknown;
using TModelDispatch = qar::com::IDispatch;

TGUID ToModel(const GUID& guid) {
  TGUID result;
  result.D1 = guid.Data1;
  result.D2 = guid.Data2;
  result.D3 = guid.Data3;
  std::copy(std::begin(guid.Data4), std::end(guid.Data4), std::begin(result.D4));
  return result;
}

GUID ToSystem(const TGUID& guid) {
  GUID result;
  result.Data1 = guid.D1;
  result.Data2 = guid.D2;
  result.Data3 = guid.D3;
  std::copy(std::begin(guid.D4), std::end(guid.D4), std::begin(result.Data4));
  return result;
}

TNativeBridgeMaker NativeBridgeMakerOf(const TGUID& iid) {
  std::lock_guard lock(gNativeMutex);
  for (const auto& [registered, make] : gNativeInterfaces)
    if (registered == iid) return make;
  return nullptr;
}

std::string FromWide(const wchar_t* text, std::size_t length) {
  return platform::Utf16ToAnsi(std::u16string_view(reinterpret_cast<const char16_t*>(text), length));
}

// Throws std::bad_alloc when the system has no memory for the text.
BSTR ToBstr(const std::string& ansi) {
  const std::u16string wide = platform::AnsiToUtf16(ansi);
  BSTR text = SysAllocStringLen(reinterpret_cast<const OLECHAR*>(wide.data()), static_cast<UINT>(wide.size()));
  if (text == nullptr) throw std::bad_alloc();
  return text;
}

// A VARIANT this side made and owns until it hands it over with Release().
class TOwnedVariant {
 public:
  TOwnedVariant() { VariantInit(&value_); }
  ~TOwnedVariant() { VariantClear(&value_); }
  TOwnedVariant(TOwnedVariant&& other) noexcept : value_(other.Release()) {}
  TOwnedVariant& operator=(TOwnedVariant&&) = delete;
  VARIANT& Get() { return value_; }
  VARIANT Release() {
    VARIANT value = value_;
    VariantInit(&value_);
    return value;
  }

 private:
  VARIANT value_;
};

// A system object handed to the model: the model sees an IUnknown that answers no
// model interface, and gets the same system object back when it returns it.
class INativeObject : public IUnknown {
 public:
  static constexpr TGUID kIID = TGUID::Parse("{5C0F6A57-2B3D-4E8F-9A1B-7C6D5E4F3A2C}");
  virtual ::IUnknown* Native() = 0;

 protected:
  ~INativeObject() = default;
};

class TNativeObject : public TImplements<TComObject, INativeObject> {
 public:
  explicit TNativeObject(::IUnknown* native) : native_(native) { native_->AddRef(); }
  ~TNativeObject() override { native_->Release(); }
  ::IUnknown* Native() override { return native_; }

 private:
  ::IUnknown* native_;
};

void ToNative(const Variant& value, VARIANT& out);
void SetErrorDescription(std::string_view source, const std::string& description);

// The size in bytes of a value of type `type` (a base type, no flags), 0 for a type
// that does not cross.
std::size_t ValueSize(VARTYPE type) {
  switch (type) {
    case VT_I1: case VT_UI1: return 1;
    case VT_I2: case VT_UI2: case VT_BOOL: return 2;
    case VT_I4: case VT_UI4: case VT_INT: case VT_UINT: case VT_R4: case VT_ERROR: return 4;
    case VT_I8: case VT_UI8: case VT_R8: case VT_CY: case VT_DATE: return 8;
    case VT_BSTR: return sizeof(BSTR);
    case VT_DISPATCH: case VT_UNKNOWN: return sizeof(::IUnknown*);
    default: return 0;
  }
}

// A model object's dispatch interface as the system's IDispatch. Texts cross as
// BSTR on the system side and ANSI text (the system code page) in the model. A model
// object has one bridge while the system holds it (BridgeOf), so it keeps its identity
// each time it is returned.
class TDispatchBridge final : public ::IDispatch {
 public:
  // A counted reference to the bridge of `model`, made when it has none.
  static ::IDispatch* BridgeOf(TComPtr<TModelDispatch> model);

  const TComPtr<TModelDispatch>& Model() const { return model_; }

  STDMETHODIMP QueryInterface(REFIID riid, void** object) override {
    if (object == nullptr) return E_POINTER;
    *object = nullptr;
    return SystemEntry({}, [&]() -> HRESULT {
      const TGUID iid = ToModel(riid);
      if (iid == TModelUnknown::kIID || iid == TModelDispatch::kIID || iid == kIID_Bridge) {
        *object = static_cast<::IDispatch*>(this);
        AddRef();
        return S_OK;
      }
      // The model's answer: an interface registered as native reaches the system
      // through its own small bridge (the query falls through to a wrapped component
      // this way); the model's dispatch interface under its own identifier is this
      // bridge; nothing else of the model crosses.
      TComPtr<TModelUnknown> found;
      if (Failed(model_->QueryInterface(iid, found.PutVoid())) || !found) return E_NOINTERFACE;
      if (const TNativeBridgeMaker make = NativeBridgeMakerOf(iid)) {
        *object = make(found.Detach(), static_cast<::IUnknown*>(static_cast<::IDispatch*>(this)));
        return *object != nullptr ? S_OK : E_NOINTERFACE;
      }
      if (found.Get() == static_cast<TModelUnknown*>(model_.Get())) {
        *object = static_cast<::IDispatch*>(this);
        AddRef();
        return S_OK;
      }
      return E_NOINTERFACE;
    });
  }
  STDMETHODIMP_(ULONG) AddRef() override { return ++refCount_; }
  STDMETHODIMP_(ULONG) Release() override {
    const ULONG count = --refCount_;
    if (count == 0) delete this;
    return count;
  }

  // Type information stays in the model; names reach identifiers through
  // GetIDsOfNames.
  STDMETHODIMP GetTypeInfoCount(UINT* count) override {
    if (count == nullptr) return E_POINTER;
    *count = 0;
    return S_OK;
  }
  STDMETHODIMP GetTypeInfo(UINT, LCID, ::ITypeInfo** info) override {
    if (info != nullptr) *info = nullptr;
    return DISP_E_BADINDEX;
  }

  STDMETHODIMP GetIDsOfNames(REFIID, LPOLESTR* names, UINT count, LCID locale, DISPID* ids) override {
    if ((names == nullptr || ids == nullptr) && count > 0) return E_POINTER;
    return SystemEntry({}, [&]() -> HRESULT {
      std::vector<std::string> ansiNames;
      ansiNames.reserve(count);
      for (UINT i = 0; i < count; ++i)
        ansiNames.push_back(names[i] != nullptr ? FromWide(names[i], std::wcslen(names[i])) : std::string());
      std::vector<DispId> modelIds(count, kDispIdUnknown);
      const HResult result = model_->GetIDsOfNames(TGUID{}, ansiNames.data(), count, locale, modelIds.data());
      std::copy(modelIds.begin(), modelIds.end(), ids);
      return result;
    });
  }

  STDMETHODIMP Invoke(DISPID id, REFIID, LCID locale, WORD flags, DISPPARAMS* params, VARIANT* result,
                      EXCEPINFO* excepInfo, UINT* argErr) override {
    if (params == nullptr) return E_POINTER;
    if ((params->cArgs > 0 && params->rgvarg == nullptr) || params->cNamedArgs > params->cArgs ||
        (params->cNamedArgs > 0 && params->rgdispidNamedArgs == nullptr))
      return E_INVALIDARG;
    if (result != nullptr) VariantInit(result);
    return SystemEntry({}, [&] { return Call(id, locale, flags, *params, result, excepInfo, argErr); }, excepInfo,
                       argErr);
  }

 private:
  TDispatchBridge(TComPtr<TModelDispatch> model, const void* identity)
      : model_(std::move(model)), identity_(identity) {}
  ~TDispatchBridge();
  TDispatchBridge(const TDispatchBridge&) = delete;
  TDispatchBridge& operator=(const TDispatchBridge&) = delete;

  // A reference when the bridge is not already on its way out.
  bool TryAddRef() {
    ULONG count = refCount_.load();
    while (count != 0)
      if (refCount_.compare_exchange_weak(count, count + 1)) return true;
    return false;
  }

  // Invoke's work; what it throws, SystemEntry reports.
  HRESULT Call(DISPID id, LCID locale, WORD flags, DISPPARAMS& params, VARIANT* result, EXCEPINFO* excepInfo,
               UINT* argErr);

  TServerHolder holder_;
  std::atomic<ULONG> refCount_{1};
  TComPtr<TModelDispatch> model_;
  const void* identity_;  // the model object's IUnknown: its key among the bridges
};

std::mutex gBridgesMutex;
std::unordered_map<const void*, TDispatchBridge*> gBridges;

TDispatchBridge::~TDispatchBridge() {
  std::lock_guard lock(gBridgesMutex);
  const auto found = gBridges.find(identity_);
  if (found != gBridges.end() && found->second == this) gBridges.erase(found);
}

::IDispatch* TDispatchBridge::BridgeOf(TComPtr<TModelDispatch> model) {
  const void* key = model.As<TModelUnknown>().Get();  // the identity outlives the call: `model` holds it
  {
    std::lock_guard lock(gBridgesMutex);
    const auto found = gBridges.find(key);
    if (found != gBridges.end() && found->second->TryAddRef()) return found->second;
  }
  // Made outside the lock: a bridge's destruction takes it.
  TDispatchBridge* made = new TDispatchBridge(std::move(model), key);
  TDispatchBridge* other = nullptr;
  try {
    std::lock_guard lock(gBridgesMutex);
    TDispatchBridge*& slot = gBridges[key];
    if (slot != nullptr && slot->TryAddRef()) other = slot;  // another thread was first
    else slot = made;
  } catch (...) {
    made->Release();
    throw;
  }
  if (other == nullptr) return made;
  made->Release();
  return other;
}

// The model's failure description as the system's exception record. A record with
// neither code would read as success to the caller: it gets E_FAIL.
void ToSystemExcepInfo(const TExcepInfo& model, EXCEPINFO& out) {
  std::memset(&out, 0, sizeof out);
  out.wCode = model.Code;
  out.scode = model.Code != 0 ? 0 : (Failed(model.SCode) ? model.SCode : E_FAIL);
  out.bstrSource = ToBstr(model.Source);
  out.bstrDescription = ToBstr(model.Description);
  if (!model.HelpFile.empty()) out.bstrHelpFile = ToBstr(model.HelpFile);
  out.dwHelpContext = model.HelpContext;
}

// Converts a call's arguments into the model, counting what the client sent against
// the call's bounds.
class TArgumentReader {
 public:
  explicit TArgumentReader(UINT index) : index_(index) {}
  void SetIndex(UINT index) { index_ = index; }

  Variant Read(const VARIANT& value, unsigned depth = 0) {
    if (depth > kMaxArgumentDepth)
      Refuse(E_INVALIDARG, "Arrays or references nest deeper than " + std::to_string(kMaxArgumentDepth) + " levels");
    Count(16);
    const VARTYPE type = V_VT(&value);
    if ((type & VT_BYREF) != 0) {
      if (V_BYREF(&value) == nullptr) Refuse(DISP_E_TYPEMISMATCH, "A by-reference argument refers to nothing");
      const VARTYPE base = type & ~VT_BYREF;
      // References are followed all the way; nothing keeps the client's storage.
      if (base == VT_VARIANT) return Read(*V_VARIANTREF(&value), depth + 1);
      if (base == (VT_ARRAY | VT_VARIANT)) return ReadArray(*V_ARRAYREF(&value), depth);
      const std::size_t size = ValueSize(base);
      if (size == 0) Refuse(DISP_E_BADVARTYPE, "Arguments of type " + std::to_string(type) + " are not supported");
      VARIANT view;  // the referenced value, read in place (not owned: never cleared)
      VariantInit(&view);
      V_VT(&view) = base;
      std::memcpy(&V_I8(&view), V_BYREF(&value), size);
      return Read(view, depth);
    }
    if (type == (VT_ARRAY | VT_VARIANT)) return ReadArray(V_ARRAY(&value), depth);
    switch (type) {
      case VT_EMPTY: return Variant();
      case VT_NULL: return Variant::Null();
      case VT_BOOL: return V_BOOL(&value) != VARIANT_FALSE;
      case VT_I1: return static_cast<std::int8_t>(V_I1(&value));
      case VT_UI1: return static_cast<std::uint8_t>(V_UI1(&value));
      case VT_I2: return static_cast<std::int16_t>(V_I2(&value));
      case VT_UI2: return static_cast<std::uint16_t>(V_UI2(&value));
      case VT_I4: return static_cast<std::int32_t>(V_I4(&value));
      case VT_INT: return static_cast<std::int32_t>(V_INT(&value));
      case VT_UI4: return static_cast<std::uint32_t>(V_UI4(&value));
      case VT_UINT: return static_cast<std::uint32_t>(V_UINT(&value));
      case VT_I8: return static_cast<std::int64_t>(V_I8(&value));
      case VT_UI8: return static_cast<std::uint64_t>(V_UI8(&value));
      case VT_R4: return static_cast<float>(V_R4(&value));
      case VT_R8: return static_cast<double>(V_R8(&value));
      case VT_CY: return static_cast<double>(V_CY(&value).int64) / 10000.0;
      case VT_DATE: return Variant::FromDate(V_DATE(&value));
      case VT_ERROR: return Variant::Error(V_ERROR(&value));
      case VT_BSTR: {
        // The one copy of a text on its way in: straight from the client's string.
        const BSTR text = V_BSTR(&value);
        const UINT length = text != nullptr ? SysStringLen(text) : 0;
        Count(std::size_t{length} * 2);
        return length != 0 ? Variant(FromWide(text, length)) : Variant(std::string());
      }
      case VT_DISPATCH:
      case VT_UNKNOWN: return ReadObject(V_UNKNOWN(&value), type);
      default: break;
    }
    Refuse(DISP_E_BADVARTYPE, "Arguments of type " + std::to_string(type) + " are not supported");
  }

 private:
  [[noreturn]] void Refuse(HRESULT code, const std::string& message) const {
    throw EArgumentError(code, index_, message);
  }

  void Count(std::size_t bytes) {
    if (bytes > kMaxArgumentBytes - bytes_)
      Refuse(E_INVALIDARG, "The call's arguments pass " + std::to_string(kMaxArgumentBytes >> 20) + " MB");
    bytes_ += bytes;
  }

  Variant ReadArray(SAFEARRAY* array, unsigned depth) {
    if (array == nullptr || SafeArrayGetDim(array) != 1 || array->cbElements != sizeof(VARIANT))
      Refuse(DISP_E_TYPEMISMATCH, "Only one-dimensional arrays of variants are supported");
    const ULONG count = array->rgsabound[0].cElements;
    if (count > (kMaxArgumentBytes - bytes_) / 16)
      Refuse(E_INVALIDARG, "The call's arguments pass " + std::to_string(kMaxArgumentBytes >> 20) + " MB");
    VARIANT* items = nullptr;
    if (FAILED(SafeArrayAccessData(array, reinterpret_cast<void**>(&items))))
      Refuse(DISP_E_TYPEMISMATCH, "An array argument cannot be read");
    struct TUnaccess {
      SAFEARRAY* array;
      ~TUnaccess() { SafeArrayUnaccessData(array); }
    } unaccess{array};
    std::vector<Variant> values;
    values.reserve(count);
    for (ULONG i = 0; i < count; ++i) values.push_back(Read(items[i], depth + 1));
    return Variant::Array(std::move(values), array->rgsabound[0].lLbound);
  }

  static Variant ReadObject(::IUnknown* native, VARTYPE type) {
    if (native == nullptr) return Variant::FromInterface(nullptr, type == VT_DISPATCH ? kVarDispatch : kVarUnknown);
    // One of our own bridges gives back its model object.
    ::IDispatch* ours = nullptr;
    if (SUCCEEDED(native->QueryInterface(ToSystem(kIID_Bridge), reinterpret_cast<void**>(&ours))) && ours != nullptr) {
      TComPtr<TModelUnknown> model(static_cast<TDispatchBridge*>(ours)->Model().Get());
      ours->Release();
      return Variant::FromInterface(std::move(model), kVarDispatch);
    }
    TComPtr<TNativeObject> wrapped(new TNativeObject(native));
    return Variant::FromInterface(TComPtr<IUnknown>(static_cast<TComObject*>(wrapped.Get())),
                                  type == VT_DISPATCH ? kVarDispatch : kVarUnknown);
  }

  UINT index_;
  std::size_t bytes_ = 0;
};

// Makes the system's form of a model value into `out` (set only when it succeeds).
void ToNative(const Variant& value, VARIANT& out) {
  const Variant& v = value.Deref();
  const std::uint16_t type = v.VarType();
  if ((type & kVarArray) != 0) {
    const std::vector<Variant>& items = v.ArrayItems();
    SAFEARRAYBOUND bound{static_cast<ULONG>(items.size()), v.ArrayLowBound()};
    SAFEARRAY* array = SafeArrayCreate(VT_VARIANT, 1, &bound);
    if (array == nullptr) throw std::bad_alloc();
    struct TDestroy {
      SAFEARRAY* array;
      ~TDestroy() { if (array != nullptr) SafeArrayDestroy(array); }
    } destroy{array};
    VARIANT* slots = nullptr;
    if (FAILED(SafeArrayAccessData(array, reinterpret_cast<void**>(&slots)))) throw std::bad_alloc();
    struct TUnaccess {
      SAFEARRAY* array;
      ~TUnaccess() { SafeArrayUnaccessData(array); }
    } unaccess{array};
    // The array owns each item as soon as it is made; destroying it clears them.
    for (std::size_t i = 0; i < items.size(); ++i) ToNative(items[i], slots[i]);
    V_VT(&out) = VT_ARRAY | VT_VARIANT;
    V_ARRAY(&out) = std::exchange(destroy.array, nullptr);
    return;
  }
  switch (type) {
    case kVarEmpty: V_VT(&out) = VT_EMPTY; return;
    case kVarNull: V_VT(&out) = VT_NULL; return;
    case kVarBoolean: V_VT(&out) = VT_BOOL; V_BOOL(&out) = v.AsBoolean() ? VARIANT_TRUE : VARIANT_FALSE; return;
    case kVarShortInt: V_VT(&out) = VT_I1; V_I1(&out) = static_cast<CHAR>(v.AsInt64()); return;
    case kVarByte: V_VT(&out) = VT_UI1; V_UI1(&out) = static_cast<BYTE>(v.AsInt64()); return;
    case kVarSmallInt: V_VT(&out) = VT_I2; V_I2(&out) = static_cast<SHORT>(v.AsInt64()); return;
    case kVarWord: V_VT(&out) = VT_UI2; V_UI2(&out) = static_cast<USHORT>(v.AsInt64()); return;
    case kVarInteger: V_VT(&out) = VT_I4; V_I4(&out) = static_cast<LONG>(v.AsInt64()); return;
    case kVarLongWord: V_VT(&out) = VT_UI4; V_UI4(&out) = static_cast<ULONG>(v.AsInt64()); return;
    case kVarInt64: V_VT(&out) = VT_I8; V_I8(&out) = v.AsInt64(); return;
    case kVarUInt64: V_VT(&out) = VT_UI8; V_UI8(&out) = v.AsUInt64(); return;
    case kVarSingle: V_VT(&out) = VT_R4; V_R4(&out) = static_cast<FLOAT>(v.AsDouble()); return;
    case kVarDouble: V_VT(&out) = VT_R8; V_R8(&out) = v.AsDouble(); return;
    case kVarDate: V_VT(&out) = VT_DATE; V_DATE(&out) = v.AsDateTime(); return;
    case kVarOleStr: V_BSTR(&out) = ToBstr(v.AsString()); V_VT(&out) = VT_BSTR; return;
    case kVarError: V_VT(&out) = VT_ERROR; V_ERROR(&out) = v.ErrorCode(); return;
    case kVarUnknown:
    case kVarDispatch: {
      const TComPtr<IUnknown>& object = v.Interface();
      if (!object) throw EOleError(DISP_E_TYPEMISMATCH, "A value holds no object that can cross");
      if (TComPtr<INativeObject> native = object.TryAs<INativeObject>()) {
        ::IDispatch* dispatch = nullptr;
        if (SUCCEEDED(native->Native()->QueryInterface(IID_IDispatch, reinterpret_cast<void**>(&dispatch)))) {
          V_VT(&out) = VT_DISPATCH;
          V_DISPATCH(&out) = dispatch;
        } else {
          V_VT(&out) = VT_UNKNOWN;
          V_UNKNOWN(&out) = native->Native();
          native->Native()->AddRef();
        }
        return;
      }
      TComPtr<IDispatch> dispatch = object.TryAs<IDispatch>();
      if (!dispatch) throw EOleError(DISP_E_TYPEMISMATCH, "An object without a dispatch interface cannot cross");
      V_DISPATCH(&out) = TDispatchBridge::BridgeOf(std::move(dispatch));
      V_VT(&out) = VT_DISPATCH;
      return;
    }
    default: break;
  }
  throw EOleError(DISP_E_BADVARTYPE, "A value of type " + std::to_string(type) + " cannot cross");
}

// What a method left in a by-reference argument, in the referenced type, ready to
// be stored over the client's value.
struct TWriteBack {
  VARIANT* arg = nullptr;
  TOwnedVariant value;
};

// `value` changed to `arg`'s referenced type; a value that does not fit is a type
// mismatch of argument `index`.
void PrepareWriteBack(VARIANT& arg, const Variant& value, LCID locale, UINT index, TWriteBack& out) {
  out.arg = &arg;
  const VARTYPE base = V_VT(&arg) & ~VT_BYREF;
  if (base == VT_VARIANT) {
    ToNative(value, out.value.Get());
    return;
  }
  TOwnedVariant native;
  ToNative(value, native.Get());
  bool fits = false;
  if (base == (VT_ARRAY | VT_VARIANT)) {
    fits = V_VT(&native.Get()) == base;
    if (fits) out.value.Get() = native.Release();
  } else {
    fits = SUCCEEDED(VariantChangeTypeEx(&out.value.Get(), &native.Get(), locale, 0, base));
  }
  if (!fits)
    throw EArgumentError(DISP_E_TYPEMISMATCH, index,
                         "The value left in by-reference argument " + std::to_string(index) +
                             " does not fit its type " + std::to_string(base));
}

// Stores a prepared value over the client's, freeing what the client's held.
void CommitWriteBack(TWriteBack& writeBack) {
  VARIANT& arg = *writeBack.arg;
  const VARTYPE base = V_VT(&arg) & ~VT_BYREF;
  VARIANT value = writeBack.value.Release();
  if (base == VT_VARIANT) {
    VariantClear(V_VARIANTREF(&arg));
    *V_VARIANTREF(&arg) = value;
  } else if (base == (VT_ARRAY | VT_VARIANT)) {
    if (*V_ARRAYREF(&arg) != nullptr) SafeArrayDestroy(*V_ARRAYREF(&arg));
    *V_ARRAYREF(&arg) = V_ARRAY(&value);
  } else {
    const std::size_t size = ValueSize(base);
    VARIANT old;  // the client's value as a variant, to free a text or an object it held
    VariantInit(&old);
    V_VT(&old) = base;
    std::memcpy(&V_I8(&old), V_BYREF(&arg), size);
    VariantClear(&old);
    std::memcpy(V_BYREF(&arg), &V_I8(&value), size);
  }
}

HRESULT TDispatchBridge::Call(DISPID id, LCID locale, WORD flags, DISPPARAMS& params, VARIANT* result,
                              EXCEPINFO* excepInfo, UINT* argErr) {
  const UINT count = params.cArgs;
  // A by-reference argument becomes a model reference to a copy, written back when
  // the method changed it (see CommitWriteBack).
  std::vector<Variant> args(count);
  std::vector<Variant> referenced(count);
  std::vector<Variant> before(count);
  TArgumentReader reader(0);
  for (UINT i = 0; i < count; ++i) {
    const VARIANT& arg = params.rgvarg[i];
    reader.SetIndex(i);
    if ((V_VT(&arg) & VT_BYREF) != 0) {
      referenced[i] = reader.Read(arg);
      before[i] = referenced[i];
      args[i] = Variant::ByRef(referenced[i]);
    } else {
      args[i] = reader.Read(arg);
    }
  }
  std::vector<DispId> named(params.rgdispidNamedArgs, params.rgdispidNamedArgs + params.cNamedArgs);
  TDispParams modelParams{args.data(), named.data(), count, params.cNamedArgs};

  Variant value;
  TExcepInfo modelExcepInfo;
  std::uint32_t modelArgErr = 0;
  HResult outcome =
      model_->Invoke(id, TGUID{}, locale, flags, modelParams, result ? &value : nullptr, &modelExcepInfo, &modelArgErr);
  // A success that comes with a failure description is a failure.
  if (Succeeded(outcome) && (modelExcepInfo.Code != 0 || modelExcepInfo.SCode != 0)) outcome = kDISP_E_EXCEPTION;

  // Every changed reference is converted first and stored only when all fit, so a
  // failed write-back leaves the client's values as they were.
  std::vector<TWriteBack> writeBacks;
  try {
    for (UINT i = 0; i < count; ++i) {
      if ((V_VT(&params.rgvarg[i]) & VT_BYREF) == 0 || referenced[i] == before[i]) continue;
      PrepareWriteBack(params.rgvarg[i], referenced[i], locale, i, writeBacks.emplace_back());
    }
  } catch (...) {
    if (Succeeded(outcome)) throw;
    writeBacks.clear();  // the method's own failure is what the caller hears of
  }
  // The result too is made before anything is stored: a conversion that fails leaves
  // the client's variables as they were.
  TOwnedVariant converted;
  if (Succeeded(outcome) && result != nullptr) ToNative(value, converted.Get());
  for (TWriteBack& writeBack : writeBacks) CommitWriteBack(writeBack);

  if (outcome == kDISP_E_EXCEPTION) {
    // A caller without an exception record still finds the description.
    if (excepInfo != nullptr) ToSystemExcepInfo(modelExcepInfo, *excepInfo);
    else SetErrorDescription(modelExcepInfo.Source, modelExcepInfo.Description);
    return DISP_E_EXCEPTION;
  }
  if (argErr != nullptr &&
      (outcome == kDISP_E_TYPEMISMATCH || outcome == kDISP_E_PARAMNOTFOUND || outcome == kDISP_E_PARAMNOTOPTIONAL ||
       outcome == kDISP_E_OVERFLOW))
    *argErr = modelArgErr;
  if (Succeeded(outcome) && result != nullptr) *result = converted.Release();
  return outcome;
}

// Puts the failure's text where a client reads it (a script's Err.Description).
void SetErrorDescription(std::string_view source, const std::string& description) {
  ICreateErrorInfo* create = nullptr;
  if (FAILED(CreateErrorInfo(&create))) return;
  std::u16string wideSource = platform::AnsiToUtf16(source);
  std::u16string wideDescription = platform::AnsiToUtf16(description);
  create->SetSource(reinterpret_cast<LPOLESTR>(wideSource.data()));
  create->SetDescription(reinterpret_cast<LPOLESTR>(wideDescription.data()));
  IErrorInfo* info = nullptr;
  if (SUCCEEDED(create->QueryInterface(IID_IErrorInfo, reinterpret_cast<void**>(&info)))) {
    SetErrorInfo(0, info);
    info->Release();
  }
  create->Release();
}

// A model factory as the system's class factory.
class TClassFactoryBridge final : public ::IClassFactory {
 public:
  explicit TClassFactoryBridge(TComObjectFactory& factory) : factory_(factory) {}
  TClassFactoryBridge(const TClassFactoryBridge&) = delete;
  TClassFactoryBridge& operator=(const TClassFactoryBridge&) = delete;

  STDMETHODIMP QueryInterface(REFIID riid, void** object) override {
    if (object == nullptr) return E_POINTER;
    *object = nullptr;
    if (!IsEqualIID(riid, IID_IUnknown) && !IsEqualIID(riid, IID_IClassFactory)) return E_NOINTERFACE;
    *object = static_cast<::IClassFactory*>(this);
    AddRef();
    return S_OK;
  }
  STDMETHODIMP_(ULONG) AddRef() override { return ++refCount_; }
  STDMETHODIMP_(ULONG) Release() override {
    const ULONG count = --refCount_;
    if (count == 0) delete this;
    return count;
  }

  STDMETHODIMP CreateInstance(::IUnknown* outer, REFIID riid, void** object) override {
    if (object == nullptr) return E_POINTER;
    *object = nullptr;
    if (outer != nullptr) return CLASS_E_NOAGGREGATION;
    return SystemEntry(factory_.ProgID(), [&]() -> HRESULT {
      ::IDispatch* bridge = TDispatchBridge::BridgeOf(factory_.CreateComObject().As<TModelDispatch>());
      const HRESULT result = bridge->QueryInterface(riid, object);
      bridge->Release();
      return result;
    });
  }
  // An unlock without a lock is refused: the count never drops below zero, so it
  // cannot cancel a later client's lock.
  STDMETHODIMP LockServer(BOOL lock) override {
    if (lock) {
      ++gServerLocks;
      return S_OK;
    }
    long locks = gServerLocks.load();
    while (locks > 0)
      if (gServerLocks.compare_exchange_weak(locks, locks - 1)) return S_OK;
    return E_UNEXPECTED;
  }

 private:
  TServerHolder holder_;
  std::atomic<ULONG> refCount_{1};
  TComObjectFactory& factory_;
};

HRESULT SetKeyValue(const std::string& key, const char* name, const std::string& value) {
  HKEY handle = nullptr;
  LONG status = RegCreateKeyExA(HKEY_CLASSES_ROOT, key.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE,
                                KEY_SET_VALUE, nullptr, &handle, nullptr);
  if (status == ERROR_SUCCESS) {
    status = RegSetValueExA(handle, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                            static_cast<DWORD>(value.size() + 1));
    RegCloseKey(handle);
  }
  return status == ERROR_SUCCESS ? S_OK : HRESULT_FROM_WIN32(status);
}

HRESULT DeleteKeyTree(const std::string& key) {
  const LONG status = RegDeleteTreeA(HKEY_CLASSES_ROOT, key.c_str());
  if (status == ERROR_SUCCESS || status == ERROR_FILE_NOT_FOUND) {
    RegDeleteKeyA(HKEY_CLASSES_ROOT, key.c_str());
    return S_OK;
  }
  return HRESULT_FROM_WIN32(status);
}

}  // namespace

TServerHolder::TServerHolder() { ++gServerHolders; }
TServerHolder::~TServerHolder() { --gServerHolders; }

HRESULT FailureToSystem(std::exception_ptr error, std::string_view source, EXCEPINFO* excepInfo,
                        UINT* argErr) noexcept {
  try {
    TFailure failure = DescribeFailure(std::move(error));
    if (!failure.described) return failure.code;  // E_OUTOFMEMORY: nothing more is made
    if (failure.argument && argErr != nullptr) *argErr = *failure.argument;
    // A conversion's error is the code the caller expects for that argument; any
    // other failure is described where the caller reads it.
    const bool conversion =
        failure.argument && (failure.code == DISP_E_TYPEMISMATCH || failure.code == DISP_E_BADVARTYPE);
    if (excepInfo != nullptr && !conversion) {
      TExcepInfo described;
      described.Source = std::string(source);
      described.Description = std::move(failure.message);
      described.SCode = failure.code;
      ToSystemExcepInfo(described, *excepInfo);
      return DISP_E_EXCEPTION;
    }
    SetErrorDescription(source, failure.message);
    return failure.code;
  } catch (...) {
    return E_OUTOFMEMORY;  // the description itself could not be made
  }
}

void RegisterNativeInterface(const TGUID& iid, TNativeBridgeMaker make) {
  std::lock_guard lock(gNativeMutex);
  for (const auto& registered : gNativeInterfaces)
    if (registered.first == iid) return;
  gNativeInterfaces.emplace_back(iid, make);
}

HResult ServerGetClassObject(const TGUID& classId, const TGUID& iid, void** object) {
  if (object == nullptr) return kE_POINTER;
  *object = nullptr;
  return SystemEntry({}, [&]() -> HRESULT {
    const auto factory = ComClassManager().GetFactoryFromClassID(classId);
    if (!factory) return kCLASS_E_CLASSNOTAVAILABLE;
    TClassFactoryBridge* bridge = new TClassFactoryBridge(*factory);
    const HRESULT result = bridge->QueryInterface(ToSystem(iid), object);
    bridge->Release();
    return result;
  });
}

HResult ServerCanUnloadNow() {
  return gServerHolders.load() == 0 && gServerLocks.load() == 0 ? kS_OK : kS_FALSE;
}

HResult ServerRegister() {
  return SystemEntry({}, []() -> HRESULT {
    const std::string serverFile = platform::ModuleFileNameOf(&gServerHolders);
    for (const auto& factory : ComClassManager().Factories()) {
      const std::string classId = factory->ClassID().ToString();
      const std::string classKey = "CLSID\\" + classId;
      const std::string title = factory->Description().empty() ? factory->ClassName() : factory->Description();
      for (HRESULT result : {SetKeyValue(classKey, nullptr, title),
                             SetKeyValue(classKey + "\\InprocServer32", nullptr, serverFile),
                             SetKeyValue(classKey + "\\InprocServer32", "ThreadingModel", factory->ThreadingModel()),
                             SetKeyValue(classKey + "\\ProgID", nullptr, factory->ProgID()),
                             SetKeyValue(factory->ProgID(), nullptr, title),
                             SetKeyValue(factory->ProgID() + "\\Clsid", nullptr, classId)}) {
        if (FAILED(result)) return SELFREG_E_CLASS;
      }
    }
    return S_OK;
  });
}

HResult ServerUnregister() {
  return SystemEntry({}, []() -> HRESULT {
    HRESULT outcome = S_OK;
    for (const auto& factory : ComClassManager().Factories()) {
      if (FAILED(DeleteKeyTree("CLSID\\" + factory->ClassID().ToString()))) outcome = SELFREG_E_CLASS;
      if (FAILED(DeleteKeyTree(factory->ProgID()))) outcome = SELFREG_E_CLASS;
    }
    return outcome;
  });
}

}  // namespace qar::com
