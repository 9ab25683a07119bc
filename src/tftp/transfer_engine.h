#pragma once

#include <asio/ip/udp.hpp>
#include <chrono>
#include <cstdint>
#include <deque>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "tftp/burst_pacer.h"
#include "tftp/request_checks.h"
#include "tftp/tftp_options.h"
#include "tftp/tftp_packets.h"
#include "tftp/transfer_file.h"

// The transfer of one TFTP session, server or client, without any I/O of its own.
//
// The caller feeds it events (start, a datagram with its source, a timer, a failed send or receive) together
// with the current time, and carries out the actions it returns, in order: send these bytes to that
// endpoint, arm or kill the retransmission timer, write a cell of the session's row, hand a log or debug
// line over, show a message box, drop the datagrams already queued, end the session.
//
// Sides: the sending side sends DATA blocks and waits for their ACK; the receiving side acknowledges them.
// Without options a block holds 512 bytes and one packet is in flight (lock-step). Options (RFC 2347) are
// answered by the server with an OACK as the first packet of the transfer, which the client answers with
// ACK 0 (a read) or DATA 1 (a write); they set the block size (blksize), the timeout for the session
// (timeout) and the window (windowsize, RFC 7440): the sender sends up to a window of blocks and waits for
// the ACK of the last; the receiver acknowledges at the end of each window, on the final block, and once on
// a gap (with the last block it has in order), and the sender goes back to the block after the one
// acknowledged. Block numbers run modulo 65536, also inside a window. A transfer ends on the first block
// shorter than the block size.
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
// The timer: what is in flight is resent every timeout seconds after it was first sent (retransmissions do
// not move the deadline), at most TRetries times; then the session gives up without an ERROR packet. A
// duplicate ACK never makes the sender send twice (the sorcerer's apprentice): in lock-step it is ignored,
// with a window the first one for a window start sends the window again and later ones wait for the timer.
//
// Pacing: a receiver whose socket buffer is smaller than a window loses its end. After such a loss (an ACK
// that covers part of the window, or a timeout) the sender sends a window in bursts of the blocks that got
// through, a millisecond apart, and doubles the burst with every window that arrives whole.
namespace hx::tftp {

using Clock = std::chrono::steady_clock;
using TimePoint = Clock::time_point;
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
    SetCell,      // `column` of the session's row = `text`
    Log,          // a transfer-log line
    Debug,        // a debug-trace line
    MessageBox,   // `text` to the operator
    DrainQueued,  // drop the datagrams already waiting on the socket
    End,          // the session is over: close the socket and leave
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

 private:
  enum class State { Idle, AwaitAnswer, Transfer, Dally, Ended };

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
  void FailReceive(int socketError);
  void AddToTotal(size_t count);
  // Applies what was granted: block size, window, timeout, and the announced size as the row's total.
  void ApplyOptions(const TftpOptions& granted);
  // Sending side: fills the window from the file and sends all of it from its first block.
  void SendWindow(TimePoint now, bool afterLoss = false);
  // Sends the window's next burst (all of what is left unless paced); a retransmission reports no failure
  // and writes no debug lines for the blocks.
  void SendBurst(TimePoint now, bool retransmission = false);
  void SendProbe();
  bool FillWindow();
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
  // A packet was accepted: the retry budget is full again and a client's first answer has come.
  void AcceptProgress();
  bool DebugOn() const { return (m_nDebug & 1) != 0; }
  std::chrono::seconds Timeout() const;

  Options m_options;
  const EngineSettings& m_settings;
  State m_state = State::Idle;
  std::optional<Endpoint> m_peer;
  bool m_peerLocked = false;  // a client adopts the source of the first answer
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

  // Sending side: the blocks read and sent but not yet acknowledged, in a ring of m_windowSize slots of
  // kHeaderSize + m_blockSize bytes; m_first is the slot of block m_nSendBlock.
  std::vector<std::uint8_t> m_slots;
  std::vector<size_t> m_slotLength;  // each slot's packet length
  size_t m_first = 0;
  size_t m_count = 0;
  bool m_readLast = false;                  // the final block is in the window
  std::optional<std::uint16_t> m_wentBack;  // the window start that a duplicate ACK has sent again
  // Pacing: a window goes in bursts, the next a moment after the last (m_burstAt). m_sent blocks of the
  // window's current transmission are out, the last of them at m_lastBurst.
  BurstPacer m_pacer;
  size_t m_sent = 0;
  std::optional<TimePoint> m_burstAt;
  TimePoint m_lastBurst{};
  // A receiver that acknowledges only at the end of a window, or at a gap it sees, says nothing when the end
  // of a window is lost, and the window would wait for a whole timeout. When the ACK is overdue (m_probeAt, a
  // few times the delay of the last window's ACK) the window's last block goes again as a probe: a receiver
  // missing blocks sees a gap and acknowledges what it has.
  std::optional<TimePoint> m_probeAt;
  std::chrono::steady_clock::duration m_ackDelay{};
  bool m_probed = false;

  // Receiving side, with a window: blocks taken since the last ACK, and whether a gap was acknowledged.
  int m_sinceAck = 0;
  bool m_gapAcked = false;

  std::optional<TimePoint> m_deadline;
  std::chrono::seconds m_period{0};

  std::vector<Action> m_actions;
  std::deque<PacketBuffer> m_errorPackets;  // ERROR packets of the current call; stable while it grows
};

}  // namespace hx::tftp
