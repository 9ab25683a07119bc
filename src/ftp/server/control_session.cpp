#include "ftp/server/control_session.h"

#include <asio/write.hpp>
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
#include "ftp/server/download.h"
#include "ftp/server/ftp_worker.h"
#include "ftp/server/listing_job.h"
#include "ftp/server/passive_listener.h"
#include "ftp/server/replies.h"
#include "ftp/server/upload.h"

namespace hx::ftpd {
namespace {

// Replies waiting beyond this hold up the next command: a client that sends without reading cannot make
// the session buffer without bound.
constexpr size_t kOutputBound = 64 * 1024;
// How long the last replies of an ending session may take to reach a client that does not read them.
constexpr std::chrono::seconds kEndGrace(5);

std::string_view FirstLine(std::string_view text) { return text.substr(0, text.find_first_of("\r\n")); }

}  // namespace

ControlSession::ControlSession(AppContext& context, FtpWorker& worker, asio::ip::tcp::socket socket, int sessionId)
    : m_context(context),
      m_worker(worker),
      m_socket(std::move(socket)),
      m_endTimer(worker.Executor()),
      m_idleTimer(worker.Executor()),
      m_loginPauseTimer(worker.Executor()),
      m_lastActivity(std::chrono::steady_clock::now()),
      m_nSessionId(sessionId) {
  m_strRootDir = cfg::Read(m_context.config, cfg::kFDLDir);
  std::replace(m_strRootDir.begin(), m_strRootDir.end(), '\\', '/');
  m_strCurDir = m_strRootDir;
}

ControlSession::~ControlSession() { Shutdown(); }

void ControlSession::Start() {
  std::error_code error;
  m_socket.non_blocking(true, error);
  // Every reply is written whole; the lines of a multi-line reply must not wait for acknowledgements.
  m_socket.set_option(asio::ip::tcp::no_delay(true), error);
  // Urgent data stays in the stream: a client that sends "ABOR\r\n" as urgent data would otherwise lose
  // the LF of its line (Linux keeps the last urgent byte apart), and the Telnet synch before an ABOR is
  // taken out by the line reader like every Telnet command.
  m_socket.set_option(asio::socket_base::out_of_band_inline(true), error);
  SendReply(reply::kBanner);
  asio::ip::tcp::endpoint peer = m_socket.remote_endpoint(error);
  if (!error) {
    m_peerAddress = Unmapped(peer.address());
    m_strPeerAddr = AddressText(m_peerAddress);
    m_nPeerPort = peer.port();
  }
  LogEntry("FTP: Connection from " + m_strPeerAddr);
  m_bConnected = true;
  SetSessionText(kColType, "Ftp Srv");
  SetSessionText(kColPeer, m_strPeerAddr);
  ArmIdleTimer();
  ProcessLines();
}

void ControlSession::Shutdown() {
  m_stopWork->store(true, std::memory_order_relaxed);
  m_statReader.reset();
  CloseTransfers();
  m_endTimer.cancel();
  m_idleTimer.cancel();
  m_loginPauseTimer.cancel();
  std::error_code ignored;
  if (m_socket.is_open()) m_socket.close(ignored);
  m_bConnected = false;
  m_ended = true;
  m_ending = true;
}

// ---- services -------------------------------------------------------------------------------------------

void ControlSession::SendReply(std::string_view text) {
  if (m_writeFailed || m_ended) return;
  // The row shows the reply before the client can have it.
  SetSessionText(kColStatus, FirstLine(text));
  QueueOutput(text);
  if (m_writeFailed) return;
  if (DebugOn()) DebugLine(ThreadPrefix() + " Status: " + std::string(FirstLine(text)));
}

void ControlSession::LogEntry(std::string_view text) {
  m_context.log.OnLogLine(cfg::kSourceFtp, text);
  if (DebugOn()) DebugLine(ThreadPrefix() + " Log entry: " + std::string(text));
}

void ControlSession::DebugLine(std::string_view text) { m_context.log.OnDebugLine(cfg::kSourceFtp, text); }

bool ControlSession::DebugOn() const {
  return (cfg::Read(m_context.config, cfg::kDebugging) & cfg::kSourceFtp) != 0;
}

void ControlSession::SetSessionText(int column, std::string_view text) {
  m_context.registry.SetSessionText(m_nSessionId, column, text);
}

std::string ControlSession::ThreadPrefix() { return "FTP: Thread " + std::to_string(CurrentThreadNumber()); }

void ControlSession::ShowMessage(const std::string& text) { m_context.frontend.MessageBox(text); }

int ControlSession::Quorin() const { return cfg::Read(m_context.config, cfg::kQuorin); }

std::chrono::seconds ControlSession::DataTimeout() const {
  return std::chrono::seconds(std::max(0, cfg::Read(m_context.config, cfg::kFDataTimeout)));
}

void ControlSession::TransferEnded() {
  m_pSendSocket.reset();
  m_pRecvSocket.reset();
  m_lastActivity = std::chrono::steady_clock::now();
}

void ControlSession::ListingEnded() {
  m_pListing.reset();
  m_lastActivity = std::chrono::steady_clock::now();
  ResumeProcessing();
}

// ---- idle limit -----------------------------------------------------------------------------------------

// One wait at a time, set for the limit after the last activity; commands only move that time, so a busy
// session does not touch the timer. The limit is read at every check, so a change applies to open sessions.
void ControlSession::ArmIdleTimer() {
  if (m_idleArmed || m_ending) return;
  int limit = cfg::Read(m_context.config, cfg::kFIdleTimeout);
  if (limit <= 0) return;
  auto now = std::chrono::steady_clock::now();
  auto deadline = TransferRunning() || m_blockingPending ? now + std::chrono::seconds(limit)
                                                         : m_lastActivity + std::chrono::seconds(limit);
  m_idleArmed = true;
  m_idleTimer.expires_at(std::max(deadline, now));
  m_idleTimer.async_wait(m_worker.Bind([this](std::error_code error) {
    m_idleArmed = false;
    if (!error) OnIdleTimer();
  }));
}

void ControlSession::OnIdleTimer() {
  if (m_ending) return;
  int limit = cfg::Read(m_context.config, cfg::kFIdleTimeout);
  if (limit <= 0) return;
  if (TransferRunning() || m_blockingPending ||
      std::chrono::steady_clock::now() < m_lastActivity + std::chrono::seconds(limit)) {
    ArmIdleTimer();
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
  return !m_ending && !m_pListing && !m_loginPause && !m_blockingPending && !m_statReader &&
         m_output.size() + m_writing.size() < kOutputBound;
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
  m_socket.async_read_some(asio::buffer(m_readBuffer), m_worker.Bind([this](std::error_code error, size_t count) {
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
      if (m_loginPause) return;  // a refused login's reply and entry come first; the pause resumes here
      ClientClosed();
      return;
    }
  }
}

void ControlSession::HandleLine(const std::string& line) {
  m_lastActivity = std::chrono::steady_clock::now();
  ArmIdleTimer();
  // A password goes neither to the trace nor to the row.
  if (DebugOn()) DebugLine(ThreadPrefix() + " Command Received: " + HidePassword(line));
  if (line.empty()) return;
  std::string_view command = ApplyAborRule(line);
  int number = LookupCommand(line);
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
    size_t written = m_socket.write_some(asio::buffer(text.data(), text.size()), error);
    if (error == asio::error::would_block || error == asio::error::try_again) {
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
  asio::async_write(m_socket, asio::buffer(m_writing), m_worker.Bind([this](std::error_code error, size_t) {
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
  if (!m_writePending) {
    FinishEnd();
    return;
  }
  m_endTimer.expires_after(kEndGrace);
  m_endTimer.async_wait(m_worker.Bind([this](std::error_code error) {
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
  if (m_pSendSocket) m_pSendSocket->Close();
  if (m_pRecvSocket) m_pRecvSocket->Close();
  if (m_pListing) m_pListing->Close();
  m_pSendSocket.reset();
  m_pRecvSocket.reset();
  m_pListing.reset();
}

}  // namespace hx::ftpd
