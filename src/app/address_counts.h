#pragma once

#include <asio/ip/address.hpp>
#include <map>
#include <mutex>

namespace hx {

class AddressCounts;

// One counted session or listener of a peer address: the count goes down when the slot is reset or destroyed.
// An empty slot counts nothing.
class AddressSlot {
 public:
  AddressSlot() = default;
  AddressSlot(AddressSlot&& other) noexcept;
  AddressSlot& operator=(AddressSlot&& other) noexcept;
  AddressSlot(const AddressSlot&) = delete;
  AddressSlot& operator=(const AddressSlot&) = delete;
  ~AddressSlot();

  void Reset();
  explicit operator bool() const { return m_owner != nullptr; }

 private:
  friend class AddressCounts;
  AddressSlot(AddressCounts* owner, const asio::ip::address& address) : m_owner(owner), m_address(address) {}

  AddressCounts* m_owner = nullptr;
  asio::ip::address m_address;
};

// How many live sessions of one kind each peer address holds, so that no single peer can take them all. An
// IPv4 peer of a dual-stack socket (::ffff:a.b.c.d) counts as its IPv4 address. Safe from any thread; the
// counts must outlive every slot they hand out.
class AddressCounts {
 public:
  // A slot of `address`, or an empty one when the address holds `cap` slots already; `cap` 0 means no cap.
  AddressSlot TryTake(const asio::ip::address& address, int cap);
  int Count(const asio::ip::address& address) const;

 private:
  friend class AddressSlot;
  void Release(const asio::ip::address& address);

  mutable std::mutex m_lock;
  // Only addresses that hold a slot: the map is as large as the live sessions, however many peers came.
  std::map<asio::ip::address, int> m_counts;
};

}  // namespace hx
