#include "tftp/transfer_engine.h"

#include <algorithm>
#include <cstdio>

#include "app/address_text.h"
#include "app/session_table.h"
#include "app/socket_error_text.h"
#include "app/worker.h"
#include "tftp/option_packets.h"

namespace hx::tftp {
namespace {

constexpr int kMaxSettingTimeout = 24 * 60 * 60;
// A session ends when its peer has been silent this long, whatever the timeout and the retries say.
constexpr std::chrono::seconds kMaxSilence{60};

}  // namespace

TransferEngine::TransferEngine(Options options, const EngineSettings& settings)
    : m_options(options), m_settings(settings) {
  m_actions.reserve(16);
}

void TransferEngine::SetPeer(const Endpoint& peer) {
  m_peer = peer;
  m_peerLocked = true;
}

std::chrono::seconds TransferEngine::Timeout() const {
  if (m_timeoutSeconds) return std::chrono::seconds(*m_timeoutSeconds);
  // A period below one second would resend as fast as the machine can and give up at once.
  return std::chrono::seconds(std::clamp(m_settings.TimeoutSeconds(), 1, kMaxSettingTimeout));
}

void TransferEngine::Begin() {
  m_actions.clear();
  m_errorPackets.clear();
}

Action& TransferEngine::Push(Action::Kind kind) {
  Action& action = m_actions.emplace_back();
  action.kind = kind;
  return action;
}

void TransferEngine::Send(std::span<const std::uint8_t> bytes, const Endpoint& to, bool reportFailure) {
  Action& action = Push(Action::Kind::Send);
  action.bytes = bytes;
  action.to = to;
  action.reportFailure = reportFailure;
}

void TransferEngine::ArmTimer(TimePoint deadline) {
  deadline = std::min(deadline, m_lastHeard + kMaxSilence);
  m_deadline = deadline;
  Push(Action::Kind::ArmTimer).deadline = deadline;
}

void TransferEngine::KillTimer() {
  if (!m_deadline) return;
  m_deadline.reset();
  Push(Action::Kind::KillTimer);
}

void TransferEngine::SetCell(int column, std::string text) {
  Action& action = Push(Action::Kind::SetCell);
  action.column = column;
  action.text = std::move(text);
}

void TransferEngine::Log(std::string text) {
  Push(Action::Kind::Log).text = std::move(text);
}

void TransferEngine::DebugLine(std::string text) {
  Push(Action::Kind::Debug).text = std::move(text);
}

void TransferEngine::Status(std::string text) {
  SetCell(kColStatus, std::move(text));
}

void TransferEngine::EndSession() {
  // Every end but a success is a failure, whatever the Status says (a refusal, a stop, a silent peer).
  if (!m_outcomeShown) SetCell(kColOutcome, kOutcomeFailed);
  m_outcomeShown = true;
  KillTimer();
  m_burstAt.reset();
  m_probeAt.reset();
  m_file.reset();
  m_window.Release();
  m_state = State::Ended;
  Push(Action::Kind::End);
}

void TransferEngine::SendRejection(const Rejection& rejection) {
  if (m_peer) {
    PacketBuffer& packet = m_errorPackets.emplace_back();
    size_t length = BuildError(packet, rejection.code, rejection.text);
    Send(std::span(packet.data(), length), *m_peer, false);
  }
  Status(rejection.text);
  Log("TFTP: ERROR. " + rejection.text);
  if (!rejection.messageBox.empty()) Push(Action::Kind::MessageBox).text = rejection.messageBox;
}

void TransferEngine::ReportError(std::uint16_t code, std::string text) {
  SendRejection(Rejection{code, std::move(text), {}});
  EndSession();
}

void TransferEngine::Fail(std::string text) {
  Status(text);
  if (m_options.clientSide) Log("TFTP: ERROR. " + text);
  EndSession();
}

std::span<const Action> TransferEngine::Cancel() {
  Begin();
  if (m_state == State::Ended) return Done();
  if (m_state != State::Dally) {
    // Before a client's first answer the peer is only the server's port, which expects requests.
    if (m_peer && m_state != State::AwaitAnswer) {
      PacketBuffer& packet = m_errorPackets.emplace_back();
      size_t length = BuildError(packet, kErrNotDefined, kCancelledText);
      Send(std::span(packet.data(), length), *m_peer, false);
    }
    Status(kCancelledText);
    std::string peer =
        m_peer ? " with " + HostPortShown(AddressText(m_peer->address()), m_peer->port()) : std::string();
    Log("TFTP: Transfer" + peer + " cancelled by the operator");
  }
  EndSession();
  return Done();
}

std::span<const Action> TransferEngine::Reject(std::span<const Rejection> rejections) {
  Begin();
  if (m_state == State::Ended) return Done();
  for (const Rejection& rejection : rejections) SendRejection(rejection);
  EndSession();
  return Done();
}

std::span<const Action> TransferEngine::OpenFile(std::string_view path) {
  Begin();
  bool get = (m_options.side == Side::Sending) != m_options.clientSide;
  std::string command = (get ? "GET " : "PUT ") + std::string(path);
  Status("Opening file");
  SetCell(kColCommand, command);
  Log("TFTP: " + command);
  Status(m_options.side == Side::Sending ? "Sending File" : "Receiving File");
  return Done();
}

std::span<const Action> TransferEngine::Start(std::unique_ptr<TransferFile> file, TimePoint now,
                                              const TftpOptions& granted) {
  Begin();
  if (m_state != State::Idle || !m_peer) return Done();
  m_file = std::move(file);
  m_nDebug = m_settings.Debugging();
  m_nRetriesLeft = m_settings.Retries();
  m_lastHeard = now;
  m_state = State::Transfer;
  if (!granted.Any()) {
    ApplyOptions({});
    if (m_options.side == Side::Sending)
      StartSending(now);
    else
      SendAck(now);
    return Done();
  }
  // The OACK stands in for DATA 1's ACK 0 (a read) or for ACK 0 (a write) until the client answers it.
  ApplyOptions(granted);
  m_preamble = true;
  m_tx = BuildOack(granted);
  m_period = Timeout();
  ArmTimer(now + m_period);
  Send(m_tx, *m_peer, m_options.side == Side::Sending);
  if (DebugOn())
    DebugLine(Format("TFTP: Thread %d, Sent OACK: ", m_options.threadNumber) + OptionsText(granted));
  return Done();
}

std::span<const Action> TransferEngine::StartClient(std::unique_ptr<TransferFile> file,
                                                    const ClientRequest& request, TimePoint now) {
  Begin();
  if (m_state != State::Idle) return Done();
  m_file = std::move(file);
  m_nDebug = m_settings.Debugging();
  m_nRetriesLeft = m_settings.Retries();
  m_lastHeard = now;
  m_sendFailurePrefix = request.sendFailurePrefix;
  m_noAnswerPrefix = request.noAnswerPrefix;
  m_noAnswerError = request.noAnswerError;
  m_asked = request.options;
  m_peer = request.server;
  m_peerLocked = false;
  ApplyOptions({});
  // The server's ACK 0 or OACK is the answer to a write, and DATA 1 follows it.
  m_preamble = true;
  m_nRecvBlock = 0;
  m_tx.assign(request.request.begin(), request.request.end());
  m_state = State::AwaitAnswer;
  ArmTimer(now + 2 * Timeout());
  Send(m_tx, request.server, true);
  return Done();
}

size_t TransferEngine::MaxDatagram() const {
  size_t block = m_blockSize;
  if (m_state == State::AwaitAnswer && m_asked.blockSize)
    block = std::max(block, static_cast<size_t>(*m_asked.blockSize));
  return kHeaderSize + block;
}

void TransferEngine::ApplyOptions(const TftpOptions& granted) {
  m_granted = granted;
  m_blockSize = granted.blockSize ? static_cast<size_t>(*granted.blockSize) : kBlockSize;
  m_windowSize = granted.windowSize.value_or(1);
  m_timeoutSeconds = granted.timeoutSeconds;
  if (m_options.side == Side::Sending)
    m_window.Reset(m_blockSize, static_cast<size_t>(m_windowSize), m_sizeHint);
  // The share of the file that has gone over can be shown from here on.
  if (granted.transferSize) SetCell(kColTotal, std::to_string(*granted.transferSize));
}

std::optional<TimePoint> TransferEngine::Deadline() const {
  std::optional<TimePoint> next = m_deadline;
  for (const auto& other : {m_burstAt, m_probeAt})
    if (other && (!next || *other < *next)) next = other;
  return next;
}

void TransferEngine::SendAck(TimePoint now) {
  m_tx.resize(kHeaderSize);
  WriteU16(m_tx.data(), kOpAck);
  WriteU16(m_tx.data() + 2, m_nRecvBlock);
  m_period = Timeout();
  ArmTimer(now + m_period);
  Send(m_tx, *m_peer, false);
  if (DebugOn())
    DebugLine(Format("TFTP: Thread %d, Sent ACK = %d", m_options.threadNumber, int{m_nRecvBlock}));
  if (m_bLastBlock) Success(now);
}

void TransferEngine::Success(TimePoint now) {
  std::string total = std::to_string(m_nTotalBytes);
  SetCell(kColBytes, total);
  std::string text = "TFTP: Successful. Total bytes transferred: " + total;
  Status(text);
  // The transfer is over here, also for a receiver that dallies for a lost last ACK.
  SetCell(kColOutcome, kOutcomeSucceeded);
  m_outcomeShown = true;
  if (m_granted.Any()) text += " (" + OptionsText(m_granted) + ")";
  Log(std::move(text));
  m_file.reset();  // closed and released now, not when the session has gone
  m_window.Release();
  if (m_options.side == Side::Receiving) {
    m_state = State::Dally;
    ArmTimer(now + Timeout());
    return;
  }
  EndSession();
}

void TransferEngine::AcceptProgress(TimePoint now) {
  m_nRetriesLeft = m_settings.Retries();
  m_lastHeard = now;
  if (m_state == State::AwaitAnswer) m_state = State::Transfer;
}

void TransferEngine::AddToTotal(size_t count) {
  // Every ten blocks; with 512-byte blocks every 5,120 bytes.
  std::uint64_t step = 10 * m_blockSize;
  std::uint64_t before = m_nTotalBytes;
  m_nTotalBytes += count;
  if (m_nTotalBytes / step != before / step || (count == 0 && before % step == 0))
    SetCell(kColBytes, std::to_string(m_nTotalBytes));
}

std::span<const Action> TransferEngine::OnDatagram(std::span<const std::uint8_t> datagram,
                                                   const Endpoint& from, TimePoint now, bool oversized) {
  Begin();
  if (m_state == State::Idle || m_state == State::Ended || !m_peer) return Done();
  m_nDebug = m_settings.Debugging();
  Packet packet = ParsePacket(datagram);
  if (!m_peerLocked) {
    m_peer = from;
    m_peerLocked = true;
  } else if (from != *m_peer) {
    // Not our peer: tell that source, never answer an ERROR with an ERROR, and change nothing here.
    if (packet.kind != Packet::Kind::Error) {
      PacketBuffer& reply = m_errorPackets.emplace_back();
      size_t length = BuildError(reply, kErrUnknownTransferId, "Unknown transfer ID");
      Send(std::span(reply.data(), length), from, false);
    }
    return Done();
  }
  if (m_state == State::Dally) {
    if (!oversized) OnDally(packet);
    return Done();
  }
  if (oversized) {
    FailReceive(10040);  // "Message too long"
    return Done();
  }
  if (packet.kind == Packet::Kind::Oack && m_state == State::AwaitAnswer && m_asked.Any()) {
    OnOack(packet, now);
    return Done();
  }
  if (m_options.side == Side::Sending)
    OnSendingSide(packet, now);
  else
    OnReceivingSide(packet, now);
  return Done();
}

void TransferEngine::OnOack(const Packet& packet, TimePoint now) {
  std::optional<TftpOptions> granted = CheckOack(packet.payload, m_asked);
  if (DebugOn())
    DebugLine(Format("TFTP: Thread %d, Got OACK: ", m_options.threadNumber) +
              (granted ? OptionsText(*granted) : std::string("not acceptable")));
  if (!granted) {
    ReportError(kErrOptionNegotiation, "Option negotiation failed");
    return;
  }
  AcceptProgress(now);
  KillTimer();
  ApplyOptions(*granted);
  m_preamble = false;
  if (m_options.side == Side::Sending)
    StartSending(now);  // DATA 1
  else
    SendAck(now);  // ACK 0
}

void TransferEngine::OnReceivingSide(const Packet& packet, TimePoint now) {
  switch (packet.kind) {
    case Packet::Kind::Empty:
      Fail("Connection closed by peer");
      return;
    case Packet::Kind::Data:
      OnData(packet, now);
      return;
    case Packet::Kind::Error:
      Fail("Received error code from peer. Aborting. Error = " + std::string(packet.text));
      return;
    default:
      ReportError(kErrNotDefined, "Unknown packet type. Aborting");
      return;
  }
}

void TransferEngine::OnData(const Packet& packet, TimePoint now) {
  std::uint16_t block = packet.number;
  if (DebugOn())
    DebugLine(Format("TFTP: Thread %d, Got DATA block = %d", m_options.threadNumber, int{block}));
  if (block == static_cast<std::uint16_t>(m_nRecvBlock + 1)) {
    AcceptProgress(now);
    m_preamble = false;
    m_nRecvBlock = block;
    AddToTotal(packet.payload.size());
    KillTimer();
    if (!m_file || !m_file->Write(packet.payload.data(), packet.payload.size())) {
      ReportError(kErrDiskFull, "Disk full or allocation exceeded");
      return;
    }
    if (packet.payload.size() < m_blockSize) {
      m_bLastBlock = true;
      if (!m_file->Complete()) {
        ReportError(kErrDiskFull, "Disk full or allocation exceeded");
        return;
      }
    }
    m_gapAcked = false;
    if (++m_sinceAck >= m_windowSize || m_bLastBlock) {
      m_sinceAck = 0;
      SendAck(now);
    } else {
      // Inside a window nothing is sent; the timer acknowledges again if the rest never comes.
      m_period = Timeout();
      ArmTimer(now + m_period);
    }
    return;
  }
  // In lock-step a block received already (the sender missed the ACK, or the network doubled it) changes
  // nothing: the timer acknowledges again if the next block does not come.
  if (m_windowSize == 1) return;
  // A gap, or blocks sent again: once, the last block in order is acknowledged, and the sender starts its
  // window after it; the rest of the old window is dropped as it comes.
  if (!m_gapAcked) {
    m_gapAcked = true;
    m_sinceAck = 0;
    KillTimer();
    SendAck(now);
  }
}

void TransferEngine::OnDally(const Packet& packet) {
  // Success is shown already: only a retransmitted final block is answered, with the same ACK.
  if (packet.kind == Packet::Kind::Data && packet.number == m_nRecvBlock) {
    if (DebugOn())
      DebugLine(Format("TFTP: Thread %d, Got DATA block = %d", m_options.threadNumber, int{packet.number}));
    Send(m_tx, *m_peer, false);
    if (DebugOn())
      DebugLine(Format("TFTP: Thread %d, Sent ACK = %d", m_options.threadNumber, int{m_nRecvBlock}));
  } else if (packet.kind == Packet::Kind::Error) {
    EndSession();
  }
}

std::span<const Action> TransferEngine::OnReceiveFailed(int socketError) {
  Begin();
  FailReceive(socketError);
  return Done();
}

void TransferEngine::FailReceive(int socketError) {
  switch (m_state) {
    case State::AwaitAnswer:
      Fail(m_noAnswerPrefix + SocketErrorText(socketError));
      break;
    case State::Transfer:
      Fail(m_options.side == Side::Sending ? Format("Got socket error. Aborting! Code = %i", socketError)
                                           : Format("Socket Error. Error = %i", socketError));
      break;
    case State::Dally:
      EndSession();
      break;
    case State::Idle:
    case State::Ended:
      break;
  }
}

std::span<const Action> TransferEngine::OnSendFailed(int socketError) {
  Begin();
  switch (m_state) {
    case State::AwaitAnswer:
      Fail(m_sendFailurePrefix + SocketErrorText(socketError));
      break;
    case State::Transfer:
      Fail(SocketErrorText(socketError));
      break;
    default:
      break;
  }
  return Done();
}

std::span<const Action> TransferEngine::OnTimer(TimePoint now) {
  Begin();
  if (m_state == State::Transfer && m_burstAt && now >= *m_burstAt) {
    m_burstAt.reset();
    SendBurst(now);
  }
  if (m_state == State::Transfer && m_probeAt && now >= *m_probeAt) {
    m_probeAt.reset();
    SendProbe();
  }
  if (m_state == State::Idle || m_state == State::Ended || !m_deadline || now < *m_deadline) return Done();
  m_nDebug = m_settings.Debugging();
  if (m_state == State::Dally) {
    EndSession();
    return Done();
  }
  if (m_state == State::AwaitAnswer) {
    Fail(m_noAnswerPrefix + SocketErrorText(m_noAnswerError));
    return Done();
  }
  if (m_nRetriesLeft > 0 && now < m_lastHeard + kMaxSilence) {
    --m_nRetriesLeft;
    int block = m_options.side == Side::Sending ? m_nSendBlock : m_nRecvBlock;
    Status(Format("Retry. Block = %d. Retries left = %d", block, m_nRetriesLeft));
    if (DebugOn())
      DebugLine(Format("TFTP: Thread: %d Retry. Block = %d. Retries left = %d", m_options.threadNumber, block,
                       m_nRetriesLeft));
    Retransmit(now);
    // The next retransmission keeps to the rhythm of the first send; the sending side waits twice as long
    // each time, so that a peer that has gone draws ever less.
    if (m_options.side == Side::Sending) m_period *= 2;
    ArmTimer(*m_deadline + m_period);
    return Done();
  }
  if (DebugOn()) DebugLine(Format("TFTP: Thread: %d No more retries left", m_options.threadNumber));
  Fail("No more retries left. Aborting");
  return Done();
}

void TransferEngine::Retransmit(TimePoint now) {
  if (m_options.side == Side::Sending && !m_preamble) {
    RetransmitFirstBlock(now);
    return;
  }
  // Inside a window the receiver may have taken blocks since its last ACK: it acknowledges the latest.
  if (m_options.side == Side::Receiving && !m_preamble) {
    m_tx.resize(kHeaderSize);
    WriteU16(m_tx.data(), kOpAck);
    WriteU16(m_tx.data() + 2, m_nRecvBlock);
  }
  Send(m_tx, *m_peer, false);
}

}  // namespace hx::tftp
