#include "app/address_list.h"

#include <algorithm>
#include <optional>
#include <system_error>

#include "app/address_text.h"

namespace hx {
namespace {

constexpr std::string_view kByteOrderMark = "\xEF\xBB\xBF";
constexpr size_t kMaxPrefixDigits = 3;

bool IsBlank(char c) {
  return c == ' ' || c == '\t' || c == '\r' || c == '\n';
}

// The value without the blanks and byte-order marks around it: [begin, end) of `text`.
std::pair<size_t, size_t> ValueBounds(std::string_view text) {
  size_t begin = 0;
  size_t end = text.size();
  for (;;) {
    std::string_view rest = text.substr(begin, end - begin);
    if (rest.starts_with(kByteOrderMark))
      begin += kByteOrderMark.size();
    else if (rest.ends_with(kByteOrderMark))
      end -= kByteOrderMark.size();
    else if (!rest.empty() && IsBlank(rest.front()))
      ++begin;
    else if (!rest.empty() && IsBlank(rest.back()))
      --end;
    else
      return {begin, end};
  }
}

// The length of a prefix ("8" of "10.0.0.0/8"); nullopt for anything but one to three digits.
std::optional<unsigned> PrefixBits(std::string_view digits) {
  if (digits.empty() || digits.size() > kMaxPrefixDigits) return std::nullopt;
  unsigned bits = 0;
  for (char c : digits) {
    if (c < '0' || c > '9') return std::nullopt;
    bits = bits * 10 + static_cast<unsigned>(c - '0');
  }
  return bits;
}

// An address of either family in its usual notation; a zone ("fe80::1%eth0") names an interface, which a
// list cannot match, and is refused with the rest.
std::optional<asio::ip::address> EntryAddress(std::string_view text) {
  if (text.empty() || text.find('%') != std::string_view::npos) return std::nullopt;
  std::string copy(text);
  std::error_code error;
  asio::ip::address address;
  if (copy.find(':') != std::string::npos)
    address = asio::ip::make_address_v6(copy, error);
  else
    address = asio::ip::make_address_v4(copy, error);
  if (error) return std::nullopt;
  return address;
}

std::uint64_t HighBitsMask(unsigned bits) {
  return bits == 0 ? 0 : ~std::uint64_t{0} << (64 - bits);
}

}  // namespace

AddressList::Wide AddressList::ToWide(const asio::ip::address_v6& address) {
  asio::ip::address_v6::bytes_type bytes = address.to_bytes();
  Wide value;
  for (size_t i = 0; i < 8; ++i) value.high = value.high << 8 | bytes[i];
  for (size_t i = 8; i < 16; ++i) value.low = value.low << 8 | bytes[i];
  return value;
}

void AddressList::Add(const asio::ip::address& address, unsigned bits) {
  if (address.is_v4()) {
    std::uint32_t mask = bits == 0 ? 0 : ~std::uint32_t{0} << (32 - bits);
    std::uint32_t first = address.to_v4().to_uint() & mask;
    m_v4.push_back({first, first | ~mask});
    return;
  }
  asio::ip::address_v6 v6 = address.to_v6();
  if (v6.is_v4_mapped() && bits >= 96) {
    Add(asio::ip::make_address_v4(asio::ip::v4_mapped, v6), bits - 96);
    return;
  }
  Wide mask{bits >= 64 ? ~std::uint64_t{0} : HighBitsMask(bits), bits <= 64 ? 0 : HighBitsMask(bits - 64)};
  Wide value = ToWide(v6);
  Wide first{value.high & mask.high, value.low & mask.low};
  m_v6.push_back({first, Wide{first.high | ~mask.high, first.low | ~mask.low}});
}

template <typename T>
void AddressList::Merge(std::vector<Range<T>>& ranges) {
  std::sort(ranges.begin(), ranges.end(),
            [](const Range<T>& a, const Range<T>& b) { return a.first < b.first; });
  size_t kept = 0;
  for (const Range<T>& range : ranges) {
    if (kept > 0 && range.first <= ranges[kept - 1].last)
      ranges[kept - 1].last = std::max(ranges[kept - 1].last, range.last);
    else
      ranges[kept++] = range;
  }
  ranges.resize(kept);
  ranges.shrink_to_fit();
}

template <typename T>
bool AddressList::Covers(const std::vector<Range<T>>& ranges, T value) {
  // The last range that begins at or before the value is the only one that can hold it.
  auto after = std::upper_bound(ranges.begin(), ranges.end(), value,
                                [](const T& v, const Range<T>& range) { return v < range.first; });
  return after != ranges.begin() && value <= std::prev(after)->last;
}

bool AddressList::Allows(const asio::ip::address& peer) const {
  if (m_everyone) return true;
  asio::ip::address address = Unmapped(peer);
  if (address.is_v4()) return Covers(m_v4, address.to_v4().to_uint());
  return Covers(m_v6, ToWide(address.to_v6()));
}

std::variant<AddressList, AddressListError> ParseAddressList(std::string_view text) {
  auto [begin, end] = ValueBounds(text);
  AddressList list;
  if (begin == end) return list;
  list.m_everyone = false;
  size_t entry = 0;
  for (size_t at = begin;;) {
    size_t comma = std::min(text.find(',', at), end);
    ++entry;
    size_t first = at;
    size_t last = comma;
    while (first < last && IsBlank(text[first])) ++first;
    while (last > first && IsBlank(text[last - 1])) --last;
    std::string_view item = text.substr(first, last - first);
    auto refuse = [&](AddressListError::Reason reason) {
      return AddressListError{reason, entry, first, std::string(item)};
    };
    if (item.empty()) return refuse(AddressListError::Reason::kEmpty);
    size_t slash = item.find('/');
    std::optional<asio::ip::address> address = EntryAddress(item.substr(0, slash));
    std::optional<unsigned> bits;
    if (slash != std::string_view::npos) bits = PrefixBits(item.substr(slash + 1));
    if (!address || (slash != std::string_view::npos && !bits))
      return refuse(AddressListError::Reason::kNotAnAddress);
    unsigned length = address->is_v4() ? 32 : 128;
    if (bits.value_or(length) > length) return refuse(AddressListError::Reason::kPrefixTooLong);
    list.Add(*address, bits.value_or(length));
    if (comma == end) break;
    at = comma + 1;
  }
  AddressList::Merge(list.m_v4);
  AddressList::Merge(list.m_v6);
  return list;
}

std::string DescribeAddressListError(const AddressListError& error) {
  std::string entry = "entry " + std::to_string(error.entry);
  std::string quoted = entry + " \"" + error.text + "\"";
  switch (error.reason) {
    case AddressListError::Reason::kEmpty:
      return entry + " is empty";
    case AddressListError::Reason::kPrefixTooLong:
      return quoted + " has a longer prefix than its address (IPv4 at most /32, IPv6 at most /128)";
    case AddressListError::Reason::kNotAnAddress:
      break;
  }
  return quoted + " is not an IPv4 or IPv6 address or prefix";
}

}  // namespace hx
