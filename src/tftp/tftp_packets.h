#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>

// The packets of TFTP as RFC 1350 lays them out: 16-bit big-endian numbers, texts ending in a zero byte,
// 512-byte blocks unless a larger size was negotiated (see tftp_options.h).
namespace hx::tftp {

inline constexpr size_t kBlockSize = 512;
inline constexpr size_t kHeaderSize = 4;
inline constexpr size_t kMaxPacket = kHeaderSize + kBlockSize;  // 516
// A request with options may be longer than a block: it is read whole up to the largest UDP datagram.
inline constexpr size_t kMaxRequest = 65535;

enum Opcode : std::uint16_t {
  kOpRrq = 1,
  kOpWrq = 2,
  kOpData = 3,
  kOpAck = 4,
  kOpError = 5,
  kOpOack = 6,  // option acknowledgment, RFC 2347
};

// The error codes the program sends.
enum ErrorCode : std::uint16_t {
  kErrNotDefined = 0,
  kErrFileNotFound = 1,
  kErrAccessViolation = 2,
  kErrDiskFull = 3,
  kErrIllegalOperation = 4,
  kErrUnknownTransferId = 5,
  kErrFileExists = 6,
  kErrOptionNegotiation = 8,
};

// A buffer that holds one packet to send.
using PacketBuffer = std::array<std::uint8_t, kMaxPacket>;

std::uint16_t ReadU16(const std::uint8_t* p);
void WriteU16(std::uint8_t* p, std::uint16_t value);

// Writes the DATA header in front of the `count` data bytes already in the buffer's data area; returns the
// packet length.
size_t BuildDataHeader(PacketBuffer& buffer, std::uint16_t block, size_t count);
// Returns the packet length (4).
size_t BuildAck(PacketBuffer& buffer, std::uint16_t block);
// A text that does not fit the 516 bytes is cut, so that the packet always ends in its zero byte.
size_t BuildError(PacketBuffer& buffer, std::uint16_t code, std::string_view text);
// RRQ or WRQ; returns 0 when name and mode do not fit in 516 bytes.
size_t BuildRequest(PacketBuffer& buffer, Opcode opcode, std::string_view name, std::string_view mode);

// What a received datagram is, looked at only within its received length.
struct Packet {
  enum class Kind {
    Empty,    // zero bytes
    Short,    // 1 to 3 bytes: no complete header
    Request,  // RRQ or WRQ (the request parser reads the rest)
    Data,
    Ack,
    Error,
    Oack,     // the options granted follow the opcode
    Unknown,  // any other opcode
  };
  Kind kind = Kind::Empty;
  std::uint16_t opcode = 0;
  std::uint16_t number = 0;               // block number (DATA, ACK) or error code (ERROR)
  std::span<const std::uint8_t> payload;  // DATA: the data bytes; OACK: the option pairs
  std::string_view text;                  // ERROR: the message up to its zero byte or the datagram's end
};

Packet ParsePacket(std::span<const std::uint8_t> datagram);

}  // namespace hx::tftp
