#include "ftp/client/passive_reply.h"

#include <gtest/gtest.h>

#include <string>

namespace hx::ftpc {
namespace {

TEST(ParseEpsvReply, PortBetweenFourDelimiters) {
  struct Case {
    const char* line;
    std::optional<std::uint16_t> port;
  };
  const Case cases[] = {
      {"229 Entering Extended Passive Mode (|||6446|)", 6446},
      {"229 Entering Extended Passive Mode (|||6446|).", 6446},
      {"229 (!!!1!)", 1},
      {"229 Extended Passive (|||65535|)", 65535},
      {"229 Entering Extended Passive Mode (|||0|)", std::nullopt},
      {"229 Entering Extended Passive Mode (|||65536|)", std::nullopt},
      {"229 Entering Extended Passive Mode (|||123456|)", std::nullopt},
      {"229 Entering Extended Passive Mode (||6446|)", std::nullopt},
      {"229 Entering Extended Passive Mode (|||6446!)", std::nullopt},
      {"229 Entering Extended Passive Mode (|||6446|", std::nullopt},
      {"229 Entering Extended Passive Mode (|||)", std::nullopt},
      {"229 Entering Extended Passive Mode (1116441)", std::nullopt},
      {"229 Entering Extended Passive Mode", std::nullopt},
      {"200 Ok", std::nullopt},
      {"", std::nullopt},
  };
  for (const auto& c : cases) EXPECT_EQ(ParseEpsvReply(c.line), c.port) << c.line;
}

TEST(ParsePasvReply, SixNumbersAfterTheCode) {
  struct Case {
    const char* line;
    std::string host;  // empty: no address
    std::uint16_t port;
  };
  const Case cases[] = {
      {"227 Entering Passive Mode (127,0,0,1,18,52).", "127.0.0.1", 4660},
      {"227 Entering Passive Mode (192,168,10,200,255,255)", "192.168.10.200", 65535},
      {"227 Entering Passive Mode 10,0,0,1,0,21", "10.0.0.1", 21},
      {"227 =10,0,0,1,4,0", "10.0.0.1", 1024},
      {"227 Entering Passive Mode (256,0,0,1,18,52).", "", 0},
      {"227 Entering Passive Mode (127,0,0,1,18).", "", 0},
      {"227 Entering Passive Mode (127,0,0,1,0,0).", "", 0},
      {"227 Entering Passive Mode (1270,0,0,1,18,52).", "", 0},
      {"227 Entering Passive Mode", "", 0},
      {"227", "", 0},
  };
  for (const auto& c : cases) {
    auto address = ParsePasvReply(c.line);
    if (c.host.empty()) {
      EXPECT_FALSE(address) << c.line;
      continue;
    }
    ASSERT_TRUE(address) << c.line;
    std::string host = std::to_string(address->host[0]) + "." + std::to_string(address->host[1]) + "." +
                       std::to_string(address->host[2]) + "." + std::to_string(address->host[3]);
    EXPECT_EQ(host, c.host) << c.line;
    EXPECT_EQ(address->port, c.port) << c.line;
  }
}

}  // namespace
}  // namespace hx::ftpc
