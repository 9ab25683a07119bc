#pragma once

#include <cstdio>
#include <functional>
#include <mutex>

#include "app/frontend.h"
#include "app/notice_folder.h"

namespace hx {

// The front end without a window: message boxes go to stderr as "harbinex: TEXT" and return at once, repeats
// of one text folded to one line a second with their count (NoticeFolder); with `echoLog`, every
// transfer-log entry is printed to stdout with its time stamp. A fold is printed by the next message, by
// PrintDueNotices (which the headless program calls a few times a second) or at the latest when the front end
// is flushed or destroyed.
class ConsoleFrontend : public Frontend {
 public:
  using Clock = NoticeFolder::Clock;

  // `now` tells the time for the folding (the steady clock unless given).
  explicit ConsoleFrontend(bool echoLog, std::function<Clock::time_point()> now = {});
  ~ConsoleFrontend() override;

  void LogEntry(int source, const std::string& stampedLine) override;
  void MessageBox(const std::string& text) override;
  // Prints the folds whose second is over.
  void PrintDueNotices();
  // Prints every fold still counted.
  void FlushNotices();

 protected:
  // Prints one message as it stands, unfolded; the caller holds m_outputLock.
  void PrintMessageLocked(const std::string& text);

  std::mutex m_outputLock;

 private:
  void PrintLinesLocked(const std::vector<NoticeFolder::Line>& lines);

  bool m_echoLog;
  std::function<Clock::time_point()> m_now;
  NoticeFolder m_folder;
};

}  // namespace hx
