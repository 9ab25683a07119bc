#include "ui/viewer_lines.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

namespace hx {

ViewerLines::ViewerLines(std::string text) : m_text(std::move(text)) {
  Index();
}

bool ViewerLines::Load(const std::filesystem::path& path) {
  // "a" creates a missing file and never truncates; the window may go on appending meanwhile.
  std::FILE* file = std::fopen(path.c_str(), "a+b");
  if (!file) return false;
  std::string text;
  if (std::fseek(file, 0, SEEK_END) == 0) {
    long size = std::ftell(file);
    if (size > 0) text.reserve(static_cast<size_t>(size));
  }
  std::rewind(file);
  char buffer[1 << 16];
  size_t got;
  while ((got = std::fread(buffer, 1, sizeof buffer, file)) > 0) text.append(buffer, got);
  std::fclose(file);
  m_text = std::move(text);
  Index();
  return true;
}

void ViewerLines::Index() {
  m_starts.clear();
  const char* begin = m_text.data();
  const char* end = begin + m_text.size();
  for (const char* p = begin; p < end;) {
    m_starts.push_back(static_cast<std::uint64_t>(p - begin));
    const void* lf = std::memchr(p, '\n', static_cast<size_t>(end - p));
    p = lf ? static_cast<const char*>(lf) + 1 : end;
  }
}

std::string_view ViewerLines::Line(size_t index) const {
  if (index >= m_starts.size()) return {};
  size_t start = m_starts[index];
  size_t next = index + 1 < m_starts.size() ? m_starts[index + 1] : m_text.size();
  std::string_view line(m_text.data() + start, next - start);
  if (!line.empty() && line.back() == '\n') {
    line.remove_suffix(1);
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
  }
  return line;
}

std::vector<size_t> ViewerLines::Longest(size_t count) const {
  std::vector<size_t> indexes(Count());
  for (size_t i = 0; i < indexes.size(); ++i) indexes[i] = i;
  count = std::min(count, indexes.size());
  auto longer = [this](size_t a, size_t b) { return Line(a).size() > Line(b).size(); };
  std::partial_sort(indexes.begin(), indexes.begin() + static_cast<std::ptrdiff_t>(count), indexes.end(),
                    longer);
  indexes.resize(count);
  return indexes;
}

}  // namespace hx
