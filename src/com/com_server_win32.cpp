// Windows: model objects as real COM objects (IDispatch, IClassFactory) and the
// registration of an in-process server.
#include <windows.h>
#include <ole2.h>
#include <olectl.h>
#include <oleauto.h>

#include <algorithm>
#include <atomic>
#include <cstring>
#include <mutex>
#include <string>
#include <vector>

#include "com/class_manager.h"
#include "com/com_object.h"
#include "com/com_server.h"
#include "com/dispatch.h"
#include "com/factory.h"
#include "platform/module.h"
#include "platform/text.h"

namespace qar::com {

static_assert(sizeof(TGUID) == sizeof(GUID));
static_assert(kE_NOINTERFACE == E_NOINTERFACE && kDISP_E_EXCEPTION == DISP_E_EXCEPTION &&
              kDISP_E_BADPARAMCOUNT == DISP_E_BADPARAMCOUNT &&
              kDISP_E_PARAMNOTOPTIONAL == DISP_E_PARAMNOTOPTIONAL &&
              kCLASS_E_CLASSNOTAVAILABLE == CLASS_E_CLASSNOTAVAILABLE &&
              kCONTEXT_E_NOCONTEXT == CONTEXT_E_NOCONTEXT);
static_assert(kDispatchMethod == DISPATCH_METHOD && kDispatchPropertyPut == DISPATCH_PROPERTYPUT);
static_assert(kVarOleStr == VT_BSTR && kVarByRef == VT_BYREF && kVarArray == VT_ARRAY &&
              kVarTypeMask == VT_TYPEMASK && kVarInt64 == VT_I8);

namespace {

// Objects and locks that keep the server loaded.
std::atomic<long> gServerObjects{0};
std::atomic<long> gServerLocks{0};

std::mutex gNativeMutex;
std::vector<TGUID> gNativeInterfaces;

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

bool IsNative(const TGUID& iid) {
  std::lock_guard lock(gNativeMutex);
  return std::find(gNativeInterfaces.begin(), gNativeInterfaces.end(), iid) != gNativeInterfaces.end();
}

std::wstring ToWide(const std::string& ansi) {
  const std::u16string wide = platform::AnsiToUtf16(ansi);
  return std::wstring(wide.begin(), wide.end());
}

std::string FromWide(const wchar_t* text, std::size_t length) {
  return platform::Utf16ToAnsi(std::u16string(text, text + length));
}

BSTR ToBstr(const std::string& ansi) {
  const std::wstring wide = ToWide(ansi);
  return SysAllocStringLen(wide.data(), static_cast<UINT>(wide.size()));
}

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

HRESULT ToNative(const Variant& value, VARIANT& out);
HRESULT FromNative(const VARIANT& value, Variant& out);

// A model object's dispatch interface as the system's IDispatch. Texts cross as
// BSTR on the system side and ANSI text (the system code page) in the model.
class TDispatchBridge final : public ::IDispatch {
 public:
  explicit TDispatchBridge(TComPtr<TModelDispatch> model) : model_(std::move(model)) { ++gServerObjects; }
  ~TDispatchBridge() { --gServerObjects; }
  TDispatchBridge(const TDispatchBridge&) = delete;
  TDispatchBridge& operator=(const TDispatchBridge&) = delete;

  const TComPtr<TModelDispatch>& Model() const { return model_; }

  STDMETHODIMP QueryInterface(REFIID riid, void** object) override {
    if (object == nullptr) return E_POINTER;
    *object = nullptr;
    const TGUID iid = ToModel(riid);
    if (iid == TModelUnknown::kIID || iid == TModelDispatch::kIID || iid == kIID_Bridge) {
      *object = static_cast<::IDispatch*>(this);
      AddRef();
      return S_OK;
    }
    // The model's own answer: an interface laid out as the system's passes as it is
    // (the query falls through to a wrapped component this way); the model's
    // dispatch interface under its own identifier is this bridge.
    TComPtr<TModelUnknown> found;
    if (Failed(model_->QueryInterface(iid, found.PutVoid()))) return E_NOINTERFACE;
    if (IsNative(iid)) {
      *object = found.Detach();
      return S_OK;
    }
    if (found.Get() == static_cast<TModelUnknown*>(model_.Get())) {
      *object = static_cast<::IDispatch*>(this);
      AddRef();
      return S_OK;
    }
    return E_NOINTERFACE;
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
    std::vector<std::string> ansiNames;
    for (UINT i = 0; i < count; ++i) ansiNames.push_back(FromWide(names[i], std::wcslen(names[i])));
    std::vector<DispId> modelIds(count, kDispIdUnknown);
    const HResult result =
        model_->GetIDsOfNames(TGUID{}, ansiNames.data(), count, locale, modelIds.data());
    std::copy(modelIds.begin(), modelIds.end(), ids);
    return result;
  }

  STDMETHODIMP Invoke(DISPID id, REFIID, LCID locale, WORD flags, DISPPARAMS* params,
                      VARIANT* result, EXCEPINFO* excepInfo, UINT* argErr) override {
    if (params == nullptr) return E_POINTER;
    const UINT count = params->cArgs;
    // A by-reference variant (a script's variable) becomes a model reference to a copy
    // that is written back when the method changed it.
    std::vector<Variant> args(count);
    std::vector<Variant> referenced(count);
    std::vector<Variant> before(count);
    for (UINT i = 0; i < count; ++i) {
      const VARIANT& arg = params->rgvarg[i];
      const bool byRefVariant = V_VT(&arg) == (VT_BYREF | VT_VARIANT);
      const HRESULT converted =
          byRefVariant ? FromNative(*V_VARIANTREF(&arg), referenced[i]) : FromNative(arg, args[i]);
      if (FAILED(converted)) {
        if (argErr != nullptr) *argErr = i;
        return converted;
      }
      if (byRefVariant) {
        before[i] = referenced[i];
        args[i] = Variant::ByRef(referenced[i]);
      }
    }
    std::vector<DispId> named(params->rgdispidNamedArgs,
                              params->rgdispidNamedArgs + params->cNamedArgs);
    TDispParams modelParams{args.data(), named.data(), count, params->cNamedArgs};

    Variant value;
    TExcepInfo modelExcepInfo;
    std::uint32_t modelArgErr = 0;
    HResult outcome = kS_OK;
    try {
      outcome = model_->Invoke(id, TGUID{}, locale, flags, modelParams, result ? &value : nullptr,
                               &modelExcepInfo, &modelArgErr);
    } catch (...) {
      outcome = ReportException(std::current_exception(), {}, &modelExcepInfo);
    }

    for (UINT i = 0; i < count; ++i) {
      VARIANT& arg = params->rgvarg[i];
      if (V_VT(&arg) != (VT_BYREF | VT_VARIANT) || referenced[i] == before[i]) continue;
      VARIANT written;
      VariantInit(&written);
      if (SUCCEEDED(ToNative(referenced[i], written))) {
        VariantClear(V_VARIANTREF(&arg));
        *V_VARIANTREF(&arg) = written;
      }
    }

    if (outcome == kDISP_E_EXCEPTION && excepInfo != nullptr) {
      std::memset(excepInfo, 0, sizeof *excepInfo);
      excepInfo->wCode = modelExcepInfo.Code;
      excepInfo->scode = modelExcepInfo.Code != 0 ? 0 : modelExcepInfo.SCode;
      excepInfo->bstrSource = ToBstr(modelExcepInfo.Source);
      excepInfo->bstrDescription = ToBstr(modelExcepInfo.Description);
      if (!modelExcepInfo.HelpFile.empty()) excepInfo->bstrHelpFile = ToBstr(modelExcepInfo.HelpFile);
      excepInfo->dwHelpContext = modelExcepInfo.HelpContext;
    }
    if (argErr != nullptr &&
        (outcome == kDISP_E_TYPEMISMATCH || outcome == kDISP_E_PARAMNOTFOUND ||
         outcome == kDISP_E_PARAMNOTOPTIONAL || outcome == kDISP_E_OVERFLOW))
      *argErr = modelArgErr;
    if (Succeeded(outcome) && result != nullptr) {
      VariantInit(result);
      const HRESULT converted = ToNative(value, *result);
      if (FAILED(converted)) return converted;
    }
    return outcome;
  }

 private:
  std::atomic<ULONG> refCount_{1};
  TComPtr<TModelDispatch> model_;
};

HRESULT ToNative(const Variant& value, VARIANT& out) {
  const Variant& v = value.Deref();
  const std::uint16_t type = v.VarType();
  if ((type & kVarArray) != 0) {
    const std::vector<Variant>& items = v.ArrayItems();
    SAFEARRAYBOUND bound{static_cast<ULONG>(items.size()), v.ArrayLowBound()};
    SAFEARRAY* array = SafeArrayCreate(VT_VARIANT, 1, &bound);
    if (array == nullptr) return E_OUTOFMEMORY;
    for (LONG i = 0; i < static_cast<LONG>(items.size()); ++i) {
      VARIANT item;
      VariantInit(&item);
      LONG index = v.ArrayLowBound() + i;
      HRESULT converted = ToNative(items[static_cast<std::size_t>(i)], item);
      if (SUCCEEDED(converted)) converted = SafeArrayPutElement(array, &index, &item);
      VariantClear(&item);
      if (FAILED(converted)) {
        SafeArrayDestroy(array);
        return converted;
      }
    }
    V_VT(&out) = VT_ARRAY | VT_VARIANT;
    V_ARRAY(&out) = array;
    return S_OK;
  }
  switch (type) {
    case kVarEmpty: V_VT(&out) = VT_EMPTY; return S_OK;
    case kVarNull: V_VT(&out) = VT_NULL; return S_OK;
    case kVarBoolean: V_VT(&out) = VT_BOOL; V_BOOL(&out) = v.AsBoolean() ? VARIANT_TRUE : VARIANT_FALSE; return S_OK;
    case kVarShortInt: V_VT(&out) = VT_I1; V_I1(&out) = static_cast<CHAR>(v.AsInt64()); return S_OK;
    case kVarByte: V_VT(&out) = VT_UI1; V_UI1(&out) = static_cast<BYTE>(v.AsInt64()); return S_OK;
    case kVarSmallInt: V_VT(&out) = VT_I2; V_I2(&out) = static_cast<SHORT>(v.AsInt64()); return S_OK;
    case kVarWord: V_VT(&out) = VT_UI2; V_UI2(&out) = static_cast<USHORT>(v.AsInt64()); return S_OK;
    case kVarInteger: V_VT(&out) = VT_I4; V_I4(&out) = static_cast<LONG>(v.AsInt64()); return S_OK;
    case kVarLongWord: V_VT(&out) = VT_UI4; V_UI4(&out) = static_cast<ULONG>(v.AsInt64()); return S_OK;
    case kVarInt64: V_VT(&out) = VT_I8; V_I8(&out) = v.AsInt64(); return S_OK;
    case kVarUInt64: V_VT(&out) = VT_UI8; V_UI8(&out) = v.AsUInt64(); return S_OK;
    case kVarSingle: V_VT(&out) = VT_R4; V_R4(&out) = static_cast<FLOAT>(v.AsDouble()); return S_OK;
    case kVarDouble: V_VT(&out) = VT_R8; V_R8(&out) = v.AsDouble(); return S_OK;
    case kVarDate: V_VT(&out) = VT_DATE; V_DATE(&out) = v.AsDateTime(); return S_OK;
    case kVarOleStr:
      V_VT(&out) = VT_BSTR;
      V_BSTR(&out) = ToBstr(v.AsString());
      return V_BSTR(&out) != nullptr ? S_OK : E_OUTOFMEMORY;
    case kVarError: V_VT(&out) = VT_ERROR; V_ERROR(&out) = v.ErrorCode(); return S_OK;
    case kVarUnknown:
    case kVarDispatch: {
      const TComPtr<IUnknown>& object = v.Interface();
      if (!object) return DISP_E_TYPEMISMATCH;
      if (TComPtr<INativeObject> native = object.As<INativeObject>()) {
        ::IDispatch* dispatch = nullptr;
        if (SUCCEEDED(native->Native()->QueryInterface(IID_IDispatch, reinterpret_cast<void**>(&dispatch)))) {
          V_VT(&out) = VT_DISPATCH;
          V_DISPATCH(&out) = dispatch;
        } else {
          V_VT(&out) = VT_UNKNOWN;
          V_UNKNOWN(&out) = native->Native();
          native->Native()->AddRef();
        }
        return S_OK;
      }
      TComPtr<IDispatch> dispatch = object.As<IDispatch>();
      if (!dispatch) return DISP_E_TYPEMISMATCH;
      V_VT(&out) = VT_DISPATCH;
      V_DISPATCH(&out) = new TDispatchBridge(std::move(dispatch));
      return S_OK;
    }
    default: return DISP_E_BADVARTYPE;
  }
}

HRESULT FromNative(const VARIANT& value, Variant& out) {
  const VARTYPE type = V_VT(&value);
  if ((type & VT_BYREF) != 0) {
    VARIANT copy;
    VariantInit(&copy);
    HRESULT result = VariantCopyInd(&copy, const_cast<VARIANT*>(&value));
    if (SUCCEEDED(result)) result = FromNative(copy, out);
    VariantClear(&copy);
    return result;
  }
  if (type == (VT_ARRAY | VT_VARIANT)) {
    SAFEARRAY* array = V_ARRAY(&value);
    if (array == nullptr || SafeArrayGetDim(array) != 1) return DISP_E_TYPEMISMATCH;
    LONG low = 0;
    LONG high = -1;
    SafeArrayGetLBound(array, 1, &low);
    SafeArrayGetUBound(array, 1, &high);
    std::vector<Variant> items;
    for (LONG index = low; index <= high; ++index) {
      VARIANT item;
      VariantInit(&item);
      HRESULT result = SafeArrayGetElement(array, &index, &item);
      items.emplace_back();
      if (SUCCEEDED(result)) result = FromNative(item, items.back());
      VariantClear(&item);
      if (FAILED(result)) return result;
    }
    out = Variant::Array(std::move(items), low);
    return S_OK;
  }
  switch (type) {
    case VT_EMPTY: out = Variant(); return S_OK;
    case VT_NULL: out = Variant::Null(); return S_OK;
    case VT_BOOL: out = V_BOOL(&value) != VARIANT_FALSE; return S_OK;
    case VT_I1: out = static_cast<std::int8_t>(V_I1(&value)); return S_OK;
    case VT_UI1: out = static_cast<std::uint8_t>(V_UI1(&value)); return S_OK;
    case VT_I2: out = static_cast<std::int16_t>(V_I2(&value)); return S_OK;
    case VT_UI2: out = static_cast<std::uint16_t>(V_UI2(&value)); return S_OK;
    case VT_I4: out = static_cast<std::int32_t>(V_I4(&value)); return S_OK;
    case VT_INT: out = static_cast<std::int32_t>(V_INT(&value)); return S_OK;
    case VT_UI4: out = static_cast<std::uint32_t>(V_UI4(&value)); return S_OK;
    case VT_UINT: out = static_cast<std::uint32_t>(V_UINT(&value)); return S_OK;
    case VT_I8: out = static_cast<std::int64_t>(V_I8(&value)); return S_OK;
    case VT_UI8: out = static_cast<std::uint64_t>(V_UI8(&value)); return S_OK;
    case VT_R4: out = static_cast<float>(V_R4(&value)); return S_OK;
    case VT_R8: out = static_cast<double>(V_R8(&value)); return S_OK;
    case VT_CY: out = static_cast<double>(V_CY(&value).int64) / 10000.0; return S_OK;
    case VT_DATE: out = Variant::FromDate(V_DATE(&value)); return S_OK;
    case VT_ERROR: out = Variant::Error(V_ERROR(&value)); return S_OK;
    case VT_BSTR: {
      const BSTR text = V_BSTR(&value);
      out = text != nullptr ? FromWide(text, SysStringLen(text)) : std::string();
      return S_OK;
    }
    case VT_DISPATCH:
    case VT_UNKNOWN: {
      ::IUnknown* native = V_UNKNOWN(&value);
      if (native == nullptr) {
        out = Variant::FromInterface(nullptr, type == VT_DISPATCH ? kVarDispatch : kVarUnknown);
        return S_OK;
      }
      // One of our own bridges gives back its model object.
      const GUID bridgeId = ToSystem(kIID_Bridge);
      ::IDispatch* ours = nullptr;
      if (SUCCEEDED(native->QueryInterface(bridgeId, reinterpret_cast<void**>(&ours)))) {
        const TDispatchBridge* bridge = static_cast<TDispatchBridge*>(ours);
        out = Variant::FromInterface(TComPtr<TModelUnknown>(bridge->Model().Get()), kVarDispatch);
        ours->Release();
        return S_OK;
      }
      TComPtr<TNativeObject> wrapped(new TNativeObject(native));
      out = Variant::FromInterface(TComPtr<IUnknown>(static_cast<TComObject*>(wrapped.Get())),
                                   type == VT_DISPATCH ? kVarDispatch : kVarUnknown);
      return S_OK;
    }
    default: return DISP_E_BADVARTYPE;
  }
}

// Puts the failure's text where a client reads it (a script's Err.Description).
void SetErrorDescription(const std::string& source, const std::string& description) {
  ICreateErrorInfo* create = nullptr;
  if (FAILED(CreateErrorInfo(&create))) return;
  std::wstring wideSource = ToWide(source);
  std::wstring wideDescription = ToWide(description);
  create->SetSource(wideSource.data());
  create->SetDescription(wideDescription.data());
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
  explicit TClassFactoryBridge(TComObjectFactory& factory) : factory_(factory) { ++gServerObjects; }
  ~TClassFactoryBridge() { --gServerObjects; }
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
    try {
      TComPtr<TModelDispatch> dispatch = factory_.CreateComObject().As<IDispatch>();
      if (!dispatch) return E_NOINTERFACE;
      TDispatchBridge* bridge = new TDispatchBridge(std::move(dispatch));
      const HRESULT result = bridge->QueryInterface(riid, object);
      bridge->Release();
      return result;
    } catch (...) {
      const TFailure failure = DescribeFailure(std::current_exception());
      SetErrorDescription(factory_.ProgID(), failure.message);
      return failure.code;
    }
  }
  STDMETHODIMP LockServer(BOOL lock) override {
    if (lock) ++gServerLocks;
    else --gServerLocks;
    return S_OK;
  }

 private:
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

void RegisterNativeInterface(const TGUID& iid) {
  if (IsNative(iid)) return;
  std::lock_guard lock(gNativeMutex);
  gNativeInterfaces.push_back(iid);
}

HResult ServerGetClassObject(const TGUID& classId, const TGUID& iid, void** object) {
  if (object == nullptr) return kE_POINTER;
  *object = nullptr;
  const TFactoryRef factory = ComClassManager().GetFactoryFromClassID(classId);
  if (factory == nullptr) return kCLASS_E_CLASSNOTAVAILABLE;
  TClassFactoryBridge* bridge = new TClassFactoryBridge(*factory);
  const HRESULT result = bridge->QueryInterface(ToSystem(iid), object);
  bridge->Release();
  return result;
}

HResult ServerCanUnloadNow() {
  return gServerObjects.load() == 0 && gServerLocks.load() == 0 ? kS_OK : kS_FALSE;
}

HResult ServerRegister() {
  const std::string serverFile = platform::ModuleFileNameOf(&gServerObjects);
  for (const TFactoryRef& factory : ComClassManager().Factories()) {
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
  return kS_OK;
}

HResult ServerUnregister() {
  HRESULT outcome = S_OK;
  for (const TFactoryRef& factory : ComClassManager().Factories()) {
    if (FAILED(DeleteKeyTree("CLSID\\" + factory->ClassID().ToString()))) outcome = SELFREG_E_CLASS;
    if (FAILED(DeleteKeyTree(factory->ProgID()))) outcome = SELFREG_E_CLASS;
  }
  return outcome;
}

}  // namespace qar::com
