// What one peer address can take of the TFTP service: whether it is served at all (TAllow), sessions at once
// (TPerAddress), and the rows and log lines of datagrams that are no request.
#include <gtest/gtest.h>

#include <memory>

#include "app/config_store.h"
#include "server_fixture.h"

namespace hx::test {
namespace {

class PerAddress : public TftpServerFixture {};

TEST_F(PerAddress, SessionsBeyondTheCapAreRefusedFromTheServicePort) {
  struct Case {
    std::string cap;
    bool refused;
  };
  const Case cases[] = {{"TFTP/TPerAddress=64", true}, {"TFTP/TPerAddress=0", false}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.cap);
    if (program) {
      EXPECT_EQ(program->Stop(), 0);
    }
    // Sessions stay while their first block waits for its ACK.
    Start({c.cap, "TFTP/TTimeout=10"});
    WriteFile(Dl() / "f.bin", Content(2000));
    std::vector<std::unique_ptr<UdpPeer>> held;
    for (int i = 0; i < 64; ++i) {
      held.push_back(std::make_unique<UdpPeer>());
      held.back()->SendTo(Port(), Request(1, "f.bin", "octet"));
      auto first = held.back()->Receive();
      ASSERT_TRUE(first) << i;
      ASSERT_EQ(OpcodeOf(*first), 3) << i;
    }
    UdpPeer sixtyFifth;
    sixtyFifth.SendTo(Port(), Request(1, "f.bin", "octet"));
    auto reply = sixtyFifth.Receive();
    ASSERT_TRUE(reply);
    if (c.refused) {
      EXPECT_EQ(reply->port, Port());
      EXPECT_EQ(OpcodeOf(*reply), 5);
      EXPECT_EQ(NumberOf(*reply), 0);
      EXPECT_EQ(ErrorText(*reply), "Too many sessions from your address");
    } else {
      EXPECT_EQ(OpcodeOf(*reply), 3);
    }
    // Another address is served meanwhile.
    UdpPeer other(false, "127.0.0.2");
    other.SendTo(Port(), Request(1, "f.bin", "octet"));
    auto served = other.Receive();
    ASSERT_TRUE(served);
    EXPECT_EQ(OpcodeOf(*served), 3);
  }
}

TEST_F(PerAddress, AddressesOutsideTheAllowListGetNoAnswer) {
  Start({"TFTP/TAllow=127.0.0.1"});
  WriteFile(Dl() / "f.bin", "allowed");
  UdpPeer stranger(false, "127.0.0.2");
  UdpPeer overIpv6(/*ipv6=*/true);
  for (int i = 0; i < 3; ++i) {
    stranger.SendTo(Port(), Request(1, "f.bin", "octet"));
    overIpv6.SendTo(Port(), Request(2, "f.bin", "octet"));
  }
  // The listed peer's request comes after theirs: once it is answered, theirs have been dealt with.
  UdpPeer listed;
  listed.SendTo(Port(), Request(1, "f.bin", "octet"));
  auto data = listed.Receive();
  ASSERT_TRUE(data);
  EXPECT_EQ(PayloadOf(*data), "allowed");
  listed.SendTo(data->port, Ack(1));
  EXPECT_FALSE(stranger.Receive(std::chrono::milliseconds(200)));
  EXPECT_FALSE(overIpv6.Receive(std::chrono::milliseconds(200)));
  std::string log = LogFile();
  EXPECT_EQ(Count(log, "TFTP: Address 127.0.0.2 is not in TAllow; its requests are ignored\r\n"), 1u) << log;
  EXPECT_EQ(Count(log, "TFTP: Address ::1 is not in TAllow; its requests are ignored\r\n"), 1u) << log;
  EXPECT_EQ(Count(log, "Connection from address 127.0.0.2"), 0u);
  EXPECT_EQ(Count(log, "Connection from address ::1"), 0u);

  // A new list reaches the next request, written as an editor may leave it.
  ConfigStore(dir.Path() / "Harbinex.ini")
      .WriteProfileString("TFTP", "TAllow",
                          "\xEF\xBB\xBF"
                          "127.0.0.0/30 , ::1");
  for (UdpPeer* peer : {&stranger, &overIpv6}) {
    peer->SendTo(Port(), Request(1, "f.bin", "octet"));
    auto served = peer->Receive();
    ASSERT_TRUE(served);
    EXPECT_EQ(PayloadOf(*served), "allowed");
    peer->SendTo(served->port, Ack(1));
  }
}

TEST_F(PerAddress, JunkFloodCostsALineASecondAndACount) {
  Start();
  UdpPeer peer;
  const Bytes junk[] = {{0, 5, 0, 0, 'x', 0}, {0, 4, 0, 1}, {}, {7}};
  constexpr int kJunk = 1000;
  // The request first: a flood may overflow the port's queue, and what comes last is lost first.
  peer.SendTo(Port(), Request(1, "missing", "octet"));
  for (int i = 0; i < kJunk; ++i) peer.SendTo(Port(), junk[i % 4]);
  // The only answer is the one for the read request.
  auto reply = peer.Receive();
  ASSERT_TRUE(reply);
  EXPECT_EQ(ErrorText(*reply), "File was not found. Aborting transfer");
  ASSERT_TRUE(WaitForLog(" more datagrams that were not requests"));
  std::string log = LogFile();
  // The first junk datagram of a second has its session and line as any datagram; the rest are counted.
  size_t lines = Count(log, "TFTP: Connection from address 127.0.0.1") - 1;  // the request's own
  const std::string summary = "TFTP: Ignored ";
  size_t at = log.find(summary);
  ASSERT_NE(at, std::string::npos);
  unsigned long folded = std::stoul(log.substr(at + summary.size()));
  EXPECT_GE(lines, 1u);
  EXPECT_LE(lines, 3u);
  EXPECT_GE(folded, 1u);
  EXPECT_LE(lines + folded, static_cast<size_t>(kJunk));  // the system may drop some
  EXPECT_LE(Count(log, "\r\n"), 10u);
  EXPECT_FALSE(peer.Receive(std::chrono::milliseconds(200)));
}

}  // namespace
}  // namespace hx::test
