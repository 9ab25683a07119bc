#pragma once

#include <cstdint>
#include <ctime>
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
};

// The argument of LIST and NLST without the client's options: "-l" alone names nothing, "-la sub" names sub.
std::string ListArgument(std::string_view argument);

// A listing line: the name alone for NLST; for LIST "%c%s 1 owner group %9lld %s %s" with the type ('d' for
// a directory, '-' otherwise) and the permission bits as Unix clients read them ("rwxr-xr-x"), the full
// 64-bit size, the modification time as "%b %d %H:%M" (English month, local time) and the name. Both end in
// CR LF; a name's own line breaks are written as NameForReply writes them.
std::string FormatListLine(const ListEntry& entry, bool namesOnly);
// The same with the modification time already broken down, for callers that fix the time zone.
std::string FormatListLineAt(const ListEntry& entry, const std::tm& modified, bool namesOnly);

// What NLST puts before each name: the directory part of the client's argument, or the whole argument when
// it names a directory (`namedDirectory`), so that "NLST sub" gives "sub/a.txt" as clients expect.
std::string NameListPrefix(std::string_view argument, bool namedDirectory);

// File-name matching of the directory search: "*" any run, "?" one character; "*.*" matches every name,
// names without a dot included.
bool MatchWildcard(std::string_view pattern, std::string_view name);

// The whole directory search at once (see ListingReader, which the server uses to list a part at a time).
std::vector<ListEntry> FindEntries(std::shared_ptr<const RootedFileSystem> files, const std::string& pattern);

}  // namespace hx::ftpd
