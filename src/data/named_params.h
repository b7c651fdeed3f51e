// Named parameter markers (":NAME") in statement texts, rewritten to the positional "?" form.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace qar {

struct TNamedParamText {
  std::string text;                // the statement with every marker replaced by "?"
  std::vector<std::string> names;  // the marker names in order of appearance
};

// A colon starts a marker unless it stands inside a quoted literal (', " or `) or is
// doubled: "::" is one literal colon. The name runs to the first space, comma,
// semicolon, closing parenthesis, CR or LF outside a literal; a name written between
// double quotes is taken without them. This is the rewriting the execution monitor
// repeats to recognise a query's statement, so the two must agree.
TNamedParamText ParseNamedParams(std::string_view text);

}  // namespace qar
