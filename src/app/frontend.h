#pragma once

#include <string>

namespace hx {

// How the core talks to whatever shows it: the window, the headless console or a client command.
// Every call may come from any thread; an implementation that owns a GUI thread queues the call there.
class Frontend {
 public:
  virtual ~Frontend() = default;

  // A row was inserted (at the top), a cell changed, or rows were removed.
  virtual void RowInserted(int sessionId) { (void)sessionId; }
  virtual void CellChanged(int sessionId, int column, const std::string& text) {
    (void)sessionId, (void)column, (void)text;
  }
  virtual void RowsRemoved() {}

  // A transfer-log entry, with its time stamp, whether or not the log file is on.
  virtual void LogEntry(int source, const std::string& stampedLine) { (void)source, (void)stampedLine; }

  // A message box with an OK button. The window blocks the caller until it is dismissed; the console
  // prints it and returns at once.
  virtual void MessageBox(const std::string& text) = 0;
};

}  // namespace hx
