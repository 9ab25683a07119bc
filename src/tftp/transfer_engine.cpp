#include "tftp/transfer_engine.h"

#include <algorithm>
#include <cstdio>

#include "app/session_table.h"
#include "app/socket_error_text.h"

namespace hx::tftp {
namespace {

constexpr std::uint64_t kBytesCellStep = 5120;
constexpr int kMaxTimeoutSeconds = 24 * 60 * 60;

template <class... Args>
std::string Format(const char* format, Args... args) {
  char text[160];
  std::snprintf(text, sizeof text, format, args...);
  return text;
}

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
  // A period below one second would resend as fast as the machine can and give up at once.
  return std::chrono::seconds(std::clamp(m_settings.TimeoutSeconds(), 1, kMaxTimeoutSeconds));
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
  KillTimer();
  m_file.reset();
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

std::span<const Action> TransferEngine::Start(std::unique_ptr<TransferFile> file, TimePoint now) {
  Begin();
  if (m_state != State::Idle || !m_peer) return Done();
  m_file = std::move(file);
  m_nDebug = m_settings.Debugging();
  m_nRetriesLeft = m_settings.Retries();
  m_state = State::Transfer;
  SendNext(now);
  return Done();
}

std::span<const Action> TransferEngine::StartClient(std::unique_ptr<TransferFile> file,
                                                    const ClientRequest& request, TimePoint now) {
  Begin();
  if (m_state != State::Idle) return Done();
  m_file = std::move(file);
  m_nDebug = m_settings.Debugging();
  m_nRetriesLeft = m_settings.Retries();
  m_sendFailurePrefix = request.sendFailurePrefix;
  m_noAnswerPrefix = request.noAnswerPrefix;
  m_noAnswerError = request.noAnswerError;
  m_peer = request.server;
  m_peerLocked = false;
  // The server's ACK of block 0 is accepted like any other, and DATA 1 follows it.
  m_nSendBlock = 0;
  m_nDataLen = 0;
  m_nRecvBlock = 0;
  m_txLength = std::min(request.request.size(), kMaxPacket);
  std::copy_n(request.request.begin(), m_txLength, m_txPacket.begin());
  m_state = State::AwaitAnswer;
  ArmTimer(now + 2 * Timeout());
  Send(std::span(m_txPacket.data(), m_txLength), request.server, true);
  return Done();
}

void TransferEngine::SendNext(TimePoint now) {
  if (m_options.side == Side::Sending) {
    long count = m_file ? m_file->Read(m_txPacket.data() + kHeaderSize, kBlockSize) : 0;
    if (count < 0) {
      ReportError(kErrAccessViolation, "File access error");
      return;
    }
    m_nDataLen = static_cast<size_t>(count);
    if (m_nDataLen < kBlockSize) m_bLastBlock = true;
    m_txLength = BuildDataHeader(m_txPacket, m_nSendBlock, m_nDataLen);
    m_period = Timeout();
    ArmTimer(now + m_period);
    Send(std::span(m_txPacket.data(), m_txLength), *m_peer, true);
    if (DebugOn())
      DebugLine(Format("TFTP: Thread %d, Sent %d bytes, Block Number = %d", m_options.threadNumber,
                       static_cast<int>(m_nDataLen), int{m_nSendBlock}));
    return;
  }
  m_txLength = BuildAck(m_txPacket, m_nRecvBlock);
  m_period = Timeout();
  ArmTimer(now + m_period);
  Send(std::span(m_txPacket.data(), m_txLength), *m_peer, false);
  if (DebugOn())
    DebugLine(Format("TFTP: Thread %d, Sent ACK = %d", m_options.threadNumber, int{m_nRecvBlock}));
  if (m_bLastBlock) Success(now);
}

void TransferEngine::Success(TimePoint now) {
  std::string total = std::to_string(m_nTotalBytes);
  SetCell(kColBytes, total);
  std::string text = "TFTP: Successful. Total bytes transferred: " + total;
  Status(text);
  Log(std::move(text));
  m_file.reset();  // closed and released now, not when the session has gone
  if (m_options.side == Side::Receiving) {
    m_state = State::Dally;
    ArmTimer(now + Timeout());
    return;
  }
  EndSession();
}

void TransferEngine::AcceptProgress() {
  m_nRetriesLeft = m_settings.Retries();
  if (m_state == State::AwaitAnswer) m_state = State::Transfer;
}

void TransferEngine::AddToTotal(size_t count) {
  m_nTotalBytes += count;
  if (m_nTotalBytes % kBytesCellStep == 0) SetCell(kColBytes, std::to_string(m_nTotalBytes));
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
  if (m_options.side == Side::Sending)
    OnSendingSide(packet, now);
  else
    OnReceivingSide(packet, now);
  return Done();
}

void TransferEngine::OnSendingSide(const Packet& packet, TimePoint now) {
  switch (packet.kind) {
    case Packet::Kind::Empty:
      Status("Connection closed by peer!");
      EndSession();
      return;
    case Packet::Kind::Ack: {
      std::uint16_t block = packet.number;
      if (DebugOn()) DebugLine(Format("TFTP: Thread %d, Got ACK = %d", m_options.threadNumber, int{block}));
      if (block == m_nSendBlock) {
        AcceptProgress();
        ++m_nSendBlock;
        AddToTotal(m_nDataLen);
        KillTimer();
        if (m_bLastBlock)
          Success(now);
        else
          SendNext(now);
      } else if (block == static_cast<std::uint16_t>(m_nSendBlock - 1)) {
        // A duplicate: answering it would double every later block (the sorcerer's apprentice).
        Push(Action::Kind::DrainQueued);
      }
      return;
    }
    case Packet::Kind::Error:
      Status("Error received from peer: " + std::string(packet.text));
      EndSession();
      return;
    default:
      ReportError(kErrNotDefined, "Unknown packet received. Aborting!");
      return;
  }
}

void TransferEngine::OnReceivingSide(const Packet& packet, TimePoint now) {
  switch (packet.kind) {
    case Packet::Kind::Empty:
      Status("Connection closed by peer");
      EndSession();
      return;
    case Packet::Kind::Data: {
      std::uint16_t block = packet.number;
      if (DebugOn())
        DebugLine(Format("TFTP: Thread %d, Got DATA block = %d", m_options.threadNumber, int{block}));
      if (block == static_cast<std::uint16_t>(m_nRecvBlock + 1)) {
        AcceptProgress();
        m_nRecvBlock = block;
        AddToTotal(packet.payload.size());
        KillTimer();
        if (!m_file || !m_file->Write(packet.payload.data(), packet.payload.size())) {
          ReportError(kErrDiskFull, "Disk full or allocation exceeded");
          return;
        }
        if (packet.payload.size() < kBlockSize) m_bLastBlock = true;
        SendNext(now);
      } else if (block == m_nRecvBlock) {
        Push(Action::Kind::DrainQueued);
      }
      return;
    }
    case Packet::Kind::Error:
      Status("Received error code from peer. Aborting. Error = " + std::string(packet.text));
      EndSession();
      return;
    default:
      ReportError(kErrNotDefined, "Unknown packet type. Aborting");
      return;
  }
}

void TransferEngine::OnDally(const Packet& packet) {
  // Success is shown already: only a retransmitted final block is answered, with the same ACK.
  if (packet.kind == Packet::Kind::Data && packet.number == m_nRecvBlock) {
    if (DebugOn())
      DebugLine(Format("TFTP: Thread %d, Got DATA block = %d", m_options.threadNumber, int{packet.number}));
    Send(std::span(m_txPacket.data(), m_txLength), *m_peer, false);
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
      Status(m_noAnswerPrefix + SocketErrorText(socketError));
      EndSession();
      break;
    case State::Transfer:
      Status(m_options.side == Side::Sending ? Format("Got socket error. Aborting! Code = %i", socketError)
                                             : Format("Socket Error. Error = %i", socketError));
      EndSession();
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
      Status(m_sendFailurePrefix + SocketErrorText(socketError));
      EndSession();
      break;
    case State::Transfer:
      Status(SocketErrorText(socketError));
      EndSession();
      break;
    default:
      break;
  }
  return Done();
}

std::span<const Action> TransferEngine::OnTimer(TimePoint now) {
  Begin();
  if (m_state == State::Idle || m_state == State::Ended || !m_deadline || now < *m_deadline) return Done();
  m_nDebug = m_settings.Debugging();
  if (m_state == State::Dally) {
    EndSession();
    return Done();
  }
  if (m_state == State::AwaitAnswer) {
    Status(m_noAnswerPrefix + SocketErrorText(m_noAnswerError));
    EndSession();
    return Done();
  }
  if (m_nRetriesLeft > 0) {
    --m_nRetriesLeft;
    int block = m_options.side == Side::Sending ? m_nSendBlock : m_nRecvBlock;
    Status(Format("Retry. Block = %d. Retries left = %d", block, m_nRetriesLeft));
    if (DebugOn())
      DebugLine(Format("TFTP: Thread: %d Retry. Block = %d. Retries left = %d", m_options.threadNumber, block,
                       m_nRetriesLeft));
    Send(std::span(m_txPacket.data(), m_txLength), *m_peer, false);
    // The next retransmission keeps to the rhythm of the first send.
    TimePoint next = *m_deadline + m_period;
    ArmTimer(next);
    return Done();
  }
  if (DebugOn()) DebugLine(Format("TFTP: Thread: %d No more retries left", m_options.threadNumber));
  Status("No more retries left. Aborting");
  EndSession();
  return Done();
}

}  // namespace hx::tftp
