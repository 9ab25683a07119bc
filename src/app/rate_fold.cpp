#include "app/rate_fold.h"

#include <utility>

namespace hx {

bool RateFold::Admit(Clock::time_point now) {
  if (m_started && now < WindowEnd()) {
    ++m_folded;
    return false;
  }
  m_started = true;
  m_windowStart = now;
  return true;
}

std::uint64_t RateFold::TakeFolded() {
  return std::exchange(m_folded, 0);
}

}  // namespace hx
