#include "ftp/server/ftp_listener.h"

#include <fcntl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <asio/ip/tcp.hpp>
#include <asio/steady_timer.hpp>
#include <cerrno>
#include <chrono>

#include "app/allow_gate.h"
#include "app/config_keys.h"
#include "app/config_store.h"
#include "app/frontend.h"
#include "app/listen_address.h"
#include "app/resource_limits.h"
#include "app/socket_error_text.h"
#include "app/transfer_log.h"
#include "app/worker_registry.h"
#include "ftp/server/ftp_worker.h"
#include "tls/server_tls.h"

namespace hx {
namespace {

class FtpListener : public Listener {
 public:
  FtpListener(AppContext& context, asio::io_context& network)
      : m_context(context),
        m_acceptor(network),
        m_implicitAcceptor(network),
        m_retryTimer(network),
        m_allow(context, cfg::kFAllow, cfg::kSourceFtp, "its connections are refused") {}

  ~FtpListener() override {
    std::error_code ignored;
    m_retryTimer.cancel();
    m_acceptor.close(ignored);
    m_implicitAcceptor.close(ignored);
    *m_alive = false;
    if (m_reserve >= 0) ::close(m_reserve);
  }

  bool Open() override {
    if (auto refusal = m_allow.StartRefusal()) return Fail(*refusal);
    int port = cfg::Read(m_context.config, cfg::kFPort);
    bool ipv6 = cfg::Read(m_context.config, cfg::kIPv6) != 0;
    // Sessions that ended with QUIT leave their connections in TIME_WAIT on this port; without the option
    // the service could not be switched on again for a minute. Another listener on the port still makes
    // the bind fail.
    auto failure = BindEveryAddress(m_acceptor, static_cast<std::uint16_t>(port), ipv6, [](auto& acceptor) {
      std::error_code ignored;
      acceptor.set_option(asio::socket_base::reuse_address(true), ignored);
    });
    if (failure) {
      m_portTaken = failure->error == asio::error::address_in_use;
      return Fail(ListenFailureText("FTP", *failure, port, cfg::kFPort.key));
    }
    std::error_code error;
    m_acceptor.listen(asio::socket_base::max_listen_connections, error);
    m_portTaken = error == asio::error::address_in_use;
    if (error) return Fail("Error creating FTP Server socket.\r\nPerhaps another FTP server is running?");
    m_port = m_acceptor.local_endpoint(error).port();
    LoadTls();
    TakeReserve();
    Accept(m_acceptor, false);
    OpenImplicitPort(ipv6);
    return true;
  }

  std::uint16_t Port() const override { return m_port; }
  bool PortTaken() const override { return m_portTaken; }

 private:
  // The certificate is read (or made) when the service starts, so that a new one takes effect with a
  // restart of the service.
  void LoadTls() {
    if (!m_context.ftpTls) return;
    std::string line = m_context.ftpTls->Load(m_context.config, m_context.appDir);
    if (!line.empty()) m_context.log.OnLogLine(cfg::kSourceFtp, line);
  }

  // Implicit TLS has a port of its own; the service runs without it when that port cannot be had.
  void OpenImplicitPort(bool ipv6) {
    int port = cfg::Read(m_context.config, cfg::kFImplicitPort);
    if (port <= 0 || port > 65535) return;
    auto failure =
        BindEveryAddress(m_implicitAcceptor, static_cast<std::uint16_t>(port), ipv6, [](auto& acceptor) {
          std::error_code ignored;
          acceptor.set_option(asio::socket_base::reuse_address(true), ignored);
        });
    std::error_code error;
    if (!failure) m_implicitAcceptor.listen(asio::socket_base::max_listen_connections, error);
    if (failure || error) {
      m_implicitAcceptor.close(error);
      m_context.log.OnLogLine(cfg::kSourceFtp, "FTP: Implicit TLS is off: port " + std::to_string(port) +
                                                   " could not be opened (" + cfg::kFImplicitPort.key + ")");
      return;
    }
    Accept(m_implicitAcceptor, true);
  }

  bool Fail(const std::string& text) {
    std::error_code ignored;
    m_acceptor.close(ignored);
    m_context.frontend.MessageBox(text);
    return false;
  }

  void Accept(asio::ip::tcp::acceptor& acceptor, bool implicitTls) {
    acceptor.async_accept(
        [this, &acceptor, implicitTls, alive = m_alive](std::error_code error, asio::ip::tcp::socket socket) {
          if (!*alive || error == asio::error::operation_aborted) return;
          if (!error) {
            StartSession(std::move(socket), implicitTls);
          } else if (!IsOutOfDescriptors(error) || !RefuseWithReserve(acceptor)) {
            if (IsOutOfDescriptors(error))
              m_context.registry.ReportStartFailure(WorkerKind::Ftp);
            else
              m_context.frontend.MessageBox("Error setting up FTP connection");
            // Give the system a moment instead of spinning on the failure.
            m_retryTimer.expires_after(std::chrono::milliseconds(100));
            m_retryTimer.async_wait([this, &acceptor, implicitTls, alive](std::error_code e) {
              if (*alive && !e) Accept(acceptor, implicitTls);
            });
            return;
          }
          Accept(acceptor, implicitTls);
        });
  }

  // A connection whose session cannot be had (its address at the cap, no memory, no room in the loop) is
  // refused; the service goes on.
  void StartSession(asio::ip::tcp::socket socket, bool implicitTls) {
    std::error_code error;
    asio::ip::tcp::endpoint peer = socket.remote_endpoint(error);
    if (error) return;  // gone already
    // Before the greeting, on either port: a peer outside FAllow never sees the login.
    if (!m_allow.Admit(peer.address())) {
      ftpd::RefuseConnection(socket.release(error), ftpd::reply::kServiceNotAvailable);
      return;
    }
    int cap = cfg::Read(m_context.config, cfg::kFPerAddress);
    AddressSlot slot = m_context.registry.TakeAddressSlot(PerAddress::FtpConnections, peer.address(), cap);
    if (!slot) {
      ftpd::RefuseConnection(socket.release(error), ftpd::reply::kTooManyFromAddress);
      return;
    }
    std::unique_ptr<ftpd::FtpWorker> worker;
    try {
      worker = std::make_unique<ftpd::FtpWorker>(m_context);
    } catch (const std::exception&) {
    }
    int connection = socket.release(error);
    if (error) return;
    if (!worker || !worker->Adopt(connection, implicitTls)) {
      ftpd::RefuseConnection(connection);
      m_context.registry.ReportStartFailure(WorkerKind::Ftp);
      return;
    }
    worker->HoldAddressSlot(std::move(slot));
    // A worker that cannot be started has been reported by the registry, and refuses its connection.
    m_context.registry.StartWorker(WorkerKind::Ftp, std::move(worker));
  }

  // One descriptor is kept in reserve, so that a server out of descriptors can still take the next
  // connection off the queue and tell its client why it is refused, instead of leaving it waiting.
  void TakeReserve() {
    if (m_reserve < 0) m_reserve = ::open("/dev/null", O_RDONLY | O_CLOEXEC);
  }

  bool RefuseWithReserve(asio::ip::tcp::acceptor& acceptor) {
    if (m_reserve < 0) return false;
    ::close(m_reserve);
    m_reserve = -1;
    int connection = ::accept4(acceptor.native_handle(), nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK);
    bool refused = connection >= 0;
    if (refused) ftpd::RefuseConnection(connection);
    TakeReserve();
    if (refused) m_context.registry.ReportStartFailure(WorkerKind::Ftp);
    return refused;
  }

  AppContext& m_context;
  asio::ip::tcp::acceptor m_acceptor;
  asio::ip::tcp::acceptor m_implicitAcceptor;  // FImplicitPort: TLS from the first byte
  asio::steady_timer m_retryTimer;
  std::uint16_t m_port = 0;
  bool m_portTaken = false;
  int m_reserve = -1;
  AllowGate m_allow;
  std::shared_ptr<bool> m_alive = std::make_shared<bool>(true);
};

}  // namespace

std::unique_ptr<Listener> MakeFtpListener(AppContext& context, asio::io_context& network) {
  return std::make_unique<FtpListener>(context, network);
}

}  // namespace hx
