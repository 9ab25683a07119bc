// The TFTP service on its dual-stack socket: IPv6 clients are served from IPv6 session sockets, IPv4 ones as
// before, and General/IPv6=0 leaves IPv6 alone.
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cerrno>

#include "server_fixture.h"

namespace hx::test {
namespace {

class Ipv6 : public TftpServerFixture {};

// Whether a socket of the test could take ::1 on the port: not while a dual-stack service holds it.
bool Ipv6LoopbackPortFree(std::uint16_t port) {
  int fd = ::socket(AF_INET6, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return false;
  int on = 1;
  ::setsockopt(fd, IPPROTO_IPV6, IPV6_V6ONLY, &on, sizeof on);
  sockaddr_in6 address{};
  address.sin6_family = AF_INET6;
  address.sin6_addr = in6addr_loopback;
  address.sin6_port = htons(port);
  bool bound = ::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
  ::close(fd);
  return bound;
}

TEST_F(Ipv6, TftpHpaDownloadsAndUploadsOverIpv6ByteForByte) {
  Start();
  EXPECT_FALSE(Ipv6LoopbackPortFree(Port()));
  std::string content = Content(150'000, 6);
  WriteFile(Dl() / "six.bin", content);
  EXPECT_EQ(TftpClient({"get", "six.bin", "six.bin"}, "octet", "::1"), "");
  EXPECT_EQ(ReadFile(Work() / "six.bin"), content);
  EXPECT_EQ(TftpClient({"put", "six.bin", "up.bin"}, "octet", "::1"), "");
  EXPECT_TRUE(WaitForLog("TFTP: PUT " + DlDir() + "up.bin\r\n"));
  EXPECT_TRUE(WaitForLog("TFTP: Successful. Total bytes transferred: 150000\r\n"));
  EXPECT_EQ(ReadFile(Dl() / "up.bin"), content);
  std::string log = LogFile();
  EXPECT_NE(log.find(" TFTP: Connection from address ::1\r\n"), std::string::npos) << log;
  EXPECT_EQ(log.find("ffff"), std::string::npos) << log;
}

TEST_F(Ipv6, StrangersOverIpv6AreToldUnknownTransferId) {
  Start();
  WriteFile(Dl() / "t.bin", std::string(600, 't'));
  UdpPeer client(/*ipv6=*/true);
  UdpPeer stranger(/*ipv6=*/true);
  client.SendTo(Port(), Request(1, "t.bin", "octet"));
  auto data1 = client.Receive();
  ASSERT_TRUE(data1);
  ASSERT_EQ(NumberOf(*data1), 1);
  stranger.SendTo(data1->port, Ack(1));
  auto told = stranger.Receive();
  ASSERT_TRUE(told);
  EXPECT_EQ(NumberOf(*told), 5);
  EXPECT_EQ(ErrorText(*told), "Unknown transfer ID");
  EXPECT_EQ(told->port, data1->port);
  client.SendTo(data1->port, Ack(1));
  auto data2 = client.Receive();
  ASSERT_TRUE(data2);
  EXPECT_EQ(NumberOf(*data2), 2);
  EXPECT_EQ(PayloadOf(*data2), std::string(88, 't'));
  client.SendTo(data1->port, Ack(2));
  EXPECT_TRUE(WaitForLog("TFTP: Successful. Total bytes transferred: 600\r\n"));
}

TEST_F(Ipv6, HarbinexClientGetsAndPutsThroughBracketedAddress) {
  Start();
  std::string content = Content(3000, 9);
  WriteFile(Dl() / "own.bin", content);
  std::filesystem::path clientDir = dir.Path() / "client";
  std::filesystem::create_directories(clientDir);
  std::string host = "[::1]:" + std::to_string(Port());
  std::string output;
  EXPECT_EQ(RunCommand({HarbinexBinary(), "tftp", "get", host, "own.bin", (Work() / "own.bin").string(),
                        "--dir", clientDir.string()},
                       output),
            0)
      << output;
  EXPECT_EQ(ReadFile(Work() / "own.bin"), content);
  EXPECT_EQ(RunCommand({HarbinexBinary(), "tftp", "put", host, "back.bin", (Work() / "own.bin").string(),
                        "--dir", clientDir.string()},
                       output),
            0)
      << output;
  EXPECT_TRUE(WaitForLog("TFTP: PUT " + DlDir() + "back.bin\r\n"));
  EXPECT_TRUE(WaitUntil([&] { return ReadFile(Dl() / "back.bin") == content; }));
  EXPECT_NE(LogFile().find(" TFTP: Connection from address ::1\r\n"), std::string::npos);
}

TEST_F(Ipv6, SettingOffListensOnIpv4Only) {
  Start({"General/IPv6=0"});
  EXPECT_TRUE(Ipv6LoopbackPortFree(Port()));
  WriteFile(Dl() / "four.bin", "four");
  EXPECT_EQ(TftpClient({"get", "four.bin", "four.bin"}), "");
  EXPECT_EQ(ReadFile(Work() / "four.bin"), "four");
  EXPECT_TRUE(WaitForLog(" TFTP: Connection from address 127.0.0.1\r\n"));
}

}  // namespace
}  // namespace hx::test
