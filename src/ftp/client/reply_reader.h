#pragma once

#include <chrono>
#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

namespace hx::ftpc {

// The longest reply line the client keeps; a server that sends more without a line end is broken or hostile,
// and the read fails instead of growing without bound.
inline constexpr size_t kMaxReplyLine = 65536;

// The bytes received on the control connection, cut into reply lines. One buffer serves the whole
// conversation, so that bytes received beyond one reply (a final reply that arrives early) wait for the next
// read. A line ends at LF, or at CR together with the character after it, which stays at the end of the line
// unless it is LF; so CR LF and a lone LF both end a line without leaving a terminator in it.
class ReplyLineBuffer {
 public:
  void Append(std::string_view bytes);
  // Takes the next complete line out of the buffer; false when no complete line has arrived yet.
  bool NextLine(std::string& line);
  // True when a complete line is waiting.
  bool HasLine() const;
  // The next complete line without taking it; false when none has arrived.
  bool PeekLine(std::string& line) const;
  // At the end of input: takes the characters of an unfinished line, if any; false when nothing is left.
  bool TakeRest(std::string& line);
  // True when the unfinished line has grown past kMaxReplyLine.
  bool Overlong() const;

 private:
  // Finds the end of the next line from m_pos: sets the line's length and how many bytes it uses up.
  bool FindLine(size_t& length, size_t& consumed) const;

  std::string m_bytes;
  size_t m_pos = 0;  // first byte not yet taken
};

// What one reply line means to a caller that expects a reply beginning with `digit`.
enum class ReplyStep {
  Continue,  // the reply goes on ("-" after the code): read the next line with the same digit
  Accepted,  // the last line of a reply that begins with the digit
  Refused,   // the line does not begin with the digit (an empty line included)
};
// Only the first character is examined against the digit; a "-" as the fourth character continues the reply,
// so every continuation line must begin with the digit too.
ReplyStep ClassifyReplyLine(char digit, std::string_view line);

// A reply that goes on for longer than this, or for more lines, will never end: a server that sends
// continuation lines without end would otherwise hold the session for ever, each line renewing the wait.
inline constexpr std::chrono::seconds kMaxReplyTime{60};
inline constexpr size_t kMaxReplyLines = 10000;

// The length of one reply in lines and in time, measured from its first line; the caller passes the time,
// so that the limit is checked without real waits.
class ReplyLimit {
 public:
  using TimePoint = std::chrono::steady_clock::time_point;

  // Counts a line, received at `now`, after which the reply goes on; false when the reply has become too
  // long: this was its kMaxReplyLines-th line, or it came kMaxReplyTime or later after the first.
  bool Continue(TimePoint now);
  // By when the reply must have ended; nullopt before a line that continues it has arrived.
  std::optional<TimePoint> Deadline() const;

 private:
  std::optional<TimePoint> m_firstLine;
  size_t m_lines = 0;
};

}  // namespace hx::ftpc
