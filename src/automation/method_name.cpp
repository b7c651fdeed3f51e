#include "automation/method_name.h"

#include "com/result.h"

namespace qar::automation {

std::string GetMethodName(com::IDispatch& object, com::DispId id) {
  std::uint32_t count = 0;
  if (com::Failed(object.GetTypeInfoCount(&count)) || count == 0) return {};
  TComPtr<com::ITypeInfo> typeInfo;
  com::OleCheck(object.GetTypeInfo(0, 0, typeInfo.Put()));
  if (!typeInfo) com::OleCheck(com::kE_POINTER);
  const com::TTypeAttr* attr = nullptr;
  com::OleCheck(typeInfo->GetTypeAttr(&attr));
  if (attr == nullptr) com::OleCheck(com::kE_POINTER);
  struct TReleaseAttr {
    com::ITypeInfo& info;
    const com::TTypeAttr* attr;
    ~TReleaseAttr() { info.ReleaseTypeAttr(attr); }
  } release{*typeInfo, attr};
  if (attr->TypeKind != com::TTypeKind::Interface && attr->TypeKind != com::TTypeKind::Dispatch) return {};
  std::string name;
  std::string docString;
  std::uint32_t helpContext = 0;
  // The result is not looked at: an unknown member simply has no name.
  typeInfo->GetDocumentation(id, &name, &docString, &helpContext, nullptr);
  return name.substr(0, kMaxMethodName);
}

}  // namespace qar::automation
