#include "scratch_database.h"

namespace qar::testing {

std::string SqliteDriverPath(const std::string& file) { return file; }

}  // namespace qar::testing
