#pragma once

#include <asio/ip/address.hpp>
#include <compare>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

namespace hx {

// Why the text of an address list was refused: which entry (counted from 1), where it begins in the text
// (after its blanks, in bytes) and the entry as written.
struct AddressListError {
  enum class Reason {
    kEmpty,          // nothing between two commas, or after the last one
    kNotAnAddress,   // neither an IPv4 nor an IPv6 address, or a prefix length that is no number
    kPrefixTooLong,  // more than 32 bits for IPv4, 128 for IPv6
  };
  Reason reason = Reason::kNotAnAddress;
  size_t entry = 0;
  size_t offset = 0;
  std::string text;

  bool operator==(const AddressListError&) const = default;
};

// The peers that a service lets in: the addresses and prefixes of a comma-separated list such as
// "10.0.0.0/8, 192.168.1.7, fd00::/8", or every address when the list holds none.
//
// The families stay apart: an IPv4 entry matches IPv4 peers, and those that a dual-stack socket reports as
// ::ffff:a.b.c.d, never an IPv6 peer. An IPv6 entry inside ::ffff:0:0/96 is the IPv4 prefix that it maps
// ("::ffff:10.0.0.0/104" is 10.0.0.0/8); every other IPv6 entry matches IPv6 peers only, so that "::/0"
// lets in every IPv6 peer and no IPv4 one.
//
// The entries are kept as sorted ranges with the overlaps merged, so that a lookup is one binary search per
// family however long the list is.
class AddressList {
 public:
  // The list that lets every address in.
  AddressList() = default;

  bool Allows(const asio::ip::address& peer) const;

 private:
  // An IPv6 address as one 128-bit number, compared as one.
  struct Wide {
    std::uint64_t high = 0;
    std::uint64_t low = 0;
    auto operator<=>(const Wide&) const = default;
  };
  template <typename T>
  struct Range {
    T first;
    T last;
  };

  friend std::variant<AddressList, AddressListError> ParseAddressList(std::string_view text);
  template <typename T>
  static void Merge(std::vector<Range<T>>& ranges);
  template <typename T>
  static bool Covers(const std::vector<Range<T>>& ranges, T value);
  static Wide ToWide(const asio::ip::address_v6& address);
  // Adds one entry; the address part is already an address, `bits` within its family's length.
  void Add(const asio::ip::address& address, unsigned bits);

  bool m_everyone = true;  // the list without entries
  std::vector<Range<std::uint32_t>> m_v4;
  std::vector<Range<Wide>> m_v6;
};

// Reads a list: entries separated by commas, blanks around each; a byte-order mark, CR and LF around the
// whole value (an editor's doing) count as blanks. An entry is an address ("192.168.1.7", "fd00::1") or a
// prefix ("10.0.0.0/8", "fd00::/8"; bits beyond the length are ignored). Empty text: every address.
std::variant<AddressList, AddressListError> ParseAddressList(std::string_view text);

// The refusal in words, e.g. `entry 2 "10.0.0.300" is not an IPv4 or IPv6 address or prefix`.
std::string DescribeAddressListError(const AddressListError& error);

}  // namespace hx
