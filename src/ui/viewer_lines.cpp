#include "ui/viewer_lines.h"

#include <algorithm>
#include <array>
#include <cstdio>
#include <cstring>

namespace hx {
namespace {

// Byte tables for the search: as they are, and with the Latin-1 letters folded to lower case (A-Z and the
// accented capitals, not the multiplication sign).
struct ByteTables {
  std::array<unsigned char, 256> same{};
  std::array<unsigned char, 256> folded{};
  ByteTables() {
    for (int c = 0; c < 256; ++c) {
      same[c] = static_cast<unsigned char>(c);
      bool capital = (c >= 'A' && c <= 'Z') || (c >= 0xC0 && c <= 0xDE && c != 0xD7);
      folded[c] = static_cast<unsigned char>(capital ? c + 0x20 : c);
    }
  }
};
const ByteTables kTables;

// Horspool's search with each byte passed through a table first, so that one loop serves both cases. It
// skips most bytes of a text without looking at them, which keeps a search of a large log quick.
class ByteSearch {
 public:
  ByteSearch(std::string_view needle, const std::array<unsigned char, 256>& table) : m_table(table) {
    for (char c : needle) m_needle.push_back(static_cast<char>(table[static_cast<unsigned char>(c)]));
    m_shift.fill(m_needle.size());
    for (size_t i = 0; i + 1 < m_needle.size(); ++i)
      m_shift[static_cast<unsigned char>(m_needle[i])] = m_needle.size() - 1 - i;
  }

  // The offset of the first match at or after `from`; npos when there is none.
  size_t Next(std::string_view text, size_t from) const {
    const size_t length = m_needle.size();
    const unsigned char last = static_cast<unsigned char>(m_needle.back());
    while (from + length <= text.size()) {
      unsigned char end = Byte(text[from + length - 1]);
      if (end == last && Matches(text, from)) return from;
      from += m_shift[end];
    }
    return std::string_view::npos;
  }

 private:
  unsigned char Byte(char c) const { return m_table[static_cast<unsigned char>(c)]; }
  bool Matches(std::string_view text, size_t at) const {
    for (size_t i = 0; i + 1 < m_needle.size(); ++i)
      if (Byte(text[at + i]) != static_cast<unsigned char>(m_needle[i])) return false;
    return true;
  }

  const std::array<unsigned char, 256>& m_table;
  std::string m_needle;
  std::array<size_t, 256> m_shift;
};

}  // namespace

ViewerLines::ViewerLines(std::string text) : m_text(std::move(text)) {
  Index(0);
}

std::optional<std::string> ReadFileFrom(const std::filesystem::path& path, size_t offset, bool create) {
  // "a" creates a missing file and never truncates; the window may go on appending meanwhile.
  std::FILE* file = std::fopen(path.c_str(), create ? "a+b" : "rb");
  if (!file) return std::nullopt;
  std::optional<std::string> text;
  if (std::fseek(file, 0, SEEK_END) == 0) {
    long size = std::ftell(file);
    if (size >= 0 && static_cast<size_t>(size) >= offset &&
        std::fseek(file, static_cast<long>(offset), SEEK_SET) == 0) {
      text.emplace();
      text->reserve(static_cast<size_t>(size) - offset);
      char buffer[1 << 16];
      size_t got;
      while ((got = std::fread(buffer, 1, sizeof buffer, file)) > 0) text->append(buffer, got);
    }
  }
  std::fclose(file);
  return text;
}

bool ViewerLines::Load(const std::filesystem::path& path) {
  std::optional<std::string> text = ReadFileFrom(path, 0, true);
  if (!text) return false;
  m_text = std::move(*text);
  m_starts.clear();
  Index(0);
  return true;
}

void ViewerLines::Index(size_t offset) {
  const char* begin = m_text.data();
  const char* end = begin + m_text.size();
  for (const char* p = begin + offset; p < end;) {
    m_starts.push_back(static_cast<std::uint64_t>(p - begin));
    const void* lf = std::memchr(p, '\n', static_cast<size_t>(end - p));
    p = lf ? static_cast<const char*>(lf) + 1 : end;
  }
}

size_t ViewerLines::CountAfter(std::string_view more) const {
  if (more.empty()) return Count();
  size_t count = Count() - (LastLineOpen() ? 1 : 0);
  count += static_cast<size_t>(std::count(more.begin(), more.end(), '\n'));
  return count + (more.back() != '\n' ? 1 : 0);
}

void ViewerLines::Append(std::string_view more) {
  if (more.empty()) return;
  size_t offset = m_text.size();
  if (LastLineOpen()) {
    // The open line goes on in the new bytes: it is indexed again from its start.
    offset = m_starts.back();
    m_starts.pop_back();
  }
  m_text.append(more);
  Index(offset);
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

std::vector<size_t> ViewerLines::Longest(size_t count, size_t from) const {
  std::vector<size_t> indexes;
  for (size_t i = from; i < Count(); ++i) indexes.push_back(i);
  count = std::min(count, indexes.size());
  auto longer = [this](size_t a, size_t b) { return Line(a).size() > Line(b).size(); };
  std::partial_sort(indexes.begin(), indexes.begin() + static_cast<std::ptrdiff_t>(count), indexes.end(),
                    longer);
  indexes.resize(count);
  return indexes;
}

std::vector<size_t> ViewerLines::Find(std::string_view needle, bool caseSensitive, size_t from) const {
  std::vector<size_t> lines;
  if (needle.empty() || needle.find('\n') != std::string_view::npos || from >= Count()) return lines;
  // The whole text is searched at once rather than line by line: a hit is then placed among the line starts,
  // and the search goes on at the next line, so that a line is listed once however often it matches. A
  // needle with an LF finds nothing, so a hit never spans two lines.
  const ByteSearch search(needle, caseSensitive ? kTables.same : kTables.folded);
  for (size_t offset = m_starts[from];;) {
    offset = search.Next(m_text, offset);
    if (offset == std::string_view::npos) break;
    auto next = std::upper_bound(m_starts.begin(), m_starts.end(), offset);
    lines.push_back(static_cast<size_t>(next - m_starts.begin()) - 1);
    if (next == m_starts.end()) break;
    offset = *next;
  }
  return lines;
}

std::vector<size_t> ViewerLines::FindAmong(std::string_view needle, bool caseSensitive,
                                           const std::vector<size_t>& lines) const {
  std::vector<size_t> found;
  if (needle.empty() || needle.find('\n') != std::string_view::npos) return found;
  const ByteSearch search(needle, caseSensitive ? kTables.same : kTables.folded);
  for (size_t line : lines)
    if (line < Count() && search.Next(Line(line), 0) != std::string_view::npos) found.push_back(line);
  return found;
}

}  // namespace hx
