#include "ftp/server/line_reader.h"

namespace hx::ftpd {
namespace {

constexpr unsigned char kIac = 0xFF;
constexpr unsigned char kWill = 0xFB;  // WILL, WONT, DO, DONT (0xFB to 0xFE) carry an option byte
constexpr unsigned char kFirstCommand = 0xF0;

}  // namespace

void LineReader::Append(std::string_view bytes) {
  if (m_pos >= m_pending.size()) {
    m_pending.clear();
    m_pos = 0;
  }
  m_pending.append(bytes);
}

bool LineReader::Take(char c) {
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
    return false;
  } else {
    m_line.push_back(c);
  }
  if (ended) {
    bool dropped = m_discarding;
    m_discarding = false;
    m_ended.swap(m_line);
    m_line.clear();
    if (dropped) return false;
    if (m_ended.size() > kMaxCommandLine) {
      m_tooLong = true;
      return false;
    }
    return true;
  }
  if (m_discarding) {
    m_line.clear();
  } else if (m_line.size() > kMaxCommandLine) {
    m_discarding = true;
    m_tooLong = true;
    m_line.clear();
  }
  return false;
}

LineReader::Event LineReader::Next() {
  while (m_pos < m_pending.size()) {
    char c = m_pending[m_pos++];
    auto byte = static_cast<unsigned char>(c);
    bool ended = false;
    switch (m_telnet) {
      case Telnet::OptionByte:
        m_telnet = Telnet::Data;
        continue;
      case Telnet::AfterIac:
        m_telnet = Telnet::Data;
        if (byte == kIac) {
          ended = Take(c);  // IAC IAC: one data byte 0xFF
        } else if (byte >= kWill) {
          m_telnet = Telnet::OptionByte;
        } else if (byte < kFirstCommand) {
          // Not a Telnet command: both bytes are data.
          ended = Take(static_cast<char>(kIac));
          if (ended || m_tooLong) {
            --m_pos;  // this byte again, once the event has been taken
            break;
          }
          ended = Take(c);
        }
        break;
      case Telnet::Data:
        if (byte == kIac) {
          m_telnet = Telnet::AfterIac;
          continue;
        }
        ended = Take(c);
        break;
    }
    if (m_tooLong) {
      m_tooLong = false;
      return {Kind::TooLong, {}};
    }
    if (ended) return {Kind::Line, std::move(m_ended)};
  }
  return {Kind::NeedMore, {}};
}

bool LineReader::Finish(std::string& line) {
  if (m_telnet == Telnet::AfterIac && !m_discarding) m_line.push_back(static_cast<char>(kIac));
  bool any = !m_line.empty() && !m_discarding;
  line.swap(m_line);
  m_line.clear();
  m_afterCr = false;
  m_discarding = false;
  m_telnet = Telnet::Data;
  if (!any) line.clear();
  return any;
}

}  // namespace hx::ftpd
