#pragma once

#include <condition_variable>
#include <mutex>
#include <vector>

#include "app/clock.h"

namespace hx::test {

// A clock that moves only when the test says so. Advance() posts the handlers of the waits whose time has
// come to their executors; they run there, as a real timer's would. Safe from any thread.
class ManualClock : public Clock {
 public:
  ManualClock();
  ~ManualClock() override;

  TimePoint Now() const override;
  // The system's time when the clock was made, moved on by every Advance.
  std::chrono::system_clock::time_point WallNow() const override;
  std::unique_ptr<ClockTimer> MakeTimer(const asio::any_io_executor& executor) override;

  void Advance(Duration step);
  // How many waits are armed: a test waits for a session to arm its timer before it moves the clock.
  size_t PendingWaits() const;
  // Waits (in real time, bounded) until at least `count` waits are armed; false when they did not come.
  bool WaitForPendingWaits(size_t count, std::chrono::milliseconds timeout = std::chrono::seconds(5)) const;

 private:
  class Timer;
  friend class Timer;
  size_t WaitingLocked() const;

  mutable std::mutex m_lock;
  mutable std::condition_variable m_armed;  // a wait was armed
  TimePoint m_now;
  TimePoint m_start;
  std::chrono::system_clock::time_point m_wallStart = std::chrono::system_clock::now();
  std::vector<Timer*> m_timers;
};

}  // namespace hx::test
