#pragma once

#include <asio/any_io_executor.hpp>
#include <asio/steady_timer.hpp>
#include <chrono>
#include <functional>
#include <memory>

namespace hx::ftpd {

// Ends a data transfer whose connection has moved no byte for FDataTimeout seconds: a client that neither
// takes nor sends the data, and does not close, would otherwise hold the file and the transfer for ever.
// One wait at a time, set for the limit after the last byte; bytes only move that time.
class StallTimer {
 public:
  StallTimer(const asio::any_io_executor& executor, std::chrono::seconds limit);

  // Starts watching (a limit of 0 never fires). `transfer` is held by the wait; `stalled` runs once the
  // limit has passed without a byte, unless Cancel came first.
  void Watch(std::shared_ptr<void> transfer, std::function<void()> stalled);
  void Moved() { m_lastMoved = std::chrono::steady_clock::now(); }
  void Cancel() { m_timer.cancel(); }
  std::chrono::seconds Limit() const { return m_limit; }

 private:
  asio::steady_timer m_timer;
  std::chrono::seconds m_limit;
  std::chrono::steady_clock::time_point m_lastMoved;  // the watch's start, or the last byte moved
};

}  // namespace hx::ftpd
