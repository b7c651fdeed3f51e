#include "com/type_info.h"

#include <stdexcept>

#include "platform/text.h"

namespace qar::com {

TDispatchTypeInfo::TDispatchTypeInfo(std::string name, const TGUID& iid, TTypeKind kind)
    : name_(std::move(name)) {
  attr_.Guid = iid;
  attr_.TypeKind = kind;
}

void TDispatchTypeInfo::AddMember(TFuncDesc desc, TThunk thunk) {
  // A second binding would never be reached: its callers would get the first one.
  for (const TFuncDesc& bound : funcs_) {
    if (bound.MemberId == desc.MemberId || platform::SameTextAscii(bound.Name, desc.Name))
      throw std::logic_error(name_ + ": " + desc.Name + " (" + std::to_string(desc.MemberId) +
                             ") has the identifier or the name of " + bound.Name + " (" +
                             std::to_string(bound.MemberId) + ")");
  }
  funcs_.push_back(std::move(desc));
  thunks_.push_back(std::move(thunk));
  attr_.FuncCount = static_cast<std::uint16_t>(funcs_.size());
}

const TFuncDesc* TDispatchTypeInfo::Find(DispId id, std::size_t& index) const {
  for (index = 0; index < funcs_.size(); ++index)
    if (funcs_[index].MemberId == id) return &funcs_[index];
  return nullptr;
}

HResult TDispatchTypeInfo::GetTypeAttr(const TTypeAttr** attr) {
  if (attr == nullptr) return kE_POINTER;
  *attr = &attr_;
  return kS_OK;
}

HResult TDispatchTypeInfo::GetFuncDesc(std::uint32_t index, const TFuncDesc** desc) {
  if (desc == nullptr) return kE_POINTER;
  *desc = index < funcs_.size() ? &funcs_[index] : nullptr;
  return *desc != nullptr ? kS_OK : kTYPE_E_ELEMENTNOTFOUND;
}

HResult TDispatchTypeInfo::GetIDsOfNames(const std::string* names, std::uint32_t count, DispId* ids) {
  if ((names == nullptr || ids == nullptr) && count > 0) return kE_POINTER;
  for (std::uint32_t i = 0; i < count; ++i) ids[i] = kDispIdUnknown;
  if (count == 0) return kS_OK;
  for (const TFuncDesc& desc : funcs_) {
    if (platform::SameTextAscii(desc.Name, names[0])) {
      ids[0] = desc.MemberId;
      // Parameters have no names of their own.
      return count == 1 ? kS_OK : kDISP_E_UNKNOWNNAME;
    }
  }
  return kDISP_E_UNKNOWNNAME;
}

HResult TDispatchTypeInfo::GetDocumentation(DispId id, std::string* name, std::string* docString,
                                            std::uint32_t* helpContext, std::string* helpFile) {
  std::size_t index = 0;
  const TFuncDesc* desc = id == kMemberIdNil ? nullptr : Find(id, index);
  if (id != kMemberIdNil && desc == nullptr) return kTYPE_E_ELEMENTNOTFOUND;
  if (name != nullptr) *name = desc != nullptr ? desc->Name : name_;
  if (docString != nullptr) docString->clear();
  if (helpContext != nullptr) *helpContext = 0;
  if (helpFile != nullptr) helpFile->clear();
  return kS_OK;
}

HResult TDispatchTypeInfo::Invoke(void* instance, DispId id, std::uint16_t flags,
                                  TDispParams& params, Variant* result, TExcepInfo* excepInfo,
                                  std::uint32_t* argErr) {
  std::size_t index = 0;
  const TFuncDesc* desc = Find(id, index);
  if (desc == nullptr || (flags & (kDispatchMethod | kDispatchPropertyGet)) == 0)
    return kDISP_E_MEMBERNOTFOUND;
  if (params.NamedArgCount > 0) return kDISP_E_NONAMEDARGS;
  const std::uint32_t count = params.ArgCount;
  if (count != desc->ParamTypes.size()) return kDISP_E_BADPARAMCOUNT;
  if (count > 0 && params.Args == nullptr) return kE_POINTER;

  std::vector<Variant> args(count);
  for (std::uint32_t p = 0; p < count; ++p) {
    const std::uint32_t at = count - 1 - p;  // the caller keeps the last argument first
    const Variant& arg = params.Args[at];
    const std::uint16_t type = desc->ParamTypes[p];
    const bool inOut = type == (kVarByRef | kVarVariant);
    HResult converted = kDISP_E_TYPEMISMATCH;  // also for a reference that leads back to itself
    try {
      const bool omitted = type != kVarVariant && !inOut && arg.ErrorCode() == kDISP_E_PARAMNOTFOUND;
      converted = omitted ? kDISP_E_PARAMNOTOPTIONAL : ChangeType(arg, inOut ? kVarVariant : type, args[p]);
    } catch (const EVariantError&) {
    }
    if (Failed(converted)) {
      if (argErr != nullptr) *argErr = at;
      return converted;
    }
  }

  try {
    Variant value = thunks_[index](instance, args.data());
    for (std::uint32_t p = 0; p < count; ++p) {
      if (desc->ParamTypes[p] != (kVarByRef | kVarVariant)) continue;
      // Detached: a method must not hand the caller a reference into the server.
      if (Variant* target = params.Args[count - 1 - p].Target()) *target = args[p].Detached();
    }
    if (result != nullptr) *result = value.Detached();
    return kS_OK;
  } catch (...) {
    return ReportException(std::current_exception(), name_, excepInfo);
  }
}

}  // namespace qar::com
