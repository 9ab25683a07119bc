#include "tftp/tftp_packets.h"

#include <algorithm>
#include <cstring>

namespace hx::tftp {

std::uint16_t ReadU16(const std::uint8_t* p) {
  return static_cast<std::uint16_t>((p[0] << 8) | p[1]);
}

void WriteU16(std::uint8_t* p, std::uint16_t value) {
  p[0] = static_cast<std::uint8_t>(value >> 8);
  p[1] = static_cast<std::uint8_t>(value & 0xFF);
}

size_t BuildDataHeader(PacketBuffer& buffer, std::uint16_t block, size_t count) {
  WriteU16(buffer.data(), kOpData);
  WriteU16(buffer.data() + 2, block);
  return kHeaderSize + std::min(count, kBlockSize);
}

size_t BuildAck(PacketBuffer& buffer, std::uint16_t block) {
  WriteU16(buffer.data(), kOpAck);
  WriteU16(buffer.data() + 2, block);
  return kHeaderSize;
}

size_t BuildError(PacketBuffer& buffer, std::uint16_t code, std::string_view text) {
  WriteU16(buffer.data(), kOpError);
  WriteU16(buffer.data() + 2, code);
  size_t n = std::min(text.size(), kMaxPacket - kHeaderSize - 1);
  std::memcpy(buffer.data() + kHeaderSize, text.data(), n);
  buffer[kHeaderSize + n] = 0;
  return kHeaderSize + n + 1;
}

size_t BuildRequest(PacketBuffer& buffer, Opcode opcode, std::string_view name, std::string_view mode) {
  size_t length = 2 + name.size() + 1 + mode.size() + 1;
  if (length > kMaxPacket) return 0;
  std::uint8_t* p = buffer.data();
  WriteU16(p, opcode);
  p += 2;
  std::memcpy(p, name.data(), name.size());
  p += name.size();
  *p++ = 0;
  std::memcpy(p, mode.data(), mode.size());
  p += mode.size();
  *p = 0;
  return length;
}

Packet ParsePacket(std::span<const std::uint8_t> datagram) {
  Packet packet;
  if (datagram.empty()) return packet;
  // An OACK may be shorter than a header: one option of one letter with an empty value.
  if (datagram.size() >= 2 && ReadU16(datagram.data()) == kOpOack) {
    packet.kind = Packet::Kind::Oack;
    packet.opcode = kOpOack;
    packet.payload = datagram.subspan(2);
    return packet;
  }
  if (datagram.size() < kHeaderSize) {
    packet.kind = Packet::Kind::Short;
    return packet;
  }
  packet.opcode = ReadU16(datagram.data());
  packet.number = ReadU16(datagram.data() + 2);
  switch (packet.opcode) {
    case kOpRrq:
    case kOpWrq:
      packet.kind = Packet::Kind::Request;
      break;
    case kOpData:
      packet.kind = Packet::Kind::Data;
      packet.payload = datagram.subspan(kHeaderSize);
      break;
    case kOpAck:
      packet.kind = Packet::Kind::Ack;
      break;
    case kOpError: {
      packet.kind = Packet::Kind::Error;
      auto rest = datagram.subspan(kHeaderSize);
      auto end = std::find(rest.begin(), rest.end(), std::uint8_t{0});
      packet.text = std::string_view(reinterpret_cast<const char*>(rest.data()),
                                     static_cast<size_t>(end - rest.begin()));
      break;
    }
    default:
      packet.kind = Packet::Kind::Unknown;
      break;
  }
  return packet;
}

}  // namespace hx::tftp
