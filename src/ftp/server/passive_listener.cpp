#include "ftp/server/passive_listener.h"

#include <asio/post.hpp>

#include "app/address_text.h"

namespace hx::ftpd {
namespace {

std::optional<unsigned> ReadPort(std::string_view text) {
  while (!text.empty() && text.front() == ' ') text.remove_prefix(1);
  while (!text.empty() && text.back() == ' ') text.remove_suffix(1);
  if (text.empty() || text.size() > 5) return std::nullopt;
  unsigned value = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return std::nullopt;
    value = value * 10 + static_cast<unsigned>(c - '0');
  }
  if (value > 65535) return std::nullopt;
  return value;
}

}  // namespace

std::optional<PortRange> ParsePortRange(std::string_view text) {
  size_t dash = text.find('-');
  if (dash == std::string_view::npos) {
    auto value = ReadPort(text);
    if (!value || *value != 0) return std::nullopt;
    return PortRange{};
  }
  auto first = ReadPort(text.substr(0, dash));
  auto last = ReadPort(text.substr(dash + 1));
  if (!first || !last || *first == 0 || *first > *last) return std::nullopt;
  return PortRange{static_cast<std::uint16_t>(*first), static_cast<std::uint16_t>(*last)};
}

std::string PassiveReply(const asio::ip::address_v4& address, std::uint16_t port) {
  auto bytes = address.to_bytes();
  std::string text = "227 Entering Passive Mode (";
  for (auto byte : bytes) text += std::to_string(byte) + ",";
  return text + std::to_string(port / 256) + "," + std::to_string(port % 256) + ").\r\n";
}

std::string ExtendedPassiveReply(std::uint16_t port) {
  return "229 Entering Extended Passive Mode (|||" + std::to_string(port) + "|).\r\n";
}

PassiveListener::PassiveListener(const asio::any_io_executor& executor, const asio::ip::address& peer)
    : m_acceptor(executor), m_accepted(executor), m_timer(executor), m_peer(Unmapped(peer)) {}

std::error_code PassiveListener::Open(const asio::ip::address& local, const PortRange& ports,
                                      RoundRobin& turns) {
  const unsigned count = ports.Count();
  const unsigned start = ports.Any() ? 0 : turns.Next(count);
  std::error_code error;
  for (unsigned i = 0; i < count; ++i) {
    std::uint16_t port = ports.Any() ? 0 : static_cast<std::uint16_t>(ports.first + (start + i) % count);
    error = Listen(asio::ip::tcp::endpoint(local, port));
    if (error != asio::error::address_in_use) break;
  }
  if (!error) m_port = m_acceptor.local_endpoint(error).port();
  if (error) {
    std::error_code ignored;
    m_acceptor.close(ignored);
  }
  return error;
}

std::error_code PassiveListener::Listen(const asio::ip::tcp::endpoint& endpoint) {
  std::error_code error;
  if (m_acceptor.is_open()) m_acceptor.close(error);
  m_acceptor.open(endpoint.protocol(), error);
  // Without it a port of the range stays unusable for a minute after each transfer (its connections wait
  // out TIME_WAIT), and a busy client soon finds every port taken. A port another socket listens on is
  // still refused; two sessions that bind one port at once learn it when they listen, so both steps
  // count as the port being taken.
  if (!error) m_acceptor.set_option(asio::socket_base::reuse_address(true), error);
  if (!error) m_acceptor.bind(endpoint, error);
  if (!error) m_acceptor.listen(asio::socket_base::max_listen_connections, error);
  return error;
}

void PassiveListener::CloseAfter(std::chrono::seconds limit) {
  if (limit.count() <= 0) return;
  m_timer.expires_after(limit);
  m_timer.async_wait([self = shared_from_this()](std::error_code error) {
    if (error) return;
    // A data command that waits is told so by its accept, which ends now.
    self->m_timedOut = true;
    std::error_code ignored;
    self->m_acceptor.close(ignored);
    self->m_slot.Reset();
  });
}

void PassiveListener::Accept(asio::ip::tcp::socket& socket, std::function<void(std::error_code)> done) {
  m_socket = &socket;
  m_done = std::move(done);
  if (!m_acceptor.is_open()) {
    // The time ran out before the data command came.
    auto self = shared_from_this();
    asio::post(m_acceptor.get_executor(), [self] {
      self->Finish(self->m_timedOut ? asio::error::timed_out : asio::error::not_connected);
    });
    return;
  }
  AcceptNext();
}

void PassiveListener::AcceptNext() {
  // Accepted into a socket of its own: the transfer's socket is touched only while the transfer waits.
  m_acceptor.async_accept(m_accepted, [self = shared_from_this()](std::error_code error) {
    if (!self->m_done) return;
    if (error == asio::error::operation_aborted && self->m_timedOut) error = asio::error::timed_out;
    std::error_code ignored;
    if (!error) {
      asio::ip::tcp::endpoint remote = self->m_accepted.remote_endpoint(ignored);
      if (ignored || Unmapped(remote.address()) != self->m_peer) {
        // Not the client: whoever it is gets nothing, and the client may still come.
        self->m_accepted.close(ignored);
        self->AcceptNext();
        return;
      }
      // As the active connections: small chunks go out at once, and sends never block the session.
      self->m_accepted.set_option(asio::ip::tcp::no_delay(true), error);
      if (!error) self->m_accepted.non_blocking(true, error);
      if (!error) *self->m_socket = std::move(self->m_accepted);
    }
    self->m_accepted.close(ignored);
    self->Finish(error);
  });
}

void PassiveListener::Finish(std::error_code error) {
  std::error_code ignored;
  m_acceptor.close(ignored);
  m_slot.Reset();
  m_timer.cancel();
  m_socket = nullptr;
  auto done = std::move(m_done);
  m_done = nullptr;
  if (done) done(error);
}

void PassiveListener::Close() {
  std::error_code ignored;
  m_acceptor.close(ignored);
  m_slot.Reset();
  m_timer.cancel();
  // The waiting transfer has ended; dropping its callback also ends the hold they have on each other.
  m_done = nullptr;
  m_socket = nullptr;
}

bool PassiveOpener::Start(asio::ip::tcp::socket& socket, std::error_code&,
                          std::function<void(std::error_code)> done) {
  m_listener->Accept(socket, std::move(done));
  return true;
}

void PassiveOpener::Cancel() {
  m_listener->Close();
}

}  // namespace hx::ftpd
