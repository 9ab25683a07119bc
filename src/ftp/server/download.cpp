#include "ftp/server/download.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>

#include "app/file_io.h"
#include "app/line_endings.h"
#include "app/socket_error_text.h"
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

Download::Download(TransferHost& host, Worker& worker, Clock& clock, asio::ip::tcp::socket socket,
                   TransferSettings settings, SharedFile file, std::string path, std::uint64_t position)
    : DataTransfer(host, worker, clock, std::move(socket), settings),
      m_file(std::move(file)),
      m_path(std::move(path)),
      m_total(position),
      m_graceTimer(clock.MakeTimer(worker.Executor())) {}

bool Download::StartRefused(std::error_code error) {
  m_host.Reply(reply::kCouldNotConnect + SocketErrorText(error) + "\r\n");
  Shut();
  m_file.Close();
  return false;
}

void Download::ConvertLineEnds() {
  m_convert = true;
  m_text.resize(kSpan);
}

void Download::Abort() {
  m_abort = true;
  // No connection yet (a passive one the client never makes): nothing is in flight to finish first.
  if (!m_connected) {
    FinishSend(false);
    return;
  }
  if (m_peerGone) {
    m_graceTimer->Cancel();  // ends it as aborted at once
    return;
  }
  // A chunk that the client does not take must not hold the abort up.
  if (m_writing) m_stream->Cancel();
}

void Download::ConnectFailed(std::error_code error) {
  m_succeeded = false;
  m_host.Log("Connect Failure: " + SocketErrorText(error));
  FinalReply(reply::kCantOpenData);
  m_host.Log("FTP: File transfer aborted");
  End();
}

void Download::Connected() {
  if (m_settings.quorin != 0) FinalReply(reply::kDownloadOk);
  WatchPeer();
  OnSend();
}

// Nothing is expected from the client on a download's connection; its end (or a reset) before the file's
// end means the client gave up.
void Download::WatchPeer() {
  m_stream->ReadSome(asio::buffer(m_peerBytes), Bind([this](std::error_code error, size_t) {
                       if (m_ended || error == asio::error::operation_aborted) return;
                       if (!error) {
                         WatchPeer();
                         return;
                       }
                       if (m_writing)
                         m_stream->Cancel();
                       else
                         PeerGone();
                     }));
}

// Debugging is read before every chunk so that switching it shows at once; at most every 50 ms, since a
// chunk takes microseconds and every read of a setting looks at the file.
bool Download::DebugOn() {
  Clock::TimePoint now = m_clock.Now();
  if (now - m_debugReadAt >= std::chrono::milliseconds(50)) {
    m_debug = m_host.DebugOn();
    m_debugReadAt = now;
  }
  return m_debug;
}

// The chunks of the span just sent, each counted on its own: the debug lines and the Bytes cell follow the
// 10,240-byte chunks whatever the span. An empty span is one empty chunk (the first call after the connect,
// or an end that falls on a chunk boundary); a last span whose final chunk is full is followed by the empty
// chunk that marks the end.
void Download::CountChunks() {
  std::uint64_t total = m_total - m_spanSent;
  std::uint64_t left = m_spanSent;
  bool debug = DebugOn();
  auto count = [&](std::uint64_t chunk) {
    total += chunk;
    if (debug) m_host.Debug("Sent " + std::to_string(chunk) + " bytes, total bytes " + std::to_string(total));
  };
  do {
    std::uint64_t chunk = std::min<std::uint64_t>(left, kChunk);
    count(chunk);
    left -= chunk;
  } while (left > 0);
  if (m_lastSent && m_spanSent > 0 && m_spanSent % kChunk == 0) count(0);
  if (m_total % 5120 == 0 || m_lastSent) m_host.Progress(m_total);
}

void Download::OnSend() {
  CountChunks();
  if (m_lastSent) {
    FinishSend(true);
    return;
  }
  if (m_abort) {
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
    m_span = m_spanSent = 0;
    FinishSend(false);
    return;
  }
  m_span = std::min<std::uint64_t>(kSpan, *size > m_total ? *size - m_total : 0);
  m_spanSent = 0;
  if (m_span < kSpan) m_lastSent = true;
  SendRest();
}

void Download::SendRest() {
  while (m_spanSent < m_span) {
    std::error_code error;
    size_t sent = m_stream->SendFileNow(m_file.NativeHandle(), m_total, m_span - m_spanSent, error);
    if (sent > 0) {
      Moved();
      std::uint64_t before = m_total;
      m_spanSent += sent;
      m_total += sent;
      // A slow client takes a span in many pieces: the row follows each 5,120 bytes it passes, so that its
      // rate does not read as a stall between spans.
      if (m_spanSent < m_span && m_total / 5120 != before / 5120) m_host.Progress(m_total / 5120 * 5120);
      continue;
    }
    if (!error) {  // the file became shorter: this span is the last
      m_span = m_spanSent;
      m_lastSent = true;
      break;
    }
    if (error == asio::error::would_block) {
      m_writing = true;
      m_stream->WaitWritable(Bind([this](std::error_code waitError) {
        m_writing = false;
        if (m_ended) return;
        if (waitError)
          OnWritten();
        else
          SendRest();
      }));
      return;
    }
    if (error == std::errc::broken_pipe || error == std::errc::connection_reset ||
        error == std::errc::not_connected) {
      OnWritten();
    } else {
      m_span = m_spanSent;  // the file could not be read
      CountChunks();
      FinishSend(false);
    }
    return;
  }
  // The span is out; the next one follows once the session had its turn (ABOR, other commands).
  Post([this] {
    if (!m_ended) OnSend();
  });
}

// Type A has no sendfile: the text passes through the program to gain its CRs.
void Download::SendTextSpan() {
  long count = ReadAll(m_file.NativeHandle(), m_text.data(), kSpan, m_total);
  if (count < 0) {
    m_span = m_spanSent = 0;
    FinishSend(false);
    return;
  }
  m_span = static_cast<std::uint64_t>(count);
  m_spanSent = 0;
  if (m_span < kSpan) m_lastSent = true;
  m_wire.clear();
  EncodeLineEnds(std::string_view(m_text.data(), m_span), LineEndRules::Ftp, m_wire);
  m_wireSent = 0;
  WriteText();
}

void Download::WriteText() {
  if (m_wireSent == m_wire.size()) {
    m_spanSent = m_span;
    m_total += m_span;
    Post([this] {
      if (!m_ended) OnSend();
    });
    return;
  }
  m_writing = true;
  m_stream->WriteSome(asio::buffer(m_wire.data() + m_wireSent, m_wire.size() - m_wireSent),
                      Bind([this](std::error_code error, size_t count) { OnTextWritten(error, count); }));
}

void Download::OnTextWritten(std::error_code error, size_t count) {
  m_writing = false;
  if (m_ended) return;
  m_wireSent += count;
  if (!error) {
    Moved();
    WriteText();
    return;
  }
  // Cut short: the span counts the file bytes that went out whole.
  m_spanSent = TextBytesSent(std::string_view(m_text.data(), m_span), m_wireSent);
  m_total += m_spanSent;
  OnWritten();
}

// A span cut short: by ABOR, or because the client closed or reset the connection.
void Download::OnWritten() {
  if (m_ended) return;
  m_span = m_spanSent;
  if (m_abort) {
    CountChunks();
    FinishSend(false);
    return;
  }
  PeerGone();
}

void Download::FinishSend(bool success) {
  m_succeeded = success;
  m_host.Log("File " + m_path + " Bytes transferred: " + std::to_string(m_total));
  m_file.Close();
  if (success) {
    FinalReply(reply::kDownloadOk);
    m_host.Log("FTP: File Transfer successful");
  } else {
    FinalReply(reply::kTransferFailed);
    m_host.Log("FTP: File transfer aborted");
  }
  End();
}

// A client that aborts sends ABOR and closes the data connection at once; the close may be seen before the
// command is read. The end waits a moment for it, so that such a client gets the replies to its ABOR.
void Download::PeerGone() {
  if (m_peerGone) return;
  m_peerGone = true;
  m_graceTimer->ExpiresAfter(std::chrono::milliseconds(50));
  m_graceTimer->AsyncWait(Bind([this](std::error_code) {
    if (m_ended) return;
    if (m_abort) {
      CountChunks();
      FinishSend(false);
    } else {
      EndAsGone();
    }
  }));
}

void Download::EndAsGone() {
  m_succeeded = false;
  m_host.Progress(m_total);
  m_host.Log("File " + m_path + " Bytes transferred: " + std::to_string(m_total));
  m_file.Close();
  FinalReply(reply::kTransferFailed);
  m_host.Log("FTP: File transfer aborted");
  End();
}

void Download::FinalReply(const char* text) {
  if (m_finalReplied) {
    std::string_view line(text);
    if (m_host.DebugOn())
      m_host.Debug("Not sent after the early reply: " + std::string(line.substr(0, line.size() - 2)));
    return;
  }
  m_finalReplied = true;
  m_host.Reply(text);
}

void Download::End() {
  Shut();
  m_graceTimer->Cancel();
  m_file.Close();
  // ABOR gets its own answer, after the download's final reply.
  if (m_abort) m_host.Reply(reply::kDownloadAborted);
  m_host.Ended(*this);
}

}  // namespace hx::ftpd
