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

// The edge of an interface whose operations return only a result code (IAppServer,
// IObjectControl): the thrown value's code (a failure, DescribeFailure), its message
// left as this thread's error information, named after `source`. Code inside throws;
// this is where it becomes a result.
HResult ResultOfFailure(std::exception_ptr error, std::string_view source);

}  // namespace qar::com
