#include "ftp/client/ftp_client_worker.h"

#include "app/app_context.h"
#include "app/config_keys.h"
#include "app/session_table.h"
#include "app/transfer_log.h"
#include "app/worker_registry.h"
#include "ftp/client/ftp_client_session.h"

namespace hx::ftpc {

FtpClientWorker::FtpClientWorker(AppContext& app, FtpClientJob job)
    : Worker(app.registry.Loops()),
      m_app(app),
      m_session(std::make_unique<FtpClientSession>(app, *this, std::move(job), [this] { SessionEnded(); })) {
  Offer(kOffersCancel);
}

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
  m_stopped = true;
  m_session->End();
  if (!m_started) SessionEnded();
}

void FtpClientWorker::OnAction(SessionAction action) {
  if (action != SessionAction::CancelTransfer) return;
  m_stopped = true;
  m_session->Cancel();
  if (!m_started) SessionEnded();
}

void FtpClientWorker::SessionEnded() {
  if (HasEnded()) return;
  m_session->End();
  bool succeeded = m_session->Succeeded();
  m_succeeded.store(succeeded, std::memory_order_release);
  // A failed transfer is logged as the server logs its own failures.
  if (!succeeded && !m_stopped && !m_session->LastStatus().empty())
    m_app.log.OnLogLine(cfg::kSourceFtp, "FTP: ERROR. " + m_session->LastStatus());
  Offer(0);
  End();
}

}  // namespace hx::ftpc
