#pragma once

#include <asio/ip/address.hpp>
#include <string>

namespace hx {

// A peer's address as a dual-stack socket reports it, with an IPv4 peer (::ffff:a.b.c.d) turned back into
// the IPv4 address it is.
asio::ip::address Unmapped(const asio::ip::address& address);

// How an address is shown and logged: IPv4 dotted ("192.0.2.7", also for a mapped one), IPv6 in its
// compressed form ("2001:db8::7").
std::string AddressText(const asio::ip::address& address);

}  // namespace hx
