// A client and a server engine over a simulated link: whole transfers in both directions with scripted loss,
// duplication and reordering, stray traffic, a final ACK that is lost, and a peer that falls silent.
#include <gtest/gtest.h>

#include "link_simulator.h"

namespace hx::tftp::test {
namespace {

using std::chrono::milliseconds;
using std::chrono::seconds;

constexpr std::uint64_t kSize = 512 * 9 + 300;  // ten blocks, the last one short
const std::string kSuccess = "TFTP: Successful. Total bytes transferred: " + std::to_string(kSize);

struct Transfer {
  std::shared_ptr<PatternState> source = std::make_shared<PatternState>();
  std::shared_ptr<PatternState> sink = std::make_shared<PatternState>();
  std::unique_ptr<LinkSimulator> link;

  // `download`: the client receives from the server; otherwise it sends to it.
  Transfer(bool download, const EngineSettings& settings, LinkSimulator::Script script,
           std::uint64_t size = kSize, const TftpOptions& options = {}) {
    source->size = size;
    auto sender = std::make_unique<PatternFile>(source);
    auto receiver = std::make_unique<PatternFile>(sink);
    if (download)
      link = std::make_unique<LinkSimulator>(Side::Receiving, settings, std::move(receiver),
                                             std::move(sender), std::move(script), options);
    else
      link = std::make_unique<LinkSimulator>(Side::Sending, settings, std::move(sender), std::move(receiver),
                                             std::move(script), options);
  }
  bool Intact() const { return !sink->mismatch && sink->position == source->size; }
};

class LossyLink : public testing::TestWithParam<bool> {
 protected:
  bool Download() const { return GetParam(); }
  // The opcode of the packets the data flows in, and of those that acknowledge it.
  std::uint16_t DataOp() const { return kOpData; }
  const SideLog& SenderOf(const LinkSimulator& l) const { return Download() ? l.Server() : l.Client(); }
  const SideLog& ReceiverOf(const LinkSimulator& l) const { return Download() ? l.Client() : l.Server(); }
  bool ToReceiver(const DatagramInfo& d) const { return d.toServer != Download(); }

  FakeSettings settings;
  void SetUp() override {
    settings.timeout = 1;
    settings.retries = 5;
  }
};

TEST_P(LossyLink, CleanTransfer) {
  Transfer t(Download(), settings, {});
  t.link->Run();
  EXPECT_TRUE(t.Intact());
  for (const SideLog* side : {&t.link->Client(), &t.link->Server()}) {
    EXPECT_EQ(side->status, kSuccess);
    EXPECT_EQ(side->logs, std::vector<std::string>{kSuccess});
    EXPECT_TRUE(side->ended);
  }
  // Every block went out once; the receiver dallied one timeout after its final ACK.
  for (std::uint16_t b = 1; b <= 10; ++b) EXPECT_EQ(SenderOf(*t.link).SentCount(kOpData, b), 1) << b;
  EXPECT_EQ(*ReceiverOf(*t.link).endedAt - *SenderOf(*t.link).endedAt, seconds(1) - milliseconds(1));
}

TEST_P(LossyLink, LostDataBlockIsSentAgainAfterTheTimeout) {
  Transfer t(Download(), settings, [&](const DatagramInfo& d) {
    return Fate{ToReceiver(d) && d.opcode == kOpData && d.block == 3 && d.occurrence == 1};
  });
  t.link->Run();
  EXPECT_TRUE(t.Intact());
  EXPECT_EQ(SenderOf(*t.link).SentCount(kOpData, 3), 2);
  EXPECT_EQ(SenderOf(*t.link).status, kSuccess);
  EXPECT_EQ(ReceiverOf(*t.link).status, kSuccess);
}

TEST_P(LossyLink, LostAckIsRecoveredByTheTimers) {
  Transfer t(Download(), settings, [&](const DatagramInfo& d) {
    return Fate{!ToReceiver(d) && d.opcode == kOpAck && d.block == 4 && d.occurrence == 1};
  });
  t.link->Run();
  EXPECT_TRUE(t.Intact());
  // The sender repeats DATA 4; the receiver ignores that duplicate and repeats ACK 4 on its own timer.
  EXPECT_EQ(SenderOf(*t.link).SentCount(kOpData, 4), 2);
  EXPECT_EQ(ReceiverOf(*t.link).SentCount(kOpAck, 4), 2);
  EXPECT_EQ(SenderOf(*t.link).status, kSuccess);
  EXPECT_EQ(ReceiverOf(*t.link).status, kSuccess);
}

TEST_P(LossyLink, DuplicatedPacketsNeverMultiply) {
  Transfer t(Download(), settings, [](const DatagramInfo&) { return Fate{false, 2}; });
  t.link->Run();
  EXPECT_TRUE(t.Intact());
  // No block is sent more than once: duplicates are ignored, never answered.
  for (std::uint16_t b = 1; b <= 10; ++b) EXPECT_EQ(SenderOf(*t.link).SentCount(kOpData, b), 1) << b;
  EXPECT_EQ(SenderOf(*t.link).status, kSuccess);
  EXPECT_EQ(ReceiverOf(*t.link).status, kSuccess);
}

TEST_P(LossyLink, DelayedBlockArrivingAfterItsRetransmission) {
  // The first DATA 5 is overtaken by its own retransmission and arrives later as a duplicate.
  Transfer t(Download(), settings, [&](const DatagramInfo& d) {
    Fate fate;
    if (ToReceiver(d) && d.opcode == kOpData && d.block == 5 && d.occurrence == 1)
      fate.extraDelay = milliseconds(1500);
    return fate;
  });
  t.link->Run();
  EXPECT_TRUE(t.Intact());
  EXPECT_EQ(SenderOf(*t.link).status, kSuccess);
  EXPECT_EQ(ReceiverOf(*t.link).status, kSuccess);
}

TEST_P(LossyLink, LostFinalAckIsAnsweredFromTheDally) {
  Transfer t(Download(), settings, [&](const DatagramInfo& d) {
    return Fate{!ToReceiver(d) && d.opcode == kOpAck && d.block == 10 && d.occurrence == 1};
  });
  t.link->Run();
  EXPECT_TRUE(t.Intact());
  EXPECT_EQ(SenderOf(*t.link).SentCount(kOpData, 10), 2);
  EXPECT_EQ(ReceiverOf(*t.link).SentCount(kOpAck, 10), 2);
  EXPECT_EQ(SenderOf(*t.link).status, kSuccess);  // not a failure for want of the last ACK
  EXPECT_EQ(ReceiverOf(*t.link).status, kSuccess);
}

TEST_P(LossyLink, SilentPeerMeansRetriesThenGivingUp) {
  // After block 2 the receiver hears nothing more from the sender.
  Transfer t(Download(), settings, [&](const DatagramInfo& d) {
    return Fate{ToReceiver(d) && d.opcode == kOpData && d.block >= 3};
  });
  t.link->Run();
  const SideLog& sender = SenderOf(*t.link);
  const SideLog& receiver = ReceiverOf(*t.link);
  EXPECT_EQ(sender.SentCount(kOpData, 3), 1 + settings.retries);
  EXPECT_EQ(sender.status, "No more retries left. Aborting");
  EXPECT_EQ(receiver.status, "No more retries left. Aborting");
  EXPECT_EQ(receiver.SentCount(kOpAck, 2), 1 + settings.retries);
  EXPECT_TRUE(t.link->ErrorsTo(t.link->clientPort).empty());
  EXPECT_TRUE(t.link->ErrorsTo(t.link->serverSession).empty());
  EXPECT_EQ(t.sink->position, 2u * 512);
}

TEST_P(LossyLink, StrayTrafficIsToldOffAndChangesNothing) {
  Transfer t(Download(), settings, {});
  const Endpoint stray = Local(50999);
  t.link->Inject(stray, t.link->serverSession, AckPacket(1), t.link->Start() + milliseconds(2));
  t.link->Inject(stray, t.link->serverSession, DataPacket(2, 512, 'x'), t.link->Start() + milliseconds(4));
  t.link->Inject(stray, t.link->clientPort, DataPacket(3, 512, 'x'), t.link->Start() + milliseconds(6));
  t.link->Run();
  EXPECT_TRUE(t.Intact());
  EXPECT_EQ(t.link->ErrorsTo(stray), (std::vector<std::pair<std::uint16_t, std::string>>(
                                         3, {std::uint16_t{5}, "Unknown transfer ID"})));
  EXPECT_EQ(t.link->Client().status, kSuccess);
  EXPECT_EQ(t.link->Server().status, kSuccess);
}

TEST_P(LossyLink, ClientFollowsTheServersNewPort) {
  Transfer t(Download(), settings, {});
  t.link->Run();
  auto destinations = t.link->ClientDestinations();
  ASSERT_FALSE(destinations.empty());
  for (const Endpoint& to : destinations) EXPECT_EQ(to, t.link->serverSession);
}

TEST_P(LossyLink, BlockNumbersWrapAcrossTheLink) {
  const std::uint64_t size = 65536ull * 512 + 1000;
  Transfer t(
      Download(), settings,
      [&](const DatagramInfo& d) {
        // A loss right at the wrap: the first block 0 goes missing once.
        return Fate{ToReceiver(d) && d.opcode == kOpData && d.block == 0 && d.occurrence == 1};
      },
      size);
  t.link->Run();
  EXPECT_TRUE(t.Intact());
  const std::string success = "TFTP: Successful. Total bytes transferred: " + std::to_string(size);
  EXPECT_EQ(SenderOf(*t.link).status, success);
  EXPECT_EQ(ReceiverOf(*t.link).status, success);
}

TEST_P(LossyLink, WindowsSurviveLossAndRolloverWithoutMultiplying) {
  // Blocks of 8 bytes make the block numbers wrap twice; every 50th datagram of either direction is lost,
  // the first block of a window among them.
  const std::uint64_t size = 2 * 65536ull * 8 + 5;
  TftpOptions options;
  options.blockSize = 8;
  options.windowSize = 16;
  int count = 0;
  Transfer t(
      Download(), settings, [&](const DatagramInfo&) { return Fate{++count % 50 == 0}; }, size, options);
  t.link->Run();
  EXPECT_TRUE(t.Intact());
  const std::string success = "TFTP: Successful. Total bytes transferred: " + std::to_string(size);
  EXPECT_EQ(SenderOf(*t.link).status, success);
  EXPECT_EQ(ReceiverOf(*t.link).status, success);
  EXPECT_EQ(SenderOf(*t.link).logs.back(), success + " (blksize 8, windowsize 16)");
  // Going back after a loss resends part of a window; duplicate ACKs never double the traffic.
  int dataSent = 0;
  for (const auto& [key, sent] : SenderOf(*t.link).sent)
    if (key.first == kOpData) dataSent += sent;
  EXPECT_LT(dataSent, 2 * 65536 * 3 / 2);
  // The receiver acknowledges windows, not blocks.
  int acks = 0;
  for (const auto& [key, sent] : ReceiverOf(*t.link).sent)
    if (key.first == kOpAck) acks += sent;
  EXPECT_LT(acks, 2 * 65536 / 8);
}

INSTANTIATE_TEST_SUITE_P(BothDirections, LossyLink, testing::Values(true, false),
                         [](const testing::TestParamInfo<bool>& info) {
                           return info.param ? "Download" : "Upload";
                         });

}  // namespace
}  // namespace hx::tftp::test
