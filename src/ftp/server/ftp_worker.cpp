#include "ftp/server/ftp_worker.h"

#include <sys/socket.h>
#include <unistd.h>

#include <cstring>

#include "app/tcp_stream.h"
#include "app/worker_registry.h"
#include "ftp/server/control_session.h"
#include "ftp/server/replies.h"

namespace hx::ftpd {

FtpWorker::FtpWorker(AppContext& context)
    : Worker(context.registry.Loops()), m_context(context), m_connection(m_executor) {}

FtpWorker::~FtpWorker() {
  if (m_session || m_stream || !m_connection.is_open()) return;
  std::error_code ignored;
  RefuseConnection(m_connection.release(ignored));
}

bool FtpWorker::Adopt(int connection, bool implicitTls) {
  m_implicitTls = implicitTls;
  // The listener takes IPv6 and IPv4 peers on one IPv6 socket, or IPv4 only: the connection is of its family.
  sockaddr_storage local{};
  socklen_t length = sizeof local;
  bool v6 = ::getsockname(connection, reinterpret_cast<sockaddr*>(&local), &length) == 0 &&
            local.ss_family == AF_INET6;
  std::error_code error;
  m_connection.assign(v6 ? asio::ip::tcp::v6() : asio::ip::tcp::v4(), connection, error);
  return !error;
}

void FtpWorker::Adopt(std::unique_ptr<ByteStream> connection, StreamEnds ends) {
  m_stream = std::move(connection);
  m_ends = ends;
}

void FtpWorker::Run() {
  if (!m_stream && m_connection.is_open()) {
    std::error_code error;
    // Every reply is written whole; the lines of a multi-line reply must not wait for acknowledgements.
    m_connection.set_option(asio::ip::tcp::no_delay(true), error);
    // Urgent data stays in the stream: a client that sends "ABOR\r\n" as urgent data would otherwise lose
    // the LF of its line (Linux keeps the last urgent byte apart), and the Telnet synch before an ABOR is
    // taken out by the line reader like every Telnet command.
    m_connection.set_option(asio::socket_base::out_of_band_inline(true), error);
    m_ends.local = m_connection.local_endpoint(error);
    asio::ip::tcp::endpoint peer = m_connection.remote_endpoint(error);
    if (!error) m_ends.peer = peer;
    m_stream = std::make_unique<TcpStream>(std::move(m_connection));
  }
  if (!m_stream) {
    End();
    return;
  }
  m_session = std::make_unique<ControlSession>(m_context, *this, std::move(m_stream), m_ends, m_nSessionId);
  m_session->Start(m_implicitTls);
}

void FtpWorker::OnStopRequest() {
  if (m_session) m_session->Shutdown();
  End();
}

void FtpWorker::OnAction(SessionAction action) {
  if (!m_session) return;
  if (action == SessionAction::CancelTransfer)
    m_session->CancelTransfer();
  else
    m_session->Disconnect();
}

void RefuseConnection(int connection, const char* reply) {
  if (connection < 0) return;
  (void)::send(connection, reply, std::strlen(reply), MSG_NOSIGNAL | MSG_DONTWAIT);
  ::close(connection);
}

}  // namespace hx::ftpd
