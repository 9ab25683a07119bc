#include "ftp/server/arguments.h"

#include <limits>

namespace hx::ftpd {
namespace {

bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r'; }
bool IsDigit(char c) { return c >= '0' && c <= '9'; }

// Reads an unsigned decimal number at `pos` (after optional blanks) that is at most `max`.
std::optional<unsigned> ReadNumber(std::string_view text, size_t& pos, unsigned max) {
  while (pos < text.size() && IsBlank(text[pos])) ++pos;
  if (pos >= text.size() || !IsDigit(text[pos])) return std::nullopt;
  unsigned value = 0;
  while (pos < text.size() && IsDigit(text[pos])) {
    value = value * 10 + static_cast<unsigned>(text[pos++] - '0');
    if (value > max) return std::nullopt;
  }
  return value;
}

}  // namespace

std::string DataAddress::HostText() const {
  return std::to_string(host[0]) + "." + std::to_string(host[1]) + "." + std::to_string(host[2]) + "." +
         std::to_string(host[3]);
}

std::optional<DataAddress> ParsePortArgument(std::string_view text) {
  std::array<unsigned, 6> values{};
  size_t pos = 0;
  for (size_t i = 0; i < values.size(); ++i) {
    if (i > 0) {
      if (pos >= text.size() || text[pos] != ',') return std::nullopt;
      ++pos;
    }
    auto value = ReadNumber(text, pos, 255);
    if (!value) return std::nullopt;
    values[i] = *value;
  }
  while (pos < text.size() && IsBlank(text[pos])) ++pos;
  if (pos != text.size()) return std::nullopt;
  DataAddress address;
  for (size_t i = 0; i < 4; ++i) address.host[i] = static_cast<std::uint8_t>(values[i]);
  address.port = static_cast<std::uint16_t>(values[4] * 256 + values[5]);
  return address;
}

bool IsUsableDataAddress(const DataAddress& address, const std::array<std::uint8_t, 4>& controlPeer) {
  return address.host == controlPeer && address.port >= 1024;
}

std::optional<std::array<std::uint8_t, 4>> ParseIpv4(std::string_view text) {
  std::array<std::uint8_t, 4> host{};
  size_t pos = 0;
  for (size_t i = 0; i < host.size(); ++i) {
    if (i > 0) {
      if (pos >= text.size() || text[pos] != '.') return std::nullopt;
      ++pos;
    }
    if (pos >= text.size() || !IsDigit(text[pos])) return std::nullopt;
    auto value = ReadNumber(text, pos, 255);
    if (!value) return std::nullopt;
    host[i] = static_cast<std::uint8_t>(*value);
  }
  if (pos != text.size()) return std::nullopt;
  return host;
}

std::optional<std::int64_t> ParseRestArgument(std::string_view text) {
  size_t pos = 0;
  while (pos < text.size() && IsBlank(text[pos])) ++pos;
  bool negative = false;
  if (pos < text.size() && (text[pos] == '+' || text[pos] == '-')) negative = text[pos++] == '-';
  if (pos >= text.size() || !IsDigit(text[pos])) return std::nullopt;
  // Accumulate as a negative number so that the most negative value fits too.
  constexpr std::int64_t kMin = std::numeric_limits<std::int64_t>::min();
  std::int64_t value = 0;
  while (pos < text.size() && IsDigit(text[pos])) {
    int digit = text[pos++] - '0';
    if (value < (kMin + digit) / 10) return std::nullopt;
    value = value * 10 - digit;
  }
  if (!negative) {
    if (value == kMin) return std::nullopt;
    value = -value;
  }
  return value;
}

}  // namespace hx::ftpd
