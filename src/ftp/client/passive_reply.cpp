#include "ftp/client/passive_reply.h"

namespace hx::ftpc {
namespace {

bool IsDigit(char c) {
  return c >= '0' && c <= '9';
}

// Reads a decimal number of at most `maxDigits` digits at `pos` and moves past it; nullopt without a digit.
std::optional<unsigned> ReadNumber(std::string_view text, size_t& pos, size_t maxDigits) {
  size_t start = pos;
  unsigned value = 0;
  while (pos < text.size() && IsDigit(text[pos]) && pos - start < maxDigits)
    value = value * 10 + (text[pos++] - '0');
  // A longer number than allowed is not taken as its first digits.
  if (pos == start || (pos < text.size() && IsDigit(text[pos]))) return std::nullopt;
  return value;
}

}  // namespace

std::optional<std::uint16_t> ParseEpsvReply(std::string_view line) {
  size_t open = line.find('(');
  if (open == std::string_view::npos || line.size() - open < 6) return std::nullopt;
  size_t pos = open + 1;
  const char delimiter = line[pos];
  if (delimiter < 33 || delimiter > 126 || IsDigit(delimiter)) return std::nullopt;
  if (line[pos + 1] != delimiter || line[pos + 2] != delimiter) return std::nullopt;
  pos += 3;
  auto port = ReadNumber(line, pos, 5);
  if (!port || *port < 1 || *port > 65535) return std::nullopt;
  if (pos + 1 >= line.size() || line[pos] != delimiter || line[pos + 1] != ')') return std::nullopt;
  return static_cast<std::uint16_t>(*port);
}

std::optional<PasvAddress> ParsePasvReply(std::string_view line) {
  // The numbers follow the code's text: the first digit after the code starts them.
  for (size_t start = line.find_first_of("0123456789", 3); start != std::string_view::npos;
       start = line.find_first_of("0123456789", start + 1)) {
    if (start > 0 && IsDigit(line[start - 1])) continue;  // inside a number that did not fit
    size_t pos = start;
    unsigned numbers[6];
    bool fits = true;
    for (int i = 0; i < 6 && fits; ++i) {
      if (i > 0) {
        if (pos >= line.size() || line[pos] != ',') {
          fits = false;
          break;
        }
        ++pos;
      }
      auto number = ReadNumber(line, pos, 3);
      fits = number && *number <= 255;
      if (fits) numbers[i] = *number;
    }
    if (!fits) continue;
    PasvAddress address{};
    for (int i = 0; i < 4; ++i) address.host[i] = static_cast<std::uint8_t>(numbers[i]);
    address.port = static_cast<std::uint16_t>(numbers[4] << 8 | numbers[5]);
    if (address.port == 0) return std::nullopt;
    return address;
  }
  return std::nullopt;
}

}  // namespace hx::ftpc
