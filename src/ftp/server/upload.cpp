#include "ftp/server/upload.h"

#include <sys/stat.h>

#include <cerrno>

#include "app/socket_error_text.h"
#include "ftp/server/data_connection.h"
#include "ftp/server/replies.h"

namespace hx::ftpd {

Upload::Upload(TransferHost& host, Worker& worker, Clock& clock, asio::ip::tcp::socket socket,
               TransferSettings settings, BlockingPool& pool, UploadFile target)
    : DataTransfer(host, worker, clock, std::move(socket), settings),
      m_pool(pool),
      m_target(std::move(target)),
      m_file(m_target.file),
      m_total(m_target.position),
      // Read once per upload; a download reads it before every chunk.
      m_debug(host.DebugOn()) {}

void Upload::ConvertLineEnds() {
  m_decoder.emplace(LineEndRules::Ftp);
  m_copying = true;
}

void Upload::Abort() {
  m_abor = true;
  // An upload whose replacement is being put in place has all its bytes: it ends as it was going to, and
  // the ABOR's answer follows its reply.
  if (!m_ended) EndReceive(true);
}

void Upload::Release() {
  m_committing = false;
  m_replacement.Discard();
  m_file.Close();
}

void Upload::Refuse(const char* refusal) {
  m_succeeded = false;
  m_host.Reply(refusal);
  m_host.Log("FTP: Transfer was aborted");
  Close();
  m_host.Ended(*this);
}

void Upload::ConnectFailed(std::error_code error) {
  m_host.Log("Connect Failure: " + SocketErrorText(error));
  Refuse(reply::kCantOpenData);
}

void Upload::Connected() {
  if (const char* refusal = PrepareFile()) {
    Refuse(refusal);
    return;
  }
  if (m_copying) m_buffer.resize(kReceive);
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

// Binary data goes from the connection to the file without a copy of the program's own; the buffer is for
// type A and for a stream that cannot do that (a plain one that was refused a pipe: out of descriptors).
void Upload::Receive() {
  if (!m_copying) {
    m_stream->WaitReadable(Bind([this](std::error_code error) { OnReadable(error); }));
    return;
  }
  m_stream->ReadSome(asio::buffer(m_buffer),
                     Bind([this](std::error_code error, size_t count) { OnReceived(error, count); }));
}

void Upload::OnReceived(std::error_code error, size_t count) {
  if (m_ended) return;
  if (error == asio::error::eof) {
    EndReceive(!WriteHeldCr());
    return;
  }
  std::uint64_t before = m_total;
  if (error || !WriteReceived(count)) {
    EndReceive(true);
    return;
  }
  Received(m_total - before);
}

void Upload::OnReadable(std::error_code error) {
  if (m_ended) return;
  if (error) {
    EndReceive(true);
    return;
  }
  size_t count = m_stream->ReceiveFileNow(TargetHandle(), kReceive, error);
  if (error == asio::error::would_block) {
    Receive();
    return;
  }
  if (error == asio::error::operation_not_supported) {
    m_copying = true;
    m_buffer.resize(kReceive);
    Receive();
    return;
  }
  if (error || count == 0) {
    // The end of the data, or a failure of the connection or the file.
    EndReceive(static_cast<bool>(error));
    return;
  }
  m_total += count;
  Received(count);
}

void Upload::Received(std::uint64_t count) {
  Moved();
  m_host.Progress(m_total);
  if (m_debug)
    m_host.Debug("Received " + std::to_string(count) + " bytes, total bytes " + std::to_string(m_total));
  Receive();
}

bool Upload::WriteReceived(size_t count) {
  if (!m_decoder) {
    if (!WriteTarget(m_buffer.data(), count)) return false;
    m_total += count;
    return true;
  }
  m_text.clear();
  m_decoder->Decode(std::string_view(m_buffer.data(), count), m_text);
  if (!WriteTarget(m_text.data(), m_text.size())) return false;
  m_total += m_text.size();
  return true;
}

bool Upload::WriteHeldCr() {
  if (!m_decoder) return true;
  m_text.clear();
  m_decoder->Finish(m_text);
  if (m_text.empty()) return true;
  if (!WriteTarget(m_text.data(), m_text.size())) return false;
  m_total += m_text.size();
  m_host.Progress(m_total);
  return true;
}

void Upload::EndReceive(bool aborted) {
  Shut();
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
    auto placed = Hold([this](bool done) {
      if (!m_committing) return;  // the session ended meanwhile
      m_committing = false;
      Finish(!done);
    });
    if (m_pool.Run(m_worker, std::move(commit), std::move(placed), BlockingPool::Admission::Continuation))
      return;
    m_committing = false;
    aborted = true;
  }
  Finish(aborted);
}

void Upload::Finish(bool aborted) {
  m_succeeded = !aborted;
  // The file is free before the reply, for a client that fetches it at once.
  m_replacement.Discard();
  m_file.Close();
  m_host.Reply(aborted ? reply::kTransferFailed : reply::kUploadOk);
  if (m_abor) m_host.Reply(reply::kUploadAborted);
  m_host.Log(aborted ? "FTP: Transfer was aborted" : "FTP: Transfer was successful");
  m_host.Ended(*this);
}

}  // namespace hx::ftpd
