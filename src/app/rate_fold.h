#pragma once

#include <chrono>
#include <cstdint>

namespace hx {

// Lets the first event of each window (a second by default) through and counts the others, so that a flood
// of one kind of event costs one full report a window and a count, whatever its rate. A window starts with
// the first event after the last window ended. Time is passed in; not thread-safe.
class RateFold {
 public:
  using Clock = std::chrono::steady_clock;

  explicit RateFold(Clock::duration window = std::chrono::seconds(1)) : m_window(window) {}

  // True for the first event of a window; false counts the event as folded.
  bool Admit(Clock::time_point now);
  // The events folded since the last call; the count starts again from zero.
  std::uint64_t TakeFolded();
  // When the current window ends: the time to report what it folded.
  Clock::time_point WindowEnd() const { return m_windowStart + m_window; }

 private:
  Clock::duration m_window;
  Clock::time_point m_windowStart{};
  bool m_started = false;
  std::uint64_t m_folded = 0;
};

}  // namespace hx
