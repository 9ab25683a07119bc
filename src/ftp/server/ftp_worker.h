#pragma once

#include <asio/ip/tcp.hpp>
#include <memory>

#include "app/app_context.h"
#include "app/byte_stream.h"
#include "app/worker.h"
#include "ftp/server/replies.h"

namespace hx::ftpd {

class ControlSession;

// The worker of one FTP control connection: it runs the session on the session loop until the session ends
// or the worker is told to stop; either way the session's files and sockets are released then.
class FtpWorker : public Worker {
 public:
  explicit FtpWorker(AppContext& context);
  // A connection that never got its session is refused with a 421 reply before it is closed.
  ~FtpWorker() override;

  // Takes over the accepted connection's descriptor, of the implicit TLS port when `implicitTls`. False when
  // the session loop cannot take it; the descriptor is then still the caller's.
  bool Adopt(int connection, bool implicitTls = false);
  // Takes over a connection that is already a stream (tests run a session over one of their own).
  void Adopt(std::unique_ptr<ByteStream> connection, StreamEnds ends);
  // The session has ended by itself (QUIT, the client's close, a failed write).
  void SessionEnded() { End(); }

 protected:
  void Run() override;
  void OnStopRequest() override;
  void OnAction(SessionAction action) override;

 private:
  AppContext& m_context;
  asio::ip::tcp::socket m_connection;
  std::unique_ptr<ByteStream> m_stream;  // instead of m_connection
  StreamEnds m_ends;
  bool m_implicitTls = false;
  std::unique_ptr<ControlSession> m_session;
};

// Answers a connection that cannot have a session with `reply` ("421 Too many connections, try again later"
// unless told otherwise) and closes it. Never waits: a client that does not read just sees the close.
void RefuseConnection(int connection, const char* reply = reply::kTooManyConnections);

}  // namespace hx::ftpd
