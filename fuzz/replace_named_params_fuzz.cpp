// Statement texts: the monitor's rewriting and the data layer's marker parsing agree on every text.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "data/ado_query.h"
#include "data/named_params.h"
#include "diagnostics/execute_event.h"
#include "diagnostics/replace_named_params.h"
#include "fuzz_check.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  // Read in place: a scan that runs past the end is a finding of the address sanitizer.
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  const std::string_view upToNul = text.substr(0, text.find('\0'));

  // What a query sends and reports (the data layer) is what the monitor rewrites its
  // SQL to when it looks for the query's parameters.
  const std::string rewritten = qar::diagnostics::ReplaceNamedParams(text);
  QAR_FUZZ_CHECK(rewritten == qar::ParseNamedParams(upToNul).text);
  QAR_FUZZ_CHECK(rewritten.size() <= upToNul.size());

  // In a double-byte code page the scan steps over whole characters, never past the end.
  qar::diagnostics::LeadByteTable leadBytes{};
  for (int b = 0x81; b <= 0x9F; ++b) leadBytes[b] = true;
  QAR_FUZZ_CHECK(qar::diagnostics::ReplaceNamedParams(text, leadBytes).size() <= upToNul.size());

  // End to end: the monitor finds a query by the statement the query reports.
  qar::TADOConnection connection;
  qar::TADOQuery query;
  query.SetConnection(&connection);
  query.SQL().SetText(upToNul);
  const std::string reported = qar::ParseNamedParams(query.SQL().Text()).text;
  QAR_FUZZ_CHECK(qar::diagnostics::TExecuteEvent::FindParametersForText(connection, reported) ==
                 &static_cast<qar::TCustomADODataSet&>(query).Parameters());
  return 0;
}
