#include "support/manual_clock.h"

#include <algorithm>
#include <asio/error.hpp>
#include <asio/post.hpp>
#include <optional>

namespace hx::test {

class ManualClock::Timer : public ClockTimer {
 public:
  Timer(ManualClock& clock, const asio::any_io_executor& executor) : m_clock(clock), m_executor(executor) {}
  ~Timer() override {
    Cancel();
    std::lock_guard guard(m_clock.m_lock);
    std::erase(m_clock.m_timers, this);
  }

  void ExpiresAt(Clock::TimePoint deadline) override {
    Cancel();
    std::lock_guard guard(m_clock.m_lock);
    m_deadline = deadline;
  }
  void ExpiresAfter(Clock::Duration wait) override { ExpiresAt(m_clock.Now() + wait); }
  void AsyncWait(Handler handler) override {
    std::lock_guard guard(m_clock.m_lock);
    m_waits.push_back(std::move(handler));
    if (m_deadline <= m_clock.m_now) FireLocked({});
    m_clock.m_armed.notify_all();
  }
  void Cancel() override {
    std::lock_guard guard(m_clock.m_lock);
    FireLocked(asio::error::operation_aborted);
  }

  // Posts every waiting handler with `error`; the clock's lock is held.
  void FireLocked(std::error_code error) {
    for (Handler& handler : m_waits)
      asio::post(m_executor, [handler = std::move(handler), error]() mutable { handler(error); });
    m_waits.clear();
  }
  bool DueLocked() const { return !m_waits.empty() && m_deadline <= m_clock.m_now; }
  bool WaitingLocked() const { return !m_waits.empty(); }

 private:
  ManualClock& m_clock;
  asio::any_io_executor m_executor;
  Clock::TimePoint m_deadline{};
  std::vector<Handler> m_waits;
};

// Starts far from the epoch, so that "a limit ago" is never before the clock's zero.
ManualClock::ManualClock() : m_now(std::chrono::hours(24 * 365)), m_start(m_now) {}

ManualClock::~ManualClock() = default;

Clock::TimePoint ManualClock::Now() const {
  std::lock_guard guard(m_lock);
  return m_now;
}

std::chrono::system_clock::time_point ManualClock::WallNow() const {
  std::lock_guard guard(m_lock);
  return m_wallStart + std::chrono::duration_cast<std::chrono::system_clock::duration>(m_now - m_start);
}

std::unique_ptr<ClockTimer> ManualClock::MakeTimer(const asio::any_io_executor& executor) {
  auto timer = std::make_unique<Timer>(*this, executor);
  std::lock_guard guard(m_lock);
  m_timers.push_back(timer.get());
  return timer;
}

void ManualClock::Advance(Duration step) {
  std::lock_guard guard(m_lock);
  m_now += step;
  for (Timer* timer : m_timers)
    if (timer->DueLocked()) timer->FireLocked({});
}

size_t ManualClock::PendingWaits() const {
  std::lock_guard guard(m_lock);
  return WaitingLocked();
}

size_t ManualClock::WaitingLocked() const {
  return static_cast<size_t>(
      std::count_if(m_timers.begin(), m_timers.end(), [](const Timer* t) { return t->WaitingLocked(); }));
}

bool ManualClock::WaitForPendingWaits(size_t count, std::chrono::milliseconds timeout) const {
  std::unique_lock guard(m_lock);
  return m_armed.wait_for(guard, timeout, [&] { return WaitingLocked() >= count; });
}

}  // namespace hx::test
