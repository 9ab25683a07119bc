#include "ftp/client/port_command.h"

#include <gtest/gtest.h>

namespace hx::ftpc {
namespace {

TEST(PortCommand, AddressWithCommasThenPortBytes) {
  struct Case {
    const char* address;
    std::uint16_t port;
    const char* expected;
  };
  const Case cases[] = {
      {"127.0.0.1", 4660, "PORT 127,0,0,1,18,52\r\n"},
      {"192.168.10.200", 21, "PORT 192,168,10,200,0,21\r\n"},
      {"10.0.0.1", 65535, "PORT 10,0,0,1,255,255\r\n"},
      {"10.0.0.1", 256, "PORT 10,0,0,1,1,0\r\n"},
      {"10.0.0.1", 255, "PORT 10,0,0,1,0,255\r\n"},
      {"0.0.0.0", 1024, "PORT 0,0,0,0,4,0\r\n"},
  };
  for (const auto& c : cases)
    EXPECT_EQ(PortCommand(c.address, c.port), c.expected) << c.address << ":" << c.port;
}

TEST(EprtCommand, IPv6AddressAndDecimalPort) {
  EXPECT_EQ(EprtCommand("::1", 4660), "EPRT |2|::1|4660|\r\n");
  EXPECT_EQ(EprtCommand("2001:db8::7", 65535), "EPRT |2|2001:db8::7|65535|\r\n");
}

TEST(CommandColumnText, StopsAtTheFirstLineEnd) {
  EXPECT_EQ(CommandColumnText("USER anonymous\r\n"), "USER anonymous");
  EXPECT_EQ(CommandColumnText("QUIT\n"), "QUIT");
  EXPECT_EQ(CommandColumnText("RETR a\rb\r\n"), "RETR a");
  EXPECT_EQ(CommandColumnText("NOOP"), "NOOP");
  EXPECT_EQ(CommandColumnText("\r\n"), "");
}

TEST(CommandColumnText, HidesThePassword) {
  EXPECT_EQ(CommandColumnText("PASS secret\r\n"), "PASS ****");
  EXPECT_EQ(CommandColumnText("PASS -\r\n"), "PASS ****");
}

}  // namespace
}  // namespace hx::ftpc
