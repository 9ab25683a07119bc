// The conversation of the FTP client session: connect, log in, offer the data address, ask for the file, and
// after the transfer read the final reply and say goodbye.
#include "ftp/client/ftp_client_session.h"

#include <sys/stat.h>
#include <unistd.h>
#include <asio/co_spawn.hpp>
#include <asio/redirect_error.hpp>
#include <asio/use_awaitable.hpp>

#include <algorithm>
#include <cstring>

#include "app/address_text.h"
#include "app/app_context.h"
#include "app/config_keys.h"
#include "app/file_systems.h"
#include "app/frontend.h"
#include "app/session_table.h"
#include "app/socket_error_text.h"
#include "app/tcp_stream.h"
#include "app/transfer_log.h"
#include "app/worker.h"
#include "app/worker_registry.h"
#include "ftp/client/passive_reply.h"
#include "ftp/client/port_command.h"
#include "ftp/client/session_awaits.h"
#include "tls/tls_stream.h"

namespace hx::ftpc {
namespace {

// The error a host name that cannot be resolved reports, as the connect of the socket layer gives it.
constexpr int kUnknownHostError = 10022;

constexpr const char* kReplyTooLong = "Reply too long";
constexpr const char* kBadPassiveReply = "No data port in the reply: ";

}  // namespace

FtpClientSession::FtpClientSession(AppContext& app, Worker& worker, FtpClientJob job,
                                   std::function<void()> ended)
    : m_app(app),
      m_worker(worker),
      m_job(std::move(job)),
      m_ended(std::move(ended)),
      m_resolver(worker.Executor()),
      m_control(worker.Executor()),
      m_listener(worker.Executor()),
      m_data(worker.Executor()) {}

FtpClientSession::~FtpClientSession() {
  if (m_dataSpare >= 0) ::close(m_dataSpare);
}

void FtpClientSession::Start(int sessionId) {
  if (m_ending) return;
  m_nSessionId = sessionId;
  m_nThreadNumber = CurrentThreadNumber();
  Spawn(Conversation());
}

void FtpClientSession::End() {
  if (m_ending) return;
  m_ending = true;
  std::error_code ignored;
  m_resolver.cancel();
  m_control.close(ignored);
  if (m_controlStream) m_controlStream->Close();
  m_listener.close(ignored);
  m_data.close(ignored);
  if (m_dataStream) m_dataStream->Close();
  if (m_dataSpare >= 0) ::close(m_dataSpare);
  m_dataSpare = -1;
  m_download.Discard();  // nothing left to discard once the download is in place
  m_file.Close();
  NotifyChange();
}

void FtpClientSession::SetText(int column, std::string_view text) {
  m_app.registry.SetSessionText(m_nSessionId, column, text);
}

void FtpClientSession::SetStatus(std::string_view text) {
  m_lastStatus = text;
  SetText(kColStatus, text);
}

void FtpClientSession::Cancel() {
  if (m_ending) return;
  SetStatus(kCancelledText);
  m_app.log.OnLogLine(cfg::kSourceFtp, "FTP: Transfer with " + m_job.host + " cancelled by the operator");
  End();
}

std::string FtpClientSession::Describe(const std::error_code& error) {
  if (error == asio::error::eof) return "Connection closed by the server";
  return error.message();
}

asio::awaitable<void> FtpClientSession::Conversation() {
  SetText(kColPeer, HostPortShown(m_job.host, static_cast<unsigned>(m_job.port)));
  SetText(kColFile, m_job.remoteName);
  SetText(kColPath, m_job.localName);

  if (!OpenLocalFile()) {
    SetStatus("Unable to open local file");
    End();
    co_return;
  }

  if (!MakeTlsContext()) {
    End();
    co_return;
  }
  SetStatus("Connecting to host. Please wait....");
  bool ok = co_await Connect();
  if (ok && m_job.tls == FtpClientJob::Tls::Implicit) ok = co_await SecureControl();
  if (!ok) {
    End();
    co_return;
  }
  Spawn(ReadControl());

  ok = co_await Login();
  if (ok && m_job.passive) {
    ok = co_await OfferPassive();
  } else if (ok) {
    ok = co_await OfferActive();
  }
  if (!ok) {
    End();
    co_return;
  }
  ok = co_await SendCommand((m_job.put ? "STOR " : "RETR ") + m_job.remoteName + "\r\n");
  if (ok) ok = co_await ExpectReply('1');
  if (!ok) {
    End();
    co_return;
  }
  m_transferAccepted = true;
  NotifyChange();

  TransferOutcome outcome = co_await WaitForTransfer();
  if (outcome == TransferOutcome::DataDone || outcome == TransferOutcome::ReplyFirst) co_await Quit();
  // A local file that failed during the transfer is the news, whatever the server said afterwards.
  if (!m_ending && !m_localError.empty()) SetStatus(m_localError);
  End();
}

bool FtpClientSession::OpenLocalFile() {
  int error = 0;
  if (m_job.put) {
    m_file = SharedFile::Open(m_app.shares, m_job.localName, FileAccess::Read, ShareMode::Exclusive,
                              Disposition::OpenExisting, error);
    return m_file.IsOpen();
  }
  struct stat existing {};
  if (m_app.files.Unconfined()->Stat(m_job.localName, existing)) {
    // Opened for writing but not truncated: the open proves that the file may be overwritten, and its claim
    // keeps other sessions away from it until it has been replaced.
    m_file = SharedFile::Open(m_app.shares, m_job.localName, FileAccess::Write, ShareMode::Exclusive,
                              Disposition::OpenExisting, error);
    if (!m_file.IsOpen()) return false;
    if (!S_ISREG(existing.st_mode)) return true;
    m_download = DownloadFile::Create(m_job.localName, &existing, error);
  } else {
    m_download = DownloadFile::Create(m_job.localName, nullptr, error);
  }
  return m_download.IsOpen();
}

void FtpClientSession::PlaceDownload() {
  if (!m_download.IsOpen() || !m_dataComplete || !m_localError.empty()) return;
  int error = 0;
  if (!m_download.Commit(DownloadFile::Placement::Replace, error))
    m_localError = std::string("Error writing local file: ") + std::strerror(error);
  m_file.Close();
}

asio::awaitable<bool> FtpClientSession::Connect() {
  std::error_code ec;
  auto results = co_await m_resolver.async_resolve(m_job.host, std::to_string(m_job.port),
                                                   asio::redirect_error(asio::use_awaitable, ec));
  if (m_ending) co_return false;
  if (ec || results.empty()) {
    SetStatus("Unable to connect to host : " + SocketErrorText(kUnknownHostError));
    co_return false;
  }
  // A name may stand for IPv6 and IPv4 addresses of which the server listens on some only: each is tried in
  // the resolver's order, and the last refusal is the one shown.
  for (const auto& entry : results) {
    std::error_code ignored;
    m_control.close(ignored);
    m_control.open(entry.endpoint().protocol(), ec);
    if (ec) {
      SetStatus("Unable to create socket : " + SocketErrorText(ec));
      co_return false;
    }
    co_await m_control.async_connect(entry.endpoint(), asio::redirect_error(asio::use_awaitable, ec));
    if (m_ending) co_return false;
    if (!ec) break;
  }
  if (ec) {
    SetStatus("Unable to connect to host : " + SocketErrorText(ec));
    co_return false;
  }
  m_controlLocal = m_control.local_endpoint(ec);
  m_controlPeer = m_control.remote_endpoint(ec);
  m_controlStream = std::make_unique<TcpStream>(std::move(m_control));
  co_return true;
}

asio::awaitable<bool> FtpClientSession::Login() {
  // (Each step awaits on a line of its own: the compiler mishandles co_await inside && chains.)
  bool ok = co_await ExpectReply('2');
  if (ok && m_job.tls == FtpClientJob::Tls::Explicit) ok = co_await AuthTls();
  if (ok) ok = co_await SendCommand("USER " + m_job.user + "\r\n");
  char step = '\0';
  if (ok) step = co_await AwaitReply("23");
  // A server may log the user in on the name alone (230); the password is then not sent.
  if (step == '3') {
    ok = co_await SendCommand("PASS " + m_job.password + "\r\n");
    if (ok) ok = co_await ExpectReply('2');
  } else {
    ok = step == '2';
  }
  if (ok && m_controlTls) ok = co_await ProtectData();
  if (ok) ok = co_await SendCommand("TYPE I\r\n");
  if (ok) ok = co_await ExpectReply('2');
  co_return ok;
}

asio::awaitable<bool> FtpClientSession::OfferActive() {
  if (!OpenListener()) co_return false;
  Spawn(AcceptData());
  std::error_code ec;
  const asio::ip::address local = Unmapped(m_controlLocal.address());
  const std::uint16_t port = m_listener.local_endpoint(ec).port();
  // PORT carries IPv4 addresses only; over IPv6 the extended form says the same.
  // (The command is built first: the compiler mishandles a conditional temporary inside a co_await.)
  std::string command =
      local.is_v6() ? EprtCommand(local.to_string(), port) : PortCommand(local.to_string(), port);
  bool ok = co_await SendCommand(std::move(command));
  if (ok) ok = co_await ExpectReply('2');
  co_return ok;
}

asio::awaitable<bool> FtpClientSession::OfferPassive() {
  std::optional<std::uint16_t> port;
  bool ok = co_await SendCommand("EPSV\r\n");
  char step = '\0';
  if (ok) step = co_await AwaitReply("25");
  if (step == '2') {
    port = ParseEpsvReply(m_lastReply);
  } else if (step == '5') {
    // A server that does not know EPSV refuses it; PASV is the older form of the same request.
    ok = co_await SendCommand("PASV\r\n");
    if (ok) ok = co_await ExpectReply('2');
    if (!ok) co_return false;
    if (auto address = ParsePasvReply(m_lastReply)) port = address->port;
  } else {
    co_return false;
  }
  if (!port) {
    SetStatus(kBadPassiveReply + m_lastReply);
    co_return false;
  }
  // The data goes to the server the session talks to, whatever address a 227 names: a server must not be
  // able to point the client's connection (and a PUT's file) at another host, and behind NAT the announced
  // address is often a private one.
  co_return co_await ConnectData(asio::ip::tcp::endpoint(m_controlPeer.address(), *port));
}

asio::awaitable<bool> FtpClientSession::ConnectData(asio::ip::tcp::endpoint server) {
  std::error_code ec;
  m_data.open(server.protocol(), ec);
  if (ec) {
    SetStatus("Unable to create data socket : " + SocketErrorText(ec));
    co_return false;
  }
  co_await m_data.async_connect(server, asio::redirect_error(asio::use_awaitable, ec));
  if (m_ending) co_return false;
  if (ec) {
    SetStatus("Unable to connect data socket : " + SocketErrorText(ec));
    co_return false;
  }
  Spawn(MoveData());
  co_return true;
}

bool FtpClientSession::OpenListener() {
  std::error_code ec;
  // The listener takes the control connection's family and local address: the one the server can reach.
  asio::ip::tcp::endpoint local(Unmapped(m_controlLocal.address()), 0);
  m_listener.open(local.protocol(), ec);
  if (!ec) m_listener.bind(local, ec);
  if (ec) {
    SetStatus("Unable to create data socket : " + SocketErrorText(ec));
    return false;
  }
  m_listener.non_blocking(true, ec);
  if (ec) {
    SetStatus("Unable to set data socket to non-blocking : " + SocketErrorText(ec));
    return false;
  }
  m_listener.listen(5, ec);
  if (ec) {
    SetStatus("Unable to listen on data socket : " + SocketErrorText(ec));
    return false;
  }
  return true;
}

asio::awaitable<bool> FtpClientSession::SendCommand(std::string text) {
  std::error_code ec;
  co_await AwaitWriteAll(*m_controlStream, asio::buffer(text), ec);
  if (m_ending) co_return false;
  if (ec) {
    SetStatus("Error writing to socket: " + Describe(ec));
    co_return false;
  }
  SetText(kColCommand, CommandColumnText(text));
  co_return true;
}

asio::awaitable<bool> FtpClientSession::ExpectReply(char digit) {
  co_return co_await AwaitReply(std::string_view(&digit, 1)) != '\0';
}

asio::awaitable<char> FtpClientSession::AwaitReply(std::string_view digits) {
  ReplyLimit limit;
  char digit = '\0';  // the reply's, once its first line begins with one of `digits`
  for (;;) {
    std::string line;
    std::string failure;
    ReadOutcome read = co_await ReadReplyLine(line, failure, limit.Deadline());
    if (read == ReadOutcome::Ended) co_return '\0';
    if (read == ReadOutcome::TooLong) {
      SetStatus(kReplyTooLong);
      co_return '\0';
    }
    if (read == ReadOutcome::Failed) {
      SetStatus("Error reading from socket: " + failure);
      co_return '\0';
    }
    SetStatus(line);
    if (digit == '\0' && !line.empty() && digits.find(line[0]) != std::string_view::npos) digit = line[0];
    switch (digit == '\0' ? ReplyStep::Refused : ClassifyReplyLine(digit, line)) {
      case ReplyStep::Refused:
        m_app.frontend.MessageBox(line);
        co_return '\0';
      case ReplyStep::Continue:
        if (!limit.Continue(Now())) {
          SetStatus(kReplyTooLong);
          co_return '\0';
        }
        continue;
      case ReplyStep::Accepted:
        m_lastReply = line;
        co_return digit;
    }
  }
}

asio::awaitable<FtpClientSession::ReadOutcome> FtpClientSession::ReadReplyLine(
    std::string& line, std::string& failure, std::optional<TimePoint> replyDeadline) {
  const TimePoint waitStart = Now();
  for (;;) {
    if (m_ending) co_return ReadOutcome::Ended;
    if (m_reader.NextLine(line)) co_return ReadOutcome::Line;
    if (m_reader.Overlong()) {
      failure = "Reply line too long";
      co_return ReadOutcome::Failed;
    }
    if (m_controlClosed) {
      // The end of input yields what came before it, when anything did.
      if (m_reader.TakeRest(line)) co_return ReadOutcome::Line;
      failure = Describe(m_controlError);
      co_return ReadOutcome::Failed;
    }
    TimePoint deadline = std::max(waitStart, m_lastControlByte) + kServerSilenceLimit;
    const TimePoint now = Now();
    if (replyDeadline && now >= *replyDeadline) co_return ReadOutcome::TooLong;
    if (now >= deadline) {
      failure = "Connection timed out";
      co_return ReadOutcome::Failed;
    }
    co_await WaitForChange(replyDeadline ? std::min(deadline, *replyDeadline) : deadline);
  }
}

asio::awaitable<void> FtpClientSession::Quit() {
  bool ok = co_await ExpectReply('2');
  if (!ok) co_return;
  m_finalReplyPositive = true;
  PlaceDownload();
  ok = co_await SendCommand("QUIT\r\n");
  if (ok) ok = co_await ExpectReply('2');
}

void FtpClientSession::Spawn(asio::awaitable<void> task) {
  ++m_nRunning;
  asio::co_spawn(m_worker.Executor(), std::move(task), m_worker.Bind([this](std::exception_ptr error) {
    // Nothing a session does may take the program down; a failure that escaped its checks ends it.
    if (error) {
      if (!m_ending) SetStatus("Error: the session failed unexpectedly");
      End();
    }
    if (--m_nRunning == 0) {
      End();
      m_ended();
    }
  }));
}

}  // namespace hx::ftpc
