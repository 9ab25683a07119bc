#include "app/shown_text.h"

#include <algorithm>

#include "app/text_util.h"

namespace hx {
namespace {

bool IsControl(char c) {
  auto byte = static_cast<unsigned char>(c);
  return byte < 0x20 || byte == 0x7f;
}

std::string Escape(std::string_view text, bool keepLineFeeds) {
  auto escaped = [keepLineFeeds](char c) { return IsControl(c) && !(keepLineFeeds && c == '\n'); };
  // The common case, a text with nothing to escape, costs one scan and one copy.
  if (std::none_of(text.begin(), text.end(), escaped)) return std::string(text);
  static const char kHex[] = "0123456789abcdef";
  std::string out;
  out.reserve(text.size() + 16);
  for (char c : text) {
    if (!escaped(c)) {
      out += c;
      continue;
    }
    auto byte = static_cast<unsigned char>(c);
    out += "\\x";
    out += kHex[byte >> 4];
    out += kHex[byte & 0x0f];
  }
  return out;
}

}  // namespace

std::string EscapeControlChars(std::string_view text) {
  return Escape(text, false);
}

std::string EscapeControlCharsKeepingLines(std::string_view text) {
  return Escape(text, true);
}

std::string HidePassword(std::string_view commandLine) {
  // The verb as the server's command table reads it: the leading run up to a blank, TAB, CR or LF.
  std::string_view verb = commandLine.substr(0, commandLine.find_first_of(" \t\r\n"));
  return EqualsNoCase(verb, "PASS") ? std::string("PASS ****") : std::string(commandLine);
}

}  // namespace hx
