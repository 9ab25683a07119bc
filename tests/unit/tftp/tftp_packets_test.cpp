#include "tftp/tftp_packets.h"

#include <gtest/gtest.h>

#include "engine_harness.h"

namespace hx::tftp {
namespace {

using test::Bytes;
using test::Raw;
using test::View;

TEST(TftpPackets, BuildsAckDataAndRequestBigEndian) {
  PacketBuffer buffer{};
  ASSERT_EQ(BuildAck(buffer, 0x1234), 4u);
  EXPECT_EQ(Bytes(buffer.begin(), buffer.begin() + 4), Raw({0, 4, 0x12, 0x34}));

  buffer[4] = 'x';
  ASSERT_EQ(BuildDataHeader(buffer, 65535, 1), 5u);
  EXPECT_EQ(Bytes(buffer.begin(), buffer.begin() + 5), Raw({0, 3, 0xFF, 0xFF, 'x'}));
  EXPECT_EQ(BuildDataHeader(buffer, 1, 0), 4u);
  EXPECT_EQ(BuildDataHeader(buffer, 1, 512), 516u);

  ASSERT_EQ(BuildRequest(buffer, kOpRrq, "a.bin", "octet"), 2u + 5 + 1 + 5 + 1);
  EXPECT_EQ(Bytes(buffer.begin(), buffer.begin() + 14),
            Raw({0, 1, 'a', '.', 'b', 'i', 'n', 0, 'o', 'c', 't', 'e', 't', 0}));
  // A request that cannot fit the 516 bytes is not built; one that just fits is.
  EXPECT_EQ(BuildRequest(buffer, kOpWrq, std::string(507, 'n'), "octet"), 516u);
  EXPECT_EQ(BuildRequest(buffer, kOpWrq, std::string(508, 'n'), "octet"), 0u);
}

TEST(TftpPackets, ErrorTextIsCutToFitThePacket) {
  PacketBuffer buffer{};
  ASSERT_EQ(BuildError(buffer, 1, "File was not found. Aborting transfer"), 5u + 37);
  EXPECT_EQ(test::ErrorOf(Bytes(buffer.begin(), buffer.begin() + 42)),
            std::make_pair(std::uint16_t{1}, std::string("File was not found. Aborting transfer")));

  std::string longText = "Unknown transfer mode : " + std::string(600, 'm');
  size_t n = BuildError(buffer, 4, longText);
  EXPECT_EQ(n, kMaxPacket);
  EXPECT_EQ(buffer[kMaxPacket - 1], 0);  // still ends in its zero byte
  EXPECT_EQ(std::string(buffer.begin() + 4, buffer.begin() + 515), longText.substr(0, 511));
  EXPECT_EQ(BuildError(buffer, 0, ""), 5u);
}

TEST(TftpPackets, ParsesEveryKindWithinTheReceivedLength) {
  struct Case {
    Bytes datagram;
    Packet::Kind kind;
    std::uint16_t number;
    size_t payload;
    std::string text;
  };
  const Case cases[] = {
      {{}, Packet::Kind::Empty, 0, 0, ""},
      {Raw({0}), Packet::Kind::Short, 0, 0, ""},
      {Raw({0, 4}), Packet::Kind::Short, 0, 0, ""},
      {Raw({0, 5, 0}), Packet::Kind::Short, 0, 0, ""},
      {Raw({0, 4, 1, 2}), Packet::Kind::Ack, 0x0102, 0, ""},
      {Raw({0, 4, 1, 2, 9, 9}), Packet::Kind::Ack, 0x0102, 0, ""},
      {Raw({0, 3, 0, 7}), Packet::Kind::Data, 7, 0, ""},
      {Raw({0, 3, 0, 7, 'a', 'b', 'c'}), Packet::Kind::Data, 7, 3, ""},
      {Raw({0, 5, 0, 2}), Packet::Kind::Error, 2, 0, ""},              // no text, no zero byte: an empty text
      {Raw({0, 5, 0, 1, 'n', 'o'}), Packet::Kind::Error, 1, 0, "no"},  // no zero byte: up to the end
      {Raw({0, 5, 0, 1, 'o', 'k', 0, 'x'}), Packet::Kind::Error, 1, 0, "ok"},
      {Raw({0, 1, 'f', 0}), Packet::Kind::Request, 0x6600, 0, ""},
      {Raw({0, 2, 0, 0}), Packet::Kind::Request, 0, 0, ""},
      {Raw({0, 6, 0, 0}), Packet::Kind::Oack, 0, 2, ""},
      {Raw({0, 7, 0, 0}), Packet::Kind::Unknown, 0, 0, ""},
      {Raw({0xFF, 0xFF, 0, 0}), Packet::Kind::Unknown, 0, 0, ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::PrintToString(c.datagram));
    Packet p = ParsePacket(View(c.datagram));
    EXPECT_EQ(p.kind, c.kind);
    if (c.kind == Packet::Kind::Data || c.kind == Packet::Kind::Ack || c.kind == Packet::Kind::Error) {
      EXPECT_EQ(p.number, c.number);
    }
    EXPECT_EQ(p.payload.size(), c.payload);
    EXPECT_EQ(std::string(p.text), c.text);
  }
}

TEST(TftpPackets, ErrorTextNeverReadsPastTheDatagram) {
  // The bytes after the received length hold a zero further on; the text must stop at the length.
  Bytes backing = Raw({0, 5, 0, 0, 'a', 'b', 'c', 'd', 0});
  Packet p = ParsePacket(std::span(backing.data(), 6));
  EXPECT_EQ(std::string(p.text), "ab");
}

}  // namespace
}  // namespace hx::tftp
