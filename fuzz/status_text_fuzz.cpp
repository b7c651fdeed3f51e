// What the status page makes of outside text: log files split into entries, any text
// escaped as HTML, a Cookie header read. The input is a log file's bytes. Entries
// hold only lines of the file; escaped text holds no character that could open
// markup or leave an attribute; a cookie's value is a part of the header without ';'.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "fuzz_check.h"
#include "tools/status_data.h"
#include "tools/status_pages.h"
#include "tools/status_site.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  for (const qar::tools::TLogEntry& entry : qar::tools::SplitLogEntries("x_Error.log", text)) {
    QAR_FUZZ_CHECK(text.find(entry.time) != std::string::npos);
    std::string_view rest(entry.text);
    while (!rest.empty()) {
      const std::string_view line = rest.substr(0, rest.find('\n'));
      QAR_FUZZ_CHECK(text.find(line) != std::string::npos);
      rest.remove_prefix(std::min(rest.size(), line.size() + 1));
    }
  }
  const std::string html = qar::tools::EscapeHtml(text);
  QAR_FUZZ_CHECK(html.find_first_of("<>\"'") == std::string::npos);
  for (std::size_t amp = html.find('&'); amp != std::string::npos; amp = html.find('&', amp + 1)) {
    const std::string_view at = std::string_view(html).substr(amp);
    QAR_FUZZ_CHECK(at.starts_with("&amp;") || at.starts_with("&lt;") || at.starts_with("&gt;") ||
                   at.starts_with("&quot;") || at.starts_with("&#39;"));
  }
  const std::string cookie = qar::tools::CookieValue(text, "qar_session");
  QAR_FUZZ_CHECK(cookie.find(';') == std::string::npos && text.find(cookie) != std::string::npos);
  return 0;
}
