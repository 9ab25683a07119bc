#pragma once

#include <algorithm>
#include <asio/ip/udp.hpp>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <deque>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "tftp/burst_pacer.h"
#include "tftp/request_checks.h"
#include "tftp/send_window.h"
#include "tftp/tftp_options.h"
#include "tftp/tftp_packets.h"
#include "tftp/transfer_file.h"

// The transfer of one TFTP session, server or client, without any I/O of its own.
//
// The caller feeds it events (start, a datagram with its source, a timer, a failed send or receive) together
// with the current time, and carries out the actions it returns, in order: send these bytes to that
// endpoint, arm or kill the retransmission timer, write a cell of the session's row, hand a log or debug
// line over, show a message box, end the session.
//
// Sides: the sending side sends DATA blocks and waits for their ACK; the receiving side acknowledges them.
// Without options a block holds 512 bytes and one packet is in flight (lock-step). Options (RFC 2347) are
// answered by the server with an OACK as the first packet of the transfer, which the client answers with
// ACK 0 (a read) or DATA 1 (a write); they set the block size (blksize), the timeout for the session
// (timeout) and the window (windowsize, RFC 7440): the sender has up to a window of blocks out and waits for
// the ACK of the last; the receiver acknowledges at the end of each window (counted from its last ACK), on
// the final block, and once on a gap or a block it has already (with the last block it has in order). Block
// numbers run modulo 65536, also inside a window. A transfer ends on the first block shorter than the block
// size.
//
// States:
//   Idle          nothing started; a rejection may still be reported.
//   AwaitAnswer   client only: the request is out; the first datagram's source becomes the peer.
//   Transfer      waiting for ACKs of the blocks in flight, or for the next DATA blocks.
//   Dally         receiving side after the final ACK: success is already shown and the file closed; a
//                 retransmitted final block is acknowledged again until one timeout has passed, so that a
//                 lost final ACK does not make the sender fail.
//   Ended         every later event is ignored.
//
// Transfer identifiers: once the peer is known, a datagram from any other address or port is answered with
// ERROR code 5 "Unknown transfer ID" sent to that source and changes nothing else.
//
// The timer: when nothing has come back for a timeout, the receiving side sends its last ACK again every
// timeout seconds after the first (retransmissions do not move the deadline); the sending side sends only the
// first block not yet acknowledged (or the OACK), and doubles the wait before each further retransmission.
// After TRetries retransmissions, or 60 seconds without a packet accepted from the peer, whichever comes
// first, the session gives up without an ERROR packet.
//
// Duplicates: an ACK of a block already acknowledged changes nothing (answering it would double every later
// block: the sorcerer's apprentice), and so does a DATA block already received in lock-step.
//
// How much the sending side has out (slow start): after the OACK and after a timeout the sender may have at
// most 4 blocks and 64 KiB out (at least one block), and as far as a window more with each ACK that covers
// all that was out. An ACK that covers part of what was out lets as many blocks follow as it acknowledged:
// one that covers a single block is taken for a receiver that acknowledges more often than the window asks:
// the rest stays out, and the block that slid into the window may follow with one more; one that covers more
// says that the rest was lost, and the sender goes back to the block after it with as many blocks as got
// through. While the sender has fewer blocks out than the receiver waits for, it sends the first of them a
// second time a moment later as a probe: the receiver sees a block it has and acknowledges all it has.
//
// Pacing: a receiver whose socket buffer is smaller than a window loses its end. After such a loss (an ACK
// that covers part of the window, or a timeout) the sender sends what it may in bursts of the blocks that got
// through, a millisecond apart, and doubles the burst with every ACK that covers all that was out. When a
// whole window is out and its ACK is overdue, its last block goes again as a probe.
namespace hx::tftp {

// The engine reads no clock: every event comes with the time of the session's clock (AppContext::clock).
using TimePoint = std::chrono::steady_clock::time_point;
using Endpoint = asio::ip::udp::endpoint;

enum class Side { Sending, Receiving };

// Where the engine reads its settings, at the moment of use.
class EngineSettings {
 public:
  virtual ~EngineSettings() = default;
  virtual int Debugging() const = 0;       // General/Debugging; bit 1 is the TFTP debug trace
  virtual int Retries() const = 0;         // TFTP/TRetries
  virtual int TimeoutSeconds() const = 0;  // TFTP/TTimeout
  // TFTP/TOptions (false: every option of a request is ignored), TFTP/TMaxBlockSize, TFTP/TMaxWindowSize
  virtual bool OptionsEnabled() const = 0;
  virtual int MaxBlockSize() const = 0;
  virtual int MaxWindowSize() const = 0;
};

struct Action {
  enum class Kind {
    Send,      // `bytes` to `to`
    ArmTimer,  // the timer fires at `deadline` (replaces any earlier deadline)
    KillTimer,
    SetCell,     // `column` of the session's row = `text`
    Log,         // a transfer-log line
    Debug,       // a debug-trace line
    MessageBox,  // `text` to the operator
    End,         // the session is over: close the socket and leave
  };
  Kind kind = Kind::End;
  std::span<const std::uint8_t> bytes;  // valid until the next call into the engine
  Endpoint to;
  // Send: a failure of this send ends the session; tell the engine with OnSendFailed.
  bool reportFailure = false;
  TimePoint deadline{};
  int column = 0;
  std::string text;
};

// A client's request, and what it shows when the request cannot be sent or gets no answer: the prefix,
// followed by the socket error text.
struct ClientRequest {
  std::span<const std::uint8_t> request;  // the RRQ or WRQ; copied
  Endpoint server;
  std::string sendFailurePrefix;  // e.g. "Error connecting to host : "
  std::string noAnswerPrefix;     // e.g. "Error receiving response from host : "
  int noAnswerError = 10060;      // the socket error shown when the guard time passes
  TftpOptions options;            // what the request asks for; an OACK may grant no more
};

class TransferEngine {
 public:
  struct Options {
    Side side = Side::Sending;
    bool clientSide = false;  // selects the verb of the Command cell
    int threadNumber = 0;     // "Thread %d" of the debug lines
  };

  TransferEngine(Options options, const EngineSettings& settings);
  TransferEngine(const TransferEngine&) = delete;
  TransferEngine& operator=(const TransferEngine&) = delete;

  // A server knows its peer from the request; every packet goes there and only there.
  void SetPeer(const Endpoint& peer);

  // Refuses the request or the file: for each rejection, an ERROR packet to the peer (when one is known),
  // Status, the log line "TFTP: ERROR. " + text, and its message box if any; then the end.
  std::span<const Action> Reject(std::span<const Rejection> rejections);
  // The cells and the log line of opening `path`: Status "Opening file", Command "GET "/"PUT " + path, the
  // log line, Status "Sending File" / "Receiving File".
  std::span<const Action> OpenFile(std::string_view path);
  // Server: the file is open; sends the OACK of `granted` when it grants anything, else DATA 1 (sending
  // side) or ACK 0 (receiving side).
  std::span<const Action> Start(std::unique_ptr<TransferFile> file, TimePoint now,
                                const TftpOptions& granted = {});
  // Sending side: the file is expected to hold `size` bytes (nullopt: not known), so that no buffer is
  // larger than what is left of it. Before Start.
  void ExpectSize(std::optional<std::uint64_t> size) { m_sizeHint = size; }
  // Client: the file is open; sends the request and waits up to twice TTimeout for the first answer.
  std::span<const Action> StartClient(std::unique_ptr<TransferFile> file, const ClientRequest& request,
                                      TimePoint now);

  // A datagram of `datagram.size()` bytes from `from`. `oversized`: it was longer than MaxDatagram() bytes
  // and is cut.
  std::span<const Action> OnDatagram(std::span<const std::uint8_t> datagram, const Endpoint& from,
                                     TimePoint now, bool oversized = false);
  // Receiving failed with this socket error number.
  std::span<const Action> OnReceiveFailed(int socketError);
  // A send marked `reportFailure` failed with this socket error number.
  std::span<const Action> OnSendFailed(int socketError);
  // The timer fired. A call before the deadline, or without one, does nothing.
  std::span<const Action> OnTimer(TimePoint now);
  // The operator cancels the transfer: ERROR 0 kCancelledText to the peer (once it has answered), the same
  // as Status, a log line that names the peer, then the end. A receiving side that has shown its success
  // only stops waiting for a repeated final block.
  std::span<const Action> Cancel();

  bool Ended() const { return m_state == State::Ended; }
  // When OnTimer is due: the retransmission deadline, or the next burst of a paced window if that is nearer.
  std::optional<TimePoint> Deadline() const;
  const std::optional<Endpoint>& Peer() const { return m_peer; }
  std::uint64_t TotalBytes() const { return m_nTotalBytes; }
  // The longest datagram the session can be sent now: a DATA packet of the block size, or before a
  // client's first answer of the block size it asked for.
  size_t MaxDatagram() const;
  // How many datagrams may arrive at once: the window.
  int WindowSize() const { return m_windowSize; }
  bool SendingSide() const { return m_options.side == Side::Sending; }
  // Sending side: the bytes of the buffers that hold blocks now.
  size_t HeldBytes() const { return m_window.HeldBytes(); }

 private:
  enum class State { Idle, AwaitAnswer, Transfer, Dally, Ended };

  // A debug or status line of printf's `format`.
  template <class... Args>
  static std::string Format(const char* format, Args... args) {
    char text[160];
    std::snprintf(text, sizeof text, format, args...);
    return text;
  }
  std::span<const Action> Done() const { return m_actions; }
  void Begin();
  Action& Push(Action::Kind kind);
  void Send(std::span<const std::uint8_t> bytes, const Endpoint& to, bool reportFailure);
  void ArmTimer(TimePoint deadline);
  void KillTimer();
  void SetCell(int column, std::string text);
  void Log(std::string text);
  void DebugLine(std::string text);
  void Status(std::string text);
  void EndSession();
  void SendRejection(const Rejection& rejection);
  void ReportError(std::uint16_t code, std::string text);
  // Ends the transfer with the failure `text` in Status; a client logs it as well, as a server logs the
  // errors it sends.
  void Fail(std::string text);
  void FailReceive(int socketError);
  void AddToTotal(size_t count);
  // Applies what was granted: block size, window, timeout, and the announced size as the row's total.
  void ApplyOptions(const TftpOptions& granted);
  // Sending side: the first blocks go out (after ACK 0, the OACK's answer, or at once without options).
  void StartSending(TimePoint now);
  // Reads what may be out and sends what is not yet, at once or (after a loss) a moment later.
  void SendMore(TimePoint now, bool afterLoss = false);
  // Sends the next burst of what may be out (all of it unless paced), then a probe if the receiver would
  // wait.
  void SendBurst(TimePoint now);
  // The last block sent goes again, for the receiver to acknowledge what it has.
  void SendProbe();
  // Blocks that may be out now: the slow-start limit, within the window.
  size_t Allowed() const { return std::min(m_limit, static_cast<size_t>(m_windowSize)); }
  // The receiver acknowledges on its own once it has everything that is out now.
  bool ReceiverWillAnswer() const;
  // Receiving side: acknowledges the last block in order, and ends in success after the final one.
  void SendAck(TimePoint now);
  void Success(TimePoint now);
  void OnSendingSide(const Packet& packet, TimePoint now);
  void OnAck(std::uint16_t block, TimePoint now);
  void OnReceivingSide(const Packet& packet, TimePoint now);
  void OnData(const Packet& packet, TimePoint now);
  void OnOack(const Packet& packet, TimePoint now);
  void OnDally(const Packet& packet);
  void Retransmit(TimePoint now);
  void RetransmitFirstBlock(TimePoint now);
  // A packet was accepted: the retry budget is full again and a client's first answer has come.
  void AcceptProgress(TimePoint now);
  bool DebugOn() const { return (m_nDebug & 1) != 0; }
  std::chrono::seconds Timeout() const;

  Options m_options;
  const EngineSettings& m_settings;
  State m_state = State::Idle;
  std::optional<Endpoint> m_peer;
  bool m_peerLocked = false;    // a client adopts the source of the first answer
  bool m_outcomeShown = false;  // the row's outcome cell says how the transfer ended
  std::string m_sendFailurePrefix;
  std::string m_noAnswerPrefix;
  int m_noAnswerError = 0;
  std::unique_ptr<TransferFile> m_file;

  int m_nDebug = 0;
  // The request, OACK or ACK in flight, or the last ACK sent.
  std::vector<std::uint8_t> m_tx;
  std::uint64_t m_nTotalBytes = 0;
  int m_nRetriesLeft = 0;
  bool m_bLastBlock = false;       // receiving side: the final block has come
  std::uint16_t m_nSendBlock = 1;  // sending side: the first block of the window
  std::uint16_t m_nRecvBlock = 0;  // receiving side: the last block received in order

  // Negotiated, or the defaults without options.
  TftpOptions m_asked;      // client: what its request asked for
  TftpOptions m_granted;    // what the OACK granted
  bool m_preamble = false;  // the request or the OACK is in flight, no block yet
  size_t m_blockSize = kBlockSize;
  int m_windowSize = 1;
  std::optional<int> m_timeoutSeconds;

  // Sending side: the blocks read and not yet acknowledged; m_sent of them (from the first) are out, and at
  // most m_limit may be (slow start). m_sizeHint: the size the file is expected to have.
  SendWindow m_window;
  std::optional<std::uint64_t> m_sizeHint;
  size_t m_sent = 0;
  size_t m_limit = 1;
  bool m_slid = false;  // the last ACK covered a single block of several out
  // Pacing: what may be out goes in bursts, the next a moment after the last (m_burstAt); the last burst went
  // at m_lastBurst.
  BurstPacer m_pacer;
  std::optional<TimePoint> m_burstAt;
  TimePoint m_lastBurst{};
  // A receiver that acknowledges only at the end of a window, or at a gap it sees, says nothing when the end
  // of a window is lost, and the window would wait for a whole timeout. When the ACK is overdue (m_probeAt, a
  // few times the delay of the last window's ACK) the window's last block goes again as a probe: a receiver
  // missing blocks sees a gap and acknowledges what it has.
  std::optional<TimePoint> m_probeAt;
  std::chrono::steady_clock::duration m_ackDelay{};
  bool m_probed = false;
  bool m_probeFirst = false;  // the probe is the first block out (not the last)

  // Receiving side, with a window: blocks taken since the last ACK, and whether a gap was acknowledged.
  int m_sinceAck = 0;
  bool m_gapAcked = false;

  std::optional<TimePoint> m_deadline;
  std::chrono::seconds m_period{0};
  TimePoint m_lastHeard{};  // when the last packet from the peer was accepted (or the session started)

  std::vector<Action> m_actions;
  std::deque<PacketBuffer> m_errorPackets;  // ERROR packets of the current call; stable while it grows
};

}  // namespace hx::tftp
