#include "ftp/server/download.h"

#include <asio/post.hpp>
#include <asio/write.hpp>

#include "app/session_table.h"
#include "app/socket_error_text.h"
#include "ftp/server/control_session.h"
#include "ftp/server/data_connection.h"
#include "ftp/server/replies.h"

namespace hx::ftpd {

Download::Download(ControlSession& session, asio::ip::tcp::socket socket, SharedFile file, std::string path,
                   std::uint64_t position)
    : m_session(session),
      m_socket(std::move(socket)),
      m_file(std::move(file)),
      m_path(std::move(path)),
      m_nTotal(position) {}

bool Download::Connect(const asio::ip::tcp::endpoint& target) {
  std::error_code error;
  switch (StartConnect(m_socket, target, error)) {
    case ConnectStart::Failed:
      m_session.SendReply(reply::kCouldNotConnect + SocketErrorText(error) + "\r\n");
      m_ended = true;
      m_socket.close(error);
      m_file.Close();
      return false;
    case ConnectStart::Connected:
      asio::post(m_socket.get_executor(), [self = shared_from_this()] { self->OnConnect({}); });
      return true;
    case ConnectStart::InProgress:
      AwaitConnect(m_socket, [self = shared_from_this()](std::error_code e) { self->OnConnect(e); });
      return true;
  }
  return true;
}

void Download::Abort() {
  m_bAbort = true;
  // A chunk that the client does not take must not hold the abort up.
  std::error_code ignored;
  if (m_writing) m_socket.cancel(ignored);
}

void Download::Close() {
  m_ended = true;
  std::error_code ignored;
  m_socket.close(ignored);
  m_file.Close();
}

void Download::OnConnect(std::error_code error) {
  if (m_ended || error == asio::error::operation_aborted) return;
  if (ConnectedThenReset(error)) {
    PeerGone();
    return;
  }
  if (error) {
    m_session.LogEntry("Connect Failure: " + SocketErrorText(error));
    m_session.SendReply(reply::kCantOpenData);
    m_session.LogEntry("FTP: File transfer aborted");
    End(false);
    return;
  }
  if (m_session.Quorin() != 0) m_session.SendReply(reply::kDownloadOk);
  WatchPeer();
  OnSend();
}

// Nothing is expected from the client on a download's connection; its end (or a reset) before the file's
// end means the client gave up.
void Download::WatchPeer() {
  m_socket.async_read_some(asio::buffer(m_peerBytes), [self = shared_from_this()](std::error_code error, size_t) {
    if (self->m_ended || error == asio::error::operation_aborted) return;
    if (!error) {
      self->WatchPeer();
      return;
    }
    std::error_code ignored;
    if (self->m_writing)
      self->m_socket.cancel(ignored);
    else
      self->PeerGone();
  });
}

void Download::OnSend() {
  m_nTotal += m_nChunk;
  if (m_nTotal % 5120 == 0 || m_bLastSent) m_session.SetSessionText(kColBytes, std::to_string(m_nTotal));
  if (m_session.DebugOn())
    m_session.DebugLine(ControlSession::ThreadPrefix() + " Sent " + std::to_string(m_nChunk) + " bytes, total bytes " +
                        std::to_string(m_nTotal));
  if (m_bLastSent) {
    FinishSend(true);
    return;
  }
  if (m_bAbort) {
    FinishSend(false);
    return;
  }
  long count = m_file.Read(m_buffer.data(), m_buffer.size());
  if (count < 0) {
    m_nChunk = 0;
    FinishSend(false);
    return;
  }
  m_nChunk = static_cast<std::uint64_t>(count);
  if (m_nChunk < kChunk) m_bLastSent = true;
  m_writing = true;
  asio::async_write(m_socket, asio::buffer(m_buffer.data(), m_nChunk),
                    [self = shared_from_this()](std::error_code error, size_t written) {
                      self->OnWritten(error, written);
                    });
}

void Download::OnWritten(std::error_code error, size_t written) {
  m_writing = false;
  if (m_ended) return;
  if (!error) {
    OnSend();
    return;
  }
  // Cut short: by ABOR, or because the client closed or reset the connection.
  m_nTotal += written;
  m_nChunk = 0;
  if (m_bAbort) {
    FinishSend(false);
    return;
  }
  PeerGone();
}

void Download::FinishSend(bool success) {
  m_session.LogEntry("File " + m_path + " Bytes transferred: " + std::to_string(m_nTotal));
  m_file.Close();
  if (success) {
    m_session.LogEntry("FTP: File Transfer successful");
  } else {
    m_session.SendReply(reply::kDownloadAborted);
    m_session.LogEntry("FTP: File transfer aborted");
  }
  End(true);
}

void Download::PeerGone() {
  m_session.SetSessionText(kColBytes, std::to_string(m_nTotal));
  m_session.LogEntry("File " + m_path + " Bytes transferred: " + std::to_string(m_nTotal));
  m_file.Close();
  m_session.SendReply(reply::kTransferFailed);
  m_session.LogEntry("FTP: File transfer aborted");
  End(false);
}

void Download::End(bool successReply) {
  m_ended = true;
  std::error_code ignored;
  m_socket.close(ignored);
  m_file.Close();
  if (successReply && m_session.Quorin() == 0) m_session.SendReply(reply::kDownloadOk);
  m_session.TransferEnded();
}

}  // namespace hx::ftpd
