#include "app/clock.h"

#include <asio/steady_timer.hpp>

namespace hx {
namespace {

class SteadyTimer : public ClockTimer {
 public:
  explicit SteadyTimer(const asio::any_io_executor& executor) : m_timer(executor) {}
  void ExpiresAt(Clock::TimePoint deadline) override { m_timer.expires_at(deadline); }
  void ExpiresAfter(Clock::Duration wait) override { m_timer.expires_after(wait); }
  void AsyncWait(Handler handler) override { m_timer.async_wait(std::move(handler)); }
  void Cancel() override { m_timer.cancel(); }

 private:
  asio::steady_timer m_timer;
};

}  // namespace

Clock::TimePoint SteadyClock::Now() const {
  return std::chrono::steady_clock::now();
}

std::chrono::system_clock::time_point SteadyClock::WallNow() const {
  return std::chrono::system_clock::now();
}

std::unique_ptr<ClockTimer> SteadyClock::MakeTimer(const asio::any_io_executor& executor) {
  return std::make_unique<SteadyTimer>(executor);
}

}  // namespace hx
