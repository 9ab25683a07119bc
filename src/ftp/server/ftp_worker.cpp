#include "ftp/server/ftp_worker.h"

#include <unistd.h>

#include "ftp/server/control_session.h"

namespace hx::ftpd {

FtpWorker::FtpWorker(AppContext& context, int connection) : m_context(context), m_connection(m_io) {
  std::error_code error;
  m_connection.assign(asio::ip::tcp::v4(), connection, error);
  if (error) ::close(connection);
}

FtpWorker::~FtpWorker() = default;

void FtpWorker::Run() {
  if (!m_connection.is_open()) return;
  m_session = std::make_unique<ControlSession>(m_context, m_io, std::move(m_connection), m_nSessionId);
  m_session->Start();
  m_io.run();
  // Ended by the session itself or by a stop request: release everything here, then let the handlers that
  // the closing cancelled run out, so that nothing of the session outlives its thread.
  m_session->Shutdown();
  m_io.restart();
  m_io.poll();
  m_session.reset();
}

}  // namespace hx::ftpd
