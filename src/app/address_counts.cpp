#include "app/address_counts.h"

#include <utility>

#include "app/address_text.h"

namespace hx {

AddressSlot::AddressSlot(AddressSlot&& other) noexcept
    : m_owner(std::exchange(other.m_owner, nullptr)), m_address(other.m_address) {}

AddressSlot& AddressSlot::operator=(AddressSlot&& other) noexcept {
  if (this != &other) {
    Reset();
    m_owner = std::exchange(other.m_owner, nullptr);
    m_address = other.m_address;
  }
  return *this;
}

AddressSlot::~AddressSlot() {
  Reset();
}

void AddressSlot::Reset() {
  if (m_owner) std::exchange(m_owner, nullptr)->Release(m_address);
}

AddressSlot AddressCounts::TryTake(const asio::ip::address& address, int cap) {
  asio::ip::address key = Unmapped(address);
  std::lock_guard guard(m_lock);
  int& count = m_counts[key];
  if (cap > 0 && count >= cap) return {};
  ++count;
  return AddressSlot(this, key);
}

int AddressCounts::Count(const asio::ip::address& address) const {
  std::lock_guard guard(m_lock);
  auto it = m_counts.find(Unmapped(address));
  return it == m_counts.end() ? 0 : it->second;
}

void AddressCounts::Release(const asio::ip::address& address) {
  std::lock_guard guard(m_lock);
  auto it = m_counts.find(address);
  if (it != m_counts.end() && --it->second <= 0) m_counts.erase(it);
}

}  // namespace hx
