#pragma once

#include <array>
#include <asio/ip/tcp.hpp>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace hx::ftpd {

// The client's data address from a PORT argument.
struct DataAddress {
  std::array<std::uint8_t, 4> host{};
  std::uint16_t port = 0;

  std::string HostText() const;  // dotted quad
};

// Six decimal numbers from 0 to 255 separated by commas ("h1,h2,h3,h4,p1,p2", blanks allowed before each
// number and at the end); the port is p1 * 256 + p2. nullopt for anything else.
std::optional<DataAddress> ParsePortArgument(std::string_view text);

// True when a PORT argument holds a decimal number above 255, which no byte of an address or port can be:
// such a PORT is refused at once as a syntax error. Other malformed arguments are taken and found unusable
// by the data command that uses them.
bool PortArgumentOutOfRange(std::string_view text);

// The endpoint a PORT argument names.
asio::ip::tcp::endpoint DataEndpoint(const DataAddress& address);

// Whether the server may connect to this endpoint: only the host of the control connection, and only to a
// port that is not privileged, so that a client can never use the server to reach a third party or a
// system service (the bounce attack). Addresses are compared as the peers they are (an IPv4 peer of a
// dual-stack socket is its IPv4 address).
bool IsUsableDataTarget(const asio::ip::tcp::endpoint& target, const asio::ip::address& controlPeer);

// An EPRT argument: "<d><family><d><address><d><port><d>" with any printable delimiter d, family 1 (IPv4
// dotted) or 2 (IPv6 text).
struct ExtendedAddress {
  enum class Kind { Ok, UnknownFamily, Malformed };
  Kind kind = Kind::Malformed;
  asio::ip::tcp::endpoint endpoint;
};
ExtendedAddress ParseEprtArgument(std::string_view text);

// The dotted quad of an IPv4 address text; nullopt when it is not one.
std::optional<std::array<std::uint8_t, 4>> ParseIpv4(std::string_view text);

// The offset of REST as the decimal reading of its argument takes it: leading blanks, an optional sign, at
// least one digit; what follows the digits is ignored. Negative values pass (the transfer then fails to
// position). nullopt when there is no number or it does not fit in 64 bits.
std::optional<std::int64_t> ParseRestArgument(std::string_view text);

}  // namespace hx::ftpd
