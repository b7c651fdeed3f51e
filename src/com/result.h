// Result codes with the system's own values, and the errors that carry them.
#pragma once

#include <cstdint>
#include <exception>
#include <optional>
#include <stdexcept>
#include <string>

#include "framework/interface.h"

namespace qar::com {

constexpr HResult MakeResult(std::uint32_t bits) { return static_cast<HResult>(bits); }

inline constexpr HResult kS_OK = 0;
inline constexpr HResult kS_FALSE = 1;
inline constexpr HResult kE_NOTIMPL = MakeResult(0x80004001);
inline constexpr HResult kE_NOINTERFACE = MakeResult(0x80004002);
inline constexpr HResult kE_POINTER = MakeResult(0x80004003);
inline constexpr HResult kE_FAIL = MakeResult(0x80004005);
inline constexpr HResult kE_UNEXPECTED = MakeResult(0x8000FFFF);
inline constexpr HResult kE_OUTOFMEMORY = MakeResult(0x8007000E);
inline constexpr HResult kE_INVALIDARG = MakeResult(0x80070057);
inline constexpr HResult kDISP_E_UNKNOWNINTERFACE = MakeResult(0x80020001);
inline constexpr HResult kDISP_E_MEMBERNOTFOUND = MakeResult(0x80020003);
inline constexpr HResult kDISP_E_PARAMNOTFOUND = MakeResult(0x80020004);
inline constexpr HResult kDISP_E_TYPEMISMATCH = MakeResult(0x80020005);
inline constexpr HResult kDISP_E_UNKNOWNNAME = MakeResult(0x80020006);
inline constexpr HResult kDISP_E_NONAMEDARGS = MakeResult(0x80020007);
inline constexpr HResult kDISP_E_BADVARTYPE = MakeResult(0x80020008);
inline constexpr HResult kDISP_E_EXCEPTION = MakeResult(0x80020009);
inline constexpr HResult kDISP_E_OVERFLOW = MakeResult(0x8002000A);
inline constexpr HResult kDISP_E_BADINDEX = MakeResult(0x8002000B);
inline constexpr HResult kDISP_E_BADPARAMCOUNT = MakeResult(0x8002000E);
inline constexpr HResult kDISP_E_PARAMNOTOPTIONAL = MakeResult(0x8002000F);
inline constexpr HResult kTYPE_E_ELEMENTNOTFOUND = MakeResult(0x8002802B);
inline constexpr HResult kCLASS_E_NOAGGREGATION = MakeResult(0x80040110);
inline constexpr HResult kCLASS_E_CLASSNOTAVAILABLE = MakeResult(0x80040111);
inline constexpr HResult kREGDB_E_CLASSNOTREG = MakeResult(0x80040154);
inline constexpr HResult kCONTEXT_E_NOCONTEXT = MakeResult(0x8004E004);

constexpr bool Succeeded(HResult result) { return result >= 0; }
constexpr bool Failed(HResult result) { return result < 0; }

// A failure with a result code: what a method throws to give its caller a code of
// its own, and what OleCheck throws for a failed call.
class EOleError : public std::runtime_error {
 public:
  EOleError(HResult code, const std::string& message) : std::runtime_error(message), code_(code) {}
  HResult Code() const { return code_; }

 private:
  HResult code_;
};

// A failure that a called object described (its exception information): the
// description is the message, `Source` names who raised it.
class EOleException : public EOleError {
 public:
  EOleException(HResult code, const std::string& description, std::string source)
      : EOleError(code, description), source_(std::move(source)) {}
  const std::string& Source() const { return source_; }

 private:
  std::string source_;
};

// An argument of a call that cannot be taken in or given back: the failure belongs to
// the argument at `Index` (as the caller keeps them, the last first), not to the method.
class EArgumentError : public EOleError {
 public:
  EArgumentError(HResult code, std::uint32_t index, const std::string& message)
      : EOleError(code, message), index_(index) {}
  std::uint32_t Index() const { return index_; }

 private:
  std::uint32_t index_;
};

// The system's wording of a result code ("Member not found", ...), or its hex form.
std::string ResultText(HResult code);

// Throws EOleError with ResultText when `code` is a failure.
void OleCheck(HResult code);

// A thrown value as its caller hears of it. The one classifier of failures: every
// boundary that turns an exception into a result (the model's and the Windows bridge's)
// asks it. An EOleError (or a failed cast, EIntfCastError) keeps its own code when that
// is a failure, anything else becomes kE_FAIL (kE_UNEXPECTED for what is not a
// std::exception); the code is always a failure. Without memory (std::bad_alloc) the
// code is kE_OUTOFMEMORY and nothing more is made: `described` is false, the texts empty.
struct TFailure {
  HResult code;
  std::string message;
  std::string className;  // the thrown type's name, without namespaces ("EOleError")
  std::optional<std::uint32_t> argument = std::nullopt;  // EArgumentError's index
  bool described = true;
};
TFailure DescribeFailure(std::exception_ptr error);

// The readable name of a thrown object's class.
std::string ExceptionClassName(const std::exception& error);

}  // namespace qar::com
