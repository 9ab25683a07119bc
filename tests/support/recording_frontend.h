#pragma once

#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include "app/frontend.h"

namespace hx::test {

// A Frontend that keeps what the core shows (message boxes, transfer-log entries, cell texts) for a test to
// assert on. Any thread may call it, as the core's workers do; the readers return copies taken under the
// lock, and the waiting helpers wake on each new record instead of polling.
class RecordingFrontend : public Frontend {
 public:
  struct LoggedLine {
    int source = 0;
    std::string line;  // with its time stamp, as the core delivered it
  };
  struct CellText {
    int sessionId = 0;
    int column = 0;
    std::string text;
  };

  void CellChanged(int sessionId, int column, const std::string& text) override;
  void LogEntry(int source, const std::string& stampedLine) override;
  void MessageBox(const std::string& text) override;

  std::vector<std::string> Messages() const;
  std::vector<LoggedLine> LogEntries() const;
  // Every text any session showed in `column`, in order.
  std::vector<std::string> CellTexts(int column) const;

  // Whether a log entry ends in " TEXT", that is TEXT after the time stamp.
  bool Logged(const std::string& text) const;

  // Wait (bounded, in real time) until a message box or a log entry holding `part` has arrived; false when
  // none came in time.
  bool WaitForMessage(const std::string& part,
                      std::chrono::milliseconds timeout = std::chrono::seconds(10)) const;
  bool WaitForLogEntry(const std::string& part,
                       std::chrono::milliseconds timeout = std::chrono::seconds(10)) const;
  // Waits until `match` holds for the log entries so far (it is called with the recorder locked).
  bool WaitForLog(const std::function<bool(const std::vector<LoggedLine>&)>& match,
                  std::chrono::milliseconds timeout) const;

 private:
  template <class Condition>
  bool WaitFor(Condition condition, std::chrono::milliseconds timeout) const;

  mutable std::mutex m_lock;
  mutable std::condition_variable m_recorded;
  std::vector<std::string> m_messages;
  std::vector<LoggedLine> m_logEntries;
  std::vector<CellText> m_cells;
};

}  // namespace hx::test
