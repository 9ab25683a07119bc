// The engine as a client uses it: the request, the wait for the first answer, adopting the server's port.
#include <gtest/gtest.h>

#include "engine_fixture.h"

namespace hx::tftp::test {
namespace {

using std::chrono::seconds;

class Client : public EngineFixture {
 protected:
  const Endpoint serverPort = Local(69);
  const Endpoint sessionPort = Local(41000);
  Bytes request;

  Record StartClient(Side side) {
    Make(side, /*clientSide=*/true);
    file = std::make_shared<FileState>();
    if (side == Side::Sending) file->content = std::string(700, 'u');
    PacketBuffer buffer{};
    size_t n = BuildRequest(buffer, side == Side::Receiving ? kOpRrq : kOpWrq, "remote.bin", "octet");
    request.assign(buffer.begin(), buffer.begin() + static_cast<long>(n));
    ClientRequest r;
    r.request = View(request);
    r.server = serverPort;
    r.sendFailurePrefix = side == Side::Receiving ? "Error connecting to host : " : "Error sending : ";
    r.noAnswerPrefix =
        side == Side::Receiving ? "Error receiving response from host : " : "Error receiving : ";
    return Recorded(engine->StartClient(std::make_unique<MemoryFile>(file), r, t0));
  }
  Record FromSession(const Bytes& datagram, TimePoint now) { return Feed(datagram, now, &sessionPort); }
};

TEST_F(Client, RequestGoesToTheServerPortWithAGuardOfTwoTimeouts) {
  Record r = StartClient(Side::Receiving);
  ASSERT_EQ(r.sends.size(), 1u);
  EXPECT_EQ(r.sends[0].bytes, request);
  EXPECT_EQ(r.sends[0].to, serverPort);
  EXPECT_TRUE(r.sends[0].reportFailure);
  EXPECT_EQ(r.armed, t0 + 2 * kTimeout);

  EXPECT_TRUE(Timer(t0 + seconds(9)).Empty());
  r = Timer(t0 + seconds(10));
  EXPECT_EQ(r.Status(), "Error receiving response from host : [10060] Connection timed out");
  EXPECT_TRUE(r.sends.empty());  // the request is not repeated
  EXPECT_TRUE(r.ended);
}

TEST_F(Client, RequestThatCannotBeSentOrAnswered) {
  StartClient(Side::Receiving);
  EXPECT_EQ(Recorded(engine->OnSendFailed(10022)).Status(),
            "Error connecting to host : [10022] Invalid argument");
  StartClient(Side::Sending);
  EXPECT_EQ(Recorded(engine->OnSendFailed(10022)).Status(), "Error sending : [10022] Invalid argument");
  StartClient(Side::Receiving);
  EXPECT_EQ(Recorded(engine->OnReceiveFailed(10054)).Status(),
            "Error receiving response from host : [10054] Connection reset by peer");
  StartClient(Side::Sending);
  Record r = Recorded(engine->OnReceiveFailed(10054));
  EXPECT_EQ(r.Status(), "Error receiving : [10054] Connection reset by peer");
  EXPECT_TRUE(r.ended);
}

TEST_F(Client, DownloadAdoptsThePortOfTheFirstAnswer) {
  StartClient(Side::Receiving);
  Record r = FromSession(DataPacket(1, 512, 'd'), t0 + seconds(1));
  ASSERT_EQ(r.sends.size(), 1u);
  EXPECT_EQ(r.sends[0].bytes, AckPacket(1));
  EXPECT_EQ(r.sends[0].to, sessionPort);
  EXPECT_EQ(r.armed, t0 + seconds(6));  // the guard gave way to the ordinary timer
  EXPECT_EQ(engine->Peer(), sessionPort);

  // The server's well-known port is a stranger from now on.
  r = Feed(DataPacket(2, 10, 'x'), t0 + seconds(1), &serverPort);
  ASSERT_EQ(r.sends.size(), 1u);
  EXPECT_EQ(r.sends[0].to, serverPort);
  EXPECT_EQ(ErrorOf(r.sends[0].bytes), std::make_pair(std::uint16_t{5}, std::string("Unknown transfer ID")));

  r = FromSession(DataPacket(2, 10, 'd'), t0 + seconds(2));
  EXPECT_EQ(r.Status(), "TFTP: Successful. Total bytes transferred: 522");
  EXPECT_EQ(file->content, std::string(522, 'd'));
  // The transfer has ended well while the session still dallies for a repeated last block; its end later
  // changes nothing.
  EXPECT_EQ(r.Cell(kColOutcome), kOutcomeSucceeded);
  EXPECT_FALSE(r.ended);
  r = Timer(t0 + seconds(60));
  EXPECT_TRUE(r.ended);
  EXPECT_EQ(r.Cell(kColOutcome), std::nullopt);
}

TEST_F(Client, UploadStartsWithTheAckOfBlockZero) {
  StartClient(Side::Sending);
  Record r = FromSession(AckPacket(0), t0 + seconds(1));
  ASSERT_EQ(r.sends.size(), 1u);
  EXPECT_EQ(r.sends[0].bytes, DataPacket(1, 512, 'u'));
  EXPECT_EQ(r.sends[0].to, sessionPort);
  r = FromSession(AckPacket(1), t0 + seconds(1));
  EXPECT_EQ(r.sends[0].bytes, DataPacket(2, 188, 'u'));
  r = FromSession(AckPacket(2), t0 + seconds(1));
  EXPECT_EQ(r.Status(), "TFTP: Successful. Total bytes transferred: 700");
  EXPECT_TRUE(r.ended);
}

TEST_F(Client, ServerRefusalEndsTheSessionWithItsText) {
  StartClient(Side::Receiving);
  Record r = FromSession(ErrorPacket(1, "File not found"), t0 + seconds(1));
  EXPECT_EQ(r.Status(), "Received error code from peer. Aborting. Error = File not found");
  EXPECT_TRUE(r.sends.empty());
  EXPECT_TRUE(r.ended);

  StartClient(Side::Sending);
  r = FromSession(ErrorPacket(2, "Access violation"), t0 + seconds(1));
  EXPECT_EQ(r.Status(), "Error received from peer: Access violation");
  EXPECT_TRUE(r.ended);
}

TEST_F(Client, FailuresReachTheLogWithTheirStatus) {
  StartClient(Side::Receiving);
  Record r = FromSession(ErrorPacket(1, "File not found"), t0 + seconds(1));
  EXPECT_EQ(r.logs, std::vector<std::string>{
                        "TFTP: ERROR. Received error code from peer. Aborting. Error = File not found"});
  StartClient(Side::Sending);
  r = Timer(t0 + seconds(10));
  EXPECT_EQ(r.logs, std::vector<std::string>{"TFTP: ERROR. Error receiving : [10060] Connection timed out"});
  StartClient(Side::Receiving);
  r = Recorded(engine->OnSendFailed(10022));
  EXPECT_EQ(r.logs,
            std::vector<std::string>{"TFTP: ERROR. Error connecting to host : [10022] Invalid argument"});
}

// The operator cancels from the row: the peer hears why, once it is known, and the row and the log say so.
TEST_F(Client, OperatorCancelTellsThePeerOnceItHasAnswered) {
  struct Case {
    bool answered;
    size_t sends;
  };
  for (Case c : {Case{false, 0}, Case{true, 1}}) {
    StartClient(Side::Receiving);
    if (c.answered) FromSession(DataPacket(1, 512, 'd'), t0 + seconds(1));
    Record r = Recorded(engine->Cancel());
    ASSERT_EQ(r.sends.size(), c.sends) << c.answered;
    if (c.answered) {
      EXPECT_EQ(r.sends[0].to, sessionPort);
      EXPECT_EQ(ErrorOf(r.sends[0].bytes),
                std::make_pair(std::uint16_t{0}, std::string("Transfer cancelled by the operator")));
      EXPECT_EQ(r.logs,
                std::vector<std::string>{"TFTP: Transfer with 127.0.0.1:41000 cancelled by the operator"});
    }
    EXPECT_EQ(r.Status(), "Transfer cancelled by the operator");
    EXPECT_TRUE(r.ended);
    EXPECT_TRUE(Recorded(engine->Cancel()).Empty());  // once ended, nothing more
  }
}

TEST_F(Client, EmptyRemoteFile) {
  StartClient(Side::Receiving);
  Record r = FromSession(DataPacket(1, ""), t0);
  EXPECT_EQ(r.Status(), "TFTP: Successful. Total bytes transferred: 0");
  EXPECT_EQ(file->content, "");
  EXPECT_TRUE(file->closed);
}

TEST_F(Client, FirstAnswerThatIsNotAcceptedKeepsTheGuard) {
  StartClient(Side::Receiving);
  Record r = FromSession(DataPacket(7, 512, 'x'), t0 + seconds(1));
  EXPECT_TRUE(r.sends.empty());
  EXPECT_EQ(engine->Deadline(), t0 + seconds(10));
  r = Timer(t0 + seconds(10));
  EXPECT_EQ(r.Status(), "Error receiving response from host : [10060] Connection timed out");
  EXPECT_EQ(file->writes, 0);
}

}  // namespace
}  // namespace hx::tftp::test
