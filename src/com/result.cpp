#include "com/result.h"

#include <cstdio>
#include <cstdlib>
#include <memory>
#include <new>
#include <typeinfo>

#if defined(__GNUG__)
#include <cxxabi.h>
#endif

namespace qar::com {

namespace {

// The plain name of a type: demangled where the compiler mangles it, then without
// "class "/"struct " and without its namespaces.
std::string PlainTypeName(const std::type_info& type) {
  std::string name = type.name();
#if defined(__GNUG__)
  int status = 0;
  std::unique_ptr<char, void (*)(void*)> demangled(
      abi::__cxa_demangle(name.c_str(), nullptr, nullptr, &status), std::free);
  if (status == 0 && demangled) name = demangled.get();
#endif
  for (const char* prefix : {"class ", "struct "}) {
    if (name.rfind(prefix, 0) == 0) name.erase(0, std::char_traits<char>::length(prefix));
  }
  const std::size_t templateStart = name.find('<');
  const std::size_t lastScope = name.rfind("::", templateStart);
  if (lastScope != std::string::npos) name.erase(0, lastScope + 2);
  return name;
}

}  // namespace

std::string ResultText(HResult code) {
  switch (code) {
    case kS_OK: return "The operation completed successfully";
    case kE_NOTIMPL: return "Not implemented";
    case kE_NOINTERFACE: return "Interface not supported";
    case kE_POINTER: return "Invalid pointer";
    case kE_FAIL: return "Unspecified error";
    case kE_UNEXPECTED: return "Catastrophic failure";
    case kE_INVALIDARG: return "The parameter is incorrect";
    case kDISP_E_MEMBERNOTFOUND: return "Member not found";
    case kDISP_E_PARAMNOTFOUND: return "Parameter not found";
    case kDISP_E_TYPEMISMATCH: return "Type mismatch";
    case kDISP_E_UNKNOWNNAME: return "Unknown name";
    case kDISP_E_NONAMEDARGS: return "No named arguments";
    case kDISP_E_EXCEPTION: return "Exception occurred";
    case kDISP_E_OVERFLOW: return "Out of present range";
    case kDISP_E_BADINDEX: return "Invalid index";
    case kDISP_E_BADPARAMCOUNT: return "Invalid number of parameters";
    case kDISP_E_PARAMNOTOPTIONAL: return "Parameter not optional";
    case kCLASS_E_NOAGGREGATION: return "Class does not support aggregation";
    case kCLASS_E_CLASSNOTAVAILABLE: return "ClassFactory cannot supply requested class";
    case kREGDB_E_CLASSNOTREG: return "Class not registered";
    case kCONTEXT_E_NOCONTEXT: return "There is no object context";
    default: break;
  }
  char text[32];
  std::snprintf(text, sizeof text, "Error 0x%08X", static_cast<unsigned>(code));
  return text;
}

void OleCheck(HResult code) {
  if (Failed(code)) throw EOleError(code, ResultText(code));
}

TFailure DescribeFailure(std::exception_ptr error) {
  // An error is never reported as success, whatever code it was given.
  const auto failure = [](HResult code) { return Failed(code) ? code : kE_FAIL; };
  try {
    std::rethrow_exception(error);
  } catch (const std::bad_alloc&) {
    return {kE_OUTOFMEMORY, {}, {}, std::nullopt, false};
  } catch (const EArgumentError& e) {
    return {failure(e.Code()), e.what(), ExceptionClassName(e), e.Index()};
  } catch (const EOleError& e) {
    return {failure(e.Code()), e.what(), ExceptionClassName(e)};
  } catch (const EIntfCastError& e) {
    return {failure(e.Code()), e.what(), ExceptionClassName(e)};
  } catch (const std::exception& e) {
    return {kE_FAIL, e.what(), ExceptionClassName(e)};
  } catch (...) {
    return {kE_UNEXPECTED, "Unknown exception", "Exception"};
  }
}

std::string ExceptionClassName(const std::exception& error) { return PlainTypeName(typeid(error)); }

}  // namespace qar::com
