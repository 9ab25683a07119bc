#pragma once

#include <array>
#include <asio/ip/tcp.hpp>
#include <cstdint>
#include <memory>
#include <string>
#include <system_error>
#include <vector>

#include "app/shared_file.h"
#include "ftp/server/data_transfer.h"

namespace hx::ftpd {

// One running RETR: sends the file over the data connection in chunks of 10,240 bytes, which are the unit of
// its progress (the Bytes cell, the debug lines). The bytes go from the file to the connection inside the
// system (sendfile), without a copy through the program, up to 24 chunks (240 KiB) per call: one call per
// chunk costs about twice the processor time per byte at both ends of the connection, and four per call
// still left the server a little behind vsftpd. A span is taken from the
// file only after the previous one was sent in full; between spans the session goes on serving commands,
// and ABOR sets the abort flag, which is examined before every span.
//
// In type A the file's text goes out with CR LF line ends: a span is read into the program, converted and
// written, and its chunks count the file's bytes as in type I, so that the Bytes cell, the debug lines and
// the log line show the file position (which is also what REST names in both types).
//
// Endings: the short (possibly empty) last chunk sent -> success ("226 File transfer successful."); ABOR, a
// read failure, the client closing the data connection early, or a connection that moves no byte for
// FDataTimeout seconds -> "426 Transfer terminated abnormally"; a connect that fails -> "425 Can't open data
// connection". The command gets exactly one final reply: with Quorin 0 it follows the end of the data, and
// otherwise the success reply goes out as soon as the connection is up, after which an ending that fails is
// only logged (a second final reply would be read as the answer to the client's next command). ABOR gets its
// own answer, "226 ABORT command successful.", after the final reply.
class Download : public DataTransfer {
 public:
  static constexpr size_t kChunk = 10240;
  static constexpr size_t kSpan = 24 * kChunk;

  Download(TransferHost& host, Worker& worker, Clock& clock, asio::ip::tcp::socket socket,
           TransferSettings settings, SharedFile file, std::string path, std::uint64_t position);

  // TYPE A: every LF of the file goes out as CR LF. Called before the connection is up.
  void ConvertLineEnds();
  void Abort() override;
  bool FinalReplySent() const override { return m_finalReplied; }

 private:
  // The system refused the connection at once: the 451 reply, and the download is dropped.
  bool StartRefused(std::error_code error) override;
  void Connected() override;
  void ConnectFailed(std::error_code error) override;
  void ConnectionReset() override { PeerGone(); }
  void Stalled() override { EndAsGone(); }
  void Release() override {
    m_graceTimer->Cancel();
    m_file.Close();
  }

  void OnSend();
  void SendRest();
  // Type A: reads the next span, converts it and writes it.
  void SendTextSpan();
  void WriteText();
  void OnTextWritten(std::error_code error, size_t count);
  void OnWritten();
  void CountChunks();
  void WatchPeer();
  bool DebugOn();
  void FinishSend(bool success);
  void PeerGone();
  void EndAsGone();
  // The command's one final reply; later ones are dropped.
  void FinalReply(const char* text);
  void End();

  SharedFile m_file;
  std::string m_path;
  std::array<char, 256> m_peerBytes{};
  std::uint64_t m_total;         // the file position: the restart offset plus what was sent
  std::uint64_t m_span = 0;      // the length of the span being sent
  std::uint64_t m_spanSent = 0;  // what of it has been sent
  bool m_debug = false;
  Clock::TimePoint m_debugReadAt{};
  bool m_abort = false;
  bool m_lastSent = false;  // the span being sent ends with the file's last (short or empty) chunk
  bool m_writing = false;
  bool m_peerGone = false;
  bool m_finalReplied = false;  // the command's final reply has gone (with Quorin, at the connect)
  std::unique_ptr<ClockTimer> m_graceTimer;
  bool m_convert = false;    // type A
  std::vector<char> m_text;  // type A: the span as read from the file
  std::string m_wire;        // type A: the span as it goes out
  size_t m_wireSent = 0;
};

}  // namespace hx::ftpd
