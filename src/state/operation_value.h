// Takes a value out of a request's operation text by plain text positions.
#pragma once

#include <string>

namespace qar::state {

// Finds the first occurrence of `name` (case-sensitive) in `text`, skips the name
// and the three characters after it (the ":" separator, whatever they are), and
// sets `value` to what comes before the next double quote (empty without one).
// Leaves `value` unchanged when the name does not occur.
void ExtractOperationValue(std::string text, std::string name, std::string& value);

}  // namespace qar::state
