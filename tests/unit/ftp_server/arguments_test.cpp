#include "ftp/server/arguments.h"

#include <gtest/gtest.h>

#include <string>
#include <utility>

namespace hx::ftpd {
namespace {

TEST(PortArgumentTest, SixNumbersFrom0To255) {
  struct Case {
    std::string text;
    bool ok;
    std::string host;
    int port;
  } cases[] = {
      {"127,0,0,1,4,1", true, "127.0.0.1", 1025},
      {"127,0,0,1,255,255", true, "127.0.0.1", 65535},
      {"10,1,2,3,0,21", true, "10.1.2.3", 21},
      {" 127, 0, 0, 1, 19, 137 ", true, "127.0.0.1", 5001},
      {"127,0,0,1,4", false, "", 0},
      {"127,0,0,1,4,1,9", false, "", 0},
      {"127,0,0,1,256,1", false, "", 0},
      {"127,0,0,1,4,-1", false, "", 0},
      {"127,0,0,1,4,1x", false, "", 0},
      {"127.0.0.1,4,1", false, "", 0},
      {"", false, "", 0},
      {"a,b,c,d,e,f", false, "", 0},
      {"127,,0,1,4,1", false, "", 0},
      {"999999999999,0,0,1,4,1", false, "", 0},
  };
  for (const auto& c : cases) {
    auto address = ParsePortArgument(c.text);
    EXPECT_EQ(address.has_value(), c.ok) << c.text;
    if (!address || !c.ok) continue;
    EXPECT_EQ(address->HostText(), c.host) << c.text;
    EXPECT_EQ(address->port, c.port) << c.text;
  }
}

// Numbers above 255 are refused at once; other malformed arguments wait for the data command.
TEST(PortArgumentTest, NumbersAbove255AreOutOfRange) {
  const std::pair<std::string, bool> cases[] = {
      {"127,0,0,1,4,1", false},
      {"127,0,0,1,255,255", false},
      {"0127,0,0,1,4,0255", false},
      {"127,0,0,1,256,1", true},
      {"127,0,0,1,4,1000", true},
      {"300,0,0,1,4,1", true},
      {"999999999999,0,0,1,4,1", true},
      {"127,0,0,1,4", false},
      {"whatever", false},
      {"", false},
  };
  for (const auto& [text, outOfRange] : cases) EXPECT_EQ(PortArgumentOutOfRange(text), outOfRange) << text;
}

TEST(PortArgumentTest, OnlyTheControlPeerAndUnprivilegedPorts) {
  const asio::ip::address peer = asio::ip::make_address("127.0.0.1");
  struct Case {
    std::string text;
    bool usable;
  } cases[] = {
      {"127,0,0,1,4,0", true},     // 1024
      {"127,0,0,1,3,255", false},  // 1023
      {"127,0,0,1,0,21", false},   {"127,0,0,1,0,0", false},
      {"127,0,0,2,19,137", false},  // another host: the bounce attack
      {"10,0,0,1,19,137", false},  {"0,0,0,0,19,137", false},
  };
  for (const auto& c : cases) {
    auto address = ParsePortArgument(c.text);
    ASSERT_TRUE(address) << c.text;
    EXPECT_EQ(IsUsableDataTarget(DataEndpoint(*address), peer), c.usable) << c.text;
  }
  // The peer as a dual-stack socket reports an IPv4 client.
  auto address = ParsePortArgument("127,0,0,1,4,0");
  ASSERT_TRUE(address);
  EXPECT_TRUE(IsUsableDataTarget(DataEndpoint(*address), asio::ip::make_address("::ffff:127.0.0.1")));
}

TEST(EprtArgumentTest, FamilyAddressAndPortBetweenDelimiters) {
  using Kind = ExtendedAddress::Kind;
  struct Case {
    std::string text;
    Kind kind;
    std::string address;
    int port;
  } cases[] = {
      {"|1|127.0.0.1|5000|", Kind::Ok, "127.0.0.1", 5000},
      {"|2|::1|6446|", Kind::Ok, "::1", 6446},
      {"!2!2001:db8::7!65535!", Kind::Ok, "2001:db8::7", 65535},  // any printable delimiter
      {"|3|127.0.0.1|5000|", Kind::UnknownFamily, "", 0},
      {"|x|127.0.0.1|5000|", Kind::UnknownFamily, "", 0},
      {"|1|::1|5000|", Kind::Malformed, "", 0},  // the address is not of its family
      {"|2|127.0.0.1|5000|", Kind::Malformed, "", 0},
      {"|2|fe80::1%eth0|5000|", Kind::Malformed, "", 0},
      {"|1|127.0.0.1|0|", Kind::Malformed, "", 0},
      {"|1|127.0.0.1|65536|", Kind::Malformed, "", 0},
      {"|1|127.0.0.256|5000|", Kind::Malformed, "", 0},  // answered with a syntax error, as PORT's 256
      {"|1|127.0.0.1|50a|", Kind::Malformed, "", 0},
      {"|1|127.0.0.1|5000", Kind::Malformed, "", 0},
      {"|1|127.0.0.1|5000|x", Kind::Malformed, "", 0},
      {" 1 127.0.0.1 5000 ", Kind::Malformed, "", 0},  // a blank is no delimiter
      {"", Kind::Malformed, "", 0},
  };
  for (const auto& c : cases) {
    ExtendedAddress parsed = ParseEprtArgument(c.text);
    EXPECT_EQ(parsed.kind, c.kind) << c.text;
    if (c.kind != Kind::Ok || parsed.kind != Kind::Ok) continue;
    EXPECT_EQ(parsed.endpoint.address().to_string(), c.address) << c.text;
    EXPECT_EQ(parsed.endpoint.port(), c.port) << c.text;
  }
  // The same refusal rules as PORT: an IPv6 client's own address, no privileged port.
  const asio::ip::address peer = asio::ip::make_address("2001:db8::7");
  EXPECT_TRUE(IsUsableDataTarget(ParseEprtArgument("|2|2001:db8::7|1024|").endpoint, peer));
  EXPECT_FALSE(IsUsableDataTarget(ParseEprtArgument("|2|2001:db8::7|1023|").endpoint, peer));
  EXPECT_FALSE(IsUsableDataTarget(ParseEprtArgument("|2|2001:db8::8|5000|").endpoint, peer));
}

TEST(PortArgumentTest, Ipv4Text) {
  EXPECT_EQ(ParseIpv4("127.0.0.1"), (std::array<std::uint8_t, 4>{127, 0, 0, 1}));
  EXPECT_EQ(ParseIpv4("255.255.255.255"), (std::array<std::uint8_t, 4>{255, 255, 255, 255}));
  EXPECT_FALSE(ParseIpv4("256.0.0.1"));
  EXPECT_FALSE(ParseIpv4("1.2.3"));
  EXPECT_FALSE(ParseIpv4("1.2.3.4.5"));
  EXPECT_FALSE(ParseIpv4("::1"));
  EXPECT_FALSE(ParseIpv4(" 1.2.3.4"));
}

TEST(RestArgumentTest, DecimalReadingWith64Bits) {
  struct Case {
    std::string text;
    std::optional<std::int64_t> offset;
  } cases[] = {
      {"100", 100},
      {"0", 0},
      {"  42", 42},
      {"+7", 7},
      {"-1", -1},  // accepted; positioning fails later
      {"12abc", 12},
      {"5 6", 5},
      {"4294967296", 4294967296LL},  // beyond 32 bits
      {"6442450944", 6442450944LL},  // 6 GiB
      {"9223372036854775807", 9223372036854775807LL},
      {"-9223372036854775808", INT64_MIN},
      {"9223372036854775808", std::nullopt},
      {"99999999999999999999", std::nullopt},
      {"abc", std::nullopt},
      {"", std::nullopt},
      {"-", std::nullopt},
      {" ", std::nullopt},
      {"- 5", std::nullopt},
  };
  for (const auto& c : cases) EXPECT_EQ(ParseRestArgument(c.text), c.offset) << '"' << c.text << '"';
}

}  // namespace
}  // namespace hx::ftpd
