// The receiving side of the engine (a server's write request), and what both sides share: rejections and
// the cells of opening a file.
#include <gtest/gtest.h>

#include "engine_fixture.h"

namespace hx::tftp::test {
namespace {

using std::chrono::seconds;
using Kind = Action::Kind;

class Receiving : public EngineFixture {};

TEST_F(Receiving, StartsWithAckZero) {
  Record r = StartServer(Side::Receiving);
  ASSERT_EQ(r.sends.size(), 1u);
  EXPECT_EQ(r.sends[0].bytes, AckPacket(0));
  EXPECT_EQ(r.sends[0].to, peer);
  EXPECT_FALSE(r.sends[0].reportFailure);
  EXPECT_EQ(r.armed, t0 + kTimeout);
}

TEST_F(Receiving, WritesEachBlockAndSucceedsAtTheShortOne) {
  StartServer(Side::Receiving);
  Record r = Feed(DataPacket(1, 512, 'a'));
  ASSERT_EQ(r.sends.size(), 1u);
  EXPECT_EQ(r.sends[0].bytes, AckPacket(1));
  EXPECT_TRUE(r.killed);
  EXPECT_EQ(file->content, std::string(512, 'a'));

  r = Feed(DataPacket(2, 100, 'b'), t0 + seconds(1));
  ASSERT_EQ(r.sends.size(), 1u);
  EXPECT_EQ(r.sends[0].bytes, AckPacket(2));
  EXPECT_EQ(file->content, std::string(512, 'a') + std::string(100, 'b'));
  // Success at once, and the file closed at once, although the session dallies for one timeout.
  EXPECT_EQ(r.Cell(kColBytes), "612");
  EXPECT_EQ(r.Status(), "TFTP: Successful. Total bytes transferred: 612");
  EXPECT_EQ(r.logs, std::vector<std::string>{"TFTP: Successful. Total bytes transferred: 612"});
  EXPECT_TRUE(file->closed);
  EXPECT_FALSE(r.ended);
  EXPECT_EQ(engine->Deadline(), t0 + seconds(6));
}

TEST_F(Receiving, DallyAnswersARetransmittedFinalBlockThenEnds) {
  StartServer(Side::Receiving);
  Feed(DataPacket(1, 10, 'a'), t0);
  // The final ACK was lost: the sender repeats the final block, and gets the ACK again.
  for (int i = 0; i < 2; ++i) {
    Record r = Feed(DataPacket(1, 10, 'a'), t0 + seconds(2));
    ASSERT_EQ(r.sends.size(), 1u);
    EXPECT_EQ(r.sends[0].bytes, AckPacket(1));
    EXPECT_TRUE(r.cells.empty());
    EXPECT_TRUE(r.logs.empty());
  }
  EXPECT_EQ(file->content, std::string(10, 'a'));  // written once
  // Anything else is ignored; strangers still hear of their mistake.
  EXPECT_TRUE(Feed(DataPacket(2, 10, 'x'), t0 + seconds(3)).Empty());
  EXPECT_TRUE(Feed(Raw({0, 4}), t0 + seconds(3)).Empty());
  Record r = FeedFrom(stranger, DataPacket(1, 10, 'a'));
  ASSERT_EQ(r.sends.size(), 1u);
  EXPECT_EQ(ErrorOf(r.sends[0].bytes).first, 5);

  EXPECT_TRUE(Timer(t0 + seconds(4)).Empty());
  r = Timer(t0 + seconds(5));
  EXPECT_TRUE(r.ended);
  EXPECT_TRUE(r.sends.empty());
  EXPECT_TRUE(r.cells.empty());  // the success stays
}

TEST_F(Receiving, ErrorDuringTheDallyEndsQuietly) {
  StartServer(Side::Receiving);
  Feed(DataPacket(1, 0, 'a'));
  Record r = Feed(ErrorPacket(0, "bye"));
  EXPECT_TRUE(r.ended);
  EXPECT_TRUE(r.cells.empty());
  EXPECT_TRUE(r.sends.empty());
}

TEST_F(Receiving, DuplicateBlockChangesNothing) {
  StartServer(Side::Receiving);
  Feed(DataPacket(1, 512, 'a'));
  EXPECT_TRUE(Feed(DataPacket(1, 512, 'a')).Empty());
  for (std::uint16_t b : {0, 3, 100, 65535}) EXPECT_TRUE(Feed(DataPacket(b, 512, 'x')).Empty()) << b;
  EXPECT_EQ(file->content, std::string(512, 'a'));
  EXPECT_EQ(file->writes, 1);
}

TEST_F(Receiving, RetryResendsTheLastAck) {
  settings.retries = 1;
  StartServer(Side::Receiving);
  Feed(DataPacket(1, 512, 'a'), t0 + seconds(1));
  Record r = Timer(t0 + seconds(6));
  ASSERT_EQ(r.sends.size(), 1u);
  EXPECT_EQ(r.sends[0].bytes, AckPacket(1));
  EXPECT_EQ(r.Status(), "Retry. Block = 1. Retries left = 0");
  r = Timer(t0 + seconds(11));
  EXPECT_EQ(r.Status(), "No more retries left. Aborting");
  EXPECT_TRUE(r.sends.empty());
  EXPECT_TRUE(r.ended);
  EXPECT_TRUE(file->closed);
  EXPECT_EQ(file->content, std::string(512, 'a'));  // what came stays
}

TEST_F(Receiving, ShortAndUnexpectedDatagramsWriteNothing) {
  const Bytes cases[] = {Raw({0}),     Raw({0, 3}),         Raw({0, 3, 0}),
                         AckPacket(1), Raw({0, 1, 'a', 0}), Raw({0, 7, 0, 0})};
  for (const Bytes& datagram : cases) {
    SCOPED_TRACE(testing::PrintToString(datagram));
    StartServer(Side::Receiving);
    Record r = Feed(datagram);
    ASSERT_EQ(r.sends.size(), 1u);
    EXPECT_EQ(ErrorOf(r.sends[0].bytes),
              std::make_pair(std::uint16_t{0}, std::string("Unknown packet type. Aborting")));
    EXPECT_EQ(r.Status(), "Unknown packet type. Aborting");
    EXPECT_EQ(r.logs, std::vector<std::string>{"TFTP: ERROR. Unknown packet type. Aborting"});
    EXPECT_TRUE(r.ended);
    EXPECT_EQ(file->writes, 0);
  }
}

TEST_F(Receiving, PeerErrorEmptyDatagramAndFailures) {
  StartServer(Side::Receiving);
  Record r = Feed(ErrorPacket(2, "Access violation"));
  EXPECT_EQ(r.Status(), "Received error code from peer. Aborting. Error = Access violation");
  EXPECT_TRUE(r.sends.empty());
  EXPECT_TRUE(r.ended);

  StartServer(Side::Receiving);
  r = Feed(Bytes{});
  EXPECT_EQ(r.Status(), "Connection closed by peer");
  EXPECT_TRUE(r.ended);

  StartServer(Side::Receiving);
  r = Recorded(engine->OnReceiveFailed(10054));
  EXPECT_EQ(r.Status(), "Socket Error. Error = 10054");
  EXPECT_TRUE(r.ended);

  StartServer(Side::Receiving);
  Bytes big = DataPacket(1, 512, 'x');
  r = Recorded(engine->OnDatagram(View(big), peer, t0, /*oversized=*/true));
  EXPECT_EQ(r.Status(), "Socket Error. Error = 10040");
  EXPECT_EQ(file->writes, 0);
}

TEST_F(Receiving, WriteFailureIsReportedToThePeer) {
  StartServer(Side::Receiving);
  file->failWrites = true;
  Record r = Feed(DataPacket(1, 512, 'a'));
  ASSERT_EQ(r.sends.size(), 1u);
  EXPECT_EQ(ErrorOf(r.sends[0].bytes),
            std::make_pair(std::uint16_t{3}, std::string("Disk full or allocation exceeded")));
  EXPECT_EQ(r.Status(), "Disk full or allocation exceeded");
  EXPECT_TRUE(r.ended);
}

TEST_F(Receiving, StrangersChangeNothing) {
  StartServer(Side::Receiving);
  Record r = FeedFrom(stranger, DataPacket(1, 512, 's'));
  ASSERT_EQ(r.sends.size(), 1u);
  EXPECT_EQ(r.sends[0].to, stranger);
  EXPECT_EQ(ErrorOf(r.sends[0].bytes), std::make_pair(std::uint16_t{5}, std::string("Unknown transfer ID")));
  EXPECT_EQ(file->writes, 0);
  r = Feed(DataPacket(1, 512, 'p'));
  ASSERT_EQ(r.sends.size(), 1u);
  EXPECT_EQ(r.sends[0].bytes, AckPacket(1));
  EXPECT_EQ(file->content, std::string(512, 'p'));
}

TEST_F(Receiving, BlockNumbersWrapAndTheDataStaysInOrder) {
  auto pattern = std::make_shared<PatternState>();
  Make(Side::Receiving);
  engine->SetPeer(peer);
  engine->Start(std::make_unique<PatternFile>(pattern), t0);
  const std::uint64_t fullBlocks = 65536 + 3;
  Bytes data(4 + 512);
  data[1] = 3;
  for (std::uint64_t i = 0; i <= fullBlocks; ++i) {
    size_t count = i < fullBlocks ? 512 : 17;
    std::uint16_t block = static_cast<std::uint16_t>(i + 1);
    WriteU16(data.data() + 2, block);
    for (size_t k = 0; k < count; ++k) data[4 + k] = PatternByte(i * 512 + k);
    auto actions = engine->OnDatagram(std::span(data.data(), 4 + count), peer, t0);
    bool acked = false;
    for (const Action& a : actions)
      if (a.kind == Kind::Send) acked = ReadU16(a.bytes.data() + 2) == block;
    ASSERT_TRUE(acked) << i;
  }
  EXPECT_FALSE(pattern->mismatch);
  EXPECT_EQ(pattern->position, fullBlocks * 512 + 17);
  EXPECT_EQ(engine->TotalBytes(), fullBlocks * 512 + 17);
}

TEST_F(Receiving, DebugLines) {
  settings.debugging = 1;
  Record r = StartServer(Side::Receiving);
  EXPECT_EQ(r.debugs, std::vector<std::string>{"TFTP: Thread 77, Sent ACK = 0"});
  r = Feed(DataPacket(1, 3, 'a'));
  EXPECT_EQ(r.debugs, (std::vector<std::string>{"TFTP: Thread 77, Got DATA block = 1",
                                                "TFTP: Thread 77, Sent ACK = 1"}));
}

// Rejections and the opening cells are the same for both sides.
class Common : public EngineFixture {};

TEST_F(Common, RejectionSendsTheErrorShowsAndLogsIt) {
  Make(Side::Sending);
  engine->SetPeer(peer);
  const Rejection rejection{1, "File was not found. Aborting transfer", ""};
  Record r = Recorded(engine->Reject(std::span(&rejection, 1)));
  ASSERT_EQ(r.sends.size(), 1u);
  EXPECT_EQ(r.sends[0].to, peer);
  EXPECT_EQ(ErrorOf(r.sends[0].bytes),
            std::make_pair(std::uint16_t{1}, std::string("File was not found. Aborting transfer")));
  EXPECT_EQ(r.Status(), "File was not found. Aborting transfer");
  EXPECT_EQ(r.logs, std::vector<std::string>{"TFTP: ERROR. File was not found. Aborting transfer"});
  EXPECT_TRUE(r.boxes.empty());
  EXPECT_TRUE(r.ended);
  EXPECT_TRUE(Feed(AckPacket(1)).Empty());
}

TEST_F(Common, TwoRejectionsGoOutInOrderAndTheLastStays) {
  Make(Side::Receiving);
  engine->SetPeer(peer);
  const std::vector<Rejection> rejections = {{0, "Not allowed to create directories!", ""},
                                             {2, "Unable to access file. Aborting", ""}};
  Record r = Recorded(engine->Reject(rejections));
  ASSERT_EQ(r.sends.size(), 2u);
  EXPECT_EQ(ErrorOf(r.sends[0].bytes),
            std::make_pair(std::uint16_t{0}, std::string("Not allowed to create directories!")));
  EXPECT_EQ(ErrorOf(r.sends[1].bytes),
            std::make_pair(std::uint16_t{2}, std::string("Unable to access file. Aborting")));
  EXPECT_EQ(r.Status(), "Unable to access file. Aborting");
  EXPECT_EQ(r.logs, (std::vector<std::string>{"TFTP: ERROR. Not allowed to create directories!",
                                              "TFTP: ERROR. Unable to access file. Aborting"}));
  EXPECT_EQ(r.kinds.back(), Kind::End);
}

TEST_F(Common, RejectionWithAMessageBoxAndALongText) {
  Make(Side::Sending);
  engine->SetPeer(peer);
  std::string mode(700, 'm');
  const Rejection rejections[] = {{4, "Unknown transfer mode : " + mode, ""},
                                  {0, "Problem accessing upload/download directory", "box text"}};
  Record r = Recorded(engine->Reject(std::span(rejections, 1)));
  ASSERT_EQ(r.sends.size(), 1u);
  EXPECT_EQ(r.sends[0].bytes.size(), 516u);  // cut to fit
  EXPECT_EQ(r.Status(), "Unknown transfer mode : " + mode);

  Make(Side::Sending);
  engine->SetPeer(peer);
  r = Recorded(engine->Reject(std::span(rejections + 1, 1)));
  EXPECT_EQ(r.boxes, std::vector<std::string>{"box text"});
  // The operator is told after the peer, the row and the log; the row's outcome goes with the end.
  EXPECT_EQ(r.kinds, (std::vector<Kind>{Kind::Send, Kind::SetCell, Kind::Log, Kind::MessageBox, Kind::SetCell,
                                        Kind::End}));
  EXPECT_EQ(r.Cell(kColOutcome), kOutcomeFailed);
}

TEST_F(Common, RejectionWithoutAPeerSendsNothing) {
  Make(Side::Receiving, /*clientSide=*/true);
  const Rejection rejection{0, "User asked to overwrite an existing file! Access denied!", ""};
  Record r = Recorded(engine->Reject(std::span(&rejection, 1)));
  EXPECT_TRUE(r.sends.empty());
  EXPECT_EQ(r.Status(), "User asked to overwrite an existing file! Access denied!");
  EXPECT_TRUE(r.ended);
}

TEST_F(Common, OpeningCellsNameTheVerbOfEachSide) {
  struct Case {
    Side side;
    bool client;
    const char* command;
    const char* status;
  };
  const Case cases[] = {
      {Side::Sending, false, "GET /srv/a", "Sending File"},
      {Side::Receiving, false, "PUT /srv/a", "Receiving File"},
      {Side::Sending, true, "PUT /srv/a", "Sending File"},
      {Side::Receiving, true, "GET /srv/a", "Receiving File"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.command);
    Make(c.side, c.client);
    Record r = Recorded(engine->OpenFile("/srv/a"));
    EXPECT_EQ(r.cells, (std::vector<std::pair<int, std::string>>{
                           {kColStatus, "Opening file"}, {kColCommand, c.command}, {kColStatus, c.status}}));
    EXPECT_EQ(r.logs, std::vector<std::string>{std::string("TFTP: ") + c.command});
  }
}

}  // namespace
}  // namespace hx::tftp::test
