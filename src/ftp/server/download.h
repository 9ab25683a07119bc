#pragma once

#include <array>
#include <asio/ip/tcp.hpp>
#include <asio/steady_timer.hpp>
#include <chrono>
#include <cstdint>
#include <memory>
#include <string>
#include <system_error>
#include <vector>

#include "app/shared_file.h"
#include "ftp/server/data_connection.h"
#include "ftp/server/stall_timer.h"

namespace hx::ftpd {

class ControlSession;

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
// Endings: the short (possibly empty) last chunk sent -> success; ABOR or a read failure -> aborted
// ("226 ABORT command successful."); the client closing the data connection early -> "426 Transfer
// terminated abnormally", and so does a connection that moves no byte for FDataTimeout seconds; a connect
// that fails -> "425 Can't open data connection". With Quorin 0 the
// success reply follows the close of the data connection after a success or an ABOR; otherwise it goes out
// as soon as the connection is up.
class Download : public std::enable_shared_from_this<Download> {
 public:
  static constexpr size_t kChunk = 10240;
  static constexpr size_t kSpan = 24 * kChunk;

  Download(ControlSession& session, asio::ip::tcp::socket socket, SharedFile file, std::string path,
           std::uint64_t position);

  // Starts opening the data connection after the 150 reply. False, after the 451 reply, when the system
  // refused it at once; the caller then drops the download.
  bool Connect(std::unique_ptr<DataOpener> opener);
  // TYPE A: every LF of the file goes out as CR LF. Called before the connection is up.
  void ConvertLineEnds();
  void Abort();
  // The session ends: release the file and the connection without a reply.
  void Close();

 private:
  void OnConnect(std::error_code error);
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
  void End(bool successReply);
  void WatchForStall();

  ControlSession& m_session;
  asio::ip::tcp::socket m_socket;
  std::unique_ptr<DataOpener> m_opener;
  SharedFile m_file;
  std::string m_path;
  std::array<char, 256> m_peerBytes{};
  std::uint64_t m_nTotal;         // the file position: the restart offset plus what was sent
  std::uint64_t m_nSpan = 0;      // the length of the span being sent
  std::uint64_t m_nSpanSent = 0;  // what of it has been sent
  bool m_debug = false;
  std::chrono::steady_clock::time_point m_debugReadAt{};
  bool m_bAbort = false;
  bool m_bLastSent = false;  // the span being sent ends with the file's last (short or empty) chunk
  bool m_writing = false;
  bool m_peerGone = false;
  asio::steady_timer m_graceTimer;
  StallTimer m_stallTimer;
  bool m_ended = false;
  bool m_connected = false;  // the data connection is up
  bool m_convert = false;    // type A
  std::vector<char> m_text;  // type A: the span as read from the file
  std::string m_wire;        // type A: the span as it goes out
  size_t m_wireSent = 0;
};

}  // namespace hx::ftpd
