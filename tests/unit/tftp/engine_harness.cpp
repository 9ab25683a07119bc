#include "engine_harness.h"

#include <algorithm>
#include <cstring>

#include "tftp/tftp_packets.h"

namespace hx::tftp::test {

long MemoryFile::Read(std::uint8_t* buffer, size_t size) {
  if (m_state->failReads) return -1;
  size_t n = std::min(size, m_state->content.size() - m_state->readPos);
  std::memcpy(buffer, m_state->content.data() + m_state->readPos, n);
  m_state->readPos += n;
  return static_cast<long>(n);
}

bool MemoryFile::Write(const std::uint8_t* data, size_t size) {
  ++m_state->writes;
  if (m_state->failWrites) return false;
  m_state->content.append(reinterpret_cast<const char*>(data), size);
  return true;
}

std::uint8_t PatternByte(std::uint64_t offset) {
  // Differs between neighbouring blocks and between blocks 65536 apart, so that a repeated or skipped block
  // shows.
  return static_cast<std::uint8_t>((offset * 131) ^ (offset >> 9) ^ (offset >> 25));
}

long PatternFile::Read(std::uint8_t* buffer, size_t size) {
  std::uint64_t left = m_state->size - m_state->position;
  size_t n = static_cast<size_t>(std::min<std::uint64_t>(size, left));
  if (m_state->fill)
    for (size_t i = 0; i < n; ++i) buffer[i] = PatternByte(m_state->position + i);
  m_state->position += n;
  return static_cast<long>(n);
}

bool PatternFile::Write(const std::uint8_t* data, size_t size) {
  for (size_t i = 0; i < size; ++i)
    if (data[i] != PatternByte(m_state->position + i)) m_state->mismatch = true;
  m_state->position += size;
  return true;
}

Bytes AckPacket(std::uint16_t block) {
  PacketBuffer buffer{};
  size_t n = BuildAck(buffer, block);
  return Bytes(buffer.begin(), buffer.begin() + static_cast<long>(n));
}

Bytes DataPacket(std::uint16_t block, const std::string& payload) {
  Bytes packet = {0, 3, static_cast<std::uint8_t>(block >> 8), static_cast<std::uint8_t>(block & 0xFF)};
  packet.insert(packet.end(), payload.begin(), payload.end());
  return packet;
}

Bytes DataPacket(std::uint16_t block, size_t count, char fill) {
  return DataPacket(block, std::string(count, fill));
}

Bytes ErrorPacket(std::uint16_t code, const std::string& text) {
  PacketBuffer buffer{};
  size_t n = BuildError(buffer, code, text);
  return Bytes(buffer.begin(), buffer.begin() + static_cast<long>(n));
}

Bytes Raw(std::initializer_list<int> bytes) {
  Bytes out;
  for (int b : bytes) out.push_back(static_cast<std::uint8_t>(b));
  return out;
}

std::span<const std::uint8_t> View(const Bytes& bytes) {
  return std::span(bytes.data(), bytes.size());
}

std::optional<std::string> Record::Cell(int column) const {
  for (auto it = cells.rbegin(); it != cells.rend(); ++it)
    if (it->first == column) return it->second;
  return std::nullopt;
}

Record Recorded(std::span<const Action> actions) {
  Record r;
  for (const Action& a : actions) {
    r.kinds.push_back(a.kind);
    switch (a.kind) {
      case Action::Kind::Send:
        r.sends.push_back({Bytes(a.bytes.begin(), a.bytes.end()), a.to, a.reportFailure});
        break;
      case Action::Kind::ArmTimer:
        r.armed = a.deadline;
        break;
      case Action::Kind::KillTimer:
        r.killed = true;
        break;
      case Action::Kind::SetCell:
        r.cells.emplace_back(a.column, a.text);
        break;
      case Action::Kind::Log:
        r.logs.push_back(a.text);
        break;
      case Action::Kind::Debug:
        r.debugs.push_back(a.text);
        break;
      case Action::Kind::MessageBox:
        r.boxes.push_back(a.text);
        break;
      case Action::Kind::End:
        r.ended = true;
        break;
    }
  }
  return r;
}

std::pair<std::uint16_t, std::string> ErrorOf(const Bytes& packet) {
  if (packet.size() < 5 || OpcodeOf(packet) != kOpError) return {0xFFFF, "<not an ERROR packet>"};
  std::string text(packet.begin() + 4, packet.end() - 1);
  return {ReadU16(packet.data() + 2), text};
}

std::uint16_t OpcodeOf(const Bytes& packet) {
  return packet.size() >= 2 ? ReadU16(packet.data()) : 0xFFFF;
}
std::uint16_t BlockOf(const Bytes& packet) {
  return packet.size() >= 4 ? ReadU16(packet.data() + 2) : 0xFFFF;
}

}  // namespace hx::tftp::test
