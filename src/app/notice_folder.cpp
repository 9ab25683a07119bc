#include "app/notice_folder.h"

namespace hx {

std::vector<NoticeFolder::Line> NoticeFolder::Add(const std::string& text, Clock::time_point now) {
  if (m_started && text == m_text) {
    if (now < m_lineAt + kSpan) {
      ++m_held;
      return {};
    }
    // The span is over: this notice goes out now, with the repeats counted before it.
    Line line{text, m_held + 1};
    m_held = 0;
    m_lineAt = now;
    return {line};
  }
  std::vector<Line> out = TakeHeld(now);
  out.push_back({text, 1});
  m_started = true;
  m_text = text;
  m_lineAt = now;
  return out;
}

std::vector<NoticeFolder::Line> NoticeFolder::Due(Clock::time_point now) {
  if (m_held == 0 || now < m_lineAt + kSpan) return {};
  return TakeHeld(now);
}

std::vector<NoticeFolder::Line> NoticeFolder::Flush() {
  return TakeHeld(m_lineAt);
}

std::optional<NoticeFolder::Clock::time_point> NoticeFolder::Deadline() const {
  if (m_held == 0) return std::nullopt;
  return m_lineAt + kSpan;
}

std::vector<NoticeFolder::Line> NoticeFolder::TakeHeld(Clock::time_point now) {
  if (m_held == 0) return {};
  Line line{m_text, m_held};
  m_held = 0;
  // The fold is this span's line: repeats right after it are counted again.
  m_lineAt = now;
  return {line};
}

std::string FoldedText(const NoticeFolder::Line& line) {
  if (line.count <= 1) return line.text;
  return line.text + " (x " + std::to_string(line.count) + ")";
}

}  // namespace hx
