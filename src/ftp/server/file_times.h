#pragma once

#include <ctime>
#include <optional>
#include <string>
#include <string_view>

namespace hx::ftpd {

// A time as clients send it to set a file's times: "YYYYMMDDHHMMSS" in UTC, optionally followed by "." and
// fractions of a second (nanoseconds at most are kept). nullopt for anything else, a day or an hour that
// does not exist included.
std::optional<std::timespec> ParseFileTime(std::string_view text);

// What a command asks to set on a path: the modification time, and the access time when the command
// names one.
struct TimeChange {
  std::string path;          // as the client named it
  std::string modifiedText;  // the modification time as the client sent it
  std::timespec modified{};
  std::optional<std::timespec> accessed;
};

// MFMT's argument: "time path".
std::optional<TimeChange> ParseMfmtArgument(std::string_view argument);

// SITE's argument when it is UTIME (the word compared without regard to ASCII case): what follows "UTIME ",
// empty when nothing does. nullopt for every other SITE command.
std::optional<std::string_view> SiteUtimeArgument(std::string_view siteArgument);

// SITE UTIME's argument after "UTIME ", in either form that clients send: "path atime mtime ctime UTC" (the
// path may hold blanks; the change time cannot be set and is ignored) or "time path", which sets both
// times.
std::optional<TimeChange> ParseUtimeArgument(std::string_view argument);

}  // namespace hx::ftpd
