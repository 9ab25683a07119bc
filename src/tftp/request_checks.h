#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <variant>

#include "tftp/tftp_options.h"

// Turning a read or write request into a local path inside the TFTP upload/download directory.
namespace hx::tftp {

// Why a request or a file is refused: the TFTP error code and text that go into the ERROR packet, the
// Status cell and the log line. `messageBox`, when not empty, is also shown to the operator.
struct Rejection {
  std::uint16_t code = 0;
  std::string text;
  std::string messageBox;

  bool operator==(const Rejection&) const = default;
};

// Names longer than this, together with the directory, are refused.
inline constexpr size_t kMaxPath = 260;

// How the bytes of a transfer travel: octet as they are in the file, netascii as text with CR LF line ends.
enum class TransferMode { Octet, Netascii };

// What a request asks for: the local path, the mode and the options after it.
struct Request {
  std::string path;
  TransferMode mode = TransferMode::Octet;
  TftpOptions options;

  bool operator==(const Request&) const = default;
};

// Parses a request datagram (opcode, file name, zero, mode, zero) that holds `datagram.size()` received
// bytes, and applies the path rules against `downloadDir` (the setting TDLDir as read for this request).
// Never reads beyond the received bytes. Returns the local path and the mode, or why the request is refused.
std::variant<Request, Rejection> ParseRequest(std::span<const std::uint8_t> datagram,
                                              std::string_view downloadDir);

// The file name of a request datagram as the peer sent it (empty when the datagram holds none), for the
// session list; never reads beyond the received bytes.
std::string RequestedName(std::span<const std::uint8_t> datagram);

// The opcode of a request datagram: its first two bytes, where missing bytes count as zero.
std::uint16_t RequestOpcode(std::span<const std::uint8_t> datagram);

}  // namespace hx::tftp
