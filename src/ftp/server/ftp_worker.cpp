#include "ftp/server/ftp_worker.h"

#include <sys/socket.h>
#include <unistd.h>

#include <cstring>

#include "app/worker_registry.h"
#include "ftp/server/control_session.h"
#include "ftp/server/replies.h"

namespace hx::ftpd {

FtpWorker::FtpWorker(AppContext& context)
    : Worker(context.registry.Loops()), m_context(context), m_connection(m_executor) {}

FtpWorker::~FtpWorker() {
  if (m_session || !m_connection.is_open()) return;
  std::error_code ignored;
  RefuseConnection(m_connection.release(ignored));
}

bool FtpWorker::Adopt(int connection) {
  // The listener takes IPv6 and IPv4 peers on one IPv6 socket, or IPv4 only: the connection is of its family.
  sockaddr_storage local{};
  socklen_t length = sizeof local;
  bool v6 = ::getsockname(connection, reinterpret_cast<sockaddr*>(&local), &length) == 0 &&
            local.ss_family == AF_INET6;
  std::error_code error;
  m_connection.assign(v6 ? asio::ip::tcp::v6() : asio::ip::tcp::v4(), connection, error);
  return !error;
}

void FtpWorker::Run() {
  if (!m_connection.is_open()) {
    End();
    return;
  }
  m_session = std::make_unique<ControlSession>(m_context, *this, std::move(m_connection), m_nSessionId);
  m_session->Start();
}

void FtpWorker::OnStopRequest() {
  if (m_session) m_session->Shutdown();
  End();
}

void RefuseConnection(int connection, const char* reply) {
  if (connection < 0) return;
  (void)::send(connection, reply, std::strlen(reply), MSG_NOSIGNAL | MSG_DONTWAIT);
  ::close(connection);
}

}  // namespace hx::ftpd
