// The Prometheus text exposition format (version 0.0.4), written: families, samples, escaping.
#pragma once

#include <initializer_list>
#include <string>
#include <string_view>
#include <utility>

namespace qar::tools {

// What a scraper is told it gets.
inline constexpr const char* kMetricsContentType = "text/plain; version=0.0.4; charset=utf-8";

// A label of a sample: its name and its value (UTF-8).
using TMetricLabel = std::pair<std::string_view, std::string_view>;

// Writes one exposition: every family's HELP and TYPE lines, then its samples.
//   TMetricsText text;
//   text.Family("qarsnc_agents", "gauge", "The installation's agents by state.");
//   text.Sample("qarsnc_agents", {{"state", "running"}}, 1);
//   std::string body = std::move(text).Take();
// Names are the caller's constants; label values may be anything: a value that is not
// UTF-8 has its stray bytes replaced (U+FFFD), so no store's text can spoil a scrape.
class TMetricsText {
 public:
  // `type`: "counter", "gauge", "histogram", "untyped".
  void Family(std::string_view name, std::string_view type, std::string_view help);
  // `name` is the family's, or for a histogram its _bucket, _sum or _count.
  void Sample(std::string_view name, std::initializer_list<TMetricLabel> labels, double value);
  void Sample(std::string_view name, double value) { Sample(name, {}, value); }

  std::string Take() && { return std::move(text_); }

 private:
  std::string text_;
};

// A label value in the format: backslash, double quote and line feed escaped, bytes
// that are not UTF-8 replaced.
std::string EscapeLabelValue(std::string_view value);
// A sample value: whole numbers without a fraction, others in the shortest form that
// reads back the same, "+Inf", "-Inf", "NaN".
std::string FormatSampleValue(double value);

}  // namespace qar::tools
