#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "tftp/tftp_options.h"
#include "tftp/tftp_packets.h"

// The option pairs of RFC 2347 ("name", 0, "value", 0, ...) in requests and OACKs, and what the server
// grants.
namespace hx::tftp {

// The options that follow the mode of a request: names in any case, decimal values. Unknown options, values
// that are no number and values below an option's minimum are left out, as if not asked for; values above
// the maximum ask for the maximum.
TftpOptions ParseRequestOptions(std::span<const std::uint8_t> pairs);

// The pairs of an OACK as the client checks them against what it asked for: nullopt when the OACK is
// malformed, names an option that was not asked for, or grants more than was asked (a block size or window
// above the request, another timeout).
std::optional<TftpOptions> CheckOack(std::span<const std::uint8_t> pairs, const TftpOptions& asked);

// An OACK with the granted options, in the order blksize, timeout, tsize, windowsize.
std::vector<std::uint8_t> BuildOack(const TftpOptions& granted);
// An RRQ or WRQ with the options asked for after the mode; empty when it would not fit in one datagram.
std::vector<std::uint8_t> BuildOptionRequest(Opcode opcode, std::string_view name, std::string_view mode,
                                             const TftpOptions& options);

// The limits of the server (TMaxBlockSize, TMaxWindowSize), each within its option's range.
struct OptionLimits {
  int maxBlockSize = kMaxBlockSize;
  int maxWindowSize = 64;
};

// What the server answers: the smaller of the asked and the allowed block size and window, the timeout
// as asked, and for tsize the size of the file to send (a read in octet mode; netascii changes the size on
// the way, so the option is not answered) or the size the client announced (a write).
TftpOptions GrantOptions(const TftpOptions& asked, const OptionLimits& limits, bool read, bool netascii,
                         std::uint64_t fileSize);

// "blksize 1468, windowsize 16, tsize 1048576, timeout 3" for the log and the debug trace.
std::string OptionsText(const TftpOptions& options);

}  // namespace hx::tftp
