#pragma once

#include <cstdint>
#include <optional>

// The options of the option extension (RFC 2347) that the program knows: what a request asks for and what an
// OACK grants. An empty value is an option that was not asked for, or not granted.
namespace hx::tftp {

inline constexpr int kMinBlockSize = 8;  // blksize, RFC 2348
inline constexpr int kMaxBlockSize = 65464;
inline constexpr int kMinWindowSize = 1;  // windowsize, RFC 7440
inline constexpr int kMaxWindowSize = 65535;
// The largest window the server grants (TMaxWindowSize), whatever the setting says: a window is memory held
// per session, and beyond 64 blocks a larger one no longer speeds a transfer up.
inline constexpr int kMaxGrantedWindowSize = 64;
inline constexpr int kMinTimeoutSeconds = 1;  // timeout, RFC 2349
inline constexpr int kMaxTimeoutSeconds = 255;

struct TftpOptions {
  std::optional<int> blockSize;
  std::optional<int> windowSize;
  std::optional<int> timeoutSeconds;
  std::optional<std::uint64_t> transferSize;  // tsize: the file's size in bytes

  bool Any() const { return blockSize || windowSize || timeoutSeconds || transferSize; }
  bool operator==(const TftpOptions&) const = default;
};

}  // namespace hx::tftp
