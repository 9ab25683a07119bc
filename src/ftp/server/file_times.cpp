#include "ftp/server/file_times.h"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <vector>

#include "app/text_util.h"

namespace hx::ftpd {
namespace {

constexpr size_t kTimeDigits = 14;

bool AllDigits(std::string_view text) {
  return !text.empty() && std::all_of(text.begin(), text.end(),
                                      [](char c) { return std::isdigit(static_cast<unsigned char>(c)); });
}

int Number(std::string_view digits) {
  int value = 0;
  std::from_chars(digits.data(), digits.data() + digits.size(), value);
  return value;
}

// Splits off the last blank-separated word of `text`; false when there is none before it.
bool TakeLastWord(std::string_view& text, std::string_view& word) {
  size_t blank = text.rfind(' ');
  if (blank == std::string_view::npos) return false;
  word = text.substr(blank + 1);
  text = text.substr(0, blank);
  return true;
}

}  // namespace

std::optional<std::timespec> ParseFileTime(std::string_view text) {
  std::string_view fraction;
  if (text.size() > kTimeDigits) {
    if (text[kTimeDigits] != '.') return std::nullopt;
    fraction = text.substr(kTimeDigits + 1);
    if (!AllDigits(fraction)) return std::nullopt;
    text = text.substr(0, kTimeDigits);
  }
  if (text.size() != kTimeDigits || !AllDigits(text)) return std::nullopt;
  std::tm fields{};
  fields.tm_year = Number(text.substr(0, 4)) - 1900;
  fields.tm_mon = Number(text.substr(4, 2)) - 1;
  fields.tm_mday = Number(text.substr(6, 2));
  fields.tm_hour = Number(text.substr(8, 2));
  fields.tm_min = Number(text.substr(10, 2));
  fields.tm_sec = Number(text.substr(12, 2));
  std::tm wanted = fields;
  std::time_t seconds = timegm(&fields);
  // timegm carries a 31st of June into July; such a date is refused rather than moved.
  if (fields.tm_year != wanted.tm_year || fields.tm_mon != wanted.tm_mon ||
      fields.tm_mday != wanted.tm_mday || fields.tm_hour != wanted.tm_hour ||
      fields.tm_min != wanted.tm_min || fields.tm_sec != wanted.tm_sec)
    return std::nullopt;
  long nanoseconds = 0;
  for (size_t i = 0; i < 9; ++i)
    nanoseconds = nanoseconds * 10 + (i < fraction.size() ? fraction[i] - '0' : 0);
  return std::timespec{seconds, nanoseconds};
}

std::optional<TimeChange> ParseMfmtArgument(std::string_view argument) {
  size_t blank = argument.find(' ');
  if (blank == std::string_view::npos || blank + 1 == argument.size()) return std::nullopt;
  std::optional<std::timespec> modified = ParseFileTime(argument.substr(0, blank));
  if (!modified) return std::nullopt;
  return TimeChange{std::string(argument.substr(blank + 1)), std::string(argument.substr(0, blank)),
                    *modified, std::nullopt};
}

std::optional<std::string_view> SiteUtimeArgument(std::string_view siteArgument) {
  constexpr std::string_view kUtime = "UTIME";
  if (siteArgument.size() < kUtime.size() || !EqualsNoCase(siteArgument.substr(0, kUtime.size()), kUtime))
    return std::nullopt;
  std::string_view rest = siteArgument.substr(kUtime.size());
  if (rest.empty()) return rest;
  if (rest.front() != ' ') return std::nullopt;
  return rest.substr(1);
}

std::optional<TimeChange> ParseUtimeArgument(std::string_view argument) {
  // The long form is taken when all of it fits; anything else is read as the short form, so that a name
  // that merely ends in " UTC" still works there.
  std::string_view rest = argument;
  std::string_view zone, changed, modifiedText, accessedText;
  if (TakeLastWord(rest, zone) && zone == "UTC" && TakeLastWord(rest, changed) &&
      TakeLastWord(rest, modifiedText) && TakeLastWord(rest, accessedText) && !rest.empty()) {
    std::optional<std::timespec> accessed = ParseFileTime(accessedText);
    std::optional<std::timespec> modified = ParseFileTime(modifiedText);
    if (accessed && modified && ParseFileTime(changed))
      return TimeChange{std::string(rest), std::string(modifiedText), *modified, accessed};
  }
  std::optional<TimeChange> change = ParseMfmtArgument(argument);
  if (change) change->accessed = change->modified;
  return change;
}

}  // namespace hx::ftpd
