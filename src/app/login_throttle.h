#pragma once

#include <asio/ip/address.hpp>
#include <chrono>
#include <cstddef>
#include <map>
#include <mutex>

#include "app/clock.h"

namespace hx {

// Failed logins counted per peer address across all its connections, so that guessing in parallel gains
// nothing: after kFreeFailures failures, each of them less than kWindow after the one before, every login
// from the address waits a second more per further failure, up to kMaxPause. A success, or kWindow without a
// failure, forgets the address. At most kCapacity addresses are kept; the one seen longest ago goes first.
// An IPv4 peer of a dual-stack socket counts as its IPv4 address. Safe from any thread.
class LoginThrottle {
 public:
  static constexpr int kFreeFailures = 5;
  static constexpr std::chrono::seconds kWindow{60};
  static constexpr std::chrono::seconds kMaxPause{30};
  static constexpr std::size_t kCapacity = 4096;

  // How long a login from `address` waits before it is checked.
  std::chrono::seconds Pause(const asio::ip::address& address, Clock::TimePoint now);
  // A refused login. True when the log should say that the address is held back: once a minute at most.
  bool Failed(const asio::ip::address& address, Clock::TimePoint now);
  void Succeeded(const asio::ip::address& address);

 private:
  struct Record {
    int failures = 0;
    Clock::TimePoint lastFailure;
    Clock::TimePoint lastNoted;
    bool noted = false;
  };

  // The address's record, unless it has expired (then it is dropped).
  Record* Find(const asio::ip::address& address, Clock::TimePoint now);

  std::mutex m_lock;
  std::map<asio::ip::address, Record> m_records;
};

}  // namespace hx
