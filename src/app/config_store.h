#pragma once

#include <sys/types.h>

#include <filesystem>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>

namespace hx {

// The INI file of the program with the semantics of private-profile files: sections and keys are found
// case-insensitively (after a UTF-8 byte-order mark at the start of the file, if any), every read looks at
// the file as it is now (a change by any writer is seen by the next read), and every write rewrites the whole
// file atomically. Reads are cheap: the parsed file is kept and parsed again only when the file's identity,
// size or modification time changed.
class ConfigStore {
 public:
  explicit ConfigStore(std::filesystem::path file);

  // The value of the key; `defaultValue` when it is missing; 0 when its text does not begin with a number.
  int GetProfileInt(std::string_view section, std::string_view key, int defaultValue) const;
  // The value of the key (at most 4,095 characters); `defaultValue` when it is missing.
  std::string GetProfileString(std::string_view section, std::string_view key,
                               std::string_view defaultValue = {}) const;
  // The same without the length limit, for values that may be long (the address lists).
  std::string GetWholeProfileString(std::string_view section, std::string_view key,
                                    std::string_view defaultValue = {}) const;
  // Write failures are silent: the store then keeps what the file holds.
  void WriteProfileInt(std::string_view section, std::string_view key, int value);
  void WriteProfileString(std::string_view section, std::string_view key, std::string_view value);

  const std::filesystem::path& Path() const { return m_path; }

 private:
  using Keys = std::map<std::string, std::string>;  // lower-case key -> value
  using Sections = std::map<std::string, Keys>;     // lower-case section -> keys

  std::optional<std::string> Lookup(std::string_view section, std::string_view key) const;

  std::filesystem::path m_path;
  mutable std::mutex m_cacheLock;
  mutable Sections m_cache;
  mutable bool m_cacheValid = false;
  mutable dev_t m_cacheDev = 0;
  mutable ino_t m_cacheIno = 0;
  mutable off_t m_cacheSize = 0;
  mutable long long m_cacheMtimeNs = 0;
};

// Parses the leading integer of a profile value as the platform does: optional blanks, an optional sign,
// then digits; anything else gives 0. Values beyond the range of int are clamped.
int ParseProfileInt(std::string_view text);

// Returns `content` with the key set to `value` in the section, keeping every other line as it was:
// an existing key (matched case-insensitively) keeps its spelling, a new key goes after the last entry of its
// section, and a missing section is appended at the end. A leading UTF-8 byte-order mark stays, and every
// line ends as the first line of `content` does (LF for a file without a line end).
std::string SetProfileValue(const std::string& content, std::string_view section, std::string_view key,
                            std::string_view value);

}  // namespace hx
