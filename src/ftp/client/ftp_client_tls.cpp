// The FTP client session's TLS: the client context of the job's check, AUTH TLS, the handshakes of the
// control and the data connection, the pinned certificate, and PBSZ and PROT.
#include <fcntl.h>
#include <unistd.h>

#include <array>
#include <asio/redirect_error.hpp>
#include <asio/use_awaitable.hpp>
#include <utility>

#include "app/app_context.h"
#include "app/config_keys.h"
#include "app/frontend.h"
#include "app/tcp_stream.h"
#include "app/transfer_log.h"
#include "ftp/client/ftp_client_session.h"
#include "ftp/client/session_awaits.h"
#include "tls/certificate.h"
#include "tls/tls_context.h"
#include "tls/tls_stream.h"

namespace hx::ftpc {
namespace {

constexpr const char* kHandshakeFailed = "TLS handshake failed";
constexpr const char* kOnDataConnection = " on the data connection";

}  // namespace

bool FtpClientSession::MakeTlsContext() {
  if (m_job.tls == FtpClientJob::Tls::Off) return true;
  // A pinned certificate is compared after the handshake instead of being checked during it.
  const bool checkNothing = m_job.insecure || !m_job.fingerprint.empty();
  std::string error;
  m_tlsContext = tls::TlsContext::MakeClient(
      checkNothing ? tls::TlsContext::Check::None : tls::TlsContext::Check::TrustStore, error);
  if (!m_tlsContext) SetStatus("Unable to set up TLS: " + error);
  return m_tlsContext != nullptr;
}

asio::awaitable<bool> FtpClientSession::AuthTls() {
  bool ok = co_await SendCommand("AUTH TLS\r\n");
  if (ok) ok = co_await ExpectReply('2');
  if (!ok) co_return false;
  co_await StopReadingControl();
  if (m_ending) co_return false;
  ok = co_await SecureControl();
  if (ok) Spawn(ReadControl());
  co_return ok;
}

asio::awaitable<bool> FtpClientSession::SecureControl() {
  // Whatever came in clear text after AUTH TLS's reply was not said by the server the handshake proves, and
  // is dropped.
  m_reader = ReplyLineBuffer{};
  auto stream = std::make_unique<tls::TlsStream>(std::move(*m_controlStream->Socket()), m_tlsContext);
  stream->SetPeerName(m_job.host);
  tls::TlsStream& tlsStream = *stream;
  m_controlStream = std::move(stream);
  // The handshake runs beside this wait, which gives a server that does not answer it as long as a reply.
  m_controlHandshake.reset();
  Spawn(ShakeControlHands(tlsStream));
  const TimePoint deadline = Now() + kServerSilenceLimit;
  while (!m_controlHandshake && !m_ending && Now() < deadline) co_await WaitForChange(deadline);
  if (m_ending) co_return false;
  if (!m_controlHandshake) {
    ReportTlsFailure(std::string(kHandshakeFailed) + ": Connection timed out");
    co_return false;
  }
  if (!HandshakeSucceeded(tlsStream, *m_controlHandshake, "")) co_return false;
  m_controlTls = &tlsStream;
  m_app.log.OnLogLine(cfg::kSourceFtp,
                      "FTP: TLS established (" + tlsStream.Protocol() + ", " + tlsStream.Cipher() + ")");
  co_return true;
}

asio::awaitable<void> FtpClientSession::ShakeControlHands(tls::TlsStream& stream) {
  std::error_code ec;
  co_await AwaitHandshake(stream, ec);
  m_controlHandshake = ec;
  NotifyChange();
}

asio::awaitable<bool> FtpClientSession::ProtectData() {
  bool ok = co_await SendCommand("PBSZ 0\r\n");
  if (ok) ok = co_await ExpectReply('2');
  if (ok) ok = co_await SendCommand("PROT P\r\n");
  if (ok) ok = co_await ExpectReply('2');
  co_return ok;
}

asio::awaitable<bool> FtpClientSession::SecureData() {
  if (!m_controlTls) {
    m_dataStream = std::make_unique<TcpStream>(std::move(m_data));
    co_return true;
  }
  // The client shakes hands on an accepted connection too. The conversation's waits bound the handshake:
  // the server's part of it follows its reply to RETR or STOR.
  if (m_job.put) m_dataSpare = ::fcntl(m_data.native_handle(), F_DUPFD_CLOEXEC, 0);
  auto stream = std::make_unique<tls::TlsStream>(std::move(m_data), m_tlsContext);
  stream->SetPeerName(m_job.host);
  // Servers that tie the data connection to the logged-in client take only one that resumes the control
  // connection's session.
  stream->ResumeSessionOf(*m_controlTls);
  tls::TlsStream& tlsStream = *stream;
  m_dataStream = std::move(stream);
  std::error_code ec;
  co_await AwaitHandshake(tlsStream, ec);
  if (m_ending) co_return false;
  co_return HandshakeSucceeded(tlsStream, ec, kOnDataConnection);
}

// An upload over TLS ends with close_notify, then the connection's end, and only once the server has ended
// its side too does the client let the socket go: a server that still sends after its handshake (a session
// ticket) would otherwise meet a closed socket, and the reset that answers it can cost the server the file's
// last bytes and close_notify. The TLS stream closes its descriptor when it sends close_notify, so the
// session keeps a second descriptor of the same socket (m_dataSpare) for the rest, whose bytes are not read
// as TLS.
asio::awaitable<void> FtpClientSession::EndTlsUpload() {
  std::error_code ec;
  co_await AwaitWritable(*m_dataStream, ec);  // so that close_notify finds room
  if (m_ending) co_return;
  m_dataStream->Close();
  if (m_dataSpare < 0) co_return;
  m_data.assign(m_controlPeer.protocol(), std::exchange(m_dataSpare, -1), ec);
  if (!ec) m_data.shutdown(asio::ip::tcp::socket::shutdown_send, ec);
  std::array<char, 4096> discarded;
  // Bounded by the transfer's wait for the server, which ends the session when the server falls silent.
  while (!ec && !m_ending)
    co_await m_data.async_read_some(asio::buffer(discarded), asio::redirect_error(asio::use_awaitable, ec));
  std::error_code ignored;
  m_data.close(ignored);
}

bool FtpClientSession::HandshakeSucceeded(const tls::TlsStream& stream, const std::error_code& error,
                                          std::string_view where) {
  if (error) {
    ReportTlsFailure(kHandshakeFailed + std::string(where) + ": " + stream.FailureReason());
    return false;
  }
  if (m_job.fingerprint.empty()) return true;
  // Every connection is compared: a data connection that did not resume made a handshake of its own.
  const std::string expected = tls::ParseFingerprint(m_job.fingerprint).value_or(m_job.fingerprint);
  const std::string presented = stream.PeerFingerprint();
  if (presented == expected) return true;
  const std::string text = "The server's certificate " + (presented.empty() ? "(none)" : presented) +
                           " is not the expected " + expected;
  ReportTlsFailure(text);
  m_app.frontend.MessageBox(text);
  return false;
}

void FtpClientSession::ReportTlsFailure(const std::string& text) {
  SetStatus(text);
  m_app.log.OnLogLine(cfg::kSourceFtp, "FTP: " + text);
}

}  // namespace hx::ftpc
