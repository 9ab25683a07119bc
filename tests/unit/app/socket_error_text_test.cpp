#include "app/socket_error_text.h"

#include <gtest/gtest.h>

#include <asio/error.hpp>
#include <cerrno>

namespace hx {
namespace {

TEST(SocketErrorTextTest, TableEntriesAndGaps) {
  EXPECT_EQ(SocketErrorText(10061), "[10061] Connection refused");
  EXPECT_EQ(SocketErrorText(10045), "[10045] Operation not supported on <strong>socket</strong>");
  EXPECT_EQ(SocketErrorText(10000), "[0] No Error");
  EXPECT_EQ(SocketErrorText(11003), "[11003] Non-Recoverable errors: FORMERR, REFUSED, NOTIMP");
  EXPECT_EQ(SocketErrorText(0), "");
  EXPECT_EQ(SocketErrorText(10001), "");
  EXPECT_EQ(std::string("451 Couldn't create socket: ") + SocketErrorText(10001) + "\r\n",
            "451 Couldn't create socket: \r\n");
}

TEST(SocketErrorTextTest, MapsPlatformErrors) {
  auto sys = [](int e) { return std::error_code(e, std::system_category()); };
  EXPECT_EQ(WinsockErrorNumber(sys(EADDRINUSE)), 10048);
  EXPECT_EQ(WinsockErrorNumber(sys(ECONNREFUSED)), 10061);
  EXPECT_EQ(WinsockErrorNumber(sys(ETIMEDOUT)), 10060);
  EXPECT_EQ(WinsockErrorNumber(sys(EACCES)), 10013);
  EXPECT_EQ(WinsockErrorNumber(sys(ECONNRESET)), 10054);
  EXPECT_EQ(WinsockErrorNumber(sys(EMSGSIZE)), 10040);
  EXPECT_EQ(WinsockErrorNumber(asio::error::host_not_found), 11001);
  EXPECT_EQ(WinsockErrorNumber(asio::error::host_not_found_try_again), 11002);
  EXPECT_EQ(SocketErrorText(sys(EADDRINUSE)), "[10048] Address already in use");
  EXPECT_EQ(SocketErrorText(std::error_code(asio::error::connection_refused)), "[10061] Connection refused");
  // An error without a counterpart has no text.
  EXPECT_EQ(SocketErrorText(sys(ENOENT)), "");
}

}  // namespace
}  // namespace hx
