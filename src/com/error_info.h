// The description that goes with a failure result: what a method that returns only
// a result code leaves for its caller, one per thread, as the system keeps it.
#pragma once

#include <exception>
#include <optional>
#include <string>
#include <string_view>

#include "com/result.h"

namespace qar::com {

struct TErrorInfo {
  std::string Source;
  std::string Description;
};

// Replaces this thread's error information (nothing: clears it).
void SetErrorInfo(std::optional<TErrorInfo> info);
// Takes this thread's error information, leaving none.
std::optional<TErrorInfo> GetErrorInfo();

// The boundary of a method that returns a result code instead of throwing: the
// thrown value's code (DescribeFailure), its message left as this thread's error
// information, named after `source`.
//
//   HResult TdmVendas::AS_GetParams(...) {
//     try { ...; return kS_OK; } catch (...) { return HandleSafeCallException(std::current_exception(), "TdmVendas"); }
//   }
HResult HandleSafeCallException(std::exception_ptr error, std::string_view source);

// The other side: throws EOleException with the thread's error information (or the
// code's own text) when `code` is a failure, so a caller can go on with exceptions.
void SafeCallCheck(HResult code);

}  // namespace qar::com
