#pragma once

#include <string>

namespace hx {

// How the core talks to whatever shows it: the window, the headless console or a client command.
// Every call may come from any thread; an implementation that owns a GUI thread queues the call there.
class Frontend {
 public:
  virtual ~Frontend() = default;

  // A row was inserted (at the top), a cell changed, or rows were removed. Cell texts come with their
  // control characters escaped.
  virtual void RowInserted(int sessionId) { (void)sessionId; }
  virtual void CellChanged(int sessionId, int column, const std::string& text) {
    (void)sessionId, (void)column, (void)text;
  }
  virtual void RowsRemoved() {}
  // One row was removed (the oldest finished ones leave this way, one for each new session).
  virtual void RowRemoved(int sessionId) {
    (void)sessionId;
    RowsRemoved();
  }

  // A transfer-log entry, with its time stamp and its control characters escaped, whether or not the log
  // file is on.
  virtual void LogEntry(int source, const std::string& stampedLine) { (void)source, (void)stampedLine; }

  // A message for the operator, a message box with an OK button in the behaviour. It never waits for the
  // operator when it comes from any thread but the window's own: the window queues it as a notice and shows
  // it without a modal box, the headless console prints it at once; both fold repeats of one text
  // (NoticeFolder), so that a peer that makes a failure happen again and again cannot flood the operator.
  // The text is as the caller made it: a front end that prints it on a terminal escapes it
  // (EscapeControlCharsKeepingLines).
  virtual void MessageBox(const std::string& text) = 0;
};

}  // namespace hx
