#include "app/text_lines.h"

#include <cstdio>

#include "app/atomic_file.h"

namespace hx {

std::vector<std::string> SplitViewerLines(std::string_view text) {
  std::vector<std::string> lines;
  size_t start = 0;
  while (start < text.size()) {
    size_t end = text.find('\n', start);
    if (end == std::string_view::npos) end = text.size();
    std::string_view line = text.substr(start, end - start);
    if (end < text.size() && !line.empty() && line.back() == '\r') line.remove_suffix(1);
    lines.emplace_back(line);
    start = end + 1;
  }
  return lines;
}

std::optional<std::vector<std::string>> ReadViewerLines(const std::filesystem::path& path) {
  std::FILE* file = std::fopen(path.c_str(), "ab");  // creates a missing file, truncates nothing
  if (!file) return std::nullopt;
  std::fclose(file);
  auto content = ReadWholeFile(path);
  if (!content) return std::nullopt;
  return SplitViewerLines(*content);
}

}  // namespace hx
