#pragma once

#include <string>
#include <string_view>

namespace hx {

// ASCII-only case folding: names in profiles, verbs and modes are plain ASCII, and the result must not
// depend on the locale.
std::string ToLower(std::string_view s);
std::string ToUpper(std::string_view s);
bool EqualsNoCase(std::string_view a, std::string_view b);
// Without the blanks and TABs at either end (an FTP argument).
std::string_view TrimBlanks(std::string_view text);

}  // namespace hx
