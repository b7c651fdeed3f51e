#include "tools/http_head.h"

#include <charconv>

#include "platform/text.h"

namespace qar::tools {

namespace {

bool NameIs(std::string_view line, std::string_view name) {
  return line.size() > name.size() && line[name.size()] == ':' && platform::SameTextAscii(line.substr(0, name.size()), name);
}

std::string_view Trimmed(std::string_view text) {
  while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) text.remove_prefix(1);
  while (!text.empty() && (text.back() == ' ' || text.back() == '\t' || text.back() == '\r' || text.back() == '\n'))
    text.remove_suffix(1);
  return text;
}

}  // namespace

int StatusOf(THeadVerdict verdict) {
  switch (verdict) {
    case THeadVerdict::kUriTooLong: return 414;
    case THeadVerdict::kHeadersTooLarge: return 431;
    case THeadVerdict::kBodyTooLarge: return 413;
    case THeadVerdict::kLengthRequired: return 411;
    case THeadVerdict::kBadRequest: return 400;
    default: return 0;
  }
}

THeadVerdict TRequestFramer::HeaderLine(std::string_view line) {
  if (NameIs(line, "transfer-encoding")) return THeadVerdict::kLengthRequired;
  if (!NameIs(line, "content-length")) return THeadVerdict::kIncomplete;
  const std::string_view value = Trimmed(line.substr(15));
  std::size_t length = 0;
  const auto [end, error] = std::from_chars(value.data(), value.data() + value.size(), length);
  if (error == std::errc::result_out_of_range) return THeadVerdict::kBodyTooLarge;
  if (value.empty() || error != std::errc() || end != value.data() + value.size()) return THeadVerdict::kBadRequest;
  if (lengthSeen_ && length != contentLength_) return THeadVerdict::kBadRequest;
  if (length > limits_.maxBodyBytes) return THeadVerdict::kBodyTooLarge;
  lengthSeen_ = true;
  contentLength_ = length;
  return THeadVerdict::kIncomplete;
}

THeadVerdict TRequestFramer::Scan(std::string_view buffered) {
  while (headEnd_ == 0 && scanned_ < buffered.size()) {
    const std::size_t newline = buffered.find('\n', scanned_);
    const std::size_t lineEnd = newline == std::string_view::npos ? buffered.size() : newline + 1;
    const bool requestLine = lineStart_ == 0;
    if (lineEnd - lineStart_ > limits_.maxLineBytes)
      return requestLine ? THeadVerdict::kUriTooLong : THeadVerdict::kHeadersTooLarge;
    if (lineEnd > limits_.maxHeadBytes) return THeadVerdict::kHeadersTooLarge;
    scanned_ = lineEnd;
    if (newline == std::string_view::npos) break;
    const std::string_view line = buffered.substr(lineStart_, lineEnd - lineStart_);
    lineStart_ = lineEnd;
    if (requestLine) continue;
    if (line == "\r\n") {
      headEnd_ = lineEnd;
      break;
    }
    if (const THeadVerdict verdict = HeaderLine(line); verdict != THeadVerdict::kIncomplete) return verdict;
  }
  if (headEnd_ == 0 || buffered.size() < headEnd_ + contentLength_) return THeadVerdict::kIncomplete;
  return THeadVerdict::kComplete;
}

}  // namespace qar::tools
