#include "app/login_throttle.h"

#include <algorithm>

#include "app/address_text.h"

namespace hx {

LoginThrottle::Record* LoginThrottle::Find(const asio::ip::address& address, Clock::TimePoint now) {
  auto it = m_records.find(address);
  if (it == m_records.end()) return nullptr;
  if (now - it->second.lastFailure >= kWindow) {
    m_records.erase(it);
    return nullptr;
  }
  return &it->second;
}

std::chrono::seconds LoginThrottle::Pause(const asio::ip::address& address, Clock::TimePoint now) {
  std::lock_guard guard(m_lock);
  Record* record = Find(Unmapped(address), now);
  if (!record || record->failures < kFreeFailures) return std::chrono::seconds(0);
  return std::min(kMaxPause, std::chrono::seconds(record->failures - kFreeFailures + 1));
}

bool LoginThrottle::Failed(const asio::ip::address& address, Clock::TimePoint now) {
  std::lock_guard guard(m_lock);
  asio::ip::address key = Unmapped(address);
  Record* record = Find(key, now);
  if (!record) {
    if (m_records.size() >= kCapacity) {
      auto oldest = std::min_element(m_records.begin(), m_records.end(), [](const auto& a, const auto& b) {
        return a.second.lastFailure < b.second.lastFailure;
      });
      m_records.erase(oldest);
    }
    record = &m_records[key];
  }
  ++record->failures;
  record->lastFailure = now;
  if (record->failures < kFreeFailures ||
      (record->noted && now - record->lastNoted < std::chrono::minutes(1)))
    return false;
  record->noted = true;
  record->lastNoted = now;
  return true;
}

void LoginThrottle::Succeeded(const asio::ip::address& address) {
  std::lock_guard guard(m_lock);
  m_records.erase(Unmapped(address));
}

}  // namespace hx
