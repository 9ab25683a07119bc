#include "ftp/server/download.h"

#include <sys/sendfile.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <asio/post.hpp>
#include <cerrno>

#include "app/file_io.h"
#include "app/line_endings.h"
#include "app/session_table.h"
#include "app/socket_error_text.h"
#include "ftp/server/control_session.h"
#include "ftp/server/data_connection.h"
#include "ftp/server/replies.h"

namespace hx::ftpd {
namespace {

// The bytes at the start of a text span whose converted form went out whole in the first `wireCount` bytes
// (a LF goes out as two).
std::uint64_t TextBytesSent(std::string_view text, size_t wireCount) {
  size_t wire = 0;
  std::uint64_t whole = 0;
  for (char c : text) {
    wire += c == '\n' ? 2 : 1;
    if (wire > wireCount) break;
    ++whole;
  }
  return whole;
}

}  // namespace

Download::Download(ControlSession& session, asio::ip::tcp::socket socket, SharedFile file, std::string path,
                   std::uint64_t position)
    : m_session(session),
      m_socket(std::move(socket)),
      m_file(std::move(file)),
      m_path(std::move(path)),
      m_nTotal(position),
      m_graceTimer(m_socket.get_executor()),
      m_stallTimer(m_socket.get_executor(), session.DataTimeout()) {}

bool Download::Connect(std::unique_ptr<DataOpener> opener) {
  m_opener = std::move(opener);
  std::error_code error;
  if (!m_opener->Start(m_socket, error,
                       [self = shared_from_this()](std::error_code e) { self->OnConnect(e); })) {
    m_session.SendReply(reply::kCouldNotConnect + SocketErrorText(error) + "\r\n");
    m_ended = true;
    m_socket.close(error);
    m_file.Close();
    return false;
  }
  WatchForStall();
  return true;
}

void Download::ConvertLineEnds() {
  m_convert = true;
  m_text.resize(kSpan);
}

void Download::WatchForStall() {
  m_stallTimer.Watch(shared_from_this(), [this] {
    if (m_ended) return;
    // No connection came within the limit: that is a connection that could not be opened, whichever of this
    // timer and a passive listener's own limit fires first.
    if (!m_connected) {
      m_opener->Cancel();  // closed before the reply, so that nobody connects after it
      OnConnect(asio::error::timed_out);
      return;
    }
    m_session.LogEntry("FTP: No data moved for " + std::to_string(m_stallTimer.Limit().count()) + " seconds");
    EndAsGone();
  });
}

void Download::Abort() {
  m_bAbort = true;
  if (m_peerGone) {
    m_graceTimer.cancel();  // ends it as aborted at once
    return;
  }
  // A chunk that the client does not take must not hold the abort up.
  std::error_code ignored;
  if (m_writing) m_socket.cancel(ignored);
}

void Download::Close() {
  m_ended = true;
  if (m_opener) m_opener->Cancel();
  m_graceTimer.cancel();
  m_stallTimer.Cancel();
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
  m_connected = true;
  if (m_session.Quorin() != 0) m_session.SendReply(reply::kDownloadOk);
  WatchPeer();
  OnSend();
}

// Nothing is expected from the client on a download's connection; its end (or a reset) before the file's
// end means the client gave up.
void Download::WatchPeer() {
  m_socket.async_read_some(asio::buffer(m_peerBytes),
                           [self = shared_from_this()](std::error_code error, size_t) {
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

// Debugging is read before every chunk so that switching it shows at once; at most every 50 ms, since a
// chunk takes microseconds and every read of a setting looks at the file.
bool Download::DebugOn() {
  auto now = std::chrono::steady_clock::now();
  if (now - m_debugReadAt >= std::chrono::milliseconds(50)) {
    m_debug = m_session.DebugOn();
    m_debugReadAt = now;
  }
  return m_debug;
}

// The chunks of the span just sent, each counted on its own: the debug lines and the Bytes cell follow the
// 10,240-byte chunks whatever the span. An empty span is one empty chunk (the first call after the connect,
// or an end that falls on a chunk boundary); a last span whose final chunk is full is followed by the empty
// chunk that marks the end.
void Download::CountChunks() {
  std::uint64_t total = m_nTotal - m_nSpanSent;
  std::uint64_t left = m_nSpanSent;
  bool debug = DebugOn();
  auto count = [&](std::uint64_t chunk) {
    total += chunk;
    if (debug)
      m_session.DebugLine(ControlSession::ThreadPrefix() + " Sent " + std::to_string(chunk) +
                          " bytes, total bytes " + std::to_string(total));
  };
  do {
    std::uint64_t chunk = std::min<std::uint64_t>(left, kChunk);
    count(chunk);
    left -= chunk;
  } while (left > 0);
  if (m_bLastSent && m_nSpanSent > 0 && m_nSpanSent % kChunk == 0) count(0);
  if (m_nTotal % 5120 == 0 || m_bLastSent) m_session.SetSessionText(kColBytes, std::to_string(m_nTotal));
}

void Download::OnSend() {
  CountChunks();
  if (m_bLastSent) {
    FinishSend(true);
    return;
  }
  if (m_bAbort) {
    FinishSend(false);
    return;
  }
  if (m_convert) {
    SendTextSpan();
    return;
  }
  // The next span: kSpan bytes, or what is left of the file. A span that is not full holds the last chunk.
  std::optional<std::uint64_t> size = FileSize(m_file.NativeHandle());
  if (!size) {
    m_nSpan = m_nSpanSent = 0;
    FinishSend(false);
    return;
  }
  m_nSpan = std::min<std::uint64_t>(kSpan, *size > m_nTotal ? *size - m_nTotal : 0);
  m_nSpanSent = 0;
  if (m_nSpan < kSpan) m_bLastSent = true;
  SendRest();
}

void Download::SendRest() {
  while (m_nSpanSent < m_nSpan) {
    off_t offset = static_cast<off_t>(m_nTotal);
    ssize_t sent =
        ::sendfile(m_socket.native_handle(), m_file.NativeHandle(), &offset, m_nSpan - m_nSpanSent);
    if (sent > 0) {
      m_stallTimer.Moved();
      m_nSpanSent += static_cast<std::uint64_t>(sent);
      m_nTotal += static_cast<std::uint64_t>(sent);
      continue;
    }
    if (sent == 0) {  // the file became shorter: this span is the last
      m_nSpan = m_nSpanSent;
      m_bLastSent = true;
      break;
    }
    if (errno == EINTR) continue;
    if (errno == EAGAIN) {
      m_writing = true;
      m_socket.async_wait(asio::socket_base::wait_write, [self = shared_from_this()](std::error_code error) {
        self->m_writing = false;
        if (self->m_ended) return;
        if (error)
          self->OnWritten();
        else
          self->SendRest();
      });
      return;
    }
    int code = errno;
    if (code == EPIPE || code == ECONNRESET || code == ENOTCONN) {
      OnWritten();
    } else {
      m_nSpan = m_nSpanSent;  // the file could not be read
      CountChunks();
      FinishSend(false);
    }
    return;
  }
  // The span is out; the next one follows once the session had its turn (ABOR, other commands).
  asio::post(m_socket.get_executor(), [self = shared_from_this()] {
    if (!self->m_ended) self->OnSend();
  });
}

// Type A has no sendfile: the text passes through the program to gain its CRs.
void Download::SendTextSpan() {
  long count = ReadAll(m_file.NativeHandle(), m_text.data(), kSpan, m_nTotal);
  if (count < 0) {
    m_nSpan = m_nSpanSent = 0;
    FinishSend(false);
    return;
  }
  m_nSpan = static_cast<std::uint64_t>(count);
  m_nSpanSent = 0;
  if (m_nSpan < kSpan) m_bLastSent = true;
  m_wire.clear();
  EncodeLineEnds(std::string_view(m_text.data(), m_nSpan), LineEndRules::Ftp, m_wire);
  m_wireSent = 0;
  WriteText();
}

void Download::WriteText() {
  if (m_wireSent == m_wire.size()) {
    m_nSpanSent = m_nSpan;
    m_nTotal += m_nSpan;
    asio::post(m_socket.get_executor(), [self = shared_from_this()] {
      if (!self->m_ended) self->OnSend();
    });
    return;
  }
  m_writing = true;
  m_socket.async_write_some(asio::buffer(m_wire.data() + m_wireSent, m_wire.size() - m_wireSent),
                            [self = shared_from_this()](std::error_code error, size_t count) {
                              self->OnTextWritten(error, count);
                            });
}

void Download::OnTextWritten(std::error_code error, size_t count) {
  m_writing = false;
  if (m_ended) return;
  m_wireSent += count;
  if (!error) {
    m_stallTimer.Moved();
    WriteText();
    return;
  }
  // Cut short: the span counts the file bytes that went out whole.
  m_nSpanSent = TextBytesSent(std::string_view(m_text.data(), m_nSpan), m_wireSent);
  m_nTotal += m_nSpanSent;
  OnWritten();
}

// A span cut short: by ABOR, or because the client closed or reset the connection.
void Download::OnWritten() {
  if (m_ended) return;
  m_nSpan = m_nSpanSent;
  if (m_bAbort) {
    CountChunks();
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

// A client that aborts sends ABOR and closes the data connection at once; the close may be seen before the
// command is read. The end waits a moment for it, so that such a client gets the replies to its ABOR.
void Download::PeerGone() {
  if (m_peerGone) return;
  m_peerGone = true;
  m_graceTimer.expires_after(std::chrono::milliseconds(50));
  m_graceTimer.async_wait([self = shared_from_this()](std::error_code) {
    if (self->m_ended) return;
    if (self->m_bAbort) {
      self->CountChunks();
      self->FinishSend(false);
    } else {
      self->EndAsGone();
    }
  });
}

void Download::EndAsGone() {
  m_session.SetSessionText(kColBytes, std::to_string(m_nTotal));
  m_session.LogEntry("File " + m_path + " Bytes transferred: " + std::to_string(m_nTotal));
  m_file.Close();
  m_session.SendReply(reply::kTransferFailed);
  m_session.LogEntry("FTP: File transfer aborted");
  End(false);
}

void Download::End(bool successReply) {
  m_ended = true;
  if (m_opener) m_opener->Cancel();
  m_graceTimer.cancel();
  m_stallTimer.Cancel();
  std::error_code ignored;
  m_socket.close(ignored);
  m_file.Close();
  if (successReply && m_session.Quorin() == 0) m_session.SendReply(reply::kDownloadOk);
  m_session.TransferEnded();
}

}  // namespace hx::ftpd
