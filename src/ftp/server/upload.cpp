#include "ftp/server/upload.h"

#include <sys/stat.h>

#include <asio/post.hpp>
#include <cerrno>

#include "app/session_table.h"
#include "app/socket_error_text.h"
#include "ftp/server/control_session.h"
#include "ftp/server/data_connection.h"
#include "ftp/server/replies.h"

namespace hx::ftpd {

Upload::Upload(ControlSession& session, BlockingPool& pool, Worker& worker, asio::ip::tcp::socket socket,
               UploadFile target)
    : m_session(session),
      m_pool(pool),
      m_worker(worker),
      m_socket(std::move(socket)),
      m_target(std::move(target)),
      m_file(m_target.file),
      m_nTotal(m_target.position),
      m_stallTimer(m_socket.get_executor(), session.DataTimeout()) {
  // Read once per upload; a download reads it before every chunk.
  m_nDebug = m_session.DebugOn() ? 2 : 0;
}

void Upload::Connect(std::unique_ptr<DataOpener> opener) {
  m_opener = std::move(opener);
  std::error_code error;
  if (!m_opener->Start(m_socket, error,
                       [self = shared_from_this()](std::error_code e) { self->OnConnect(e); }))
    asio::post(m_socket.get_executor(), [self = shared_from_this(), error] { self->OnConnect(error); });
  WatchForStall();
}

void Upload::ConvertLineEnds() {
  m_decoder.emplace(LineEndRules::Ftp);
}

void Upload::WatchForStall() {
  m_stallTimer.Watch(shared_from_this(), [this] {
    if (m_ended) return;
    // No connection came within the limit: that is a connection that could not be opened.
    if (!m_connected) {
      m_opener->Cancel();  // closed before the reply, so that nobody connects after it
      OnConnect(asio::error::timed_out);
      return;
    }
    m_session.LogEntry("FTP: No data moved for " + std::to_string(m_stallTimer.Limit().count()) + " seconds");
    EndReceive(true);
  });
}

void Upload::Abort() {
  if (!m_ended) EndReceive(true);
}

void Upload::Close() {
  m_ended = true;
  m_committing = false;
  if (m_opener) m_opener->Cancel();
  m_stallTimer.Cancel();
  std::error_code ignored;
  m_socket.close(ignored);
  m_replacement.Discard();
  m_file.Close();
}

void Upload::OnConnect(std::error_code error) {
  if (m_ended || error == asio::error::operation_aborted) return;
  if (ConnectedThenReset(error)) {
    EndReceive(true);
    return;
  }
  if (error) {
    m_session.LogEntry("Connect Failure: " + SocketErrorText(error));
    m_session.SendReply(reply::kCantOpenData);
    m_session.LogEntry("FTP: Transfer was aborted");
    Close();
    m_session.TransferEnded();
    return;
  }
  m_connected = true;
  if (const char* refusal = PrepareFile()) {
    m_session.SendReply(refusal);
    m_session.LogEntry("FTP: Transfer was aborted");
    Close();
    m_session.TransferEnded();
    return;
  }
  // Binary data goes from the socket to the file without a copy of the program's own; the buffer remains
  // for type A and for a socket whose pipe was refused (out of descriptors).
  std::error_code ignored;
  if (!m_decoder && m_pipe.Open(kReceive))
    m_socket.native_non_blocking(true, ignored);
  else
    m_buffer.resize(kReceive);
  Receive();
}

const char* Upload::PrepareFile() {
  int error = 0;
  if (!m_file.IsOpen()) {
    // A file missing at the command is created only while it is still missing: a session without the
    // Overwrite right never writes over a file that appeared since (another session's upload, say).
    m_file = m_target.files->OpenShared(m_target.shares, m_target.path, FileAccess::Write,
                                        ShareMode::Exclusive, Disposition::CreateNew, error);
    bool created = m_file.IsOpen();
    if (!created && error == EEXIST) {
      if (!m_target.mayOverwrite) return reply::kNoOverwriteRight;
      m_file = m_target.files->OpenShared(m_target.shares, m_target.path, FileAccess::Write,
                                          ShareMode::Exclusive, Disposition::OpenExisting, error);
      if (m_target.append) m_target.position = m_file.IsOpen() ? m_file.Size() : 0;
    }
    if (!m_file.IsOpen()) return reply::kFileUnavailable;
    if (created) m_target.replace = false;  // a file of its own is written in place
  }
  if (m_target.replace) {
    struct stat st {};
    if (::fstat(m_file.NativeHandle(), &st) == 0)
      m_replacement = DownloadFile::Create(*m_target.files, m_target.path, &st, error);
    return m_replacement.IsOpen() ? nullptr : reply::kFileUnavailable;
  }
  return m_file.Seek(m_target.position) ? nullptr : reply::kFileUnavailable;
}

int Upload::TargetHandle() const {
  return m_replacement.IsOpen() ? m_replacement.NativeHandle() : m_file.NativeHandle();
}

bool Upload::WriteTarget(const void* data, size_t size) {
  return m_replacement.IsOpen() ? m_replacement.Write(data, size) : m_file.Write(data, size);
}

void Upload::Receive() {
  if (m_pipe.IsOpen()) {
    m_socket.async_wait(asio::ip::tcp::socket::wait_read,
                        [self = shared_from_this()](std::error_code error) { self->OnReadable(error); });
    return;
  }
  m_socket.async_read_some(
      asio::buffer(m_buffer),
      [self = shared_from_this()](std::error_code error, size_t count) { self->OnReceived(error, count); });
}

void Upload::OnReceived(std::error_code error, size_t count) {
  if (m_ended) return;
  if (error == asio::error::eof) {
    EndReceive(!WriteHeldCr());
    return;
  }
  std::uint64_t before = m_nTotal;
  if (error || !WriteReceived(count)) {
    EndReceive(true);
    return;
  }
  Received(m_nTotal - before);
}

void Upload::OnReadable(std::error_code error) {
  if (m_ended) return;
  int moveError = 0;
  long count = error ? -1 : m_pipe.Move(m_socket.native_handle(), TargetHandle(), kReceive, moveError);
  if (count < 0 && !error && moveError == EAGAIN) {
    Receive();
    return;
  }
  if (count <= 0) {
    // The end of the data (0), or a failure of the connection or the file.
    EndReceive(count < 0);
    return;
  }
  m_nTotal += static_cast<std::uint64_t>(count);
  Received(static_cast<std::uint64_t>(count));
}

void Upload::Received(std::uint64_t count) {
  m_stallTimer.Moved();
  m_session.SetSessionText(kColBytes, std::to_string(m_nTotal));
  if (m_nDebug & 2)
    m_session.DebugLine(ControlSession::ThreadPrefix() + " Received " + std::to_string(count) +
                        " bytes, total bytes " + std::to_string(m_nTotal));
  Receive();
}

bool Upload::WriteReceived(size_t count) {
  if (!m_decoder) {
    if (!WriteTarget(m_buffer.data(), count)) return false;
    m_nTotal += count;
    return true;
  }
  m_text.clear();
  m_decoder->Decode(std::string_view(m_buffer.data(), count), m_text);
  if (!WriteTarget(m_text.data(), m_text.size())) return false;
  m_nTotal += m_text.size();
  return true;
}

bool Upload::WriteHeldCr() {
  if (!m_decoder) return true;
  m_text.clear();
  m_decoder->Finish(m_text);
  if (m_text.empty()) return true;
  if (!WriteTarget(m_text.data(), m_text.size())) return false;
  m_nTotal += m_text.size();
  m_session.SetSessionText(kColBytes, std::to_string(m_nTotal));
  return true;
}

void Upload::EndReceive(bool aborted) {
  m_ended = true;
  if (m_opener) m_opener->Cancel();
  m_stallTimer.Cancel();
  std::error_code ignored;
  m_socket.close(ignored);
  // Every byte is in the replacement: now it takes the old file's place, which anything else leaves as it
  // was. Flushing it to the disk first can take seconds for a large file, so that goes to the blocking pool;
  // the old file stays claimed meanwhile, and the replies follow. A pool that takes no more work (the
  // program is stopping) leaves the old file as it was.
  if (!aborted && m_replacement.IsOpen()) {
    auto commit = [replacement = std::move(m_replacement)]() mutable {
      int error = 0;
      return replacement.Commit(DownloadFile::Placement::Replace, error);
    };
    m_committing = true;
    auto placed = [self = shared_from_this()](bool done) {
      if (!self->m_committing) return;  // the session ended meanwhile
      self->m_committing = false;
      self->Finish(!done);
    };
    if (m_pool.Run(m_worker, std::move(commit), std::move(placed), BlockingPool::Admission::Continuation))
      return;
    m_committing = false;
    aborted = true;
  }
  Finish(aborted);
}

void Upload::Finish(bool aborted) {
  // The file is free before the reply, for a client that fetches it at once.
  m_replacement.Discard();
  m_file.Close();
  if (aborted) {
    m_session.SendReply(reply::kTransferFailed);
    m_session.SendReply(reply::kUploadAborted);
    m_session.LogEntry("FTP: Transfer was aborted");
  } else {
    m_session.SendReply(reply::kUploadOk);
    m_session.LogEntry("FTP: Transfer was successful");
  }
  m_session.TransferEnded();
}

}  // namespace hx::ftpd
