#pragma once

#include <string>
#include <string_view>

namespace hx {

struct HostPortText {
  std::string host;
  std::string port;  // as typed, for the form's own check of it
};

// The HOST[:PORT] of a client command: "host", "host:port", "[address]" or "[address]:port" (the brackets
// let an IPv6 address be followed by a port, as in URLs), and an IPv6 address without brackets, which takes
// no port. `defaultPort` when none is given.
HostPortText SplitHostPort(std::string_view text, std::string_view defaultPort);

// The host of a client form's host field: an address in brackets stands for the address.
std::string FormHost(std::string_view text);

}  // namespace hx
