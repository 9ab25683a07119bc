#include "app/config_store.h"

#include <sys/stat.h>

#include <algorithm>
#include <climits>
#include <vector>

#include "app/atomic_file.h"
#include "app/text_util.h"

namespace hx {
namespace {

constexpr size_t kMaxProfileString = 4095;
// Editors that save UTF-8 may put a byte-order mark before the first section.
constexpr std::string_view kByteOrderMark = "\xEF\xBB\xBF";

std::string_view Trim(std::string_view s) {
  size_t b = s.find_first_not_of(" \t\r\n");
  if (b == std::string_view::npos) return {};
  size_t e = s.find_last_not_of(" \t\r\n");
  return s.substr(b, e - b + 1);
}

// A section header "[name]": returns the name, or nullopt for any other line.
std::optional<std::string_view> SectionName(std::string_view line) {
  std::string_view t = Trim(line);
  if (t.size() < 2 || t.front() != '[') return std::nullopt;
  size_t close = t.find(']');
  if (close == std::string_view::npos) return std::nullopt;
  return Trim(t.substr(1, close - 1));
}

// A key line "name=value": returns the trimmed name, or nullopt.
std::optional<std::string_view> KeyName(std::string_view line) {
  std::string_view t = Trim(line);
  if (t.empty() || t.front() == ';') return std::nullopt;
  size_t eq = t.find('=');
  if (eq == std::string_view::npos) return std::nullopt;
  return Trim(t.substr(0, eq));
}

// The text after a leading byte-order mark, which is no part of the first line.
std::string_view WithoutByteOrderMark(std::string_view content) {
  if (content.starts_with(kByteOrderMark)) content.remove_prefix(kByteOrderMark.size());
  return content;
}

// The line end of a file is that of its first line; a file without one gets LF.
std::string_view LineEnd(std::string_view content) {
  size_t lf = content.find('\n');
  return lf != std::string_view::npos && lf > 0 && content[lf - 1] == '\r' ? "\r\n" : "\n";
}

std::vector<std::string_view> SplitLines(std::string_view content) {
  std::vector<std::string_view> lines;
  size_t start = 0;
  while (start < content.size()) {
    size_t end = content.find('\n', start);
    if (end == std::string_view::npos) end = content.size();
    std::string_view line = content.substr(start, end - start);
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    lines.push_back(line);
    start = end + 1;
  }
  return lines;
}

}  // namespace

int ParseProfileInt(std::string_view text) {
  size_t i = 0;
  while (i < text.size() && (text[i] == ' ' || text[i] == '\t')) ++i;
  bool negative = false;
  if (i < text.size() && (text[i] == '-' || text[i] == '+')) negative = text[i++] == '-';
  long long value = 0;
  bool any = false;
  for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
    any = true;
    if (value <= INT_MAX) value = value * 10 + (text[i] - '0');
  }
  if (!any) return 0;
  if (negative) value = -value;
  return static_cast<int>(std::clamp<long long>(value, INT_MIN, INT_MAX));
}

std::string SetProfileValue(const std::string& content, std::string_view section, std::string_view key,
                            std::string_view value) {
  std::string_view text = WithoutByteOrderMark(content);
  std::vector<std::string_view> lines = SplitLines(text);
  std::vector<std::string> out;
  out.reserve(lines.size() + 3);
  bool inSection = false;
  bool done = false;
  size_t lastEntry = 0;  // index in `out` after which a new key of the section goes
  bool sectionFound = false;
  for (std::string_view line : lines) {
    if (auto name = SectionName(line)) {
      inSection = !done && EqualsNoCase(*name, section);
      if (inSection) {
        sectionFound = true;
        lastEntry = out.size() + 1;
      }
    } else if (inSection && !done) {
      if (auto k = KeyName(line); k && EqualsNoCase(*k, key)) {
        out.push_back(std::string(*k) + "=" + std::string(value));
        done = true;
        continue;
      }
      if (!Trim(line).empty()) lastEntry = out.size() + 1;
    }
    out.emplace_back(line);
  }
  if (!done) {
    std::string entry = std::string(key) + "=" + std::string(value);
    if (sectionFound) {
      out.insert(out.begin() + static_cast<long>(lastEntry), entry);
    } else {
      out.push_back("[" + std::string(section) + "]");
      out.push_back(entry);
    }
  }
  // The rewrite keeps the mark and the line end that the file came with.
  std::string result(content.substr(0, content.size() - text.size()));
  std::string_view end = LineEnd(text);
  for (const std::string& line : out) {
    result += line;
    result += end;
  }
  return result;
}

ConfigStore::ConfigStore(std::filesystem::path file) : m_path(std::move(file)) {}

std::optional<std::string> ConfigStore::Lookup(std::string_view section, std::string_view key) const {
  std::lock_guard guard(m_cacheLock);
  struct stat st {};
  if (::stat(m_path.c_str(), &st) != 0) {
    m_cache.clear();
    m_cacheValid = false;
    return std::nullopt;
  }
  long long mtimeNs = static_cast<long long>(st.st_mtim.tv_sec) * 1000000000LL + st.st_mtim.tv_nsec;
  if (!m_cacheValid || st.st_dev != m_cacheDev || st.st_ino != m_cacheIno || st.st_size != m_cacheSize ||
      mtimeNs != m_cacheMtimeNs) {
    m_cache.clear();
    m_cacheValid = false;
    auto content = ReadWholeFile(m_path);
    if (!content) return std::nullopt;
    Keys* current = nullptr;
    for (std::string_view line : SplitLines(WithoutByteOrderMark(*content))) {
      if (auto name = SectionName(line)) {
        current = &m_cache[ToLower(*name)];
      } else if (auto k = KeyName(line); k && current) {
        std::string_view t = Trim(line);
        std::string_view v = Trim(t.substr(t.find('=') + 1));
        if (v.size() >= 2 && (v.front() == '"' || v.front() == '\'') && v.back() == v.front())
          v = v.substr(1, v.size() - 2);
        current->emplace(ToLower(*k), std::string(v));  // the first occurrence wins
      }
    }
    m_cacheValid = true;
    m_cacheDev = st.st_dev;
    m_cacheIno = st.st_ino;
    m_cacheSize = st.st_size;
    m_cacheMtimeNs = mtimeNs;
  }
  auto s = m_cache.find(ToLower(section));
  if (s == m_cache.end()) return std::nullopt;
  auto k = s->second.find(ToLower(key));
  if (k == s->second.end()) return std::nullopt;
  return k->second;
}

int ConfigStore::GetProfileInt(std::string_view section, std::string_view key, int defaultValue) const {
  auto value = Lookup(section, key);
  return value ? ParseProfileInt(*value) : defaultValue;
}

std::string ConfigStore::GetProfileString(std::string_view section, std::string_view key,
                                          std::string_view defaultValue) const {
  std::string value = Lookup(section, key).value_or(std::string(defaultValue));
  if (value.size() > kMaxProfileString) value.resize(kMaxProfileString);
  return value;
}

std::string ConfigStore::GetWholeProfileString(std::string_view section, std::string_view key,
                                               std::string_view defaultValue) const {
  return Lookup(section, key).value_or(std::string(defaultValue));
}

void ConfigStore::WriteProfileInt(std::string_view section, std::string_view key, int value) {
  WriteProfileString(section, key, std::to_string(value));
}

void ConfigStore::WriteProfileString(std::string_view section, std::string_view key, std::string_view value) {
  // A value never spans lines: a line break would turn the rest into a key of its own.
  std::string clean(value.substr(0, std::min(value.find_first_of("\r\n"), value.size())));
  RewriteFileAtomically(
      m_path, [&](const std::string& current) { return SetProfileValue(current, section, key, clean); });
  std::lock_guard guard(m_cacheLock);
  m_cacheValid = false;
}

}  // namespace hx
