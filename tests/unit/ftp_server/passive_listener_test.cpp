#include "ftp/server/passive_listener.h"

#include <gtest/gtest.h>

namespace hx::ftpd {
namespace {

TEST(PassiveTest, PortRanges) {
  auto range = ParsePortRange("50000-50100");
  ASSERT_TRUE(range);
  EXPECT_EQ(range->first, 50000);
  EXPECT_EQ(range->last, 50100);
  EXPECT_FALSE(range->Any());
  range = ParsePortRange(" 1024 - 1024 ");
  ASSERT_TRUE(range);
  EXPECT_EQ(range->first, 1024);
  EXPECT_EQ(range->last, 1024);
  range = ParsePortRange("0");
  ASSERT_TRUE(range);
  EXPECT_TRUE(range->Any());
  for (const char* bad : {"", "5000", "50100-50000", "0-10", "1-65536", "a-b", "1-2-3", "-5", "99999"})
    EXPECT_FALSE(ParsePortRange(bad)) << bad;
}

TEST(PassiveTest, Replies) {
  EXPECT_EQ(PassiveReply(asio::ip::make_address_v4("192.0.2.7"), 50001),
            "227 Entering Passive Mode (192,0,2,7,195,81).\r\n");
  EXPECT_EQ(PassiveReply(asio::ip::make_address_v4("127.0.0.1"), 255),
            "227 Entering Passive Mode (127,0,0,1,0,255).\r\n");
  EXPECT_EQ(ExtendedPassiveReply(6446), "229 Entering Extended Passive Mode (|||6446|).\r\n");
}

}  // namespace
}  // namespace hx::ftpd
