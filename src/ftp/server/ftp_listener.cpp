#include "ftp/server/ftp_listener.h"

#include <asio/ip/tcp.hpp>
#include <asio/steady_timer.hpp>
#include <chrono>

#include "app/config_keys.h"
#include "app/config_store.h"
#include "app/frontend.h"
#include "app/socket_error_text.h"
#include "app/worker_registry.h"
#include "ftp/server/ftp_worker.h"

namespace hx {
namespace {

class FtpListener : public Listener {
 public:
  FtpListener(AppContext& context, asio::io_context& network)
      : m_context(context), m_acceptor(network), m_retryTimer(network) {}

  ~FtpListener() override {
    std::error_code ignored;
    m_retryTimer.cancel();
    m_acceptor.close(ignored);
    *m_alive = false;
  }

  bool Open() override {
    std::error_code error;
    m_acceptor.open(asio::ip::tcp::v4(), error);
    if (error) return Fail("FTP: Couldn't create socket: " + SocketErrorText(error));
    // Sessions that ended with QUIT leave their connections in TIME_WAIT on this port; without the option
    // the service could not be switched on again for a minute. Another listener on the port still makes
    // the bind fail.
    m_acceptor.set_option(asio::socket_base::reuse_address(true), error);
    int port = m_context.config.GetProfileInt(cfg::kFtp, cfg::kFPort, 21);
    m_acceptor.bind(asio::ip::tcp::endpoint(asio::ip::address_v4::any(), static_cast<std::uint16_t>(port)), error);
    if (error) return Fail("FTP: Couldn't bind socket: " + SocketErrorText(error));
    m_acceptor.listen(asio::socket_base::max_listen_connections, error);
    if (error) return Fail("Error creating FTP Server socket.\r\nPerhaps another FTP server is running?");
    m_port = m_acceptor.local_endpoint(error).port();
    Accept();
    return true;
  }

  std::uint16_t Port() const override { return m_port; }

 private:
  bool Fail(const std::string& text) {
    std::error_code ignored;
    m_acceptor.close(ignored);
    m_context.frontend.MessageBox(text);
    return false;
  }

  void Accept() {
    m_acceptor.async_accept([this, alive = m_alive](std::error_code error, asio::ip::tcp::socket socket) {
      if (!*alive || error == asio::error::operation_aborted) return;
      if (error) {
        m_context.frontend.MessageBox("Error setting up FTP connection");
        // Out of descriptors and the like: give the system a moment instead of spinning on the failure.
        m_retryTimer.expires_after(std::chrono::milliseconds(100));
        m_retryTimer.async_wait([this, alive](std::error_code e) {
          if (*alive && !e) Accept();
        });
        return;
      }
      int connection = socket.release(error);
      if (!error) {
        // A worker that cannot be started has been reported by the registry; its connection is closed.
        m_context.registry.StartWorker(WorkerKind::Ftp, std::make_unique<ftpd::FtpWorker>(m_context, connection));
      }
      Accept();
    });
  }

  AppContext& m_context;
  asio::ip::tcp::acceptor m_acceptor;
  asio::steady_timer m_retryTimer;
  std::uint16_t m_port = 0;
  std::shared_ptr<bool> m_alive = std::make_shared<bool>(true);
};

}  // namespace

std::unique_ptr<Listener> MakeFtpListener(AppContext& context, asio::io_context& network) {
  return std::make_unique<FtpListener>(context, network);
}

}  // namespace hx
