// The sending side of the transfer engine: what goes out when, after each ACK and each timeout.
#include <algorithm>

#include "app/session_table.h"
#include "tftp/transfer_engine.h"

namespace hx::tftp {
namespace {

// What may be out after the OACK and after a timeout: at most this many blocks and bytes, at least one block.
constexpr size_t kStartBlocks = 4;
constexpr size_t kStartBytes = 64 * 1024;
// Between the bursts of a paced window: time for a receiver to empty its buffer.
constexpr std::chrono::milliseconds kBurstGap{1};
// The shortest wait for a window's ACK before the probe (at most a quarter of the timeout).
constexpr std::chrono::milliseconds kMinProbeWait{10};

}  // namespace

void TransferEngine::StartSending(TimePoint now) {
  m_limit = std::clamp<size_t>(kStartBytes / m_blockSize, 1, kStartBlocks);
  m_sent = 0;
  m_slid = false;
  m_period = Timeout();
  SendMore(now);
}

void TransferEngine::SendMore(TimePoint now, bool afterLoss) {
  if (!m_window.Fill(m_file.get(), m_nSendBlock, Allowed())) {
    ReportError(kErrAccessViolation, "File access error");
    return;
  }
  ArmTimer(now + m_period);
  m_probed = false;
  if (!afterLoss) {
    SendBurst(now);
    return;
  }
  // The receiver may still hold blocks of the lost window that it is going to drop: had the first blocks of
  // the window gone at once they could be lost behind those again, and a receiver that acknowledges a gap
  // only once would wait for its timeout.
  m_probeAt.reset();
  m_burstAt = now + kBurstGap;
}

bool TransferEngine::ReceiverWillAnswer() const {
  return m_sent >= static_cast<size_t>(m_windowSize) || (m_window.ReadLast() && m_sent == m_window.Count());
}

void TransferEngine::SendBurst(TimePoint now) {
  size_t target = std::min(m_window.Count(), Allowed());
  size_t begin = m_sent;
  size_t end = std::min(target, std::max(m_sent, m_sent + m_pacer.Burst(target)));
  for (size_t i = begin; i < end; ++i) {
    std::span<const std::uint8_t> packet = m_window.Packet(i);
    Send(packet, *m_peer, true);
    if (DebugOn())
      DebugLine(Format("TFTP: Thread %d, Sent %d bytes, Block Number = %d", m_options.threadNumber,
                       static_cast<int>(packet.size() - kHeaderSize),
                       int{static_cast<std::uint16_t>(m_nSendBlock + i)}));
  }
  m_sent = std::max(m_sent, end);
  m_lastBurst = now;
  m_probeAt.reset();
  if (m_sent < target) {
    m_burstAt = now + kBurstGap;
    return;
  }
  m_burstAt.reset();
  if (m_windowSize <= 1 || m_sent == 0) return;
  if (!ReceiverWillAnswer()) {
    // Fewer blocks out than the receiver waits for: it would say nothing until its timeout. The first of them
    // goes again a moment later (time for a small receive buffer to empty): a block the receiver has, which
    // it answers with the ACK of all it has. A receiver that has just acknowledged a single block says more
    // without being asked.
    m_probeFirst = true;
    if (end > begin && !m_slid) m_probeAt = now + kBurstGap;
    return;
  }
  m_probeFirst = false;
  auto wait = std::clamp<std::chrono::steady_clock::duration>(4 * m_ackDelay, kMinProbeWait,
                                                              std::chrono::milliseconds(m_period) / 4);
  m_probeAt = now + wait;
}

void TransferEngine::SendProbe() {
  if (m_sent == 0) return;
  Send(m_window.Packet(m_probeFirst ? 0 : m_sent - 1), *m_peer, false);
  m_probed = true;
}

void TransferEngine::OnSendingSide(const Packet& packet, TimePoint now) {
  switch (packet.kind) {
    case Packet::Kind::Empty:
      Fail("Connection closed by peer!");
      return;
    case Packet::Kind::Ack:
      if (DebugOn())
        DebugLine(Format("TFTP: Thread %d, Got ACK = %d", m_options.threadNumber, int{packet.number}));
      OnAck(packet.number, now);
      return;
    case Packet::Kind::Error:
      Fail("Error received from peer: " + std::string(packet.text));
      return;
    default:
      ReportError(kErrNotDefined, "Unknown packet received. Aborting!");
      return;
  }
}

void TransferEngine::OnAck(std::uint16_t block, TimePoint now) {
  if (m_preamble) {
    // ACK 0 answers the request (a client's write) or the OACK (a server's read): DATA 1 follows.
    if (block != 0) return;
    m_preamble = false;
    AcceptProgress(now);
    KillTimer();
    StartSending(now);
    return;
  }
  // How many blocks held this ACK covers: 1 for the first. An ACK of a block acknowledged already, or of one
  // never read, changes nothing (answering duplicates would multiply the traffic).
  auto covered = static_cast<std::uint16_t>(block - m_nSendBlock + 1);
  if (covered < 1 || covered > m_window.Count()) return;
  AcceptProgress(now);
  size_t out = m_sent;
  bool all = covered >= out;
  // Part of what was out came through, and more than one block of it: the rest was lost.
  bool lost = !all && covered >= 2;
  auto window = static_cast<size_t>(m_windowSize);
  if (out > 0) m_pacer.OnAck(std::min<size_t>(covered, out), out, out == window, window);
  if (all && !m_probed && out == window) m_ackDelay = now - m_lastBurst;
  for (size_t i = 0; i < covered; ++i) AddToTotal(m_window.PayloadSize(i));
  m_window.Drop(covered);
  m_nSendBlock = static_cast<std::uint16_t>(m_nSendBlock + covered);
  if (all) {
    m_sent = 0;
    m_limit = std::min(m_limit + covered, window);
  } else if (lost) {
    m_sent = 0;  // back to the block after the acknowledged one, with as many as got through
    m_limit = covered;
  } else {
    // The rest stays out; the block that slid into the window may follow, and one more as the window grows
    // with every ACK, so that a receiver that acknowledges each block still opens the window.
    m_sent = out - covered;
    m_limit = std::min(m_limit + 1, window);
  }
  m_slid = !all && !lost;
  KillTimer();
  m_period = Timeout();
  if (m_window.Empty() && m_window.ReadLast())
    Success(now);
  else
    SendMore(now, lost);
}

void TransferEngine::RetransmitFirstBlock(TimePoint now) {
  // Nothing came back: only the first block not acknowledged goes again, and what follows starts small.
  if (m_windowSize > 1) m_pacer.OnSilence(m_sent);
  m_burstAt.reset();
  m_probeAt.reset();
  m_limit = 1;
  m_slid = false;
  if (m_window.Empty()) return;
  Send(m_window.Packet(0), *m_peer, false);
  m_sent = 1;
  m_lastBurst = now;
}

}  // namespace hx::tftp
