#include "ftp/server/listing.h"

#include <cinttypes>
#include <cstdio>
#include <iterator>

#include "ftp/server/info_replies.h"
#include "ftp/server/listing_reader.h"

namespace hx::ftpd {
namespace {

std::string PermissionText(std::uint32_t mode) {
  std::string text = "rwxrwxrwx";
  for (int bit = 0; bit < 9; ++bit)
    if ((mode & (0400u >> bit)) == 0) text[static_cast<size_t>(bit)] = '-';
  return text;
}

// Half a mean Gregorian year, as ls counts six months.
constexpr std::time_t kSixMonths = 31556952 / 2;
// A clock a little ahead of the server's does not make its files look old.
constexpr std::time_t kAheadAllowed = 60 * 60;

}  // namespace

std::optional<ListEntry> EntryOf(const std::string& name, const struct stat& st) {
  if (!S_ISREG(st.st_mode) && !S_ISDIR(st.st_mode) && !S_ISLNK(st.st_mode)) return std::nullopt;
  ListEntry entry;
  entry.name = name;
  entry.isDirectory = S_ISDIR(st.st_mode);
  entry.size = entry.isDirectory ? 0 : static_cast<std::int64_t>(st.st_size);
  entry.modified = st.st_mtim.tv_sec;
  entry.modifiedNanos = st.st_mtim.tv_nsec;
  entry.mode = st.st_mode & 0777;
  entry.device = static_cast<std::uint64_t>(st.st_dev);
  entry.inode = static_cast<std::uint64_t>(st.st_ino);
  return entry;
}

std::string ListArgument(std::string_view argument) {
  if (argument.empty() || argument.front() != '-') return std::string(argument);
  size_t blank = argument.find(' ');
  return blank == std::string_view::npos ? std::string() : std::string(argument.substr(blank + 1));
}

bool ListsDotEntries(std::string_view argument) {
  if (argument.empty() || argument.front() != '-') return false;
  return argument.substr(0, argument.find(' ')).find('a') != std::string_view::npos;
}

bool ShowsTimeOfDay(std::time_t modified, std::time_t now) {
  return modified > now - kSixMonths && modified <= now + kAheadAllowed;
}

std::string FormatListLineAt(const ListEntry& entry, const std::tm& modified, bool timeOfDay,
                             bool namesOnly) {
  std::string name = NameForReply(entry.name);
  if (namesOnly) return name + "\r\n";
  static const char* const kMonths[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                        "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
  char when[32];
  if (timeOfDay)
    std::snprintf(when, sizeof when, "%02d:%02d", modified.tm_hour, modified.tm_min);
  else
    std::snprintf(when, sizeof when, " %d", modified.tm_year + 1900);
  char head[128];
  std::snprintf(head, sizeof head, "%c%s 1 owner group %9" PRId64 " %s %02d %s ",
                entry.isDirectory ? 'd' : '-', PermissionText(entry.mode).c_str(), entry.size,
                kMonths[(modified.tm_mon % 12 + 12) % 12], modified.tm_mday, when);
  return head + name + "\r\n";
}

std::string FormatListLine(const ListEntry& entry, std::time_t now, bool namesOnly) {
  std::tm local{};
  localtime_r(&entry.modified, &local);
  return FormatListLineAt(entry, local, ShowsTimeOfDay(entry.modified, now), namesOnly);
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

std::vector<ListEntry> FindEntries(std::shared_ptr<const RootedFileSystem> files,
                                   const std::string& pattern) {
  ListingReader reader(std::move(files), pattern);
  std::vector<ListEntry> entries;
  while (!reader.Done()) {
    std::vector<ListEntry> part = reader.NextEntries();
    entries.insert(entries.end(), std::make_move_iterator(part.begin()), std::make_move_iterator(part.end()));
  }
  return entries;
}

}  // namespace hx::ftpd
