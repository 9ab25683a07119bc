// The allow lists: what a list's text lets in, what it refuses and where, and the notices about the peers
// it turns away.
#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <variant>
#include <vector>

#include "app/address_list.h"
#include "app/address_notice_limit.h"

namespace hx {
namespace {

using Reason = AddressListError::Reason;

asio::ip::address At(const char* text) {
  return asio::ip::make_address(text);
}

TEST(AddressListTest, WhatAListLetsIn) {
  struct Case {
    std::string list;
    const char* peer;
    bool allowed;
  };
  const Case cases[] = {
      {"", "203.0.113.9", true},
      {"", "2001:db8::1", true},
      {" \t", "203.0.113.9", true},
      {"\xEF\xBB\xBF", "2001:db8::1", true},
      {"10.0.0.0/8, 192.168.1.7, fd00::/8", "10.200.3.4", true},
      {"10.0.0.0/8, 192.168.1.7, fd00::/8", "192.168.1.7", true},
      {"10.0.0.0/8, 192.168.1.7, fd00::/8", "192.168.1.8", false},
      {"10.0.0.0/8, 192.168.1.7, fd00::/8", "11.0.0.0", false},
      {"10.0.0.0/8, 192.168.1.7, fd00::/8", "fdab::1", true},
      {"10.0.0.0/8, 192.168.1.7, fd00::/8", "fe80::1", false},
      // An IPv4 peer of the dual-stack socket is its IPv4 address.
      {"10.0.0.0/8", "::ffff:10.1.2.3", true},
      {"127.0.0.1", "::ffff:127.0.0.2", false},
      // The families stay apart.
      {"0.0.0.0/0", "::1", false},
      {"0.0.0.0/0", "::ffff:8.8.8.8", true},
      {"::/0", "8.8.8.8", false},
      {"::/0", "2001:db8::1", true},
      {"0.0.0.0/0,::/0", "8.8.8.8", true},
      {"0.0.0.0/0,::/0", "2001:db8::1", true},
      {"::1", "::1", true},
      {"127.0.0.1", "::1", false},
      // A mapped prefix is the IPv4 prefix it maps.
      {"::ffff:10.0.0.0/104", "10.9.9.9", true},
      {"::ffff:10.0.0.0/104", "::ffff:10.9.9.9", true},
      {"::ffff:10.0.0.0/104", "11.0.0.1", false},
      {"::ffff:10.0.0.0/104", "::a00:1", false},
      {"::ffff:0:0/96", "203.0.113.9", true},
      // Bits beyond the prefix are ignored; /0 and full lengths work.
      {"192.168.1.77/24", "192.168.1.1", true},
      {"192.168.1.77/24", "192.168.2.1", false},
      {"8.8.8.8/32", "8.8.8.8", true},
      {"8.8.8.8/32", "8.8.8.9", false},
      {"2001:db8::/33", "2001:db8:7fff::1", true},
      {"2001:db8::/33", "2001:db8:8000::1", false},
      {"2001:db8::1/128", "2001:db8::1", true},
      {"2001:db8::1/128", "2001:db8::2", false},
      {"2001:db8:0:1::/64", "2001:db8:0:1:ffff:ffff:ffff:ffff", true},
      {"2001:db8:0:1::/64", "2001:db8:0:2::", false},
      // Edges of the space, overlapping and nested entries.
      {"255.255.255.255", "255.255.255.255", true},
      {"0.0.0.0", "0.0.0.0", true},
      {"10.0.0.0/8, 10.1.0.0/16, 9.0.0.0/8", "10.255.255.255", true},
      {"10.1.0.0/16, 10.0.0.0/8", "10.2.0.1", true},
      {"10.0.0.1, 10.0.0.3", "10.0.0.2", false},
      {"ffff:ffff:ffff:ffff:ffff:ffff:ffff:ffff", "ffff:ffff:ffff:ffff:ffff:ffff:ffff:ffff", true},
      // A byte-order mark, CR and LF around the value, as an editor may leave them.
      {"\xEF\xBB\xBF"
       "10.0.0.1, 10.0.0.2\r\n",
       "10.0.0.2", true},
      {" 10.0.0.1 ,\t10.0.0.2 ", "10.0.0.1", true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.list + " / " + c.peer);
    auto parsed = ParseAddressList(c.list);
    ASSERT_TRUE(std::holds_alternative<AddressList>(parsed));
    EXPECT_EQ(std::get<AddressList>(parsed).Allows(At(c.peer)), c.allowed);
  }
}

TEST(AddressListTest, BadEntriesAreRefusedWithTheirPlace) {
  struct Case {
    std::string list;
    AddressListError expected;
  };
  const Case cases[] = {
      {"10.0.0.0/33", {Reason::kPrefixTooLong, 1, 0, "10.0.0.0/33"}},
      {"fd00::/129", {Reason::kPrefixTooLong, 1, 0, "fd00::/129"}},
      {"10.0.0.1, 10.0.0.300", {Reason::kNotAnAddress, 2, 10, "10.0.0.300"}},
      {"10.0.0.1,,10.0.0.2", {Reason::kEmpty, 2, 9, ""}},
      {"10.0.0.1, ", {Reason::kEmpty, 2, 9, ""}},
      {",10.0.0.1", {Reason::kEmpty, 1, 0, ""}},
      {"10.0.0.0/", {Reason::kNotAnAddress, 1, 0, "10.0.0.0/"}},
      {"/8", {Reason::kNotAnAddress, 1, 0, "/8"}},
      {"10.0.0.0/8x", {Reason::kNotAnAddress, 1, 0, "10.0.0.0/8x"}},
      {"10.0.0.0/-1", {Reason::kNotAnAddress, 1, 0, "10.0.0.0/-1"}},
      {"10.0.0.0/0008", {Reason::kNotAnAddress, 1, 0, "10.0.0.0/0008"}},
      {"10.0.0.0 /8", {Reason::kNotAnAddress, 1, 0, "10.0.0.0 /8"}},
      {"10.1", {Reason::kNotAnAddress, 1, 0, "10.1"}},
      {"010.0.0.1", {Reason::kNotAnAddress, 1, 0, "010.0.0.1"}},
      {"host.example", {Reason::kNotAnAddress, 1, 0, "host.example"}},
      {"fe80::1%eth0", {Reason::kNotAnAddress, 1, 0, "fe80::1%eth0"}},
      {"fd00:::1", {Reason::kNotAnAddress, 1, 0, "fd00:::1"}},
      {"10.0.0.1 10.0.0.2", {Reason::kNotAnAddress, 1, 0, "10.0.0.1 10.0.0.2"}},
      {"10.0.0.1; 10.0.0.2", {Reason::kNotAnAddress, 1, 0, "10.0.0.1; 10.0.0.2"}},
      {"  \xEF\xBB\xBF 10.0.0.1, x", {Reason::kNotAnAddress, 2, 16, "x"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.list);
    auto parsed = ParseAddressList(c.list);
    ASSERT_TRUE(std::holds_alternative<AddressListError>(parsed));
    EXPECT_EQ(std::get<AddressListError>(parsed), c.expected);
  }
}

TEST(AddressListTest, RefusalsInWords) {
  struct Case {
    AddressListError error;
    std::string text;
  };
  const Case cases[] = {
      {{Reason::kEmpty, 3, 20, ""}, "entry 3 is empty"},
      {{Reason::kNotAnAddress, 2, 10, "10.0.0.300"},
       "entry 2 \"10.0.0.300\" is not an IPv4 or IPv6 address or prefix"},
      {{Reason::kPrefixTooLong, 1, 0, "10.0.0.0/33"},
       "entry 1 \"10.0.0.0/33\" has a longer prefix than its address (IPv4 at most /32, IPv6 at most /128)"},
  };
  for (const Case& c : cases) EXPECT_EQ(DescribeAddressListError(c.error), c.text);
}

TEST(AddressListTest, TenThousandEntries) {
  std::string text;
  for (int i = 0; i < 10000; ++i) {
    if (i) text += ", ";
    // Every other address of 10.0.0.0/16 and beyond, and an IPv6 prefix for each.
    text += "10." + std::to_string(i / 128) + "." + std::to_string(i % 128 * 2) + ".1";
    text += ", fd00:" + std::to_string(i) + "::/32";
  }
  auto parsed = ParseAddressList(text);
  ASSERT_TRUE(std::holds_alternative<AddressList>(parsed));
  const AddressList& list = std::get<AddressList>(parsed);
  EXPECT_TRUE(list.Allows(At("10.0.0.1")));
  EXPECT_TRUE(list.Allows(At("10.78.30.1")));
  EXPECT_FALSE(list.Allows(At("10.0.1.1")));
  EXPECT_FALSE(list.Allows(At("10.0.0.2")));
  EXPECT_TRUE(list.Allows(At("fd00:9999::1")));
  EXPECT_FALSE(list.Allows(At("fd01::1")));
}

TEST(AddressNoticeLimitTest, OneNoticeAMinutePerAddressInABoundedTable) {
  using std::chrono::seconds;
  AddressNoticeLimit limit(std::chrono::minutes(1), 3);
  const Clock::TimePoint t0{};
  struct Step {
    const char* address;
    int at;  // seconds after t0
    bool told;
  };
  const Step steps[] = {
      {"127.0.0.2", 0, true},
      {"127.0.0.2", 1, false},
      {"::ffff:127.0.0.2", 2, false},  // the same peer through the dual-stack socket
      {"::1", 3, true},
      {"127.0.0.2", 59, false},
      {"127.0.0.2", 60, true},
      {"::1", 62, false},
      // Two more addresses push the oldest ones out of a table of three: ::1 is told again at once.
      {"10.0.0.1", 63, true},
      {"10.0.0.2", 64, true},
      {"::1", 65, true},
      {"10.0.0.2", 66, false},
  };
  for (const Step& step : steps) {
    SCOPED_TRACE(std::string(step.address) + " at " + std::to_string(step.at));
    EXPECT_EQ(limit.Admit(At(step.address), t0 + seconds(step.at)), step.told);
    EXPECT_LE(limit.Size(), 3u);
  }
}

}  // namespace
}  // namespace hx
