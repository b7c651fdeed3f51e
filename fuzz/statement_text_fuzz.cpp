// Statement texts: the named-parameter rewriting and the SQLite dialect change only what they must.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "data/named_params.h"
#include "data/sqlite_dialect.h"
#include "fuzz_check.h"
#include "platform/text.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);

  // Every marker becomes one "?", and nothing else is added: the text never grows.
  const qar::TNamedParamText parsed = qar::ParseNamedParams(text);
  std::size_t marksInNames = 0;
  for (const std::string& name : parsed.names) marksInNames += std::count(name.begin(), name.end(), '?');
  QAR_FUZZ_CHECK(std::count(parsed.text.begin(), parsed.text.end(), '?') + marksInNames ==
                 std::count(text.begin(), text.end(), '?') + parsed.names.size());
  QAR_FUZZ_CHECK(parsed.text.size() <= text.size());
  if (text.find(':') == std::string_view::npos) QAR_FUZZ_CHECK(parsed.text == text && parsed.names.empty());

  // A text holding none of the T-SQL the dialect knows reaches SQLite unchanged.
  const std::string upper = qar::platform::UpperCaseAscii(text);
  bool known = false;
  for (const char* word : {"GETDATE", "CONVERT", "INT", "VARCHAR", "VARBINARY", "@@SPID", "N'"})
    known = known || upper.find(word) != std::string::npos;
  if (!known) QAR_FUZZ_CHECK(qar::TranslateTSqlToSqlite(text, 57) == text);
  return 0;
}
