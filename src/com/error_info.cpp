#include "com/error_info.h"

namespace qar::com {

namespace {
thread_local std::optional<TErrorInfo> tErrorInfo;
}

void SetErrorInfo(std::optional<TErrorInfo> info) { tErrorInfo = std::move(info); }

std::optional<TErrorInfo> GetErrorInfo() { return std::exchange(tErrorInfo, std::nullopt); }

HResult ResultOfFailure(std::exception_ptr error, std::string_view source) {
  TFailure failure = DescribeFailure(std::move(error));
  if (failure.described) SetErrorInfo(TErrorInfo{std::string(source), std::move(failure.message)});
  else SetErrorInfo(std::nullopt);  // without memory, the code alone
  return failure.code;
}

}  // namespace qar::com
