#include "ftp/client/ftp_client_worker.h"

#include "app/app_context.h"
#include "app/session_table.h"
#include "app/worker_registry.h"
#include "ftp/client/ftp_client_session.h"

namespace hx::ftpc {

FtpClientWorker::FtpClientWorker(AppContext& app, FtpClientJob job)
    : Worker(app.registry.Loops()),
      m_app(app),
      m_session(std::make_unique<FtpClientSession>(app, *this, std::move(job), [this] { SessionEnded(); })) {}

FtpClientWorker::~FtpClientWorker() = default;

void FtpClientWorker::PostStart() {
  Post([this] {
    if (HasEnded() || m_started) return;  // stopped before its start
    m_started = true;
    m_session->Start(m_nSessionId);
  });
}

void FtpClientWorker::Run() {
  const bool tls = m_session->Job().tls != FtpClientJob::Tls::Off;
  m_app.registry.SetSessionText(m_nSessionId, kColType, tls ? "Ftps Cli" : "Ftp Client");
}

void FtpClientWorker::OnStopRequest() {
  // Every connection, the listener and the file are closed; a running session's coroutines then return and
  // end the worker.
  m_session->End();
  if (!m_started) SessionEnded();
}

void FtpClientWorker::SessionEnded() {
  m_session->End();
  m_succeeded.store(m_session->Succeeded(), std::memory_order_release);
  End();
}

}  // namespace hx::ftpc
