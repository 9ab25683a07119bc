#include "ftp/server/control_session.h"

#include <algorithm>
#include <chrono>

#include "app/address_text.h"
#include "app/config_keys.h"
#include "app/config_store.h"
#include "app/frontend.h"
#include "app/shown_text.h"
#include "app/socket_error_text.h"
#include "app/transfer_log.h"
#include "app/worker.h"
#include "app/worker_registry.h"
#include "ftp/server/command_table.h"
#include "ftp/server/data_transfer.h"
#include "ftp/server/ftp_worker.h"
#include "ftp/server/passive_listener.h"
#include "ftp/server/replies.h"

namespace hx::ftpd {
namespace {

// Replies waiting beyond this hold up the next command: a client that sends without reading cannot make
// the session buffer without bound.
constexpr size_t kOutputBound = 64 * 1024;
// How long the last replies of an ending session may take to reach a client that does not read them.
constexpr std::chrono::seconds kEndGrace(5);

std::string_view FirstLine(std::string_view text) {
  return text.substr(0, text.find_first_of("\r\n"));
}

}  // namespace

ControlSession::ControlSession(AppContext& context, FtpWorker& worker, std::unique_ptr<ByteStream> connection,
                               StreamEnds ends, int sessionId)
    : m_context(context),
      m_worker(worker),
      m_connection(std::move(connection)),
      m_ends(ends),
      m_endTimer(context.clock.MakeTimer(worker.Executor())),
      m_idleTimer(context.clock.MakeTimer(worker.Executor())),
      m_loginPauseTimer(context.clock.MakeTimer(worker.Executor())),
      m_lastActivity(context.clock.Now()),
      m_nSessionId(sessionId) {
  m_strRootDir = cfg::Read(m_context.config, cfg::kFDLDir);
  std::replace(m_strRootDir.begin(), m_strRootDir.end(), '\\', '/');
  m_strCurDir = m_strRootDir;
}

ControlSession::~ControlSession() {
  Shutdown();
}

void ControlSession::Start(bool implicitTls) {
  m_implicitTls = implicitTls;
  if (!implicitTls) SendReply(reply::kBanner);
  if (m_ends.peer) {
    m_peerAddress = Unmapped(m_ends.peer->address());
    m_strPeerAddr = AddressText(m_peerAddress);
    m_nPeerPort = m_ends.peer->port();
  }
  LogEntry("FTP: Connection from " + m_strPeerAddr);
  m_bConnected = true;
  OfferActions();
  SetSessionText(kColType, "Ftp Srv");
  SetSessionText(kColPeer, PeerText());
  ArmIdleTimer();
  if (implicitTls) {
    // The data connections are encrypted from the start as well.
    m_pbszDone = true;
    m_protPrivate = true;
    BeginHandshake();
    return;
  }
  ProcessLines();
}

void ControlSession::Shutdown() {
  m_stopWork->store(true, std::memory_order_relaxed);
  m_statReader.reset();
  CloseTransfers();
  m_endTimer->Cancel();
  m_idleTimer->Cancel();
  m_loginPauseTimer->Cancel();
  if (m_connection->IsOpen()) m_connection->Close();
  m_bConnected = false;
  m_ended = true;
  m_ending = true;
}

// ---- services -------------------------------------------------------------------------------------------

void ControlSession::SendReply(std::string_view text, bool showStatus) {
  if (m_writeFailed || m_ended) return;
  m_outcome.Note(m_replyCommand, text);
  // The row shows the reply before the client can have it.
  if (showStatus) SetSessionText(kColStatus, FirstLine(text));
  QueueOutput(text);
  if (m_writeFailed) return;
  if (DebugOn()) DebugLine(ThreadPrefix() + " Status: " + std::string(FirstLine(text)));
}

void ControlSession::LogEntry(std::string_view text) {
  m_context.log.OnLogLine(cfg::kSourceFtp, text);
  if (DebugOn()) DebugLine(ThreadPrefix() + " Log entry: " + std::string(text));
}

void ControlSession::DebugLine(std::string_view text) {
  m_context.log.OnDebugLine(cfg::kSourceFtp, text);
}

bool ControlSession::DebugOn() const {
  return (cfg::Read(m_context.config, cfg::kDebugging) & cfg::kSourceFtp) != 0;
}

void ControlSession::SetSessionText(int column, std::string_view text) {
  m_context.registry.SetSessionText(m_nSessionId, column, text);
}

void ControlSession::ShowTransferFile(std::string_view requested, std::string_view path) {
  SetSessionText(kColOutcome, "");
  SetSessionText(kColFile, requested);
  SetSessionText(kColPath, path);
}

std::string ControlSession::ThreadPrefix() {
  return "FTP: Thread " + std::to_string(CurrentThreadNumber());
}

void ControlSession::Debug(std::string_view text) {
  DebugLine(ThreadPrefix() + " " + std::string(text));
}

void ControlSession::Progress(std::uint64_t bytes) {
  SetSessionText(kColBytes, std::to_string(bytes));
}

void ControlSession::Notice(const std::string& text) {
  m_context.frontend.MessageBox(text);
}

std::chrono::seconds ControlSession::DataTimeout() const {
  return std::chrono::seconds(std::max(0, cfg::Read(m_context.config, cfg::kFDataTimeout)));
}

TransferSettings ControlSession::CurrentTransferSettings() const {
  return {.quorin = cfg::Read(m_context.config, cfg::kQuorin),
          .dataTimeout = DataTimeout(),
          .tls = DataConnectionTls()};
}

void ControlSession::StartTransfer(std::unique_ptr<DataTransfer> transfer,
                                   std::unique_ptr<DataOpener> opener) {
  std::erase_if(m_endedTransfers, [](const auto& ended) { return ended->Idle(); });
  if (transfer->Connect(std::move(opener))) m_transfer = std::move(transfer);
  OfferActions();
}

void ControlSession::Ended(DataTransfer& transfer) {
  // The row's transfer ends here, when its data connection has, not at its reply (an early 226).
  if (std::optional<bool> succeeded = transfer.Succeeded())
    SetSessionText(kColOutcome, *succeeded ? kOutcomeSucceeded : kOutcomeFailed);
  if (m_transfer.get() == &transfer) m_endedTransfers.push_back(std::move(m_transfer));
  OfferActions();
  m_lastActivity = m_context.clock.Now();
  ResumeProcessing();
}

// ---- idle limit -----------------------------------------------------------------------------------------

// One wait at a time, set for the limit after the last activity; commands only move that time, so a busy
// session does not touch the timer. The limit is read at every check, so a change applies to open sessions.
void ControlSession::ArmIdleTimer() {
  if (m_idleArmed || m_ending) return;
  int limit = cfg::Read(m_context.config, cfg::kFIdleTimeout);
  if (limit <= 0) return;
  Clock::TimePoint now = m_context.clock.Now();
  Clock::TimePoint deadline = TransferRunning() || m_blockingPending
                                  ? now + std::chrono::seconds(limit)
                                  : m_lastActivity + std::chrono::seconds(limit);
  m_idleArmed = true;
  m_idleTimer->ExpiresAt(std::max(deadline, now));
  m_idleTimer->AsyncWait(m_worker.Bind([this](std::error_code error) {
    m_idleArmed = false;
    if (!error) OnIdleTimer();
  }));
}

void ControlSession::OnIdleTimer() {
  if (m_ending) return;
  int limit = cfg::Read(m_context.config, cfg::kFIdleTimeout);
  if (limit <= 0) return;
  if (TransferRunning() || m_blockingPending ||
      m_context.clock.Now() < m_lastActivity + std::chrono::seconds(limit)) {
    ArmIdleTimer();
    return;
  }
  if (m_tlsState == TlsState::Handshaking) {
    HandshakeFailed("no handshake within " + std::to_string(limit) + " seconds");
    return;
  }
  SendReply(reply::kIdleTimeout);
  CloseTransfers();
  m_bConnected = false;
  LogEntry("FTP: Connection closed after " + std::to_string(limit) + " seconds without a command");
  EndSession();
}

// ---- reading and dispatch -------------------------------------------------------------------------------

bool ControlSession::CanProcess() const {
  bool tlsStarting = m_tlsState == TlsState::Starting || m_tlsState == TlsState::Handshaking;
  return !m_ending && !tlsStarting && !(m_transfer && m_transfer->HoldsCommands()) && !m_loginPause &&
         !m_blockingPending && !m_statReader && m_output.size() + m_writing.size() < kOutputBound;
}

void ControlSession::ResumeProcessing() {
  if (m_processPosted || m_ending) return;
  m_processPosted = true;
  m_worker.Post([this] {
    m_processPosted = false;
    ProcessLines();
  });
}

void ControlSession::ReadMore() {
  if (m_readPending || m_inputEnded || m_ending) return;
  m_readPending = true;
  m_connection->ReadSome(asio::buffer(m_readBuffer),
                         m_worker.Bind([this](std::error_code error, size_t count) {
                           m_readPending = false;
                           if (error == asio::error::operation_aborted || m_ending) return;
                           if (error)
                             m_inputEnded = true;
                           else
                             m_reader.Append(std::string_view(m_readBuffer.data(), count));
                           ProcessLines();
                         }));
}

void ControlSession::ProcessLines() {
  if (m_statReader) {
    if (!m_blockingPending && !m_ending && m_output.size() + m_writing.size() < kOutputBound) ContinueStat();
    return;
  }
  while (CanProcess()) {
    LineReader::Event event = m_reader.Next();
    if (event.kind == LineReader::Kind::Line) {
      HandleLine(event.text);
    } else if (event.kind == LineReader::Kind::TooLong) {
      SendReply(reply::kLineTooLong);
    } else if (!m_inputEnded) {
      ReadMore();
      return;
    } else {
      std::string rest;
      if (m_reader.Finish(rest)) HandleLine(rest);
      // A refused login's reply and entry, and the answer of work on the pool, come first; the end of the
      // pause or of the work resumes here.
      if (m_loginPause || m_blockingPending) return;
      ClientClosed();
      return;
    }
  }
}

void ControlSession::HandleLine(const std::string& line) {
  m_lastActivity = m_context.clock.Now();
  ArmIdleTimer();
  // A password goes neither to the trace nor to the row.
  if (DebugOn()) DebugLine(ThreadPrefix() + " Command Received: " + HidePassword(line));
  if (line.empty()) return;
  std::string_view command = ApplyAborRule(line);
  int number = LookupCommand(line);
  if (IsTlsCommand(number) && TlsLevel() == 0) number = kUnknownCommand;
  m_replyCommand = number;
  SetSessionText(kColCommand, HidePassword(command));
  if (!GateAdmits(m_bNeedUser, m_bNeedPass, number)) {
    SendReply(reply::kNotLoggedIn);
    return;
  }
  if (number == kUnknownCommand) {
    DoNotImplemented(line, {});
    return;
  }
  const CommandRow& row = kCommandTable[static_cast<size_t>(number)];
  if (row.waitsForTransfer && TransferRunning()) {
    SendReply(reply::kTransferBusy);
    return;
  }
  if (row.right != kNoRight && GetRight(row.right) == 0) {
    SendReply(row.refusal);
    return;
  }
  std::string_view argument = CommandArgument(command, number);
  if (RefusedByTls(row.id, argument)) return;
  if (row.id == CommandId::Pass && HeldBackAsGuessing(line)) return;
  if (UsesServedFolder(row.id, argument) && !ServedFolderPresent()) return;
  (this->*row.handler)(line, argument);
  if (number == static_cast<int>(CommandId::User)) {
    m_bNeedUser = false;
    m_bNeedPass = true;
  } else if (number == static_cast<int>(CommandId::Pass)) {
    m_bNeedPass = false;
  }
}

// ---- output ---------------------------------------------------------------------------------------------

void ControlSession::QueueOutput(std::string_view text) {
  if (!m_writePending && m_output.empty()) {
    // The common case: the reply fits into the socket's buffer and is on its way before the next line.
    std::error_code error;
    size_t written = m_connection->WriteNow(asio::buffer(text.data(), text.size()), error);
    if (error == asio::error::would_block) {
      written = 0;
    } else if (error) {
      WriteFailed(error);
      return;
    }
    if (written == text.size()) return;
    text.remove_prefix(written);
  }
  m_output.append(text);
  if (!m_writePending) StartWrite();
}

void ControlSession::StartWrite() {
  m_writePending = true;
  m_writing.swap(m_output);
  m_output.clear();
  m_written = 0;
  WriteRest();
}

void ControlSession::WriteRest() {
  asio::const_buffer rest(m_writing.data() + m_written, m_writing.size() - m_written);
  m_connection->WriteSome(rest, m_worker.Bind([this](std::error_code error, size_t count) {
    m_written += count;
    if (!error && m_written < m_writing.size() && !m_ended) {
      WriteRest();
      return;
    }
    m_writePending = false;
    m_writing.clear();
    if (error == asio::error::operation_aborted || m_ended) return;
    if (error) {
      WriteFailed(error);
      return;
    }
    if (!m_output.empty()) {
      StartWrite();
    } else if (m_ending) {
      FinishEnd();
    } else if (m_tlsState == TlsState::Starting) {
      BeginHandshake();
    } else {
      ResumeProcessing();
    }
  }));
}

void ControlSession::WriteFailed(const std::error_code& error) {
  if (m_writeFailed) return;
  m_writeFailed = true;
  m_output.clear();
  SetSessionText(kColStatus, "Error writing to socket: " + SocketErrorText(error));
  // The handler that was replying finishes first; then the session ends.
  m_ending = true;
  m_worker.Post([this] { FinishEnd(); });
}

// ---- ending ---------------------------------------------------------------------------------------------

void ControlSession::ClientClosed() {
  if (m_ending) return;
  CloseTransfers();
  m_bConnected = false;
  LogEntry("FTP: Connection closed");
  EndSession();
}

void ControlSession::EndSession() {
  m_ending = true;
  OfferActions();
  if (!m_writePending) {
    FinishEnd();
    return;
  }
  m_endTimer->ExpiresAfter(kEndGrace);
  m_endTimer->AsyncWait(m_worker.Bind([this](std::error_code error) {
    if (!error) FinishEnd();
  }));
}

void ControlSession::FinishEnd() {
  if (m_ended) return;
  Shutdown();
  m_worker.SessionEnded();
}

void ControlSession::CloseTransfers() {
  ClosePassive();
  if (!m_transfer) return;
  m_transfer->Close();
  m_endedTransfers.push_back(std::move(m_transfer));
  OfferActions();
}

// ---- the operator's actions -----------------------------------------------------------------------------

void ControlSession::OfferActions() {
  if (m_ending) {
    m_worker.Offer(0);
    return;
  }
  m_worker.Offer(kOffersDisconnect | (m_transfer ? kOffersCancel : 0));
}

std::string ControlSession::PeerText() const {
  return HostPortShown(m_strPeerAddr, m_nPeerPort);
}

void ControlSession::CancelTransfer() {
  if (m_ending || !m_transfer) return;
  // A download that answered at its start under Quorin has had its final reply; a second one would be
  // taken for the answer to the client's next command.
  bool answered = m_transfer->FinalReplySent();
  m_transfer->Close();
  m_endedTransfers.push_back(std::move(m_transfer));
  OfferActions();
  m_outcome.NoteTransferReply(reply::kCancelledByOperator);
  if (answered)
    SetSessionText(kColStatus, FirstLine(reply::kCancelledByOperator));
  else
    SendReply(reply::kCancelledByOperator);
  LogEntry("FTP: Transfer with " + PeerText() + " cancelled by the operator");
  m_lastActivity = m_context.clock.Now();
  // A listing held the commands back.
  ResumeProcessing();
}

void ControlSession::Disconnect() {
  if (m_ending) return;
  CloseTransfers();
  // While TLS is being set up on the control connection, nothing more can be said in the clear.
  if (m_tlsState == TlsState::Starting || m_tlsState == TlsState::Handshaking)
    SetSessionText(kColStatus, FirstLine(reply::kDisconnectedByOperator));
  else
    SendReply(reply::kDisconnectedByOperator);
  m_bConnected = false;
  LogEntry("FTP: Connection with " + PeerText() + " closed by the operator");
  EndSession();
}

}  // namespace hx::ftpd
