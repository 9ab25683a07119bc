#pragma once

#include <asio/ip/tcp.hpp>
#include <cstdint>
#include <functional>
#include <string>
#include <system_error>

namespace hx::ftpd {

// How a data command gets its connected data socket: it connects to the client (active mode) or takes the
// client's connection to the session's passive listener. The transfers only see this.
class DataOpener {
 public:
  virtual ~DataOpener() = default;
  // Starts opening `socket`. False, with `error`, when the system refused at once; otherwise `done` gets
  // the outcome later on the socket's executor (operation_aborted after Cancel or a close of the socket).
  virtual bool Start(asio::ip::tcp::socket& socket, std::error_code& error,
                     std::function<void(std::error_code)> done) = 0;
  // Gives up a pending open (the transfer ended before its connection came).
  virtual void Cancel() {}
};

// An active-mode data connection from the server's data port to the client.

// Opens `socket` as a stream socket of `protocol` with SO_REUSEADDR, bound to `localPort` (0: any free port)
// on all local addresses. A port that the program may not bind (one below 1024 without root or
// CAP_NET_BIND_SERVICE) gives way to any free port, and `portRefused` is set: active mode then works for a
// program run by a user. Returns the empty text on success, else the 451 reply that names the failed step.
std::string OpenDataSocket(asio::ip::tcp::socket& socket, std::uint16_t localPort,
                           const asio::ip::tcp& protocol, bool& portRefused);

enum class ConnectStart { Connected, InProgress, Failed };

// Starts a non-blocking connect, so that a refusal the system knows at once is told apart from one that
// comes later; `error` holds the refusal for Failed.
ConnectStart StartConnect(asio::ip::tcp::socket& socket, const asio::ip::tcp::endpoint& peer,
                          std::error_code& error);

// Calls `done` with the outcome of a connect that StartConnect left in progress (on the socket's executor).
// Cancelling or closing the socket ends the wait with operation_aborted.
void AwaitConnect(asio::ip::tcp::socket& socket, std::function<void(std::error_code)> done);

// Connects the socket, opened by OpenDataSocket, to `target`.
class ActiveOpener : public DataOpener {
 public:
  explicit ActiveOpener(const asio::ip::tcp::endpoint& target) : m_target(target) {}
  bool Start(asio::ip::tcp::socket& socket, std::error_code& error,
             std::function<void(std::error_code)> done) override;

 private:
  asio::ip::tcp::endpoint m_target;
};

// Whether a connect outcome says that the connection was made and then reset by the client before the
// server saw it complete: a transfer that was cut off, not a connection that could not be made.
bool ConnectedThenReset(const std::error_code& error);

}  // namespace hx::ftpd
