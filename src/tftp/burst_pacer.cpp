#include "tftp/burst_pacer.h"

#include <algorithm>

namespace hx::tftp {

void BurstPacer::OnAck(size_t covered, size_t sent, bool wholeWindow, size_t window) {
  if (covered < sent)
    m_burst = std::max<size_t>(1, covered % Burst(sent));
  else if (m_burst != 0 && wholeWindow && (m_burst *= 2) >= window)
    m_burst = 0;
}

void BurstPacer::OnSilence(size_t count) {
  m_burst = std::max<size_t>(1, Burst(count) / 2);
}

}  // namespace hx::tftp
