#pragma once

#include <cstddef>

namespace hx::tftp {

// How many blocks of a window the sending side puts on the wire back to back. A window goes whole until the
// peer loses part of one: a receiver whose buffer holds fewer datagrams than the window loses the tail of every
// window, and each loss costs a go-back. From then on the window goes in bursts a moment apart, as long as what
// got through of the burst that lost a block, halved when nothing came back at all, and doubled with each whole
// window that arrives, as far as the whole window again.
class BurstPacer {
 public:
  // Blocks of a window of `count` that the next burst holds.
  size_t Burst(size_t count) const { return m_burst != 0 && m_burst < count ? m_burst : count; }

  // An ACK covered `covered` of the window's `count` blocks while `sent` of them were out, in bursts of
  // Burst(count) from the window's first block.
  void OnAck(size_t covered, size_t sent, size_t count, size_t window);
  // Nothing came back for a whole timeout.
  void OnSilence(size_t count);

 private:
  size_t m_burst = 0;  // 0: the whole window
};

}  // namespace hx::tftp
