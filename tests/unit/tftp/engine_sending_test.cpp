// The sending side of the engine (a server's read request), driven packet by packet on a virtual clock.
#include <gtest/gtest.h>

#include "engine_fixture.h"

namespace hx::tftp::test {
namespace {

using std::chrono::seconds;
using Kind = Action::Kind;

class Sending : public EngineFixture {};

TEST_F(Sending, FirstBlockGoesOutWithTheTimerArmed) {
  Record r = StartServer(Side::Sending, std::string(1300, 'a'));
  ASSERT_EQ(r.sends.size(), 1u);
  EXPECT_EQ(r.sends[0].bytes, DataPacket(1, 512, 'a'));
  EXPECT_EQ(r.sends[0].to, peer);
  EXPECT_TRUE(r.sends[0].reportFailure);  // a failed DATA send ends the session
  EXPECT_EQ(r.armed, t0 + kTimeout);
  EXPECT_EQ(engine->Deadline(), t0 + kTimeout);
  EXPECT_TRUE(r.debugs.empty());
  EXPECT_FALSE(r.ended);
}

TEST_F(Sending, FileOfExactlyTwoBlocksEndsWithAnEmptyThirdBlock) {
  StartServer(Side::Sending, std::string(512, 'a') + std::string(512, 'b'));
  Record r = Feed(AckPacket(1));
  ASSERT_EQ(r.sends.size(), 1u);
  EXPECT_EQ(r.sends[0].bytes, DataPacket(2, 512, 'b'));
  EXPECT_TRUE(r.killed);
  r = Feed(AckPacket(2));
  ASSERT_EQ(r.sends.size(), 1u);
  EXPECT_EQ(r.sends[0].bytes, DataPacket(3, ""));
  EXPECT_FALSE(r.ended);

  r = Feed(AckPacket(3));
  EXPECT_TRUE(r.sends.empty());
  EXPECT_EQ(r.Cell(kColBytes), "1024");
  EXPECT_EQ(r.Status(), "TFTP: Successful. Total bytes transferred: 1024");
  EXPECT_EQ(r.logs, std::vector<std::string>{"TFTP: Successful. Total bytes transferred: 1024"});
  EXPECT_TRUE(r.ended);
  EXPECT_TRUE(file->closed);
  EXPECT_TRUE(engine->Ended());
  EXPECT_EQ(engine->TotalBytes(), 1024u);
}

TEST_F(Sending, EmptyFileIsOneEmptyBlock) {
  Record r = StartServer(Side::Sending, "");
  ASSERT_EQ(r.sends.size(), 1u);
  EXPECT_EQ(r.sends[0].bytes, DataPacket(1, ""));
  r = Feed(AckPacket(1));
  EXPECT_EQ(r.Status(), "TFTP: Successful. Total bytes transferred: 0");
  EXPECT_EQ(r.Cell(kColBytes), "0");
  EXPECT_TRUE(r.ended);
}

TEST_F(Sending, BytesCellMovesEveryTenFullBlocks) {
  StartServer(Side::Sending, std::string(512 * 25 + 7, 'z'));
  std::vector<std::string> shown;
  for (std::uint16_t b = 1; b <= 26; ++b) {
    Record r = Feed(AckPacket(b));
    if (auto bytes = r.Cell(kColBytes)) shown.push_back(*bytes);
  }
  EXPECT_EQ(shown, (std::vector<std::string>{"5120", "10240", std::to_string(512 * 25 + 7)}));
  EXPECT_TRUE(engine->Ended());
}

TEST_F(Sending, DuplicateAckChangesNothing) {
  StartServer(Side::Sending, std::string(2000, 'a'));
  Feed(AckPacket(1));  // DATA 2 in flight
  Record r = Feed(AckPacket(1));
  EXPECT_TRUE(r.Empty());
  // Other block numbers are ignored outright.
  for (std::uint16_t b : {0, 3, 7, 65535}) {
    r = Feed(AckPacket(b));
    EXPECT_TRUE(r.Empty()) << b;
  }
  r = Feed(AckPacket(2));
  ASSERT_EQ(r.sends.size(), 1u);
  EXPECT_EQ(BlockOf(r.sends[0].bytes), 3);
}

TEST_F(Sending, RetransmitsWithADoublingWaitThenGivesUp) {
  settings.retries = 2;
  Record start = StartServer(Side::Sending, std::string(100, 'r'));
  const Bytes first = start.sends[0].bytes;

  EXPECT_TRUE(Timer(t0 + seconds(4)).Empty());  // not yet due

  // Late by three seconds: the next deadline still counts from the first send, twice as far.
  Record r = Timer(t0 + seconds(8));
  ASSERT_EQ(r.sends.size(), 1u);
  EXPECT_EQ(r.sends[0].bytes, first);
  EXPECT_FALSE(r.sends[0].reportFailure);
  EXPECT_EQ(r.Status(), "Retry. Block = 1. Retries left = 1");
  EXPECT_EQ(r.armed, t0 + seconds(15));

  r = Timer(t0 + seconds(15));
  ASSERT_EQ(r.sends.size(), 1u);
  EXPECT_EQ(r.Status(), "Retry. Block = 1. Retries left = 0");
  EXPECT_EQ(r.armed, t0 + seconds(35));

  r = Timer(t0 + seconds(35));
  EXPECT_TRUE(r.sends.empty());  // no ERROR packet when giving up
  EXPECT_EQ(r.Status(), "No more retries left. Aborting");
  EXPECT_TRUE(r.logs.empty());
  EXPECT_TRUE(r.ended);
  EXPECT_TRUE(file->closed);
}

TEST_F(Sending, AcceptedAckRestoresTheRetryBudget) {
  settings.retries = 1;
  StartServer(Side::Sending, std::string(1024, 'a'));
  EXPECT_EQ(Timer(t0 + seconds(5)).Status(), "Retry. Block = 1. Retries left = 0");
  Record r = Feed(AckPacket(1), t0 + seconds(6));
  EXPECT_EQ(r.armed, t0 + seconds(11));  // the new block's timer starts at its send
  EXPECT_EQ(Timer(t0 + seconds(11)).Status(), "Retry. Block = 2. Retries left = 0");
  EXPECT_EQ(Timer(t0 + seconds(21)).Status(), "No more retries left. Aborting");
}

TEST_F(Sending, TimerSettingIsReadForEachBlock) {
  StartServer(Side::Sending, std::string(1024, 'a'));
  settings.timeout = 2;
  EXPECT_EQ(Feed(AckPacket(1), t0 + seconds(1)).armed, t0 + seconds(3));
  settings.timeout = 0;  // below one second is taken as one second
  EXPECT_EQ(Feed(AckPacket(2), t0 + seconds(2)).armed, t0 + seconds(3));
}

TEST_F(Sending, ErrorFromPeerEndsWithoutReply) {
  StartServer(Side::Sending, std::string(1000, 'a'));
  Record r = Feed(ErrorPacket(3, "Disk full"));
  EXPECT_TRUE(r.sends.empty());
  EXPECT_EQ(r.Status(), "Error received from peer: Disk full");
  EXPECT_TRUE(r.logs.empty());
  EXPECT_TRUE(r.ended);
  EXPECT_TRUE(r.killed);
  EXPECT_TRUE(Feed(AckPacket(1)).Empty());  // nothing after the end
  EXPECT_TRUE(Timer(t0 + seconds(60)).Empty());
}

TEST_F(Sending, ErrorWithoutTextGivesAnEmptyText) {
  StartServer(Side::Sending, "x");
  EXPECT_EQ(Feed(Raw({0, 5, 0, 0})).Status(), "Error received from peer: ");
}

TEST_F(Sending, UnexpectedPacketsAreRejectedWithCodeZero) {
  const Bytes cases[] = {
      Raw({0}),
      Raw({0, 4}),
      Raw({0, 4, 0}),  // 1 to 3 bytes: no complete header
      DataPacket(1, "x"),
      Raw({0, 1, 'a', 0, 'o', 'c', 't', 'e', 't', 0}),
      Raw({0, 2, 0, 0}),
      Raw({0, 9, 0, 1}),
      Raw({0xFF, 0xFF, 0xFF, 0xFF}),
  };
  for (const Bytes& datagram : cases) {
    SCOPED_TRACE(testing::PrintToString(datagram));
    StartServer(Side::Sending, std::string(1000, 'a'));
    Record r = Feed(datagram);
    ASSERT_EQ(r.sends.size(), 1u);
    EXPECT_EQ(r.sends[0].to, peer);
    EXPECT_EQ(ErrorOf(r.sends[0].bytes),
              std::make_pair(std::uint16_t{0}, std::string("Unknown packet received. Aborting!")));
    EXPECT_EQ(r.Status(), "Unknown packet received. Aborting!");
    EXPECT_EQ(r.logs, std::vector<std::string>{"TFTP: ERROR. Unknown packet received. Aborting!"});
    EXPECT_TRUE(r.ended);
    EXPECT_TRUE(Feed(AckPacket(1)).Empty());  // later packets are not answered
  }
}

TEST_F(Sending, EmptyDatagramMeansThePeerClosed) {
  StartServer(Side::Sending, "x");
  Record r = Feed(Bytes{});
  EXPECT_EQ(r.Status(), "Connection closed by peer!");
  EXPECT_TRUE(r.sends.empty());
  EXPECT_TRUE(r.ended);
}

TEST_F(Sending, DatagramsFromOtherSourcesGetUnknownTransferId) {
  StartServer(Side::Sending, std::string(1000, 'a'));
  const Endpoint otherHost(asio::ip::make_address_v4("127.0.0.2"), 40000);
  for (const Endpoint& from : {stranger, otherHost}) {
    for (const Bytes& datagram : {AckPacket(1), Bytes{}, Raw({0, 4}), Raw({0, 9, 9, 9})}) {
      Record r = FeedFrom(from, datagram);
      ASSERT_EQ(r.sends.size(), 1u);
      EXPECT_EQ(r.sends[0].to, from);
      EXPECT_EQ(ErrorOf(r.sends[0].bytes),
                std::make_pair(std::uint16_t{5}, std::string("Unknown transfer ID")));
      EXPECT_EQ(r.kinds, std::vector<Kind>{Kind::Send});  // and nothing else
    }
    // An ERROR from a stranger is not answered at all.
    EXPECT_TRUE(FeedFrom(from, ErrorPacket(0, "stray")).Empty());
  }
  // The transfer goes on with the real peer as if nothing had come.
  Record r = Feed(AckPacket(1));
  ASSERT_EQ(r.sends.size(), 1u);
  EXPECT_EQ(r.sends[0].to, peer);
  EXPECT_EQ(BlockOf(r.sends[0].bytes), 2);
  EXPECT_EQ(Feed(AckPacket(2)).Status(), "TFTP: Successful. Total bytes transferred: 1000");
}

TEST_F(Sending, OversizedDatagramIsAReceiveFailure) {
  StartServer(Side::Sending, std::string(1000, 'a'));
  Bytes big = DataPacket(1, 512, 'x');
  Record r = Recorded(engine->OnDatagram(View(big), stranger, t0, /*oversized=*/true));
  ASSERT_EQ(r.sends.size(), 1u);  // from a stranger: only its code 5
  EXPECT_EQ(ErrorOf(r.sends[0].bytes).first, 5);
  r = Recorded(engine->OnDatagram(View(big), peer, t0, /*oversized=*/true));
  EXPECT_EQ(r.Status(), "Got socket error. Aborting! Code = 10040");
  EXPECT_TRUE(r.sends.empty());
  EXPECT_TRUE(r.ended);
}

TEST_F(Sending, ReceiveAndSendFailures) {
  StartServer(Side::Sending, std::string(1000, 'a'));
  Record r = Recorded(engine->OnReceiveFailed(10054));
  EXPECT_EQ(r.Status(), "Got socket error. Aborting! Code = 10054");
  EXPECT_TRUE(r.ended);

  StartServer(Side::Sending, std::string(1000, 'a'));
  r = Recorded(engine->OnSendFailed(10065));
  EXPECT_EQ(r.Status(), "[10065] No Route to Host");
  EXPECT_TRUE(r.logs.empty());
  EXPECT_TRUE(r.ended);
}

TEST_F(Sending, ReadErrorIsAFileAccessError) {
  StartServer(Side::Sending, std::string(1000, 'a'));
  file->failReads = true;
  Record r = Feed(AckPacket(1));
  ASSERT_EQ(r.sends.size(), 1u);
  EXPECT_EQ(ErrorOf(r.sends[0].bytes), std::make_pair(std::uint16_t{2}, std::string("File access error")));
  EXPECT_EQ(r.Status(), "File access error");
  EXPECT_TRUE(r.ended);
}

TEST_F(Sending, DebugLinesWhenTheTftpBitIsSet) {
  settings.debugging = 1;
  settings.retries = 1;
  Record r = StartServer(Side::Sending, std::string(600, 'a'));
  EXPECT_EQ(r.debugs, std::vector<std::string>{"TFTP: Thread 77, Sent 512 bytes, Block Number = 1"});
  r = Feed(AckPacket(1));
  EXPECT_EQ(r.debugs, (std::vector<std::string>{"TFTP: Thread 77, Got ACK = 1",
                                                "TFTP: Thread 77, Sent 88 bytes, Block Number = 2"}));
  r = Timer(t0 + seconds(5));
  EXPECT_EQ(r.debugs, std::vector<std::string>{"TFTP: Thread: 77 Retry. Block = 2. Retries left = 0"});
  r = Timer(t0 + seconds(15));
  EXPECT_EQ(r.debugs, std::vector<std::string>{"TFTP: Thread: 77 No more retries left"});

  settings.debugging = 2;  // FTP only
  r = StartServer(Side::Sending, std::string(600, 'a'));
  EXPECT_TRUE(r.debugs.empty());
  settings.debugging = 3;  // read again for every event
  EXPECT_EQ(Feed(AckPacket(1)).debugs,
            (std::vector<std::string>{"TFTP: Thread 77, Got ACK = 1",
                                      "TFTP: Thread 77, Sent 88 bytes, Block Number = 2"}));
}

TEST_F(Sending, BlockNumbersWrapAfter65535) {
  // 65537 full blocks and a short one: blocks 65535, 0, 1 follow each other.
  auto pattern = std::make_shared<PatternState>();
  pattern->size = 65537ull * 512 + 10;
  Make(Side::Sending);
  engine->SetPeer(peer);
  Recorded(engine->Start(std::make_unique<PatternFile>(pattern), t0));
  std::uint16_t expect = 2;
  for (std::uint32_t accepted = 1; accepted <= 65537; ++accepted) {
    auto actions = engine->OnDatagram(View(AckPacket(static_cast<std::uint16_t>(accepted))), peer, t0);
    const Action* send = nullptr;
    for (const Action& a : actions)
      if (a.kind == Kind::Send) send = &a;
    ASSERT_NE(send, nullptr) << accepted;
    ASSERT_EQ(ReadU16(send->bytes.data() + 2), expect);
    if (accepted == 65534) {
      EXPECT_EQ(expect, 65535);
    }
    ++expect;  // wraps to 0 after 65535
  }
  EXPECT_EQ(expect, 3);
  Record r = Feed(AckPacket(2));  // the 65538th block is block 2
  EXPECT_EQ(r.Status(), "TFTP: Successful. Total bytes transferred: " + std::to_string(65537ull * 512 + 10));
}

TEST_F(Sending, TotalsBeyondFourGibibytesAreExact) {
  // 4 GiB + 1000 bytes, driven block by block without touching the data.
  auto pattern = std::make_shared<PatternState>();
  pattern->size = (4ull << 30) + 1000;
  pattern->fill = false;
  Make(Side::Sending);
  engine->SetPeer(peer);
  engine->Start(std::make_unique<PatternFile>(pattern), t0);
  const std::uint64_t blocks = pattern->size / 512 + 1;
  std::uint8_t ack[4] = {0, 4, 0, 0};
  std::span<const Action> last;
  for (std::uint64_t b = 1; b <= blocks; ++b) {
    WriteU16(ack + 2, static_cast<std::uint16_t>(b));
    last = engine->OnDatagram(std::span(ack, 4), peer, t0);
  }
  Record r = Recorded(last);
  EXPECT_EQ(r.Status(), "TFTP: Successful. Total bytes transferred: 4294968296");
  EXPECT_EQ(r.Cell(kColBytes), "4294968296");
  EXPECT_EQ(engine->TotalBytes(), 4294968296ull);
}

}  // namespace
}  // namespace hx::tftp::test
