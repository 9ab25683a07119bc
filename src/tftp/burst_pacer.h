#pragma once

#include <cstddef>

namespace hx::tftp {

// How many blocks the sending side puts on the wire back to back. What may be out goes at once until the peer
// loses part of it: a receiver whose buffer holds fewer datagrams than the window loses the tail of every
// window, and each loss costs a go-back. From then on the blocks go in bursts a moment apart, as long as what
// got through of the burst that lost a block, halved when nothing came back at all, and doubled with each
// whole window that arrives, as far as the whole window again.
class BurstPacer {
 public:
  // Blocks of `count` to send that the next burst holds.
  size_t Burst(size_t count) const { return m_burst != 0 && m_burst < count ? m_burst : count; }

  // An ACK covered `covered` of the `sent` blocks that were out, sent in bursts of Burst(sent) from the
  // first; `wholeWindow`: they were a whole window of `window` blocks.
  void OnAck(size_t covered, size_t sent, bool wholeWindow, size_t window);
  // Nothing came back for a whole timeout.
  void OnSilence(size_t count);

 private:
  size_t m_burst = 0;  // 0: the whole window
};

}  // namespace hx::tftp
