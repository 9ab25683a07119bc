#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace hx::ftpc {

// "PORT h1,h2,h3,h4,p1,p2\r\n": the dotted address with its dots turned into commas, then the port's high
// and low byte in decimal (port 4660 gives "18,52").
std::string PortCommand(std::string_view dottedAddress, std::uint16_t port);

// "EPRT |2|address|port|\r\n" for the active mode of an IPv6 control connection, which PORT cannot carry:
// the address in its textual form, the port in decimal.
std::string EprtCommand(std::string_view ipv6Address, std::uint16_t port);

// The Command column's text for a command line: the text up to its first CR or LF; for PASS, "PASS ****".
std::string CommandColumnText(std::string_view command);

}  // namespace hx::ftpc
