#include "tools/route_table.h"

#include <charconv>

namespace qar::tools {

namespace {

constexpr std::string_view kId = "{id}";

bool IdSegment(std::string_view text, std::int64_t& id) {
  std::int64_t value = 0;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (text.empty() || text.front() == '-' || error != std::errc() || end != text.data() + text.size() || value < 1 ||
      value > 2147483647)
    return false;
  id = value;
  return true;
}

}  // namespace

TRoutePattern::TRoutePattern(std::string_view pattern) {
  for (const std::string_view segment : Split(pattern)) segments_.emplace_back(segment);
}

std::vector<std::string_view> TRoutePattern::Split(std::string_view path) {
  std::vector<std::string_view> segments;
  std::size_t start = 0;
  for (;;) {
    const std::size_t slash = path.find('/', start);
    segments.push_back(path.substr(start, slash == std::string_view::npos ? std::string_view::npos : slash - start));
    if (slash == std::string_view::npos) return segments;
    start = slash + 1;
  }
}

bool TRoutePattern::Matches(const std::vector<std::string_view>& segments, std::int64_t& id) const {
  if (segments.size() != segments_.size()) return false;
  std::int64_t found = 0;
  for (std::size_t i = 0; i < segments.size(); ++i) {
    if (segments_[i] == kId ? !IdSegment(segments[i], found) : segments_[i] != segments[i]) return false;
  }
  id = found;
  return true;
}

}  // namespace qar::tools
