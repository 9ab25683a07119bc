// Options in requests and OACKs: what a request may ask, what the server answers, and how a client takes
// an OACK, a bad one, or a server that ignores its options.
#include <gtest/gtest.h>

#include <cstring>

#include "engine_fixture.h"
#include "tftp/option_packets.h"

namespace hx::tftp::test {
namespace {

// An OACK with these option pairs.
Bytes Oack(std::initializer_list<const char*> texts);

Bytes Pairs(std::initializer_list<const char*> texts) {
  Bytes out;
  for (const char* text : texts) {
    out.insert(out.end(), text, text + std::strlen(text));
    out.push_back(0);
  }
  return out;
}

Bytes Oack(std::initializer_list<const char*> texts) {
  Bytes out{0, 6};
  Bytes pairs = Pairs(texts);
  out.insert(out.end(), pairs.begin(), pairs.end());
  return out;
}

TEST(OptionPackets, RequestOptionsAreReadLeniently) {
  TftpOptions o = ParseRequestOptions(
      View(Pairs({"BlkSize", "70000", "WINDOWSIZE", "16", "rollover", "1", "timeout", "256", "tsize", "0"})));
  EXPECT_EQ(o.blockSize, 65464);  // above the maximum: the maximum
  EXPECT_EQ(o.windowSize, 16);
  EXPECT_EQ(o.timeoutSeconds, std::nullopt);  // outside 1 to 255: not asked
  EXPECT_EQ(o.transferSize, 0u);
  EXPECT_FALSE(ParseRequestOptions(View(Pairs({"blksize", "7", "windowsize", "x"}))).Any());
  // A request cut inside a pair keeps the pairs before it.
  Bytes cut = Pairs({"blksize", "1468", "tsize"});
  EXPECT_EQ(ParseRequestOptions(View(cut)).blockSize, 1468);
  EXPECT_FALSE(ParseRequestOptions(View(cut)).transferSize);

  TftpOptions asked;
  asked.blockSize = kMaxBlockSize;
  asked.windowSize = 100;
  asked.transferSize = 0;
  TftpOptions granted = GrantOptions(asked, OptionLimits{1468, 64}, /*read=*/true, /*netascii=*/false, 1234);
  EXPECT_EQ(granted.blockSize, 1468);
  EXPECT_EQ(granted.windowSize, 64);
  EXPECT_EQ(granted.transferSize, 1234u);
  EXPECT_FALSE(GrantOptions(asked, OptionLimits{1468, 64}, true, /*netascii=*/true, 1234).transferSize);
  EXPECT_EQ(BuildOack(granted), Oack({"blksize", "1468", "tsize", "1234", "windowsize", "64"}));
}

class Options : public EngineFixture {
 protected:
  Record StartServerWith(Side side, const std::string& content, const TftpOptions& granted) {
    Make(side);
    file->content = content;
    engine->SetPeer(peer);
    return Recorded(engine->Start(std::make_unique<MemoryFile>(file), t0, granted));
  }
  Record StartClientAsking(Side side, const TftpOptions& asked) {
    Make(side, /*clientSide=*/true);
    if (side == Side::Sending) file->content = std::string(1000, 'u');
    ClientRequest r;
    request = BuildOptionRequest(side == Side::Receiving ? kOpRrq : kOpWrq, "f", "octet", asked);
    r.request = View(request);
    r.server = peer;
    r.options = asked;
    return Recorded(engine->StartClient(std::make_unique<MemoryFile>(file), r, t0));
  }
  Bytes request;
};

TEST_F(Options, ServerReadSendsTheOackFirstThenBlocksOfTheGrantedSize) {
  TftpOptions granted;
  granted.blockSize = 1000;
  granted.transferSize = 2500;
  Record r = StartServerWith(Side::Sending, std::string(2500, 'd'), granted);
  ASSERT_EQ(r.sends.size(), 1u);
  EXPECT_EQ(r.sends[0].bytes, BuildOack(granted));
  EXPECT_EQ(r.Cell(kColTotal), "2500");
  r = Feed(AckPacket(0));
  ASSERT_EQ(r.sends.size(), 1u);
  EXPECT_EQ(r.sends[0].bytes.size(), 4u + 1000);
  Feed(AckPacket(1));
  r = Feed(AckPacket(2));
  ASSERT_EQ(r.sends.size(), 1u);
  EXPECT_EQ(r.sends[0].bytes.size(), 4u + 500);  // shorter than the block size: the last
  r = Feed(AckPacket(3));
  EXPECT_EQ(r.logs, std::vector<std::string>{
                        "TFTP: Successful. Total bytes transferred: 2500 (blksize 1000, tsize 2500)"});
  EXPECT_EQ(r.Status(), "TFTP: Successful. Total bytes transferred: 2500");
}

TEST_F(Options, AnOverdueWindowAckIsProbedAndALossResentAMomentLaterInShorterBursts) {
  using std::chrono::milliseconds;
  TftpOptions granted;
  granted.blockSize = 100;
  granted.windowSize = 4;
  StartServerWith(Side::Sending, std::string(1000, 'd'), granted);
  EXPECT_EQ(Feed(AckPacket(0)).sends.size(), 4u);
  // No ACK yet: well before the timeout the window's last block goes again.
  ASSERT_EQ(engine->Deadline(), t0 + milliseconds(10));
  Record r = Timer(t0 + milliseconds(10));
  ASSERT_EQ(r.sends.size(), 1u);
  EXPECT_EQ(r.sends[0].bytes, DataPacket(4, 100, 'd'));
  // Blocks 3 and 4 were lost: a moment later as many blocks as got through go again from block 3, and a
  // moment after them the probe that asks for their ACK.
  EXPECT_TRUE(Feed(AckPacket(2), t0 + milliseconds(11)).sends.empty());
  ASSERT_EQ(engine->Deadline(), t0 + milliseconds(12));
  r = Timer(t0 + milliseconds(12));
  ASSERT_EQ(r.sends.size(), 2u);
  EXPECT_EQ(r.sends[0].bytes, DataPacket(3, 100, 'd'));
  r = Timer(t0 + milliseconds(13));
  ASSERT_EQ(r.sends.size(), 1u);
  EXPECT_EQ(r.sends[0].bytes, DataPacket(3, 100, 'd'));
  // Their ACK lets the whole window go again, two blocks at a time.
  EXPECT_EQ(Feed(AckPacket(4), t0 + milliseconds(14)).sends.size(), 2u);
  EXPECT_EQ(Timer(t0 + milliseconds(15)).sends.size(), 2u);
}

TEST_F(Options, ClientTakesAnOackRefusesABadOneAndCopesWithoutOne) {
  TftpOptions asked;
  asked.blockSize = 1024;
  asked.windowSize = 4;
  asked.transferSize = 0;

  // Granted within what was asked: ACK 0 opens the transfer; blocks of 1024 bytes follow.
  StartClientAsking(Side::Receiving, asked);
  Record r = Feed(Oack({"blksize", "1024", "tsize", "3000", "windowsize", "4"}));
  ASSERT_EQ(r.sends.size(), 1u);
  EXPECT_EQ(r.sends[0].bytes, AckPacket(0));
  EXPECT_EQ(r.Cell(kColTotal), "3000");
  for (std::uint16_t b = 1; b <= 2; ++b) EXPECT_TRUE(Feed(DataPacket(b, 1024, 'x')).sends.empty());
  r = Feed(DataPacket(3, 952, 'x'));
  EXPECT_EQ(r.sends.at(0).bytes, AckPacket(3));
  EXPECT_EQ(file->content.size(), 3000u);

  // More than was asked: ERROR 8 to the server, and the transfer fails with that text.
  StartClientAsking(Side::Receiving, asked);
  r = Feed(Oack({"blksize", "2048"}));
  ASSERT_EQ(r.sends.size(), 1u);
  EXPECT_EQ(ErrorOf(r.sends[0].bytes),
            (std::pair<std::uint16_t, std::string>{8, "Option negotiation failed"}));
  EXPECT_EQ(r.Status(), "Option negotiation failed");
  EXPECT_TRUE(r.ended);

  // A server that ignores options: 512-byte blocks in lock-step, without an error.
  StartClientAsking(Side::Sending, asked);
  r = Feed(AckPacket(0));
  ASSERT_EQ(r.sends.size(), 1u);
  EXPECT_EQ(r.sends[0].bytes.size(), 4u + 512);
  r = Feed(AckPacket(1));
  EXPECT_EQ(r.sends.at(0).bytes.size(), 4u + 488);
  r = Feed(AckPacket(2));
  EXPECT_EQ(r.Status(), "TFTP: Successful. Total bytes transferred: 1000");
}

}  // namespace
}  // namespace hx::tftp::test
