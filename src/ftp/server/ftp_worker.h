#pragma once

#include <asio/ip/tcp.hpp>
#include <memory>

#include "app/app_context.h"
#include "app/worker.h"

namespace hx::ftpd {

class ControlSession;

// The worker of one FTP control connection: its thread runs the session's loop until the session ends or
// the worker is told to stop; either way the session's files and sockets are released on that thread.
class FtpWorker : public Worker {
 public:
  // `connection` is the accepted socket's descriptor, which the worker takes over.
  FtpWorker(AppContext& context, int connection);
  ~FtpWorker() override;

 protected:
  void Run() override;

 private:
  AppContext& m_context;
  asio::ip::tcp::socket m_connection;
  std::unique_ptr<ControlSession> m_session;
};

}  // namespace hx::ftpd
