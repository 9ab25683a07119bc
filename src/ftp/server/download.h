#pragma once

#include <asio/ip/tcp.hpp>
#include <asio/steady_timer.hpp>
#include <array>
#include <chrono>
#include <cstdint>
#include <memory>
#include <string>
#include <system_error>

#include "app/shared_file.h"
#include "ftp/server/data_connection.h"
#include "ftp/server/stall_timer.h"

namespace hx::ftpd {

class ControlSession;

// One running RETR: sends the file over the data connection in chunks of 10,240 bytes, which are the unit of
// its progress (the Bytes cell, the debug lines). The bytes go from the file to the connection inside the
// system (sendfile), without a copy through the program, up to four chunks per call: one call per chunk
// costs about twice the processor time per byte at both ends of the connection. A span is taken from the
// file only after the previous one was sent in full; between spans the session goes on serving commands,
// and ABOR sets the abort flag, which is examined before every span.
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
  static constexpr size_t kSpan = 4 * kChunk;

  Download(ControlSession& session, asio::ip::tcp::socket socket, SharedFile file, std::string path,
           std::uint64_t position);

  // Starts opening the data connection after the 150 reply. False, after the 451 reply, when the system
  // refused it at once; the caller then drops the download.
  bool Connect(std::unique_ptr<DataOpener> opener);
  void Abort();
  // The session ends: release the file and the connection without a reply.
  void Close();

 private:
  void OnConnect(std::error_code error);
  void OnSend();
  void SendRest();
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
  std::uint64_t m_nTotal;        // the file position: the restart offset plus what was sent
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
};

}  // namespace hx::ftpd
