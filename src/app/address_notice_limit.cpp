#include "app/address_notice_limit.h"

#include <algorithm>

#include "app/address_text.h"

namespace hx {

AddressNoticeLimit::AddressNoticeLimit(Clock::Duration period, size_t capacity)
    : m_period(period), m_capacity(std::max<size_t>(capacity, 1)) {}

bool AddressNoticeLimit::Admit(const asio::ip::address& peer, Clock::TimePoint now) {
  asio::ip::address address = Unmapped(peer);
  auto found = m_lastTold.find(address);
  if (found != m_lastTold.end() && now - found->second < m_period) return false;
  m_lastTold[address] = now;
  m_order.push_back({address, now});
  while (m_order.size() > m_capacity) {
    const Told& oldest = m_order.front();
    auto entry = m_lastTold.find(oldest.address);
    if (entry != m_lastTold.end() && entry->second == oldest.at) m_lastTold.erase(entry);
    m_order.pop_front();
  }
  return true;
}

}  // namespace hx
