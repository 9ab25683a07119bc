#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace hx::ftpd {

// The longest command line the server takes; a longer one is discarded whole.
inline constexpr size_t kMaxCommandLine = 8192;

// Cuts the bytes of the control connection into command lines.
//
// The control connection speaks Telnet: its commands (IAC followed by a command byte, such as the interrupt
// and the synch that clients send before ABOR, and option requests with their option byte) are taken out of
// the stream, and IAC IAC stands for one 0xFF byte. An IAC before any other byte is kept as it is.
//
// A line ends at LF, or at CR together with the character after it, which stays at the end of the line
// unless it is LF; so CR LF and a lone LF both end a line without leaving a terminator in it. Memory stays
// bounded: the reader holds at most the bytes of one Append beyond the line it is building, and a line that
// grows past kMaxCommandLine is dropped (reported once as TooLong) until its end.
class LineReader {
 public:
  enum class Kind { Line, TooLong, NeedMore };
  struct Event {
    Kind kind;
    std::string text;  // the line, for Kind::Line
  };

  // Hands over received bytes; call only when Next has reported NeedMore.
  void Append(std::string_view bytes);
  // The next event from the bytes received so far.
  Event Next();
  // At the end of input: the characters of an unfinished line, if any (a line cut off after its CR included).
  // Returns false when nothing is left.
  bool Finish(std::string& line);

 private:
  enum class Telnet { Data, AfterIac, OptionByte };

  // Takes one byte of the line layer; true when it ended a line (then in m_ended).
  bool Take(char c);

  std::string m_pending;  // received, not yet examined
  size_t m_pos = 0;       // first unexamined byte of m_pending
  std::string m_line;     // the line being built
  std::string m_ended;    // the line that Take has just ended
  Telnet m_telnet = Telnet::Data;
  bool m_afterCr = false;     // the last byte examined was a CR whose follower has not arrived
  bool m_discarding = false;  // the current line exceeded the limit; drop it up to its end
  bool m_tooLong = false;     // the limit was just exceeded: report it
};

}  // namespace hx::ftpd
