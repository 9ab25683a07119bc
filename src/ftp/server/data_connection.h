#pragma once

#include <asio/ip/tcp.hpp>
#include <cstdint>
#include <functional>
#include <string>
#include <system_error>

namespace hx::ftpd {

// An active-mode data connection from the server's data port to the client.

// Opens `socket` as an IPv4 stream socket with SO_REUSEADDR, bound to `localPort` (0: any free port) on all
// local addresses. Returns the empty text on success, else the 451 reply that names the failed step.
std::string OpenDataSocket(asio::ip::tcp::socket& socket, std::uint16_t localPort);

enum class ConnectStart { Connected, InProgress, Failed };

// Starts a non-blocking connect, so that a refusal the system knows at once is told apart from one that
// comes later; `error` holds the refusal for Failed.
ConnectStart StartConnect(asio::ip::tcp::socket& socket, const asio::ip::tcp::endpoint& peer,
                          std::error_code& error);

// Calls `done` with the outcome of a connect that StartConnect left in progress (on the socket's executor).
// Cancelling or closing the socket ends the wait with operation_aborted.
void AwaitConnect(asio::ip::tcp::socket& socket, std::function<void(std::error_code)> done);

// Whether a connect outcome says that the connection was made and then reset by the client before the
// server saw it complete: a transfer that was cut off, not a connection that could not be made.
bool ConnectedThenReset(const std::error_code& error);

}  // namespace hx::ftpd
