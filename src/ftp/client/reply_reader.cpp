#include "ftp/client/reply_reader.h"

namespace hx::ftpc {

void ReplyLineBuffer::Append(std::string_view bytes) {
  // Drop what has been taken before growing, so the buffer holds at most one unfinished line plus the bytes
  // of the last receive.
  if (m_pos > 0 && m_pos >= m_bytes.size() / 2) {
    m_bytes.erase(0, m_pos);
    m_pos = 0;
  }
  m_bytes.append(bytes);
}

bool ReplyLineBuffer::FindLine(size_t& length, size_t& consumed) const {
  size_t end = m_bytes.find_first_of("\r\n", m_pos);
  if (end == std::string::npos) return false;
  if (m_bytes[end] == '\n') {
    length = end - m_pos;
    consumed = length + 1;
    return true;
  }
  if (end + 1 >= m_bytes.size()) return false;  // the CR's follower has not arrived
  length = end - m_pos;
  consumed = length + 2;
  return true;
}

bool ReplyLineBuffer::PeekLine(std::string& line) const {
  size_t length = 0, consumed = 0;
  if (!FindLine(length, consumed)) return false;
  line.assign(m_bytes, m_pos, length);
  char follower = m_bytes[m_pos + length] == '\r' ? m_bytes[m_pos + length + 1] : '\n';
  if (follower != '\n') line += follower;
  return true;
}

bool ReplyLineBuffer::NextLine(std::string& line) {
  size_t length = 0, consumed = 0;
  if (!FindLine(length, consumed)) return false;
  PeekLine(line);
  m_pos += consumed;
  return true;
}

bool ReplyLineBuffer::HasLine() const {
  size_t length = 0, consumed = 0;
  return FindLine(length, consumed);
}

bool ReplyLineBuffer::TakeRest(std::string& line) {
  if (m_pos >= m_bytes.size()) return false;
  line.assign(m_bytes, m_pos, std::string::npos);
  if (!line.empty() && line.back() == '\r') line.pop_back();
  m_pos = m_bytes.size();
  return true;
}

bool ReplyLineBuffer::Overlong() const {
  return !HasLine() && m_bytes.size() - m_pos > kMaxReplyLine;
}

ReplyStep ClassifyReplyLine(char digit, std::string_view line) {
  if (line.empty() || line[0] != digit) return ReplyStep::Refused;
  if (line.size() >= 4 && line[3] == '-') return ReplyStep::Continue;
  return ReplyStep::Accepted;
}

bool ReplyLimit::Continue(TimePoint now) {
  if (!m_firstLine) m_firstLine = now;
  ++m_lines;
  return m_lines < kMaxReplyLines && now - *m_firstLine < kMaxReplyTime;
}

std::optional<ReplyLimit::TimePoint> ReplyLimit::Deadline() const {
  if (!m_firstLine) return std::nullopt;
  return *m_firstLine + kMaxReplyTime;
}

}  // namespace hx::ftpc
