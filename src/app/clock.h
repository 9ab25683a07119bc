#pragma once

#include <asio/any_io_executor.hpp>
#include <chrono>
#include <functional>
#include <memory>
#include <system_error>

namespace hx {

class ClockTimer;

// Where the sessions take the time from for every limit they keep (idle limits, stalls, pauses, resends):
// the steady clock in the program, a manual one in tests, so that a limit is tested without a real wait.
class Clock {
 public:
  using TimePoint = std::chrono::steady_clock::time_point;
  using Duration = std::chrono::steady_clock::duration;

  virtual ~Clock() = default;
  virtual TimePoint Now() const = 0;
  // The calendar time, for what is shown to people (a listing's dates); never for a limit, which the
  // steady Now() keeps whatever the system's time does.
  virtual std::chrono::system_clock::time_point WallNow() const = 0;
  // A timer on this clock whose handlers run on `executor`.
  virtual std::unique_ptr<ClockTimer> MakeTimer(const asio::any_io_executor& executor) = 0;
};

// One wait at a time on a Clock, as asio's steady_timer: the handler gets no error once the time has come,
// operation_aborted after Cancel, a new ExpiresAt or the timer's destruction. The handler always runs (or is
// destroyed by its executor), never inside the call that arms or cancels the wait.
class ClockTimer {
 public:
  using Handler = std::function<void(std::error_code)>;

  virtual ~ClockTimer() = default;
  virtual void ExpiresAt(Clock::TimePoint deadline) = 0;
  virtual void ExpiresAfter(Clock::Duration wait) = 0;
  virtual void AsyncWait(Handler handler) = 0;
  virtual void Cancel() = 0;
};

// The program's clock: std::chrono::steady_clock, with asio's steady timers.
class SteadyClock : public Clock {
 public:
  TimePoint Now() const override;
  std::chrono::system_clock::time_point WallNow() const override;
  std::unique_ptr<ClockTimer> MakeTimer(const asio::any_io_executor& executor) override;
};

}  // namespace hx
