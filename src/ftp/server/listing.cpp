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

}  // namespace

std::string ListArgument(std::string_view argument) {
  if (argument.empty() || argument.front() != '-') return std::string(argument);
  size_t blank = argument.find(' ');
  return blank == std::string_view::npos ? std::string() : std::string(argument.substr(blank + 1));
}

std::string FormatListLineAt(const ListEntry& entry, const std::tm& modified, bool namesOnly) {
  std::string name = NameForReply(entry.name);
  if (namesOnly) return name + "\r\n";
  static const char* const kMonths[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                        "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
  char head[96];
  std::snprintf(head, sizeof head, "%c%s 1 owner group %9" PRId64 " %s %02d %02d:%02d ",
                entry.isDirectory ? 'd' : '-', PermissionText(entry.mode).c_str(), entry.size,
                kMonths[(modified.tm_mon % 12 + 12) % 12], modified.tm_mday, modified.tm_hour,
                modified.tm_min);
  return head + name + "\r\n";
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
