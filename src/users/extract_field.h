#pragma once

#include <string>
#include <string_view>

namespace hx {

// The separator between the fields of a user profile line.
inline constexpr std::string_view kProfileSeparator = "||";

// The index-th piece (0-based) of `text` cut at every occurrence of `separator`, searched for as a plain
// substring from the left (so "|||" is cut after its first two characters). The last piece runs to the end
// of the text; an index past the last piece, a negative index or an empty separator yields the empty text.
std::string ExtractField(std::string_view text, std::string_view separator, int index);

}  // namespace hx
