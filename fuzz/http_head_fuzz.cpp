// What the status page's transport makes of a client's bytes before any parser sees
// them, and what its access check makes of Host and Origin headers. The first byte
// picks where the input is split; the verdict on the bytes delivered in two pieces is
// the one on them delivered at once; a complete request ends its head with an empty
// line and needs no more than the limits; an origin taken is the page's, in one spelling.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "fuzz_check.h"
#include "platform/text.h"
#include "tools/http_access.h"
#include "tools/http_head.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return 0;
  const std::string_view bytes(reinterpret_cast<const char*>(data) + 1, size - 1);
  const qar::tools::THeadLimits limits{64, 512, 128};
  qar::tools::TRequestFramer whole(limits);
  qar::tools::TRequestFramer pieces(limits);
  const qar::tools::THeadVerdict verdict = whole.Scan(bytes);
  qar::tools::THeadVerdict stepped = pieces.Scan(bytes.substr(0, data[0] * bytes.size() / 255));
  if (stepped == qar::tools::THeadVerdict::kIncomplete) stepped = pieces.Scan(bytes);
  QAR_FUZZ_CHECK(stepped == verdict);
  if (verdict == qar::tools::THeadVerdict::kComplete) {
    QAR_FUZZ_CHECK(whole.RequestSize() == pieces.RequestSize() && whole.RequestSize() <= bytes.size());
    QAR_FUZZ_CHECK(whole.RequestSize() <= limits.maxHeadBytes + limits.maxBodyBytes);
    QAR_FUZZ_CHECK(bytes.substr(0, whole.RequestSize()).find("\n\r\n") != std::string_view::npos);
  }
  if (verdict == qar::tools::THeadVerdict::kIncomplete) QAR_FUZZ_CHECK(bytes.size() <= limits.maxHeadBytes + limits.maxBodyBytes);

  const qar::tools::TServedOrigin origin{{"127.0.0.1", "::1", "localhost"}, 8470};
  if (origin.IsOrigin(bytes)) {
    QAR_FUZZ_CHECK(bytes.starts_with("http://") && bytes.ends_with(":8470"));
    const std::string_view host = bytes.substr(7, bytes.size() - 12);
    QAR_FUZZ_CHECK(qar::platform::SameTextAscii(host, "127.0.0.1") || host == "[::1]" ||
                   qar::platform::SameTextAscii(host, "localhost"));
  }
  return 0;
}
