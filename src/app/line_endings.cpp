#include "app/line_endings.h"

#include <algorithm>

namespace hx {

void EncodeLineEnds(std::string_view local, LineEndRules rules, std::string& out) {
  bool netascii = rules == LineEndRules::Netascii;
  out.reserve(out.size() + local.size() + static_cast<size_t>(std::count(local.begin(), local.end(), '\n')));
  size_t from = 0;
  // Runs without a line end are copied whole; a text file is mostly such runs.
  for (;;) {
    size_t at = local.find_first_of(netascii ? std::string_view("\n\r", 2) : std::string_view("\n", 1), from);
    if (at == std::string_view::npos) {
      out.append(local.substr(from));
      return;
    }
    out.append(local.substr(from, at - from));
    if (local[at] == '\n')
      out.append("\r\n", 2);
    else
      out.append("\r\0", 2);
    from = at + 1;
  }
}

void LineEndDecoder::Decode(std::string_view wire, std::string& out) {
  out.reserve(out.size() + wire.size() + 1);
  for (char c : wire) {
    if (m_heldCr) {
      m_heldCr = false;
      if (c == '\n') {
        out.push_back('\n');
        continue;
      }
      out.push_back('\r');
      if (c == '\0' && m_rules == LineEndRules::Netascii) continue;
    }
    if (c == '\r')
      m_heldCr = true;
    else
      out.push_back(c);
  }
}

void LineEndDecoder::Finish(std::string& out) {
  if (m_heldCr) out.push_back('\r');
  m_heldCr = false;
}

}  // namespace hx
