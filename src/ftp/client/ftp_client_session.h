#pragma once

#include <array>
#include <asio/awaitable.hpp>
#include <asio/ip/tcp.hpp>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <system_error>
#include <vector>

#include "app/byte_stream.h"
#include "app/clock.h"
#include "app/download_file.h"
#include "app/shared_file.h"
#include "ftp/client/ftp_client_job.h"
#include "ftp/client/reply_reader.h"

namespace hx {
struct AppContext;
class Worker;
}  // namespace hx
namespace hx::tls {
class TlsContext;
class TlsStream;
}  // namespace hx::tls

namespace hx::ftpc {

// Waits on the server (a reply on the control connection, the data connection, data on it) end after this
// long without a byte.
inline constexpr std::chrono::seconds kServerSilenceLimit{60};
// The data engines move the file in chunks of this size, in both directions.
inline constexpr size_t kDataChunk = 10240;
// A download drains the data connection in reads of up to this size and hands the bytes to the engine in
// chunks of kDataChunk: reads of 10 KiB alone leave a fast sender waiting on the receiver's wake-ups.
inline constexpr size_t kReceiveBuffer = 25 * kDataChunk;

// One FTP client session on its worker's strand:
//   connect -> greeting, USER, PASS (unless USER got 230), TYPE I -> data address -> RETR/STOR (1xx) -> data
//   transfer -> final reply, QUIT, closing reply -> ended.
// With TLS the control connection turns to TLS before USER: right after the connect (implicit), or after the
// greeting with AUTH TLS (explicit); PBSZ 0 and PROT P follow the login, and the data connection, accepted or
// connected, turns to TLS as well, resuming the control connection's session (ftp_client_tls.cpp). The
// connections are ByteStreams, plain or TLS, so that nothing past the handshakes knows which it has.
// The data address is offered (active: a listener, then PORT, or EPRT over IPv6) or asked for (passive: EPSV,
// or PASV when the server refuses EPSV with 5xx, then a connect to the control connection's peer).
// Three coroutines share the session. The conversation drives the phases; the control reader takes every byte
// of the control connection into one buffer for the whole session (so a reply that arrives early is kept for
// the read that wants it); the data coroutine accepts the one data connection, from the control connection's
// peer only, and moves the file. The conversation reads the final reply only after the data transfer is over.
// Any step that fails writes its Status text and ends the session; End closes everything at once.
//
// A GET receives into a DownloadFile beside the local file, which replaces it only once the data is complete
// and the server's final reply is positive; an existing local file is held against other sessions meanwhile,
// and one that is no regular file (a device) is written directly, as nothing could replace it.
class FtpClientSession {
 public:
  // `ended` is called once every coroutine of the session has returned. The session keeps its limits on
  // the context's clock.
  FtpClientSession(AppContext& app, Worker& worker, FtpClientJob job, std::function<void()> ended);
  ~FtpClientSession();
  FtpClientSession(const FtpClientSession&) = delete;
  FtpClientSession& operator=(const FtpClientSession&) = delete;

  void Start(int sessionId);
  // Closes the connections, the listener and the file and wakes every wait; the coroutines then return.
  void End();
  // The operator cancels the transfer: Status and the log say so, and the session ends (End). The server
  // sees the connections close.
  void Cancel();
  // The last Status the session showed.
  const std::string& LastStatus() const { return m_lastStatus; }
  // The data transfer ended without a local or network failure and the server's final reply was positive.
  bool Succeeded() const { return m_dataComplete && m_finalReplyPositive && m_localError.empty(); }
  const FtpClientJob& Job() const { return m_job; }

 private:
  using TimePoint = Clock::TimePoint;
  enum class ReadOutcome { Line, Failed, TooLong, Ended };
  enum class TransferOutcome { DataDone, ReplyFirst, Failed, Ended };

  // Conversation (ftp_client_session.cpp).
  asio::awaitable<void> Conversation();
  asio::awaitable<bool> Connect();
  asio::awaitable<bool> Login();
  asio::awaitable<bool> OfferActive();
  asio::awaitable<bool> OfferPassive();
  asio::awaitable<bool> ConnectData(asio::ip::tcp::endpoint server);
  bool OpenListener();
  asio::awaitable<bool> SendCommand(std::string text);
  asio::awaitable<bool> ExpectReply(char digit);
  // A reply whose first line begins with one of `digits`: returns that digit, with the reply's last line in
  // m_lastReply; '\0' after a failure or a refusal, which have been reported (Status, message box).
  asio::awaitable<char> AwaitReply(std::string_view digits);
  // `replyDeadline`: by when a reply that has begun must end.
  asio::awaitable<ReadOutcome> ReadReplyLine(std::string& line, std::string& failure,
                                             std::optional<TimePoint> replyDeadline);
  asio::awaitable<void> Quit();
  bool OpenLocalFile();
  // Puts a complete download in place of the local file; a failure becomes the session's local error.
  void PlaceDownload();
  void SetText(int column, std::string_view text);
  void SetStatus(std::string_view text);
  static std::string Describe(const std::error_code& error);

  // TLS (ftp_client_tls.cpp); each returns false after the failure has been reported.
  bool MakeTlsContext();
  asio::awaitable<bool> AuthTls();
  // Turns the control connection to TLS, waiting for the handshake as long as for a reply.
  asio::awaitable<bool> SecureControl();
  asio::awaitable<void> ShakeControlHands(tls::TlsStream& stream);
  asio::awaitable<bool> ProtectData();
  // Turns the data connection in m_data to TLS; plain, it becomes a plain stream.
  asio::awaitable<bool> SecureData();
  // Ends an upload's data connection over TLS in order (see the definition).
  asio::awaitable<void> EndTlsUpload();
  // A handshake's outcome: a failure, or a certificate other than the pinned one, is reported with `where`.
  bool HandshakeSucceeded(const tls::TlsStream& stream, const std::error_code& error, std::string_view where);
  void ReportTlsFailure(const std::string& text);

  // Control reader, data connection and waits (ftp_client_data.cpp).
  asio::awaitable<void> ReadControl();
  // Ends the control reader, so that the connection can turn to TLS.
  asio::awaitable<void> StopReadingControl();
  asio::awaitable<void> AcceptData();
  // Moves the file over the data connection once it is there, accepted or connected.
  asio::awaitable<void> MoveData();
  asio::awaitable<void> ReceiveFile();
  asio::awaitable<void> SendFile();
  asio::awaitable<TransferOutcome> WaitForTransfer();
  // Waits until `deadline` on the context's clock or until NotifyChange, whichever comes first.
  asio::awaitable<void> WaitForChange(TimePoint deadline);
  // Wakes every WaitForChange: something the waits look at has changed.
  void NotifyChange();
  void Spawn(asio::awaitable<void> task);
  int DebugMask() const;
  void CloseData();
  TimePoint Now() const;

  AppContext& m_app;
  Worker& m_worker;
  FtpClientJob m_job;
  std::function<void()> m_ended;
  int m_nSessionId = 0;
  int m_nThreadNumber = 0;  // names the session in debug lines
  int m_nRunning = 0;       // coroutines that have not returned

  // A PUT's source; a GET's existing local file, held while the download runs, and written directly when it
  // is no regular file.
  SharedFile m_file;
  DownloadFile m_download;  // a GET's data, unless it goes to m_file
  asio::ip::tcp::resolver m_resolver;
  asio::ip::tcp::socket m_control;              // while it connects
  std::unique_ptr<ByteStream> m_controlStream;  // once it is connected
  tls::TlsStream* m_controlTls = nullptr;       // m_controlStream, once it has turned to TLS
  asio::ip::tcp::endpoint m_controlLocal;
  asio::ip::tcp::endpoint m_controlPeer;
  asio::ip::tcp::acceptor m_listener;
  asio::ip::tcp::socket m_data;              // while it connects, or as accepted; see EndTlsUpload
  int m_dataSpare = -1;                      // an upload's second descriptor of its TLS data connection
  std::unique_ptr<ByteStream> m_dataStream;  // once it is there
  std::shared_ptr<tls::TlsContext> m_tlsContext;
  std::optional<std::error_code> m_controlHandshake;  // the outcome, once the handshake has ended

  ReplyLineBuffer m_reader;
  bool m_readingControl = false;  // the control reader runs
  bool m_stopReading = false;     // the control reader is to end
  std::string m_lastReply;        // the last line of the last reply accepted
  bool m_controlClosed = false;
  std::error_code m_controlError;
  TimePoint m_lastControlByte{};
  TimePoint m_lastDataByte{};

  bool m_ending = false;
  bool m_transferAccepted = false;  // the 1xx reply to RETR or STOR has arrived
  bool m_dataAccepted = false;      // the data connection is there (accepted or connected)
  bool m_dataDone = false;
  bool m_dataComplete = false;
  bool m_finalReplyPositive = false;
  std::string m_localError;  // a failure of the local file during the transfer, shown at the end
  std::string m_lastStatus;
  std::uint64_t m_nTotal = 0;

  std::vector<ClockTimer*> m_waiters;  // the timers of the waits in WaitForChange
  std::array<char, kDataChunk> m_chunk{};
  std::vector<char> m_received;  // a download's read buffer, kReceiveBuffer bytes
};

}  // namespace hx::ftpc
