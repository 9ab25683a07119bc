#pragma once

#include <asio/ip/address.hpp>
#include <string>
#include <string_view>

namespace hx {

// A peer's address as a dual-stack socket reports it, with an IPv4 peer (::ffff:a.b.c.d) turned back into
// the IPv4 address it is.
asio::ip::address Unmapped(const asio::ip::address& address);

// How an address is shown and logged: IPv4 dotted ("192.0.2.7", also for a mapped one), IPv6 in its
// compressed form ("2001:db8::7").
std::string AddressText(const asio::ip::address& address);

// A host and its port as the session list shows a peer: "192.0.2.7:40000", "[2001:db8::7]:40000", and a
// host name as typed, "server:69". An IPv6 address goes in brackets so that the port stays apart.
std::string HostPortShown(std::string_view host, unsigned port);

}  // namespace hx
