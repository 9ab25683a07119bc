#include "app/address_text.h"

#include <gtest/gtest.h>

namespace hx {
namespace {

TEST(AddressTextTest, MappedPeersShowAsIPv4AndIPv6Compressed) {
  EXPECT_EQ(AddressText(asio::ip::make_address("::ffff:192.0.2.7")), "192.0.2.7");
  EXPECT_TRUE(Unmapped(asio::ip::make_address("::ffff:127.0.0.1")).is_v4());
  EXPECT_EQ(AddressText(asio::ip::make_address("127.0.0.1")), "127.0.0.1");
  EXPECT_EQ(AddressText(asio::ip::make_address("2001:0db8:0000:0000:0000:0000:0000:0007")), "2001:db8::7");
  EXPECT_EQ(AddressText(asio::ip::make_address("::1")), "::1");
}

TEST(AddressTextTest, PeersShowWithTheirPortAndIPv6InBrackets) {
  const std::pair<const char*, const char*> cases[] = {
      {"127.0.0.1", "127.0.0.1:40000"},
      {"::1", "[::1]:40000"},
      {"2001:db8::7", "[2001:db8::7]:40000"},
      {"server.example", "server.example:40000"},
  };
  for (const auto& [host, shown] : cases) EXPECT_EQ(HostPortShown(host, 40000), shown);
}

}  // namespace
}  // namespace hx
