// EDataError: a failure of the database or of its driver, with the server's own text and codes.
#pragma once

#include <stdexcept>
#include <string>

namespace qar {

// what() is the server's (or driver's) message as it reported it, without the
// driver-manager prefixes; SqlState() is the five-character SQLSTATE ("HY000" when the
// driver has none) and NativeError() the server's own error number.
class EDataError : public std::runtime_error {
 public:
  explicit EDataError(const std::string& message, std::string sqlState = "HY000",
                      long nativeError = 0)
      : std::runtime_error(message), sqlState_(std::move(sqlState)), nativeError_(nativeError) {}

  const std::string& SqlState() const { return sqlState_; }
  long NativeError() const { return nativeError_; }

 private:
  std::string sqlState_;
  long nativeError_;
};

// The failure of a statement on a SQLite file that another program removed or replaced
// while the session held it: the session would work on a file nobody else sees.
inline EDataError DatabaseFileReplaced(const std::string& file) {
  return EDataError("The database file " + file + " was removed or replaced while it was open", "08S01");
}

}  // namespace qar
