// AUTH, PBSZ and PROT: TLS on the control connection and on the data connections, and what a server that
// requires TLS refuses in the clear.
#include <random>

#include "app/config_keys.h"
#include "app/config_store.h"
#include "app/text_util.h"
#include "app/worker_registry.h"
#include "ftp/server/control_session.h"
#include "ftp/server/replies.h"
#include "tls/server_tls.h"
#include "tls/tls_stream.h"

namespace hx::ftpd {
namespace {

// Names the sessions of one control connection apart from every other's: a data connection can resume
// only a session of its own control connection. It needs to be unique, not secret: a session cannot be
// resumed without its keys.
std::string MakeSessionTag() {
  static thread_local std::mt19937_64 random{std::random_device{}()};
  return std::to_string(random()) + "-" + std::to_string(random());
}

}  // namespace

int ControlSession::TlsLevel() const {
  return cfg::Read(m_context.config, cfg::kFTLS);
}

bool ControlSession::TlsOffered() const {
  return TlsLevel() != 0 && m_context.ftpTls && m_context.ftpTls->Context();
}

void ControlSession::DoAuth(std::string_view, std::string_view argument) {
  if (TransferRunning()) {
    SendReply(reply::kTransferBusy);
    return;
  }
  std::string_view mechanism = TrimBlanks(argument);
  // SSL is the old name of the same thing.
  if (!EqualsNoCase(mechanism, "TLS") && !EqualsNoCase(mechanism, "SSL")) {
    SendReply(reply::kAuthUnknown);
    return;
  }
  if (m_tlsState == TlsState::Secured) {
    SendReply(reply::kTlsAlreadyOn);
    return;
  }
  m_tlsContext = m_context.ftpTls ? m_context.ftpTls->Context() : nullptr;
  // A test's connection held in memory has no socket to encrypt.
  if (!m_tlsContext || !m_connection->Socket()) {
    SendReply(reply::kTlsUnavailable);
    return;
  }
  SendReply(reply::kAuthOk);
  m_tlsState = TlsState::Starting;
  if (!m_writePending && !m_writeFailed) BeginHandshake();
}

void ControlSession::BeginHandshake() {
  if (m_ending) return;
  if (!m_tlsContext) m_tlsContext = m_context.ftpTls ? m_context.ftpTls->Context() : nullptr;
  asio::ip::tcp::socket* socket = m_connection->Socket();
  if (!m_tlsContext || !socket) {
    HandshakeFailed(m_context.ftpTls && !m_context.ftpTls->Problem().empty() ? m_context.ftpTls->Problem()
                                                                             : "TLS is not available");
    return;
  }
  m_tlsState = TlsState::Handshaking;
  m_tlsTag = MakeSessionTag();
  auto stream = std::make_unique<tls::TlsStream>(std::move(*socket), m_tlsContext);
  stream->SetSessionTag(m_tlsTag);
  tls::TlsStream& secured = *stream;
  m_connection = std::move(stream);
  // What came in the clear after AUTH is no command of the encrypted session.
  m_reader = LineReader{};
  m_inputEnded = false;
  secured.Handshake(m_worker.Bind([this, &secured](std::error_code error) {
    if (m_ending) return;
    HandshakeDone(secured, error);
  }));
}

void ControlSession::HandshakeDone(tls::TlsStream& stream, std::error_code error) {
  if (error) {
    HandshakeFailed(stream.FailureReason().empty() ? error.message() : stream.FailureReason());
    return;
  }
  m_tlsState = TlsState::Secured;
  LogEntry("FTP: TLS established (" + stream.Protocol() + ", " + stream.Cipher() + ")");
  SetSessionText(kColType, "Ftps Srv");
  m_lastActivity = m_context.clock.Now();
  if (m_implicitTls) SendReply(reply::kBanner);
  ResumeProcessing();
}

void ControlSession::HandshakeFailed(const std::string& reason) {
  LogEntry("FTP: TLS handshake failed: " + reason);
  m_tlsState = TlsState::Clear;
  CloseTransfers();
  m_bConnected = false;
  m_writeFailed = true;  // nothing more goes out on a connection in an unknown state
  m_output.clear();
  EndSession();
}

void ControlSession::DoPbsz(std::string_view, std::string_view argument) {
  if (m_tlsState != TlsState::Secured) {
    SendReply(reply::kBadSequence);
    return;
  }
  if (TrimBlanks(argument).empty()) {
    SendReply(reply::kSyntaxError);
    return;
  }
  // A stream protocol has no buffer to size: whatever was asked for, the answer is 0.
  m_pbszDone = true;
  SendReply(reply::kPbszOk);
}

void ControlSession::DoProt(std::string_view, std::string_view argument) {
  if (!m_pbszDone) {
    SendReply(reply::kPbszFirst);
    return;
  }
  std::string_view level = TrimBlanks(argument);
  if (EqualsNoCase(level, "P") || EqualsNoCase(level, "C")) {
    m_protPrivate = EqualsNoCase(level, "P");
    SendReply(m_protPrivate ? reply::kProtPrivate : reply::kProtClear);
  } else if (EqualsNoCase(level, "S")) {
    SendReply(reply::kProtSafe);
  } else {
    SendReply(reply::kProtOther);
  }
}

bool ControlSession::RefusedByTls(CommandId id, std::string_view argument) {
  if (TlsLevel() != 2) return false;
  if (id == CommandId::User && m_tlsState != TlsState::Secured) {
    bool anonymousInClear = EqualsNoCase(TrimBlanks(argument), "anonymous") &&
                            cfg::Read(m_context.config, cfg::kFTLSAnonymousPlain) != 0;
    if (anonymousInClear) return false;
    SendReply(reply::kTlsRequired);
    LogEntry("FTP: Login refused without TLS");
    return true;
  }
  // The data commands are those that wait for a running transfer.
  bool dataCommand = kCommandTable[static_cast<size_t>(id)].waitsForTransfer;
  if (dataCommand && m_tlsState == TlsState::Secured && !m_protPrivate) {
    SendReply(reply::kDataMustBeEncrypted);
    return true;
  }
  return false;
}

std::optional<DataTls> ControlSession::DataConnectionTls() const {
  if (m_tlsState != TlsState::Secured || !m_protPrivate) return std::nullopt;
  return DataTls{.context = m_tlsContext,
                 .sessionTag = m_tlsTag,
                 .requireReuse = cfg::Read(m_context.config, cfg::kFTLSRequireReuse) != 0};
}

}  // namespace hx::ftpd
