#include "support/recording_frontend.h"

#include <algorithm>

namespace hx::test {

void RecordingFrontend::CellChanged(int sessionId, int column, const std::string& text) {
  {
    std::lock_guard guard(m_lock);
    m_cells.push_back({sessionId, column, text});
  }
  m_recorded.notify_all();
}

void RecordingFrontend::LogEntry(int source, const std::string& stampedLine) {
  {
    std::lock_guard guard(m_lock);
    m_logEntries.push_back({source, stampedLine});
  }
  m_recorded.notify_all();
}

void RecordingFrontend::MessageBox(const std::string& text) {
  {
    std::lock_guard guard(m_lock);
    m_messages.push_back(text);
  }
  m_recorded.notify_all();
}

std::vector<std::string> RecordingFrontend::Messages() const {
  std::lock_guard guard(m_lock);
  return m_messages;
}

std::vector<RecordingFrontend::LoggedLine> RecordingFrontend::LogEntries() const {
  std::lock_guard guard(m_lock);
  return m_logEntries;
}

std::vector<std::string> RecordingFrontend::CellTexts(int column) const {
  std::lock_guard guard(m_lock);
  std::vector<std::string> texts;
  for (const CellText& cell : m_cells)
    if (cell.column == column) texts.push_back(cell.text);
  return texts;
}

bool RecordingFrontend::Logged(const std::string& text) const {
  std::lock_guard guard(m_lock);
  return std::ranges::any_of(m_logEntries,
                             [&](const LoggedLine& entry) { return entry.line.ends_with(" " + text); });
}

template <class Condition>
bool RecordingFrontend::WaitFor(Condition condition, std::chrono::milliseconds timeout) const {
  std::unique_lock guard(m_lock);
  return m_recorded.wait_for(guard, timeout, condition);
}

bool RecordingFrontend::WaitForMessage(const std::string& part, std::chrono::milliseconds timeout) const {
  return WaitFor(
      [&] {
        return std::ranges::any_of(
            m_messages, [&](const std::string& text) { return text.find(part) != std::string::npos; });
      },
      timeout);
}

bool RecordingFrontend::WaitForLogEntry(const std::string& part, std::chrono::milliseconds timeout) const {
  return WaitFor(
      [&] {
        return std::ranges::any_of(m_logEntries, [&](const LoggedLine& entry) {
          return entry.line.find(part) != std::string::npos;
        });
      },
      timeout);
}

bool RecordingFrontend::WaitForLog(const std::function<bool(const std::vector<LoggedLine>&)>& match,
                                   std::chrono::milliseconds timeout) const {
  return WaitFor([&] { return match(m_logEntries); }, timeout);
}

}  // namespace hx::test
