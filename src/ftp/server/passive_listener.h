#pragma once

#include <asio/any_io_executor.hpp>
#include <asio/ip/tcp.hpp>
#include <asio/steady_timer.hpp>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <system_error>

#include "app/address_counts.h"
#include "app/round_robin.h"
#include "ftp/server/data_connection.h"

namespace hx::ftpd {

// The ports a passive listener may take (FPassivePorts): "0" for any free port, or "first-last".
struct PortRange {
  std::uint16_t first = 0;
  std::uint16_t last = 0;
  bool Any() const { return first == 0; }
  unsigned Count() const { return Any() ? 1u : static_cast<unsigned>(last - first) + 1; }
};
// nullopt for anything but "0" or "first-last" with 1 <= first <= last <= 65535 (blanks around the
// numbers allowed).
std::optional<PortRange> ParsePortRange(std::string_view text);

// "227 Entering Passive Mode (h1,h2,h3,h4,p1,p2).\r\n" and "229 Entering Extended Passive Mode
// (|||port|).\r\n".
std::string PassiveReply(const asio::ip::address_v4& address, std::uint16_t port);
std::string ExtendedPassiveReply(std::uint16_t port);

// The listening socket of one PASV or EPSV: it takes one connection, only from the control connection's peer
// address (anyone else is closed and ignored, so that nobody but the client can take or feed its transfer),
// and closes after it, or when no connection was taken within its time limit.
class PassiveListener : public std::enable_shared_from_this<PassiveListener> {
 public:
  PassiveListener(const asio::any_io_executor& executor, const asio::ip::address& peer);

  // Listens on `local` with a port of `ports`, tried from the one whose turn it is on (the turns go round the
  // range across all sessions), so that successive listeners do not all fight for its first port. The port
  // can be bound again at once after a transfer: the connections it leaves in TIME_WAIT do not hold it.
  std::error_code Open(const asio::ip::address& local, const PortRange& ports, RoundRobin& turns);
  std::uint16_t Port() const { return m_port; }
  // Closes the listener once `limit` has passed (0: never); a data command waiting for its connection then
  // gets timed_out.
  void CloseAfter(std::chrono::seconds limit);
  // Accepts the client's connection into `socket` (closed until then), with the options of a data
  // connection; the listener closes after it.
  void Accept(asio::ip::tcp::socket& socket, std::function<void(std::error_code)> done);
  // Closes at once; a waiting accept is dropped without a call.
  void Close();
  // The slot of the peer's address that this listener counts against while it listens.
  void HoldAddressSlot(AddressSlot slot) { m_slot = std::move(slot); }
  // False once it has closed (timed out, or taken its connection).
  bool IsOpen() const { return m_acceptor.is_open(); }

 private:
  // Opens the acceptor anew and listens on `endpoint`.
  std::error_code Listen(const asio::ip::tcp::endpoint& endpoint);
  void AcceptNext();
  void Finish(std::error_code error);

  asio::ip::tcp::acceptor m_acceptor;
  asio::ip::tcp::socket m_accepted;
  asio::steady_timer m_timer;
  asio::ip::address m_peer;
  std::uint16_t m_port = 0;
  asio::ip::tcp::socket* m_socket = nullptr;  // the data command's socket while it waits
  std::function<void(std::error_code)> m_done;
  bool m_timedOut = false;
  AddressSlot m_slot;
};

// The opener of a data command after PASV or EPSV.
class PassiveOpener : public DataOpener {
 public:
  explicit PassiveOpener(std::shared_ptr<PassiveListener> listener) : m_listener(std::move(listener)) {}
  bool Start(asio::ip::tcp::socket& socket, std::error_code& error,
             std::function<void(std::error_code)> done) override;
  void Cancel() override;

 private:
  std::shared_ptr<PassiveListener> m_listener;
};

}  // namespace hx::ftpd
