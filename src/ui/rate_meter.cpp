#include "ui/rate_meter.h"

#include <charconv>
#include <cstdio>

namespace hx {

double RateMeter::Sample(int id, std::uint64_t bytes, Clock::time_point now) {
  std::deque<Point>& samples = m_sessions[id];
  // A count that went down belongs to a new transfer of the same session (FTP): its rate starts afresh.
  if (!samples.empty() && bytes < samples.back().bytes) samples.clear();
  samples.push_back({now, bytes});
  while (samples.size() > 2 && now - samples[1].at >= kWindow) samples.pop_front();
  const Point& first = samples.front();
  double seconds = std::chrono::duration<double>(now - first.at).count();
  return seconds > 0 ? static_cast<double>(bytes - first.bytes) / seconds : 0.0;
}

std::string FormatRate(double bytesPerSecond) {
  static const char* const kUnits[] = {"KB/s", "MB/s", "GB/s"};
  char text[32];
  if (bytesPerSecond < 1000) {
    std::snprintf(text, sizeof text, "%.0f B/s", bytesPerSecond);
    return text;
  }
  double value = bytesPerSecond / 1000;
  size_t unit = 0;
  while (value >= 999.95 && unit + 1 < std::size(kUnits)) {
    value /= 1000;
    ++unit;
  }
  std::snprintf(text, sizeof text, "%.1f %s", value, kUnits[unit]);
  return text;
}

std::string FormatProgress(std::optional<int> percent, double bytesPerSecond) {
  std::string rate = FormatRate(bytesPerSecond);
  if (!percent) return rate;
  return std::to_string(*percent) + " % \u00b7 " + rate;
}

std::string GroupThousands(std::string_view digits) {
  if (digits.empty() || digits.find_first_not_of("0123456789") != std::string_view::npos)
    return std::string(digits);
  std::string grouped;
  grouped.reserve(digits.size() + digits.size() / 3);
  for (size_t i = 0; i < digits.size(); ++i) {
    if (i > 0 && (digits.size() - i) % 3 == 0) grouped += ',';
    grouped += digits[i];
  }
  return grouped;
}

std::optional<std::uint64_t> ParseCount(std::string_view text) {
  std::uint64_t value = 0;
  auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (text.empty() || error != std::errc() || end != text.data() + text.size()) return std::nullopt;
  return value;
}

}  // namespace hx
