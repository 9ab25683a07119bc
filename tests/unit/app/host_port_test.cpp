#include "app/host_port.h"

#include <gtest/gtest.h>

namespace hx {
namespace {

TEST(HostPortTest, SplitTakesNamesAddressesAndBracketedIpv6) {
  struct Case {
    const char* text;
    const char* host;
    const char* port;
  };
  const Case cases[] = {
      {"tftp.example", "tftp.example", "69"},
      {"tftp.example:6969", "tftp.example", "6969"},
      {"192.0.2.7:70", "192.0.2.7", "70"},
      {"[::1]:69", "::1", "69"},
      {"[::1]", "::1", "69"},
      {"[2001:db8::7]:6969", "2001:db8::7", "6969"},
      // Without brackets the last group of an IPv6 address is no port.
      {"::1", "::1", "69"},
      {"2001:db8::69", "2001:db8::69", "69"},
      // Left for the form's port check and the lookup to refuse.
      {"[::1]:", "::1", ""},
      {"host:", "host", ""},
      {"[::1]x", "[::1]x", "69"},
      {"[::1", "[::1", "69"},
  };
  for (const Case& c : cases) {
    HostPortText split = SplitHostPort(c.text, "69");
    EXPECT_EQ(split.host, c.host) << c.text;
    EXPECT_EQ(split.port, c.port) << c.text;
  }
}

TEST(HostPortTest, FormHostTakesTheBracketsOffAnAddress) {
  EXPECT_EQ(FormHost("[::1]"), "::1");
  EXPECT_EQ(FormHost("::1"), "::1");
  EXPECT_EQ(FormHost("tftp.example"), "tftp.example");
  EXPECT_EQ(FormHost("[]"), "[]");
}

}  // namespace
}  // namespace hx
