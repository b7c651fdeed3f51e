// Where one HTTP/1.1 request ends in the bytes a connection has delivered, within the transport's limits.
#pragma once

#include <cstddef>
#include <string_view>

namespace qar::tools {

struct THeadLimits {
  std::size_t maxLineBytes = 8 * 1024;   // the request line or one header line, its CR LF included
  std::size_t maxHeadBytes = 64 * 1024;  // the request line and every header line
  std::size_t maxBodyBytes = 16 * 1024;  // Content-Length
};

// What the bytes read so far make of a request.
enum class THeadVerdict {
  kIncomplete,      // more bytes are needed
  kComplete,        // RequestSize() bytes hold the head and the body
  kUriTooLong,      // 414: the request line is longer than a line may be
  kHeadersTooLarge, // 431: a header line, or the head, is larger than allowed
  kBodyTooLarge,    // 413
  kLengthRequired,  // 411: a body sent without Content-Length (Transfer-Encoding)
  kBadRequest,      // 400: a Content-Length that is not one number
};

// The HTTP status that answers a refusing verdict (0 for kIncomplete and kComplete).
int StatusOf(THeadVerdict verdict);

// Frames one request at a time. Lines end at LF; the head ends at the first line that
// is CR LF alone after the request line, as the request parser reads it. Scanning
// resumes where the last call stopped, so a head delivered a byte at a time costs no
// more than one delivered at once; no verdict needs more than maxHeadBytes +
// maxBodyBytes bytes to be held.
//
//   TRequestFramer framer(limits);
//   buffer += bytesRead;
//   if (framer.Scan(buffer) == THeadVerdict::kComplete) Handle(buffer.substr(0, framer.RequestSize()));
class TRequestFramer {
 public:
  explicit TRequestFramer(THeadLimits limits) : limits_(limits) {}

  // `buffered`: every byte of this request received so far, from its first byte;
  // each call passes the bytes of the previous one again, and perhaps more.
  THeadVerdict Scan(std::string_view buffered);
  // The request's bytes, head and body, once Scan gave kComplete.
  std::size_t RequestSize() const { return headEnd_ + contentLength_; }
  // Starts over for the connection's next request.
  void Reset() { *this = TRequestFramer(limits_); }

 private:
  THeadVerdict HeaderLine(std::string_view line);

  THeadLimits limits_;
  std::size_t scanned_ = 0;    // bytes looked at
  std::size_t lineStart_ = 0;  // where the line being read begins
  std::size_t headEnd_ = 0;    // 0 until the head's last line was read
  std::size_t contentLength_ = 0;
  bool lengthSeen_ = false;
};

}  // namespace qar::tools
