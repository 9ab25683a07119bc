#pragma once

#include <atomic>
#include <memory>

#include "app/worker.h"
#include "ftp/client/ftp_client_job.h"

namespace hx {
struct AppContext;
}

namespace hx::ftpc {

class FtpClientSession;

// The worker of one FTP client session: its row shows "Ftp Client" ("Ftps Cli" with TLS); it waits for the
// start (PostStart, the window's start message), runs the session on the session loop and ends when the
// session ends or a stop request arrives; its sockets and its file are released then.
class FtpClientWorker : public Worker {
 public:
  FtpClientWorker(AppContext& app, FtpClientJob job);
  ~FtpClientWorker() override;

  // Tells the worker to start its GET or PUT; any thread.
  void PostStart();
  // Once Finished: whether the file went over completely and the server confirmed it.
  bool Succeeded() const { return m_succeeded.load(std::memory_order_acquire); }

 protected:
  void Run() override;
  void OnStopRequest() override;
  void OnAction(SessionAction action) override;

 private:
  void SessionEnded();

  AppContext& m_app;
  std::unique_ptr<FtpClientSession> m_session;
  bool m_started = false;
  // Stopped or cancelled: the end is no failure of the transfer to log.
  bool m_stopped = false;
  std::atomic<bool> m_succeeded{false};
};

}  // namespace hx::ftpc
