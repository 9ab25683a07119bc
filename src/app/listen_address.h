#pragma once

#include <asio/error.hpp>
#include <asio/ip/address.hpp>
#include <asio/ip/v6_only.hpp>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <system_error>

namespace hx {

// Which step of taking a service's port failed: the services word the two differently.
struct ListenFailure {
  enum class Step { Open, Bind } step;
  std::error_code error;
};

// Whether an IPv6 socket failed only because this host has no IPv6 (no protocol, or no address for it).
bool IsNoIpv6(const std::error_code& error);

// Whether a bind failed for lack of permission (a port below 1024 without root or CAP_NET_BIND_SERVICE)
// rather than for the port or the address.
bool IsPermissionRefusal(const std::error_code& error);

// The operator's line for a service (`service` "TFTP" or "FTP") that could not take `port`: the step that
// failed and the socket error, or, for a port refused for lack of permission, what to do about it with the
// setting `portKey`.
std::string ListenFailureText(std::string_view service, const ListenFailure& failure, int port,
                              std::string_view portKey);

namespace detail {

template <typename Socket, typename Prepare>
std::optional<ListenFailure> BindFamily(Socket& socket, const asio::ip::address& any, std::uint16_t port,
                                        Prepare& prepare) {
  using Protocol = typename Socket::protocol_type;
  std::error_code error;
  socket.open(any.is_v6() ? Protocol::v6() : Protocol::v4(), error);
  // IPv4 peers come in on the same socket as mapped addresses, whatever the system's default.
  if (!error && any.is_v6()) socket.set_option(asio::ip::v6_only(false), error);
  if (error) {
    std::error_code ignored;
    socket.close(ignored);
    return ListenFailure{ListenFailure::Step::Open, error};
  }
  prepare(socket);
  socket.bind(typename Protocol::endpoint(any, port), error);
  if (error) {
    std::error_code ignored;
    socket.close(ignored);
    return ListenFailure{ListenFailure::Step::Bind, error};
  }
  return std::nullopt;
}

}  // namespace detail

// Opens `socket` and binds it to every local address on `port`: with `ipv6`, one socket for "::" that takes
// IPv4 peers as well; without it, or on a host without IPv6, 0.0.0.0. `prepare(socket)` sets the options
// that must precede the bind. On failure the socket is closed again.
template <typename Socket, typename Prepare>
std::optional<ListenFailure> BindEveryAddress(Socket& socket, std::uint16_t port, bool ipv6,
                                              Prepare prepare) {
  if (ipv6) {
    auto failure = detail::BindFamily(socket, asio::ip::address_v6::any(), port, prepare);
    if (!failure || !IsNoIpv6(failure->error)) return failure;
  }
  return detail::BindFamily(socket, asio::ip::address_v4::any(), port, prepare);
}

}  // namespace hx
