#include "ftp/client/ftp_client_worker.h"

#include <asio/post.hpp>

#include "app/app_context.h"
#include "app/session_table.h"
#include "app/worker_registry.h"
#include "ftp/client/ftp_client_session.h"

namespace hx::ftpc {

FtpClientWorker::FtpClientWorker(AppContext& app, FtpClientJob job)
    : m_app(app), m_session(std::make_unique<FtpClientSession>(app, m_io, std::move(job))) {}

FtpClientWorker::~FtpClientWorker() = default;

void FtpClientWorker::PostStart() {
  asio::post(m_io, [this] {
    m_waitForStart.reset();
    if (m_session) m_session->Start(m_nSessionId);
  });
}

void FtpClientWorker::Run() {
  m_app.registry.SetSessionText(m_nSessionId, kColType, "Ftp Client");
  m_waitForStart.emplace(m_io.get_executor());
  m_io.run();
  // Whatever ended the loop, every connection, the listener and the file are closed, and the handlers that
  // this cancels run to their end before the session goes.
  m_session->End();
  m_io.restart();
  m_io.run();
  m_succeeded.store(m_session->Succeeded(), std::memory_order_release);
  m_session.reset();
}

void FtpClientWorker::OnStopRequest() {
  m_waitForStart.reset();
  if (m_session) m_session->End();
}

}  // namespace hx::ftpc
