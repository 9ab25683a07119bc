#include "ftp/server/listing.h"

#include <sys/stat.h>

#include <algorithm>
#include <cinttypes>
#include <cstdio>

namespace hx::ftpd {
namespace {

bool StatEntry(const RootedFileSystem& files, const std::string& path, ListEntry& entry) {
  struct stat st {};
  // A link that points nowhere, or out of the root, is still listed, with what the link itself says.
  if (!files.Stat(path, st) && !files.LinkStat(path, st)) return false;
  // Pipes, sockets and devices are not files a client can fetch.
  if (!S_ISREG(st.st_mode) && !S_ISDIR(st.st_mode) && !S_ISLNK(st.st_mode)) return false;
  entry.isDirectory = S_ISDIR(st.st_mode);
  entry.size = entry.isDirectory ? 0 : static_cast<std::int64_t>(st.st_size);
  entry.modified = st.st_mtime;
  entry.mode = st.st_mode & 0777;
  return true;
}

std::string PermissionText(std::uint32_t mode) {
  std::string text = "rwxrwxrwx";
  for (int bit = 0; bit < 9; ++bit)
    if ((mode & (0400u >> bit)) == 0) text[static_cast<size_t>(bit)] = '-';
  return text;
}

int DotRank(const std::string& name) {
  return name == "." ? 0 : name == ".." ? 1 : 2;
}

}  // namespace

std::string ListArgument(std::string_view argument) {
  if (argument.empty() || argument.front() != '-') return std::string(argument);
  size_t blank = argument.find(' ');
  return blank == std::string_view::npos ? std::string() : std::string(argument.substr(blank + 1));
}

std::string FormatListLineAt(const ListEntry& entry, const std::tm& modified, bool namesOnly) {
  if (namesOnly) return entry.name + "\r\n";
  static const char* const kMonths[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                        "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
  char head[96];
  std::snprintf(head, sizeof head, "%c%s 1 owner group %9" PRId64 " %s %02d %02d:%02d ",
                entry.isDirectory ? 'd' : '-', PermissionText(entry.mode).c_str(), entry.size,
                kMonths[(modified.tm_mon % 12 + 12) % 12], modified.tm_mday, modified.tm_hour,
                modified.tm_min);
  return head + entry.name + "\r\n";
}

std::string FormatListLine(const ListEntry& entry, bool namesOnly) {
  std::tm local{};
  localtime_r(&entry.modified, &local);
  return FormatListLineAt(entry, local, namesOnly);
}

std::string NameListPrefix(std::string_view argument, bool namedDirectory) {
  if (namedDirectory) {
    std::string prefix(argument);
    if (!prefix.empty() && prefix.back() != '/' && prefix.back() != '\\') prefix += '/';
    return prefix;
  }
  size_t slash = argument.find_last_of("/\\");
  return slash == std::string_view::npos ? std::string() : std::string(argument.substr(0, slash + 1));
}

bool MatchWildcard(std::string_view pattern, std::string_view name) {
  if (pattern == "*.*" || pattern == "*") return true;
  // Greedy matching with one back-tracking point, the last "*" seen.
  size_t p = 0, n = 0, starP = std::string_view::npos, starN = 0;
  while (n < name.size()) {
    if (p < pattern.size() && (pattern[p] == '?' || pattern[p] == name[n])) {
      ++p;
      ++n;
    } else if (p < pattern.size() && pattern[p] == '*') {
      starP = p++;
      starN = n;
    } else if (starP != std::string_view::npos) {
      p = starP + 1;
      n = ++starN;
    } else {
      return false;
    }
  }
  while (p < pattern.size() && pattern[p] == '*') ++p;
  return p == pattern.size();
}

std::vector<ListEntry> FindEntries(const RootedFileSystem& files, const std::string& pattern) {
  std::vector<ListEntry> entries;
  size_t slash = pattern.rfind('/');
  std::string dir = slash == std::string::npos ? std::string(".") : pattern.substr(0, slash + 1);
  std::string namePattern = slash == std::string::npos ? pattern : pattern.substr(slash + 1);
  if (namePattern.empty()) return entries;

  if (namePattern.find_first_of("*?") == std::string::npos) {
    ListEntry entry;
    entry.name = namePattern;
    if (StatEntry(files, pattern, entry)) entries.push_back(std::move(entry));
    return entries;
  }

  std::optional<std::vector<std::string>> names = files.ReadDirectory(dir);
  if (!names) return entries;
  for (std::string& name : *names) {
    if (!MatchWildcard(namePattern, name)) continue;
    ListEntry entry;
    entry.name = std::move(name);
    bool found = StatEntry(files, dir + entry.name, entry);
    // The root's ".." lies outside it; it is listed, as every directory's is, with the root's own details.
    if (!found && entry.name == "..") found = StatEntry(files, dir, entry);
    if (found) entries.push_back(std::move(entry));
  }
  std::sort(entries.begin(), entries.end(), [](const ListEntry& a, const ListEntry& b) {
    int ra = DotRank(a.name), rb = DotRank(b.name);
    return ra != rb ? ra < rb : a.name < b.name;
  });
  return entries;
}

}  // namespace hx::ftpd
