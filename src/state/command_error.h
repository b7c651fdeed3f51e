// The two kinds of failure of the administrator's commands, which give different exit codes.
#pragma once

#include <stdexcept>

namespace qar::state {

// The command line itself is wrong: unknown command or setting, a missing or extra
// argument, a value of the wrong form. Exit code 2; retrying cannot help.
class EUsageError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// The command was well formed but could not be carried out (database, registry,
// cipher, a missing row). Exit code 1.
class ECommandError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

}  // namespace qar::state
