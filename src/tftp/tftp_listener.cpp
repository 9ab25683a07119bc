#include "tftp/tftp_listener.h"

#include <asio/error.hpp>
#include <asio/ip/udp.hpp>
#include <asio/steady_timer.hpp>
#include <chrono>
#include <optional>
#include <span>
#include <vector>

#include "app/allow_gate.h"
#include "app/config_keys.h"
#include "app/config_store.h"
#include "app/frontend.h"
#include "app/listen_address.h"
#include "app/rate_fold.h"
#include "app/socket_error_text.h"
#include "app/transfer_log.h"
#include "app/worker_registry.h"
#include "tftp/file_access.h"
#include "tftp/request_checks.h"
#include "tftp/tftp_packets.h"
#include "tftp/tftp_server_session.h"

namespace hx {
namespace {

using asio::ip::udp;

// The socket and its receive buffer, shared with the receive in progress, so that closing the service while
// a receive is pending leaves the handler something valid to look at.
class Receiver : public std::enable_shared_from_this<Receiver> {
 public:
  Receiver(AppContext& context, asio::io_context& io)
      : m_context(context),
        m_socket(io),
        m_allow(context, cfg::kTAllow, cfg::kSourceTftp, "its requests are ignored") {}

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

  // Only the opcode is looked at here: the session answers whatever came. A session that cannot be had (its
  // address at the cap, no descriptor, no memory) refuses this request only; the service goes on.
  void StartSession(size_t length) {
    // A peer outside TAllow learns nothing, not even that a server is here.
    if (!m_allow.Admit(m_from.address())) return;
    std::span<const std::uint8_t> datagram(m_buffer.data(), length);
    std::uint16_t opcode = tftp::RequestOpcode(datagram);
    bool request = opcode == tftp::kOpRrq || opcode == tftp::kOpWrq;
    // Anything else gets no answer, and a row and a log line only for the first of a second: a flood of
    // junk must not flood the table and the log.
    if (!request && !m_junk.Admit(std::chrono::steady_clock::now())) {
      ReportFoldedJunkLater();
      return;
    }
    int cap = cfg::Read(m_context.config, cfg::kTPerAddress);
    AddressSlot slot = m_context.registry.TakeAddressSlot(PerAddress::TftpSessions, m_from.address(), cap);
    if (!slot) {
      if (request) Answer("Too many sessions from your address");
      return;
    }
    std::unique_ptr<tftp::TftpServerSession> session;
    try {
      session = std::make_unique<tftp::TftpServerSession>(m_context, datagram, m_from);
    } catch (const std::exception&) {
      m_context.registry.ReportStartFailure(WorkerKind::Tftp);
      return;
    }
    session->HoldAddressSlot(std::move(slot));
    if (!session->Create()) {
      if (!session->OutOfDescriptors()) {
        m_context.registry.ReportStartFailure(WorkerKind::Tftp);
        return;
      }
      Answer(tftp::kServerBusy);
      if (m_busy.Admit(std::chrono::steady_clock::now()))
        m_context.log.OnLogLine(cfg::kSourceTftp, tftp::kOutOfDescriptorsLine);
      return;
    }
    m_context.registry.StartCreated(WorkerKind::Tftp, std::move(session));
  }

  // ERROR 0 from the service's own port, to a request that gets no session.
  void Answer(std::string_view text) {
    tftp::PacketBuffer packet;
    size_t length = tftp::BuildError(packet, tftp::kErrNotDefined, text);
    std::error_code ignored;
    m_socket.send_to(asio::buffer(packet.data(), length), m_from, 0, ignored);
  }

  // One line when the window of the first junk datagram ends, with the number of those it folded.
  void ReportFoldedJunkLater() {
    if (m_junkReportPending) return;
    m_junkReportPending = true;
    m_junkTimer.expires_at(m_junk.WindowEnd());
    m_junkTimer.async_wait([self = shared_from_this()](const std::error_code& error) {
      self->m_junkReportPending = false;
      if (error || !self->m_socket.is_open()) return;
      std::uint64_t folded = self->m_junk.TakeFolded();
      if (folded)
        self->m_context.log.OnLogLine(cfg::kSourceTftp, "TFTP: Ignored " + std::to_string(folded) +
                                                            " more datagrams that were not requests");
    });
  }

  AppContext& m_context;
  udp::socket m_socket;
  std::vector<std::uint8_t> m_buffer = std::vector<std::uint8_t>(tftp::kMaxRequest + 1);
  udp::endpoint m_from;
  RateFold m_junk;
  asio::steady_timer m_junkTimer{m_socket.get_executor()};
  bool m_junkReportPending = false;
  RateFold m_busy;
  AllowGate m_allow;
};

class TftpListener : public Listener {
 public:
  TftpListener(AppContext& context, asio::io_context& io)
      : m_context(context), m_receiver(std::make_shared<Receiver>(context, io)) {}

  ~TftpListener() override {
    std::error_code ignored;
    m_receiver->m_socket.close(ignored);
    m_receiver->m_junkTimer.cancel();
  }

  bool Open() override {
    udp::socket& socket = m_receiver->m_socket;
    if (auto refusal = m_receiver->m_allow.StartRefusal()) {
      m_context.frontend.MessageBox(*refusal);
      return false;
    }
    // No address reuse: a second server on the port must make this fail.
    int port = cfg::Read(m_context.config, cfg::kTPort);
    bool ipv6 = cfg::Read(m_context.config, cfg::kIPv6) != 0;
    std::optional<ListenFailure> failure;
    if (port < 0 || port > 65535)
      failure = ListenFailure{ListenFailure::Step::Bind, std::make_error_code(std::errc::invalid_argument)};
    else
      failure = BindEveryAddress(socket, static_cast<std::uint16_t>(port), ipv6, [](udp::socket&) {});
    if (failure) {
      m_portTaken = failure->error == asio::error::address_in_use;
      m_context.frontend.MessageBox(ListenFailureText("TFTP", *failure, port, cfg::kTPort.key));
      return false;
    }
    std::error_code error;
    m_port = socket.local_endpoint(error).port();
    m_receiver->Receive();
    return true;
  }

  std::uint16_t Port() const override { return m_port; }
  bool PortTaken() const override { return m_portTaken; }

 private:
  AppContext& m_context;
  std::shared_ptr<Receiver> m_receiver;
  std::uint16_t m_port = 0;
  bool m_portTaken = false;
};

}  // namespace

std::unique_ptr<Listener> MakeTftpListener(AppContext& context, asio::io_context& io) {
  return std::make_unique<TftpListener>(context, io);
}

}  // namespace hx
