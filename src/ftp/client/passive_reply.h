#pragma once

#include <cstdint>
#include <optional>
#include <string_view>

namespace hx::ftpc {

// The data port of a reply to EPSV: "229 Entering Extended Passive Mode (|||port|)". The delimiter may be any
// printable character other than a digit, the same four times; the port runs from 1 to 65535. nullopt when
// the line holds no such group.
std::optional<std::uint16_t> ParseEpsvReply(std::string_view line);

// The data address of a reply to PASV: six numbers of 0 to 255, "h1,h2,h3,h4,p1,p2", found after the reply
// code in or without parentheses ("227 Entering Passive Mode (127,0,0,1,18,52)."). nullopt when the line
// holds none, or when its port is 0.
struct PasvAddress {
  std::uint8_t host[4];
  std::uint16_t port;
};
std::optional<PasvAddress> ParsePasvReply(std::string_view line);

}  // namespace hx::ftpc
