#include "ui/notice_pane.h"

#include <QMessageBox>
#include <algorithm>

#include "ui/modals.h"

namespace hx {
namespace {

// A message on one line: the texts break lines for a box.
QString OneLine(const std::string& text) {
  std::string shown = DisplayText(text);
  while (!shown.empty() && shown.back() == '\n') shown.pop_back();
  std::replace(shown.begin(), shown.end(), '\n', ' ');
  return QString::fromStdString(shown);
}

}  // namespace

NoticePane::NoticePane(QWidget* parent) : QLabel(parent) {
  setObjectName("notices");
  setFrameStyle(QFrame::Panel | QFrame::Sunken);
  // A long message is cut off at the pane's edge rather than widening the window; the tool tip has it whole.
  setSizePolicy(QSizePolicy::Ignored, sizePolicy().verticalPolicy());
  setMinimumWidth(40);
  hide();
  m_dueTimer.setSingleShot(true);
  connect(&m_dueTimer, &QTimer::timeout, this, [this] {
    Take(m_folder.Due(NoticeFolder::Clock::now()));
    ArmDueTimer();
  });
}

NoticePane::~NoticePane() {
  CloseBox();
}

void NoticePane::Add(const std::string& text) {
  Take(m_folder.Add(text, NoticeFolder::Clock::now()));
  ArmDueTimer();
}

void NoticePane::ArmDueTimer() {
  auto deadline = m_folder.Deadline();
  if (!deadline) {
    m_dueTimer.stop();
    return;
  }
  if (m_dueTimer.isActive()) return;
  auto wait = std::chrono::ceil<std::chrono::milliseconds>(*deadline - NoticeFolder::Clock::now());
  m_dueTimer.start(std::max<qint64>(0, wait.count()));
}

void NoticePane::Take(const std::vector<NoticeFolder::Line>& lines) {
  if (lines.empty()) return;
  bool newLine = false;
  for (const NoticeFolder::Line& line : lines) {
    if (!m_lines.empty() && m_lines.back().text == line.text) {
      m_lines.back().count += line.count;
      continue;
    }
    m_lines.push_back(line);
    if (m_lines.size() > kKeptLines) m_lines.pop_front();
    newLine = true;
  }
  ShowNewest();
  std::string newest = FoldedText(m_lines.back());
  if (m_box)
    m_box->setText(QString::fromStdString(DisplayText(newest)));
  else if (newLine)
    m_box = ShowBoxWithoutWaiting(window(), newest);
}

void NoticePane::ShowNewest() {
  QStringList kept;
  for (const NoticeFolder::Line& line : m_lines) kept << OneLine(FoldedText(line));
  setToolTip(kept.join('\n'));
  setText(kept.back());
  show();
}

std::vector<std::string> NoticePane::Lines() const {
  std::vector<std::string> lines;
  for (const NoticeFolder::Line& line : m_lines) lines.push_back(FoldedText(line));
  return lines;
}

void NoticePane::CloseBox() {
  delete m_box.data();
}

}  // namespace hx
