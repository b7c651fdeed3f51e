#include "tools/metrics_text.h"

#include <charconv>
#include <cmath>
#include <cstdint>

namespace qar::tools {

namespace {

constexpr std::string_view kReplacement = "\xEF\xBF\xBD";  // U+FFFD

// Length of the well-formed UTF-8 sequence at `text[i]`; 0 when it is not one.
std::size_t Utf8SequenceLength(std::string_view text, std::size_t i) {
  const auto byte = [&](std::size_t k) { return static_cast<unsigned char>(text[k]); };
  const unsigned char lead = byte(i);
  if (lead < 0x80) return 1;
  std::size_t length = 0;
  unsigned char low = 0x80, high = 0xBF;  // the second byte's range (RFC 3629)
  if (lead >= 0xC2 && lead <= 0xDF) {
    length = 2;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    length = 3;
    if (lead == 0xE0) low = 0xA0;
    if (lead == 0xED) high = 0x9F;  // no surrogates
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    length = 4;
    if (lead == 0xF0) low = 0x90;
    if (lead == 0xF4) high = 0x8F;
  } else {
    return 0;
  }
  if (i + length > text.size() || byte(i + 1) < low || byte(i + 1) > high) return 0;
  for (std::size_t k = 2; k < length; ++k) {
    if (byte(i + k) < 0x80 || byte(i + k) > 0xBF) return 0;
  }
  return length;
}

// HELP text: backslash and line feed escaped.
std::string EscapeHelp(std::string_view help) {
  std::string out;
  for (const char c : help) {
    if (c == '\\') out += "\\\\";
    else if (c == '\n') out += "\\n";
    else out += c;
  }
  return out;
}

}  // namespace

std::string EscapeLabelValue(std::string_view value) {
  std::string out;
  out.reserve(value.size());
  for (std::size_t i = 0; i < value.size();) {
    const std::size_t length = Utf8SequenceLength(value, i);
    if (length == 0) {
      out += kReplacement;
      ++i;
      continue;
    }
    const char c = value[i];
    if (c == '\\') out += "\\\\";
    else if (c == '"') out += "\\\"";
    else if (c == '\n') out += "\\n";
    else out.append(value.substr(i, length));
    i += length;
  }
  return out;
}

std::string FormatSampleValue(double value) {
  if (std::isnan(value)) return "NaN";
  if (std::isinf(value)) return value > 0 ? "+Inf" : "-Inf";
  char buffer[32];
  // Whole numbers as integers up to 2^53, where a double still holds every one.
  if (value == std::floor(value) && std::fabs(value) <= 9007199254740992.0) {
    const auto [end, error] = std::to_chars(buffer, buffer + sizeof buffer, static_cast<std::int64_t>(value));
    return std::string(buffer, end);
  }
  const auto [end, error] = std::to_chars(buffer, buffer + sizeof buffer, value);
  return std::string(buffer, end);
}

void TMetricsText::Family(std::string_view name, std::string_view type, std::string_view help) {
  text_.append("# HELP ").append(name).append(" ").append(EscapeHelp(help)).append("\n");
  text_.append("# TYPE ").append(name).append(" ").append(type).append("\n");
}

void TMetricsText::Sample(std::string_view name, std::initializer_list<TMetricLabel> labels, double value) {
  text_.append(name);
  if (labels.size() > 0) {
    text_ += '{';
    bool first = true;
    for (const auto& [label, labelValue] : labels) {
      if (!first) text_ += ',';
      first = false;
      text_.append(label).append("=\"").append(EscapeLabelValue(labelValue)).append("\"");
    }
    text_ += '}';
  }
  text_.append(" ").append(FormatSampleValue(value)).append("\n");
}

}  // namespace qar::tools
