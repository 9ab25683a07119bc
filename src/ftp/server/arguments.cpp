#include "ftp/server/arguments.h"

#include <limits>

#include "app/address_text.h"

namespace hx::ftpd {
namespace {

bool IsBlank(char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}
bool IsDigit(char c) {
  return c >= '0' && c <= '9';
}

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

bool PortArgumentOutOfRange(std::string_view text) {
  size_t pos = 0;
  while (pos < text.size()) {
    if (!IsDigit(text[pos]))
      ++pos;
    else if (!ReadNumber(text, pos, 255))  // leaves `pos` after the number's digits
      return true;
  }
  return false;
}

asio::ip::tcp::endpoint DataEndpoint(const DataAddress& address) {
  return asio::ip::tcp::endpoint(asio::ip::address_v4(address.host), address.port);
}

bool IsUsableDataTarget(const asio::ip::tcp::endpoint& target, const asio::ip::address& controlPeer) {
  return Unmapped(target.address()) == Unmapped(controlPeer) && target.port() >= 1024;
}

ExtendedAddress ParseEprtArgument(std::string_view text) {
  ExtendedAddress result;
  if (text.size() < 2 || text[0] < 33 || text[0] > 126) return result;
  const char delimiter = text[0];
  // The four delimiters cut the text into family, address and port, with nothing after the last one.
  std::string_view fields[3];
  size_t pos = 1;
  for (std::string_view& field : fields) {
    size_t end = text.find(delimiter, pos);
    if (end == std::string_view::npos) return result;
    field = text.substr(pos, end - pos);
    pos = end + 1;
  }
  if (pos != text.size()) return result;
  if (fields[0] != "1" && fields[0] != "2") {
    result.kind = ExtendedAddress::Kind::UnknownFamily;
    return result;
  }
  size_t digit = 0;
  auto port = ReadNumber(fields[2], digit, 65535);
  if (!port || *port == 0 || digit != fields[2].size() || IsBlank(fields[2][0])) return result;
  asio::ip::address address;
  if (fields[0] == "1") {
    auto host = ParseIpv4(fields[1]);
    if (!host) return result;
    address = asio::ip::address_v4(*host);
  } else {
    std::error_code error;
    asio::ip::address_v6 v6 = asio::ip::make_address_v6(std::string(fields[1]), error);
    // A zone belongs to the client's side of a link-local address; it names nothing here.
    if (error || fields[1].find('%') != std::string_view::npos) return result;
    address = v6;
  }
  result.kind = ExtendedAddress::Kind::Ok;
  result.endpoint = asio::ip::tcp::endpoint(address, static_cast<std::uint16_t>(*port));
  return result;
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
