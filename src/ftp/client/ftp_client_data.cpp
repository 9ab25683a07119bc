// The FTP client session's side work: the one reader of the control connection, the data connection with its
// two engines, and the waits of the conversation on either.
#include <algorithm>
#include <asio/redirect_error.hpp>
#include <asio/use_awaitable.hpp>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <memory>

#include "app/address_text.h"
#include "app/app_context.h"
#include "app/clock.h"
#include "app/config_keys.h"
#include "app/config_store.h"
#include "app/session_table.h"
#include "app/transfer_log.h"
#include "app/worker.h"
#include "app/worker_registry.h"
#include "ftp/client/ftp_client_session.h"
#include "ftp/client/session_awaits.h"

namespace hx::ftpc {
namespace {

// Updates of the Bytes column during an upload: at every multiple of this, and at the last chunk.
constexpr std::uint64_t kPutBytesStep = 5120;

bool IsNegativeReply(const std::string& line) {
  return !line.empty() && (line[0] == '4' || line[0] == '5');
}

}  // namespace

FtpClientSession::TimePoint FtpClientSession::Now() const {
  return m_app.clock.Now();
}

int FtpClientSession::DebugMask() const {
  return cfg::Read(m_app.config, cfg::kDebugging);
}

void FtpClientSession::NotifyChange() {
  for (auto* waiter : m_waiters) waiter->Cancel();
}

asio::awaitable<void> FtpClientSession::WaitForChange(TimePoint deadline) {
  std::unique_ptr<ClockTimer> timer = m_app.clock.MakeTimer(m_worker.Executor());
  timer->ExpiresAt(deadline);
  m_waiters.push_back(timer.get());
  struct Unregister {
    std::vector<ClockTimer*>& waiters;
    ClockTimer* timer;
    ~Unregister() { std::erase(waiters, timer); }
  } unregister{m_waiters, timer.get()};
  co_await AwaitTimer(*timer);
}

asio::awaitable<void> FtpClientSession::ReadControl() {
  m_readingControl = true;
  struct Stopped {
    FtpClientSession& session;
    ~Stopped() {
      session.m_readingControl = false;
      session.NotifyChange();
    }
  } stopped{*this};
  std::array<char, 4096> buffer;
  for (;;) {
    std::error_code ec;
    size_t n = co_await AwaitRead(*m_controlStream, asio::buffer(buffer), ec);
    if (m_ending || m_stopReading) co_return;
    if (n > 0) {
      m_reader.Append(std::string_view(buffer.data(), n));
      m_lastControlByte = Now();
    }
    if (ec) {
      m_controlClosed = true;
      m_controlError = ec;
    }
    NotifyChange();
    // A line that never ends is not read further; the waiting read reports it.
    if (ec || m_reader.Overlong()) co_return;
  }
}

asio::awaitable<void> FtpClientSession::StopReadingControl() {
  m_stopReading = true;
  m_controlStream->Cancel();
  while (m_readingControl && !m_ending) co_await WaitForChange(Now() + kServerSilenceLimit);
  m_stopReading = false;
}

asio::awaitable<void> FtpClientSession::AcceptData() {
  for (;;) {
    asio::ip::tcp::socket candidate(m_worker.Executor());
    std::error_code ec;
    co_await m_listener.async_accept(candidate, asio::redirect_error(asio::use_awaitable, ec));
    if (m_ending || ec == asio::error::operation_aborted) co_return;
    if (ec) continue;  // a connection that went away before it was taken
    // Only the server we talk to may connect: anybody else could inject or read the file.
    auto peer = candidate.remote_endpoint(ec);
    if (ec || Unmapped(peer.address()) != Unmapped(m_controlPeer.address())) {
      candidate.close(ec);
      continue;
    }
    m_data = std::move(candidate);
    m_listener.close(ec);  // one connection only; later ones are refused
    co_await MoveData();
    co_return;
  }
}

asio::awaitable<void> FtpClientSession::MoveData() {
  // (The await stands on a line of its own: the compiler mishandles one inside a condition.)
  const bool secured = co_await SecureData();
  if (!secured) {
    End();
    co_return;
  }
  m_dataAccepted = true;
  m_lastDataByte = Now();
  NotifyChange();
  if (m_job.put) {
    // A server may connect as soon as it has the PORT; it takes data only once it has said yes to STOR.
    while (!m_transferAccepted && !m_ending) co_await WaitForChange(Now() + std::chrono::hours(1));
    if (m_ending) co_return;
    co_await SendFile();
  } else {
    co_await ReceiveFile();
  }
  if (m_ending) co_return;
  m_dataDone = true;
  NotifyChange();
}

void FtpClientSession::CloseData() {
  std::error_code ignored;
  if (auto* socket = m_dataStream->Socket()) socket->shutdown(asio::ip::tcp::socket::shutdown_both, ignored);
  m_dataStream->Close();
}

asio::awaitable<void> FtpClientSession::ReceiveFile() {
  const bool debug = (DebugMask() & cfg::kSourceFtp) != 0;
  m_received.resize(kReceiveBuffer);
  bool complete = false;
  bool failed = false;
  while (!failed) {
    std::error_code ec;
    size_t n = co_await AwaitRead(*m_dataStream, asio::buffer(m_received), ec);
    if (m_ending) co_return;
    if (ec) {
      // The server closes the data connection when the file is complete; anything else cut it short.
      complete = ec == asio::error::eof;
      break;
    }
    m_lastDataByte = Now();
    // Each chunk is one receive of the engine: written, counted and shown before the next.
    for (size_t offset = 0; offset < n; offset += kDataChunk) {
      size_t chunk = std::min(kDataChunk, n - offset);
      const char* bytes = m_received.data() + offset;
      if (!(m_download.IsOpen() ? m_download.Write(bytes, chunk) : m_file.Write(bytes, chunk))) {
        m_localError = std::string("Error writing local file: ") + std::strerror(errno);
        failed = true;
        break;
      }
      m_nTotal += chunk;
      SetText(kColBytes, std::to_string(m_nTotal));
      if (debug) {
        m_app.log.OnDebugLine(cfg::kSourceFtp, "FTP: Thread " + std::to_string(m_nThreadNumber) +
                                                   " Received " + std::to_string(chunk) +
                                                   " bytes, total bytes " + std::to_string(m_nTotal));
      }
    }
  }
  // A file written directly is done; a download waits for the server's final word to be put in place.
  if (!m_download.IsOpen()) m_file.Close();
  CloseData();
  m_dataComplete = complete;
}

asio::awaitable<void> FtpClientSession::SendFile() {
  size_t chunk = 0;
  bool lastSent = false;
  bool complete = false;
  // One chunk per round, as a write-ready notification would drive it: count the chunk just sent, show the
  // total, then read and send the next; a chunk shorter than kDataChunk (an empty one included) is the last.
  for (;;) {
    m_nTotal += chunk;
    if (m_nTotal % kPutBytesStep == 0 || lastSent) SetText(kColBytes, std::to_string(m_nTotal));
    if (DebugMask() & cfg::kSourceFtp) {
      m_app.log.OnDebugLine(cfg::kSourceFtp, "FTP: Thread " + std::to_string(m_nThreadNumber) + " Sent " +
                                                 std::to_string(chunk) + " bytes, total bytes " +
                                                 std::to_string(m_nTotal));
    }
    if (lastSent) {
      complete = true;
      break;
    }
    long n = m_file.Read(m_chunk.data(), m_chunk.size());
    if (n < 0) {
      m_localError = std::string("Error reading local file: ") + std::strerror(errno);
      break;
    }
    chunk = static_cast<size_t>(n);
    std::error_code ec;
    co_await AwaitWriteAll(*m_dataStream, asio::buffer(m_chunk.data(), chunk), ec);
    if (m_ending) co_return;
    if (ec) break;  // the server closed the data connection: the upload ends with what it took
    m_lastDataByte = Now();
    lastSent = chunk < kDataChunk;
  }
  std::error_code ec;
  std::string path = std::filesystem::absolute(m_job.localName, ec).string();
  std::string entry = "File " + path + " Bytes transferred: " + std::to_string(m_nTotal);
  m_app.log.OnLogLine(cfg::kSourceFtp, entry);
  if (DebugMask() & cfg::kSourceFtp) {
    m_app.log.OnDebugLine(cfg::kSourceFtp,
                          "FTP: Thread " + std::to_string(m_nThreadNumber) + " Log entry: " + entry);
  }
  m_file.Close();
  if (m_controlTls && complete)
    co_await EndTlsUpload();
  else
    CloseData();
  if (m_ending) co_return;
  m_dataComplete = complete;
}

asio::awaitable<FtpClientSession::TransferOutcome> FtpClientSession::WaitForTransfer() {
  const TimePoint since = Now();
  for (;;) {
    if (m_ending) co_return TransferOutcome::Ended;
    if (m_dataDone) co_return TransferOutcome::DataDone;
    std::string line;
    // A refusal before the server ever connected (say, 425) is its final word on the transfer.
    if (!m_dataAccepted && m_reader.PeekLine(line) && IsNegativeReply(line))
      co_return TransferOutcome::ReplyFirst;
    if (m_reader.Overlong()) {
      SetStatus("Error reading from socket: Reply line too long");
      co_return TransferOutcome::Failed;
    }
    if (m_controlClosed) {
      // With the control connection gone the server can no longer confirm anything: the transfer ends now
      // and releases the file, unless a reply already arrived to be read.
      if (!m_reader.HasLine()) {
        SetStatus("Error reading from socket: " + Describe(m_controlError));
        co_return TransferOutcome::Failed;
      }
      if (!m_dataAccepted) co_return TransferOutcome::ReplyFirst;
    }
    TimePoint deadline = std::max({since, m_lastControlByte, m_lastDataByte}) + kServerSilenceLimit;
    if (Now() >= deadline) {
      SetStatus("Error reading from socket: Connection timed out");
      co_return TransferOutcome::Failed;
    }
    co_await WaitForChange(deadline);
  }
}

}  // namespace hx::ftpc
