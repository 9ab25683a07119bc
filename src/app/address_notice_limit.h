#pragma once

#include <asio/ip/address.hpp>
#include <cstddef>
#include <deque>
#include <map>

#include "app/clock.h"

namespace hx {

// Lets one notice per peer address through in each period (a minute), so that a peer that keeps knocking
// costs a log line a minute, not one per attempt. At most `capacity` addresses are remembered, the one told
// longest ago dropped first: a flood from many addresses (a UDP source is easily forged) costs bounded
// memory. An IPv4 peer of a dual-stack socket counts as its IPv4 address. Time is passed in; not thread-safe.
class AddressNoticeLimit {
 public:
  static constexpr size_t kDefaultCapacity = 4096;

  explicit AddressNoticeLimit(Clock::Duration period = std::chrono::minutes(1),
                              size_t capacity = kDefaultCapacity);

  // True when the address gets its notice now: the first time, or a full period after its last one.
  bool Admit(const asio::ip::address& address, Clock::TimePoint now);
  // The addresses remembered.
  size_t Size() const { return m_lastTold.size(); }

 private:
  struct Told {
    asio::ip::address address;
    Clock::TimePoint at;
  };

  Clock::Duration m_period;
  size_t m_capacity;
  std::map<asio::ip::address, Clock::TimePoint> m_lastTold;
  // Every notice let through, oldest first; an entry whose address was told again later is stale.
  std::deque<Told> m_order;
};

}  // namespace hx
