#pragma once

#include <sys/stat.h>

#include <cstdint>
#include <ctime>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "app/rooted_file_system.h"

namespace hx::ftpd {

// One entry found by a directory search.
struct ListEntry {
  std::string name;  // without a directory part
  bool isDirectory = false;
  std::int64_t size = 0;
  std::time_t modified = 0;  // last modification
  std::uint32_t mode = 0;    // the permission bits (rwx for owner, group, others)
  long modifiedNanos = 0;    // the part of a second the file system keeps beyond `modified`
  std::uint64_t device = 0;  // with `inode`, what tells one file from another
  std::uint64_t inode = 0;
};

// The entry that a directory search shows for `name` as `st` describes it; nullopt for what no client can
// fetch (pipes, sockets, devices).
std::optional<ListEntry> EntryOf(const std::string& name, const struct stat& st);

// The argument of LIST and NLST without the client's options: "-l" alone names nothing, "-la sub" names sub.
std::string ListArgument(std::string_view argument);
// Whether LIST's options ask for "." and ".." ("-a", "-la", "-al"); without them, as ls, a listing leaves
// them out.
bool ListsDotEntries(std::string_view argument);

// Whether a listing shows a modification time with its hour and minute (within the last six months, and not
// more than an hour ahead of `now`, as ls -l does) rather than with its year.
bool ShowsTimeOfDay(std::time_t modified, std::time_t now);

// A listing line: the name alone for NLST; for LIST "%c%s 1 owner group %9lld %s %s" with the type ('d' for
// a directory, '-' otherwise) and the permission bits as Unix clients read them ("rwxr-xr-x"), the full
// 64-bit size, the modification time (English month, local time) as "%b %d %H:%M" when ShowsTimeOfDay, as
// "%b %d  %Y" otherwise, and the name. Both end in CR LF; a name's own line breaks are written as
// NameForReply writes them.
std::string FormatListLine(const ListEntry& entry, std::time_t now, bool namesOnly);
// The same with the modification time already broken down, for callers that fix the time zone.
std::string FormatListLineAt(const ListEntry& entry, const std::tm& modified, bool timeOfDay, bool namesOnly);

// What NLST puts before each name: the directory part of the client's argument, or the whole argument when
// it names a directory (`namedDirectory`), so that "NLST sub" gives "sub/a.txt" as clients expect.
std::string NameListPrefix(std::string_view argument, bool namedDirectory);

// File-name matching of the directory search: "*" any run, "?" one character; "*.*" matches every name,
// names without a dot included.
bool MatchWildcard(std::string_view pattern, std::string_view name);

// The whole directory search at once (see ListingReader, which the server uses to list a part at a time).
std::vector<ListEntry> FindEntries(std::shared_ptr<const RootedFileSystem> files, const std::string& pattern);

}  // namespace hx::ftpd
