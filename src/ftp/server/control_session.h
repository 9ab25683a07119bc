#pragma once

#include <array>
#include <asio/ip/tcp.hpp>
#include <atomic>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "app/app_context.h"
#include "app/blocking_pool.h"
#include "app/byte_stream.h"
#include "app/clock.h"
#include "app/rooted_file_system.h"
#include "ftp/server/command_table.h"
#include "ftp/server/ftp_worker.h"
#include "ftp/server/hash_algorithm.h"
#include "ftp/server/line_reader.h"
#include "ftp/server/mlst_facts.h"
#include "ftp/server/resolve_path.h"
#include "ftp/server/session_outcome.h"
#include "ftp/server/transfer_host.h"

namespace hx::tls {
class TlsContext;
class TlsStream;
}  // namespace hx::tls

namespace hx::ftpd {

class DataOpener;
class DataTransfer;
class ListingReader;
struct ListingPart;
struct ListingStyle;
struct TimeChange;
class PassiveListener;
struct PassDecision;

// One FTP control connection with all the state of its session, run on its worker's strand.
//
// Commands are read and executed one line at a time. While a download or upload runs, reading goes on, so
// ABOR, NOOP and the rest are served between the transfer's steps; while a listing is sent, while a command
// waits for its work on the blocking pool (SIZE in type A, a listing's search), and while replies wait to be
// written beyond a bound, the next line waits. Replies are written in order; each updates the Status cell.
//
// The session ends on QUIT, when the client closes the control connection, when a reply cannot be written,
// or when its worker is told to stop; it then closes its transfer, its files and its sockets.
//
// The connection is a ByteStream; the session knows of it only the two addresses it was made between.
class ControlSession : public TransferHost {
 public:
  ControlSession(AppContext& context, FtpWorker& worker, std::unique_ptr<ByteStream> connection,
                 StreamEnds ends, int sessionId);
  ~ControlSession() override;
  ControlSession(const ControlSession&) = delete;
  ControlSession& operator=(const ControlSession&) = delete;

  // Greets the client and starts reading commands; on the implicit TLS port, after the handshake.
  void Start(bool implicitTls = false);
  // Closes everything at once, without replies: the session has ended or its worker was told to stop.
  void Shutdown();
  // The operator's actions from the session's row. Cancelling closes the running transfer's data
  // connection with "426 Transfer aborted by the operator" and the session goes on; disconnecting says
  // "421 Disconnected by the operator" and closes the connection with any transfer.
  void CancelTransfer();
  void Disconnect();

  // The session's services for its transfers.
  void Reply(std::string_view text) override {
    m_outcome.NoteTransferReply(text);
    SendReply(text);
  }
  void Log(std::string_view text) override { LogEntry(text); }
  void Progress(std::uint64_t bytes) override;
  bool DebugOn() const override;
  void Debug(std::string_view text) override;
  void Notice(const std::string& text) override;
  // A transfer has ended; it has sent its own replies and log entries.
  void Ended(DataTransfer& transfer) override;

 private:
  friend std::array<CommandRow, kCommandCount> MakeCommandTable();

  // Reading and dispatch.
  void ReadMore();
  void ProcessLines();
  void ResumeProcessing();
  bool CanProcess() const;
  void HandleLine(const std::string& line);
  // `showStatus` false: the row keeps the Status it has (a failure that a goodbye must not hide).
  void SendReply(std::string_view text, bool showStatus = true);
  void LogEntry(std::string_view text);
  void DebugLine(std::string_view text);
  void SetSessionText(int column, std::string_view text);
  // The client's address and port as the Peer cell and the operator's log lines show them ("[::1]:40000").
  std::string PeerText() const;
  // A file transfer starts: the row's File (as the client named it), its local path, and no outcome yet.
  void ShowTransferFile(std::string_view requested, std::string_view path);
  // "FTP: Thread N", the start of the session's debug lines.
  static std::string ThreadPrefix();
  // FDataTimeout: how long a data connection may move no byte before its transfer is aborted; 0 is never.
  std::chrono::seconds DataTimeout() const;
  // Output.
  void QueueOutput(std::string_view text);
  void StartWrite();
  void WriteRest();
  void WriteFailed(const std::error_code& error);
  // The idle limit (FIdleTimeout): a session without a command for that long, while no transfer runs, is
  // told "421 Timeout." and closed.
  void ArmIdleTimer();
  void OnIdleTimer();
  // Ending.
  void ClientClosed();
  void EndSession();
  void FinishEnd();
  void CloseTransfers();

  // Commands that need no more than a line (session_commands.cpp).
  void DoQuit(std::string_view line, std::string_view argument);
  void DoRein(std::string_view line, std::string_view argument);
  void DoPort(std::string_view line, std::string_view argument);
  void DoEprt(std::string_view line, std::string_view argument);
  void DoPasv(std::string_view line, std::string_view argument);
  void DoEpsv(std::string_view line, std::string_view argument);
  void DoOpts(std::string_view line, std::string_view argument);
  void DoAbor(std::string_view line, std::string_view argument);
  void DoNoop(std::string_view line, std::string_view argument);
  void DoNotHere(std::string_view line, std::string_view argument);
  void DoAllo(std::string_view line, std::string_view argument);
  void DoNotImplemented(std::string_view line, std::string_view argument);
  void DoType(std::string_view line, std::string_view argument);
  void DoMode(std::string_view line, std::string_view argument);
  void DoStru(std::string_view line, std::string_view argument);
  void DoSyst(std::string_view line, std::string_view argument);
  void DoHelp(std::string_view line, std::string_view argument);
  void DoFeat(std::string_view line, std::string_view argument);
  void DoStat(std::string_view line, std::string_view argument);
  // Login (login_commands.cpp).
  void DoUser(std::string_view line, std::string_view argument);
  void DoPass(std::string_view line, std::string_view argument);
  // The PASS's answer, once the password file has been read and the password checked.
  void PassDecided(PassDecision decision);
  void LoginGranted();
  // A refused PASS: the reply comes after a pause, during which no command is read (kFailedLoginPause);
  // the kMaxFailedLogins-th refusal of the connection ends it.
  void LoginDenied();
  // A PASS from an address that failed too often lately is taken only after its pause (LoginThrottle),
  // whichever connection it comes on; true when `line` waits for it.
  bool HeldBackAsGuessing(const std::string& line);
  void AnswerRefusedLogin();
  int GetRight(int field) const;
  // File system (file_commands.cpp).
  void DoCwd(std::string_view line, std::string_view argument);
  void DoCdup(std::string_view line, std::string_view argument);
  void DoPwd(std::string_view line, std::string_view argument);
  void DoMkd(std::string_view line, std::string_view argument);
  void DoRmd(std::string_view line, std::string_view argument);
  void DoDele(std::string_view line, std::string_view argument);
  void DoRnfr(std::string_view line, std::string_view argument);
  void DoRnto(std::string_view line, std::string_view argument);
  void DoSize(std::string_view line, std::string_view argument);
  void DoMdtm(std::string_view line, std::string_view argument);
  void DoRest(std::string_view line, std::string_view argument);
  // SIZE's answer, remembered for the share that the session list shows of an upload of that path.
  void SizeKnown(const std::string& path, std::uint64_t size);
  // STOR, APPE, MKD and RNTO: a name that would hold a line break or a NUL is refused with "553 Illegal file
  // name"; true after that reply.
  bool RefuseIllegalName(std::string_view argument);
  bool ResolvePath(std::string& path, PathMode mode) const;
  // Every file-system call of the session goes through this: nothing outside the root is reachable. The
  // root is the folder held open under its name (AppContext::roots).
  std::shared_ptr<const RootedFileSystem> Files() const;
  // False after the reply that refuses a command beneath a served folder that is missing.
  bool ServedFolderPresent();
  // Whether the command works beneath the session's folder (STAT only with a name).
  static bool UsesServedFolder(CommandId id, std::string_view argument);
  // Commands of mirror and sync tools: file times and digests (sync_commands.cpp).
  void DoMfmt(std::string_view line, std::string_view argument);
  void DoSite(std::string_view line, std::string_view argument);
  void DoHash(std::string_view line, std::string_view argument);
  // OPTS HASH: false, with nothing sent, when `option` is about something else.
  bool OptsHash(std::string_view option);
  // Sets the times of a path named by MFMT or SITE UTIME; false after the reply that refuses it.
  bool SetFileTimes(const TimeChange& change);
  // TLS on the control connection and the data connections (tls_commands.cpp).
  void DoAuth(std::string_view line, std::string_view argument);
  void DoPbsz(std::string_view line, std::string_view argument);
  void DoProt(std::string_view line, std::string_view argument);
  // FTLS: 0 off (the TLS commands are unknown), 1 offered, 2 required.
  int TlsLevel() const;
  // Whether AUTH TLS can succeed: on by the setting, and a certificate loaded.
  bool TlsOffered() const;
  // The handshake on the control connection, once every reply before it has gone out in the clear. Nothing
  // the client sent before it is taken as a command.
  void BeginHandshake();
  void HandshakeDone(tls::TlsStream& stream, std::error_code error);
  // A handshake that failed or never completed ends the session: nothing more can be said in the clear.
  void HandshakeFailed(const std::string& reason);
  // What TLS refuses before a command runs (USER in the clear, a data command under PROT C, while TLS is
  // required); true after the refusal.
  bool RefusedByTls(CommandId id, std::string_view argument);
  // The data connections' TLS under PROT P; nullopt for clear ones.
  std::optional<DataTls> DataConnectionTls() const;
  // Data commands (transfer_commands.cpp).
  void DoList(std::string_view line, std::string_view argument);
  void DoNlst(std::string_view line, std::string_view argument);
  void DoRetr(std::string_view line, std::string_view argument);
  void DoStor(std::string_view line, std::string_view argument);
  void DoAppe(std::string_view line, std::string_view argument);
  void ListCommand(std::string_view argument, bool namesOnly);
  // Sends what `reader` finds, in `style`, over the data connection: "550 File unavailable" when it finds
  // nothing.
  void SendListing(std::shared_ptr<ListingReader> reader, ListingStyle style);
  // The calendar time, as listings show dates relative to it.
  std::time_t WallTime() const;
  // MLSD and MLST (listing_commands.cpp).
  void DoMlsd(std::string_view line, std::string_view argument);
  void DoMlst(std::string_view line, std::string_view argument);
  // OPTS MLST: the facts that MLSD and MLST show from now on.
  void OptsMlst(std::string_view facts);
  FactRights CurrentFactRights() const;
  void StoreCommand(std::string_view argument, bool append);
  // STAT of a path: its listing as reply lines, a part at a time, each part once the ones before have gone
  // out, so that a client that does not read holds at most about one part.
  void SendStatPart(std::shared_ptr<ListingReader> reader, ListingPart part);
  void ContinueStat();
  // Runs `work` on the blocking pool and then `done(result)` on the session's strand, unless the session has
  // ended by then; no command is read in between, so replies stay in order. False, with neither run, when
  // the pool refuses the work; the caller replies.
  template <class Work, class Done>
  bool Offload(Work work, Done done, BlockingPool::Admission admission = BlockingPool::Admission::New) {
    return OffloadTo(m_context.blocking, std::move(work), std::move(done), admission);
  }
  // The same on another pool.
  template <class Work, class Done>
  bool OffloadTo(BlockingPool& pool, Work work, Done done,
                 BlockingPool::Admission admission = BlockingPool::Admission::New);
  bool TransferRunning() const { return m_transfer != nullptr; }
  // Starts `transfer`'s data connection through `opener`; the transfer becomes the session's running one.
  void StartTransfer(std::unique_ptr<DataTransfer> transfer, std::unique_ptr<DataOpener> opener);
  TransferSettings CurrentTransferSettings() const;
  // How the next data command gets its connection: the passive listener of the last PASV or EPSV (taken:
  // one connection per command), or a connect from the data port to the address of the last PORT or EPRT,
  // with `socket` opened for it. nullptr after the 425 or 451 reply.
  std::unique_ptr<DataOpener> TakeDataOpener(asio::ip::tcp::socket& socket);
  std::uint16_t DataPort() const;
  // A passive listener for PASV or EPSV, on the control connection's local address; nullptr after the reply
  // that refuses it.
  std::shared_ptr<PassiveListener> OpenPassiveListener();
  bool PassiveEnabled() const;
  bool ControlIsIpv6() const { return m_peerAddress.is_v6(); }
  // The server's address of the control connection, as IPv4 for an IPv4 client.
  asio::ip::address LocalAddress() const;
  void ClosePassive();

  AppContext& m_context;
  FtpWorker& m_worker;
  std::unique_ptr<ByteStream> m_connection;
  StreamEnds m_ends;
  std::unique_ptr<ClockTimer> m_endTimer;
  std::unique_ptr<ClockTimer> m_idleTimer;
  bool m_idleArmed = false;
  std::unique_ptr<ClockTimer> m_loginPauseTimer;
  bool m_loginPause = false;        // a refused login waits for its reply; commands wait behind it
  int m_nFailedLogins = 0;          // on this connection, however many USERs came between
  bool m_passHeldBack = false;      // the PASS being handled has had its pause
  Clock::TimePoint m_lastActivity;  // the last command, or the end of the last transfer
  int m_nSessionId;

  std::string m_strPeerAddr;
  unsigned m_nPeerPort = 0;
  asio::ip::address m_peerAddress;  // IPv4 for an IPv4 client, also on a dual-stack socket
  bool m_bConnected = false;
  bool m_bNeedUser = true;
  bool m_bNeedPass = false;
  std::string m_strUser;
  std::string m_strPassword;
  std::string m_strProfile;
  std::string m_strRootDir;
  std::string m_strCurDir;
  std::optional<asio::ip::tcp::endpoint> m_portTarget;  // of the last PORT or EPRT; nullopt: none usable
  std::shared_ptr<PassiveListener> m_passive;           // of the last PASV or EPSV, until a command takes it
  bool m_epsvAll = false;                               // EPSV ALL: no other way to a data connection
  bool m_dataPortNoted = false;  // the trace has said that FDataPort is refused and a free port serves
  char m_chType = 'A';
  bool m_bRestart = false;
  std::int64_t m_lRestartPos = 0;
  // The size the client announced for its next upload (ALLO) or asked for (SIZE of that path), for the
  // share of it the session list shows.
  std::optional<std::uint64_t> m_announcedSize;
  std::string m_sizedPath;
  std::uint64_t m_sizedBytes = 0;
  std::string m_strRenameFrom;
  FactSet m_mlstFacts = kAllFacts;  // what MLSD and MLST show (OPTS MLST)
  bool m_blockingPending = false;   // a command waits for its work on the blocking pool
  // Set when the session ends, for work of it that is still running on the pool.
  std::shared_ptr<std::atomic<bool>> m_stopWork = std::make_shared<std::atomic<bool>>(false);
  std::shared_ptr<ListingReader> m_statReader;  // the rest of a STAT listing, to follow its last part
  HashAlgorithm m_hashAlgorithm = HashAlgorithm::Sha256;  // HASH's digest, chosen with OPTS HASH

  // TLS: the 234 reply waits to go out (Starting), then the handshake runs; while either lasts no command is
  // read. A failed handshake ends the session.
  enum class TlsState { Clear, Starting, Handshaking, Secured };
  TlsState m_tlsState = TlsState::Clear;
  bool m_implicitTls = false;                     // the greeting follows the handshake
  std::shared_ptr<tls::TlsContext> m_tlsContext;  // the control connection's, for its data connections too
  std::string m_tlsTag;                           // sessions resume only on this control's data connections
  bool m_pbszDone = false;
  bool m_protPrivate = false;  // PROT P: data connections are encrypted

  std::unique_ptr<DataTransfer> m_transfer;  // the running RETR, STOR, APPE, LIST or NLST
  // What the operator may do from the row: disconnect, and cancel while a transfer runs.
  void OfferActions();
  // Transfers that have ended, kept until their last handler has run.
  std::vector<std::unique_ptr<DataTransfer>> m_endedTransfers;

  LineReader m_reader;
  std::array<char, 4096> m_readBuffer{};
  bool m_readPending = false;
  bool m_inputEnded = false;
  bool m_processPosted = false;

  std::string m_output;   // replies waiting for the write in progress
  std::string m_writing;  // the bytes of the write in progress
  size_t m_written = 0;   // what of them has gone out
  bool m_writePending = false;
  bool m_writeFailed = false;

  int m_replyCommand = kUnknownCommand;  // the command the replies now answer
  SessionOutcome m_outcome;

  bool m_ending = false;
  bool m_ended = false;
};

template <class Work, class Done>
bool ControlSession::OffloadTo(BlockingPool& pool, Work work, Done done, BlockingPool::Admission admission) {
  auto finish = [this, done = std::move(done)](auto result) mutable {
    m_blockingPending = false;
    if (m_ending) return;
    done(std::move(result));
    ResumeProcessing();
  };
  Worker& worker = m_worker;
  m_blockingPending = pool.Run(worker, std::move(work), std::move(finish), admission);
  return m_blockingPending;
}

}  // namespace hx::ftpd
