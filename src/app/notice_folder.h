#pragma once

#include <chrono>
#include <optional>
#include <string>
#include <vector>

namespace hx {

// Folds repeats of a notice, so that a peer that makes one failure happen again and again fills neither a
// terminal nor a window. The first notice of a run goes out at once; identical ones that follow within a
// second of the last line are only counted, and go out as one line with their count when that second is
// over (Due, or the next notice) or when a different notice comes. A line's count is the number of notices
// it stands for, so the counts of all lines add up to the notices taken; Flush hands over what is held, so
// that nothing is lost at shut-down. No I/O and no clock of its own: the caller passes the time, prints the
// lines and guards the object against concurrent calls.
class NoticeFolder {
 public:
  using Clock = std::chrono::steady_clock;
  // At most one line per notice and span while the same notice repeats.
  static constexpr Clock::duration kSpan = std::chrono::seconds(1);

  struct Line {
    std::string text;
    int count = 1;
    bool operator==(const Line&) const = default;
  };

  // A notice at `now`; the lines to put out now, in order (none while it is only counted).
  std::vector<Line> Add(const std::string& text, Clock::time_point now);
  // The counted repeats, once their span is over at `now`.
  std::vector<Line> Due(Clock::time_point now);
  // The counted repeats, whatever the time.
  std::vector<Line> Flush();
  // When the counted repeats fall due; nullopt when none are counted.
  std::optional<Clock::time_point> Deadline() const;

 private:
  std::vector<Line> TakeHeld(Clock::time_point now);

  bool m_started = false;
  std::string m_text;          // the notice of the current run
  Clock::time_point m_lineAt;  // when the run's last line went out
  int m_held = 0;              // repeats counted since then
};

// A line as it is shown: "TEXT" for one notice, "TEXT (x N)" for N.
std::string FoldedText(const NoticeFolder::Line& line);

}  // namespace hx
