// How much a sending side puts out with a window: slow start after the OACK, a single block with a doubling
// wait after each timeout, ACKs that slide the window by one, duplicate ACKs, and the memory it holds.
#include <map>

#include "engine_fixture.h"
#include "link_simulator.h"
#include "tftp/block_pool.h"
#include "tftp/send_window.h"

namespace hx::tftp::test {
namespace {

using std::chrono::milliseconds;
using std::chrono::seconds;

class Window : public EngineFixture {
 protected:
  // A server read of `size` bytes with these options, answered with ACK 0 at t0; returns what ACK 0 drew.
  Record StartRead(size_t size, int blockSize, int windowSize, std::optional<int> timeout = {}) {
    Make(Side::Sending);
    file->content = std::string(size, 'w');
    engine->SetPeer(peer);
    TftpOptions granted;
    granted.blockSize = blockSize;
    granted.windowSize = windowSize;
    granted.timeoutSeconds = timeout;
    engine->ExpectSize(size);
    Recorded(engine->Start(std::make_unique<MemoryFile>(file), t0, granted));
    return Feed(AckPacket(0), t0);
  }
  // Runs the timers due until `now`; returns how many datagrams they sent.
  size_t RunTimersUntil(TimePoint now) {
    size_t sent = 0;
    for (int i = 0; i < 100 && engine->Deadline() && *engine->Deadline() <= now; ++i)
      sent += Timer(*engine->Deadline()).sends.size();
    return sent;
  }
};

struct SilenceCase {
  std::optional<int> timeout;  // the option; the setting is 5 s
  int retries;
  int resends;  // what the retries and the 60 s allow
};

TEST_F(Window, SilenceAfterAckZeroDrawsOneBlockPerResendWithGrowingGaps) {
  for (const SilenceCase& c :
       {SilenceCase{1, 5, 5}, SilenceCase{{}, 5, 3}, SilenceCase{255, 5, 0}, SilenceCase{1, 20, 5}}) {
    SCOPED_TRACE(c.timeout.value_or(0));
    settings.retries = c.retries;
    Record first = StartRead(16 << 20, 65464, 64, c.timeout);
    std::vector<std::pair<TimePoint, size_t>> sends;  // when, bytes
    for (const Sent& s : first.sends) sends.emplace_back(t0, s.bytes.size());
    TimePoint endedAt{};
    for (int i = 0; i < 1000 && !engine->Ended(); ++i) {
      TimePoint now = *engine->Deadline();
      for (const Sent& s : Timer(now).sends) sends.emplace_back(now, s.bytes.size());
      endedAt = now;
    }
    ASSERT_TRUE(engine->Ended());
    size_t firstSecond = 0;
    for (const auto& [at, bytes] : sends)
      if (at < t0 + seconds(1)) firstSecond += bytes;
    EXPECT_LE(firstSecond, 128u * 1024);
    EXPECT_GE(firstSecond, 65468u);
    // After the first second every resend is one block, each after a longer wait than the last.
    std::vector<TimePoint> later;
    for (const auto& [at, bytes] : sends)
      if (at >= t0 + seconds(1)) later.push_back(at);
    EXPECT_EQ(static_cast<int>(later.size()), c.resends);
    for (size_t i = 2; i < later.size(); ++i) EXPECT_GT(later[i] - later[i - 1], later[i - 1] - later[i - 2]);
    EXPECT_LE(endedAt, t0 + seconds(60));
    EXPECT_EQ(engine->HeldBytes(), 0u);
  }
}

TEST_F(Window, AcksThatEachSlideTheWindowByOneDrawAtMostTwoBlocksEach) {
  for (int blockSize : {512, 1468, 65464}) {
    SCOPED_TRACE(blockSize);
    const int n = 300;
    size_t blocks = StartRead(size_t(2000) * blockSize, blockSize, 64).sends.size();
    for (std::uint16_t b = 1; b <= n; ++b) {
      blocks += RunTimersUntil(t0 + milliseconds(2 * b));
      blocks += Feed(AckPacket(b), t0 + milliseconds(2 * b)).sends.size();
    }
    EXPECT_LE(blocks, size_t(2 * n + 4));
    EXPECT_GE(blocks, size_t(n));
  }
}

TEST_F(Window, SlowStartReachesTheWindowAndAWholeWindowIsNotProbed) {
  // ACK 0 lets 4 blocks go, and a moment later the first again as a probe; each ACK of all that was out lets
  // twice as many follow.
  Record r = StartRead(100 * 1468, 1468, 16);
  ASSERT_EQ(r.sends.size(), 4u);
  EXPECT_EQ(BlockOf(r.sends[3].bytes), 4);
  Record probe = Timer(t0 + milliseconds(1));
  ASSERT_EQ(probe.sends.size(), 1u);
  EXPECT_EQ(probe.sends[0].bytes, r.sends[0].bytes);
  r = Feed(AckPacket(4), t0 + milliseconds(2));
  ASSERT_EQ(r.sends.size(), 8u);
  EXPECT_EQ(BlockOf(r.sends[7].bytes), 12);
  EXPECT_EQ(Timer(t0 + milliseconds(3)).sends.size(), 1u);
  r = Feed(AckPacket(12), t0 + milliseconds(4));
  ASSERT_EQ(r.sends.size(), 16u);  // the whole window: the receiver answers by itself
  EXPECT_EQ(BlockOf(r.sends[15].bytes), 28);
  EXPECT_EQ(engine->HeldBytes(), 16u * (4 + 1468));
}

TEST(WindowLink, ClientThatAcknowledgesEveryBlockTwiceGetsThroughWithoutAPause) {
  FakeSettings settings;
  settings.timeout = 1;
  for (std::optional<int> window : {std::optional<int>{}, std::optional<int>{4}, std::optional<int>{16}}) {
    SCOPED_TRACE(window.value_or(1));
    auto source = std::make_shared<PatternState>();
    auto sink = std::make_shared<PatternState>();
    source->size = 200 * 512 - 1;  // 200 blocks
    TftpOptions options;
    options.windowSize = window;
    LinkSimulator link(
        Side::Receiving, settings, std::make_unique<PatternFile>(sink), std::make_unique<PatternFile>(source),
        [](const DatagramInfo& d) {
          return Fate{false, d.opcode == kOpAck ? 2 : 1};
        },
        options);
    link.Run();
    EXPECT_EQ(sink->position, source->size);
    EXPECT_FALSE(sink->mismatch);
    ASSERT_TRUE(link.Server().endedAt);
    // No timeout was waited for: 200 blocks at a millisecond each way.
    EXPECT_LT(*link.Server().endedAt - link.Start(), seconds(settings.timeout));
    for (std::uint16_t b = 1; b <= 200; ++b) EXPECT_LE(link.Server().SentCount(kOpData, b), 2) << b;
  }
}

TEST(BlockPool, AWindowThatDoesNotFitIsGrantedSmallerAndTheMemoryComesBack) {
  struct Case {
    std::uint64_t fileSize;
    std::optional<int> window;
    std::uint64_t limit;
    std::optional<int> grantedWindow;
    size_t reserved;
  };
  const size_t block = 4 + 65464;
  BlockPool pool;
  for (const Case& c : {Case{16 << 20, 64, 0, 64, 64 * block}, Case{16 << 20, 64, 10 * block, 10, 10 * block},
                        Case{16 << 20, 64, block / 2, 1, block}, Case{16 << 20, {}, block / 2, {}, block},
                        Case{12, 64, 0, 64, 17}, Case{3 * 65464, 64, 0, 64, 4 * block}}) {
    TftpOptions granted;
    granted.blockSize = 65464;
    granted.windowSize = c.window;
    BlockPool::Reservation held = ReserveWindow(pool, granted, c.fileSize, c.limit);
    EXPECT_EQ(granted.windowSize, c.grantedWindow) << c.limit;
    EXPECT_EQ(held.Bytes(), c.reserved) << c.limit;
    EXPECT_EQ(pool.InUse(), c.reserved);
  }
  EXPECT_EQ(pool.InUse(), 0u);
  // What one session holds counts against the next.
  TftpOptions first;
  first.blockSize = 65464;
  first.windowSize = 64;
  TftpOptions second = first;
  BlockPool::Reservation a = ReserveWindow(pool, first, 16 << 20, 100 * block);
  BlockPool::Reservation b = ReserveWindow(pool, second, 16 << 20, 100 * block);
  EXPECT_EQ(first.windowSize, 64);
  EXPECT_EQ(second.windowSize, 36);
  a = {};
  EXPECT_EQ(pool.InUse(), 36 * block);
}

TEST(SendWindowBuffers, NoLargerThanTheFileAndGrowingWhenItIsLonger) {
  auto state = std::make_shared<PatternState>();
  state->size = 12;
  PatternFile small(state);
  SendWindow window;
  window.Reset(65464, 64, 12);
  ASSERT_TRUE(window.Fill(&small, 1, 64));
  EXPECT_EQ(window.Count(), 1u);
  EXPECT_TRUE(window.ReadLast());
  EXPECT_EQ(window.HeldBytes(), 17u);
  // A file that is longer than it was said to be is sent whole.
  state->size = 5000;
  state->position = 0;
  PatternFile longer(state);
  window.Reset(1000, 8, 1500);
  ASSERT_TRUE(window.Fill(&longer, 1, 8));
  EXPECT_EQ(window.Count(), 6u);
  EXPECT_EQ(window.PayloadSize(1), 1000u);
  EXPECT_EQ(window.PayloadSize(5), 0u);
  EXPECT_EQ(BlockOf(Bytes(window.Packet(5).begin(), window.Packet(5).end())), 6);
  window.Drop(6);
  window.Release();
  EXPECT_EQ(window.HeldBytes(), 0u);
}

}  // namespace
}  // namespace hx::tftp::test
