#include "ftp/server/line_reader.h"

namespace hx::ftpd {

void LineReader::Append(std::string_view bytes) {
  if (m_pos >= m_pending.size()) {
    m_pending.clear();
    m_pos = 0;
  }
  m_pending.append(bytes);
}

LineReader::Event LineReader::Next() {
  while (m_pos < m_pending.size()) {
    char c = m_pending[m_pos++];
    bool ended = false;
    if (m_afterCr) {
      // The character after a CR ends the line; it stays in the line unless it is LF.
      m_afterCr = false;
      if (c != '\n') m_line.push_back(c);
      ended = true;
    } else if (c == '\n') {
      ended = true;
    } else if (c == '\r') {
      m_afterCr = true;
      continue;
    } else {
      m_line.push_back(c);
    }
    if (ended) {
      bool dropped = m_discarding;
      m_discarding = false;
      std::string line;
      line.swap(m_line);
      if (dropped) continue;
      if (line.size() > kMaxCommandLine) return {Kind::TooLong, {}};
      return {Kind::Line, std::move(line)};
    }
    if (!m_discarding && m_line.size() > kMaxCommandLine) {
      m_discarding = true;
      m_line.clear();
      return {Kind::TooLong, {}};
    }
    if (m_discarding) m_line.clear();
  }
  return {Kind::NeedMore, {}};
}

bool LineReader::Finish(std::string& line) {
  bool any = !m_line.empty() && !m_discarding;
  line.swap(m_line);
  m_line.clear();
  m_afterCr = false;
  m_discarding = false;
  if (!any) line.clear();
  return any;
}

}  // namespace hx::ftpd
