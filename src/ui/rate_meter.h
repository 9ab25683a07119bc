#pragma once

#include <chrono>
#include <cstdint>
#include <deque>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>

namespace hx {

// The transfer rate of each session, from the byte counts its row shows, sampled by the window a few times a
// second (no Qt here). The rate is taken over the last two seconds, so it follows a transfer that speeds up
// or stalls without jumping with each sample.
class RateMeter {
 public:
  using Clock = std::chrono::steady_clock;
  static constexpr std::chrono::milliseconds kWindow{2000};

  // Records the count of the session at `now` and returns its rate in bytes a second.
  double Sample(int id, std::uint64_t bytes, Clock::time_point now);
  void Forget(int id) { m_sessions.erase(id); }

 private:
  struct Point {
    Clock::time_point at;
    std::uint64_t bytes;
  };
  std::unordered_map<int, std::deque<Point>> m_sessions;
};

// "12.4 MB/s": bytes a second in units of 1000, one decimal from KB/s up.
std::string FormatRate(double bytesPerSecond);
// "37 % · 12.4 MB/s" with a known share (0..100), the rate alone without.
std::string FormatProgress(std::optional<int> percent, double bytesPerSecond);
// "12,000,000" from "12000000"; text that is not all digits comes back as it is.
std::string GroupThousands(std::string_view digits);
// The decimal count of a cell; nullopt for an empty or non-numeric one.
std::optional<std::uint64_t> ParseCount(std::string_view text);

}  // namespace hx
