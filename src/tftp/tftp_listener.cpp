#include "tftp/tftp_listener.h"

#include <asio/error.hpp>
#include <asio/ip/udp.hpp>
#include <optional>
#include <span>
#include <vector>

#include "app/config_keys.h"
#include "app/config_store.h"
#include "app/frontend.h"
#include "app/listen_address.h"
#include "app/socket_error_text.h"
#include "app/worker_registry.h"
#include "tftp/tftp_packets.h"
#include "tftp/tftp_server_session.h"

namespace hx {
namespace {

using asio::ip::udp;

// The socket and its receive buffer, shared with the receive in progress, so that closing the service while
// a receive is pending leaves the handler something valid to look at.
class Receiver : public std::enable_shared_from_this<Receiver> {
 public:
  Receiver(AppContext& context, asio::io_context& io) : m_context(context), m_socket(io) {}

  void Receive() {
    m_socket.async_receive_from(asio::buffer(m_buffer), m_from,
                                [self = shared_from_this()](const std::error_code& error, size_t length) {
                                  self->OnReceive(error, length);
                                });
  }

  void OnReceive(const std::error_code& error, size_t length) {
    if (!m_socket.is_open() || error == asio::error::operation_aborted) return;
    if (error || length > tftp::kMaxRequest) {
      // A datagram longer than any request cannot be received whole.
      m_context.frontend.MessageBox("Error receiving incoming TFTP request");
    } else {
      StartSession(length);
    }
    Receive();
  }

  // Nothing about the request is examined here: the session answers whatever came. A session that cannot be
  // had (no descriptor, no memory) refuses this request only; the service goes on.
  void StartSession(size_t length) {
    std::unique_ptr<tftp::TftpServerSession> session;
    try {
      session =
          std::make_unique<tftp::TftpServerSession>(m_context, std::span(m_buffer.data(), length), m_from);
    } catch (const std::exception&) {
      m_context.registry.ReportStartFailure(WorkerKind::Tftp);
      return;
    }
    m_context.registry.StartWorker(WorkerKind::Tftp, std::move(session));
  }

  AppContext& m_context;
  udp::socket m_socket;
  std::vector<std::uint8_t> m_buffer = std::vector<std::uint8_t>(tftp::kMaxRequest + 1);
  udp::endpoint m_from;
};

class TftpListener : public Listener {
 public:
  TftpListener(AppContext& context, asio::io_context& io)
      : m_context(context), m_receiver(std::make_shared<Receiver>(context, io)) {}

  ~TftpListener() override {
    std::error_code ignored;
    m_receiver->m_socket.close(ignored);
  }

  bool Open() override {
    udp::socket& socket = m_receiver->m_socket;
    // No address reuse: a second server on the port must make this fail.
    int port = cfg::Read(m_context.config, cfg::kTPort);
    bool ipv6 = cfg::Read(m_context.config, cfg::kIPv6) != 0;
    std::optional<ListenFailure> failure;
    if (port < 0 || port > 65535)
      failure = ListenFailure{ListenFailure::Step::Bind, std::make_error_code(std::errc::invalid_argument)};
    else
      failure = BindEveryAddress(socket, static_cast<std::uint16_t>(port), ipv6, [](udp::socket&) {});
    if (failure) {
      m_context.frontend.MessageBox((failure->step == ListenFailure::Step::Open
                                         ? "TFTP: Couldn't create socket: "
                                         : "TFTP: Couldn't bind socket: ") +
                                    SocketErrorText(failure->error));
      return false;
    }
    std::error_code error;
    m_port = socket.local_endpoint(error).port();
    m_receiver->Receive();
    return true;
  }

  std::uint16_t Port() const override { return m_port; }

 private:
  AppContext& m_context;
  std::shared_ptr<Receiver> m_receiver;
  std::uint16_t m_port = 0;
};

}  // namespace

std::unique_ptr<Listener> MakeTftpListener(AppContext& context, asio::io_context& io) {
  return std::make_unique<TftpListener>(context, io);
}

}  // namespace hx
