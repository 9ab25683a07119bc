#include "users/extract_field.h"

namespace hx {

std::string ExtractField(std::string_view text, std::string_view separator, int index) {
  if (index < 0 || separator.empty()) return {};
  size_t start = 0;
  for (int piece = 0; piece < index; ++piece) {
    size_t at = text.find(separator, start);
    if (at == std::string_view::npos) return {};
    start = at + separator.size();
  }
  size_t end = text.find(separator, start);
  return std::string(
      text.substr(start, end == std::string_view::npos ? std::string_view::npos : end - start));
}

}  // namespace hx
