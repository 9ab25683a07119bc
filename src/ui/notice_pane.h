#pragma once

#include <QLabel>
#include <QMessageBox>
#include <QPointer>
#include <QTimer>
#include <deque>
#include <string>
#include <vector>

#include "app/notice_folder.h"

namespace hx {

// The status bar's pane of the messages that sessions and listeners report: the window shows them here rather
// than in boxes that wait for the operator. Repeats are folded (NoticeFolder: at most one change a second
// while one text repeats), and a line that repeats the line before it adds its count to that line, so a flood
// of one failure stays one line, "TEXT (x 66)". The pane shows the newest line and keeps the last kKeptLines
// in its tool tip. One box that does not wait shows the newest line as well: a new line opens it when it is
// closed, a count only updates it, and there is never more than one.
class NoticePane : public QLabel {
  Q_OBJECT

 public:
  static constexpr size_t kKeptLines = 20;

  explicit NoticePane(QWidget* parent);
  ~NoticePane() override;

  // A message, on the GUI thread.
  void Add(const std::string& text);
  // The kept lines, oldest first, as they read: "TEXT" or "TEXT (x N)".
  std::vector<std::string> Lines() const;
  // The box, while it is open.
  QMessageBox* Box() const { return m_box; }
  void CloseBox();

 private:
  void Take(const std::vector<NoticeFolder::Line>& lines);
  void ArmDueTimer();
  void ShowNewest();

  NoticeFolder m_folder;
  std::deque<NoticeFolder::Line> m_lines;
  QTimer m_dueTimer;
  QPointer<QMessageBox> m_box;
};

}  // namespace hx
