// The lossy relay of the option tests, checked with two UDP sockets: a client and a server that answers from
// its own port, as a TFTP server answers from a transfer port.
#include "support/lossy_relay.h"

#include <gtest/gtest.h>

#include "udp_peer.h"

namespace hx::test {
namespace {

Bytes B(const std::string& text) {
  return Bytes(text.begin(), text.end());
}
std::string S(const Datagram& d) {
  return std::string(d.bytes.begin(), d.bytes.end());
}

TEST(LossyRelay, PassesBothWaysWithATransferPortOfItsOwnAndDropsEveryThird) {
  UdpPeer server;
  UdpPeer client;
  LossyRelay relay(server.Port(), 3);

  client.SendTo(relay.Port(), B("request"));  // 1
  auto request = server.Receive();
  ASSERT_TRUE(request);
  EXPECT_EQ(S(*request), "request");
  const std::uint16_t relayToServer = request->port;
  EXPECT_NE(relayToServer, relay.Port());

  server.SendTo(relayToServer, B("answer"));  // 2
  auto answer = client.Receive();
  ASSERT_TRUE(answer);
  EXPECT_EQ(S(*answer), "answer");
  const std::uint16_t transferPort = answer->port;  // what the client takes for the server's transfer ID
  EXPECT_NE(transferPort, relay.Port());

  client.SendTo(transferPort, B("lost"));  // 3: dropped
  client.SendTo(transferPort, B("next"));  // 4
  auto next = server.Receive();
  ASSERT_TRUE(next);
  EXPECT_EQ(S(*next), "next");  // nothing of "lost" came first
  EXPECT_EQ(next->port, relayToServer);

  server.SendTo(relayToServer, B("five"));    // 5
  server.SendTo(relayToServer, B("six"));     // 6: dropped
  server.SendTo(relayToServer, B("seven!"));  // 7
  auto five = client.Receive();
  auto seven = client.Receive();
  ASSERT_TRUE(five && seven);
  EXPECT_EQ(S(*five), "five");
  EXPECT_EQ(S(*seven), "seven!");
  EXPECT_EQ(seven->port, transferPort);

  LossyRelay::Counts counts = relay.Snapshot();
  EXPECT_EQ(counts.toServer, 2u);
  EXPECT_EQ(counts.toClient, 3u);
  EXPECT_EQ(counts.dropped, 2u);
  EXPECT_EQ(counts.largestToServer, 7u);
  EXPECT_EQ(counts.largestToClient, 6u);
  EXPECT_EQ(counts.firstToServer, (std::vector<std::string>{"request", "next"}));
  EXPECT_EQ(counts.firstToClient, (std::vector<std::string>{"answer", "five", "seven!"}));
}

}  // namespace
}  // namespace hx::test
