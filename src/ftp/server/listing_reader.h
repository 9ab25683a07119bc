#pragma once

#include <dirent.h>

#include <cstddef>
#include <memory>
#include <string>
#include <vector>

#include "app/rooted_file_system.h"
#include "ftp/server/listing.h"
#include "ftp/server/mlst_facts.h"

namespace hx::ftpd {

// The directory search of LIST, NLST and STAT, a part at a time, so that a folder of any size is listed in
// bounded memory and each part is quick enough to be done between the steps of a transfer.
//
// `pattern` is a local path whose last component may hold wildcards. Without a wildcard it names one entry.
// With one, the directory's names are read and matched: a directory of up to `sortLimit` matching names
// comes sorted by name, "." and ".." first, as a listing always has; a larger one (only its first
// `sortLimit` names are ever held) comes in the order the directory gives. Each part holds up to
// `partEntries` entries, and only the last part may hold fewer; an empty first part means nothing was found,
// unless "." and ".." were matched and left out (Found). Everything is read through `files`: a link that
// leads out of the root is listed as the link itself.
//
// Not thread-safe: one thread at a time (the parts are read on the blocking pool, one after the other).
class ListingReader {
 public:
  static constexpr size_t kPartEntries = 10000;
  static constexpr size_t kSortLimit = 100000;

  ListingReader(std::shared_ptr<const RootedFileSystem> files, std::string pattern,
                size_t partEntries = kPartEntries, size_t sortLimit = kSortLimit);

  // Leaves "." and ".." out, as NLST and LIST without "-a" do; called before the first part.
  void HideDots() { m_hideDots = true; }

  std::vector<ListEntry> NextEntries();
  // True once every entry has been handed out.
  bool Done() const { return m_started && m_next == m_names.size() && !m_directory; }
  // True once the search has found anything: an entry handed out, or "." or ".." left out. An empty
  // folder is found; a pattern that matches nothing, a missing folder or file is not.
  bool Found() const { return m_found; }

 private:
  struct CloseDirectory {
    void operator()(DIR* dir) const { ::closedir(dir); }
  };

  void Start();
  // Reads up to `count` more matching names into m_names; closes the directory at its end.
  void ReadNames(size_t count);
  bool Describe(const std::string& name, ListEntry& entry) const;

  std::shared_ptr<const RootedFileSystem> m_files;
  std::string m_dir;          // the directory part of the pattern, ending in "/"
  std::string m_namePattern;  // its last component
  size_t m_partEntries;
  size_t m_sortLimit;
  bool m_started = false;
  bool m_hideDots = false;
  bool m_found = false;
  std::unique_ptr<DIR, CloseDirectory> m_directory;  // open while names remain unread
  std::vector<std::string> m_names;                  // read, not yet handed out from m_next on
  size_t m_next = 0;
};

// One part of a listing as the client gets it: its lines, whether more follow, and (in the first part)
// whether the search found anything at all.
struct ListingPart {
  std::string text;
  bool last = true;
  bool found = false;
};

// How a listing's lines are written.
struct ListingStyle {
  enum class Kind { Long, NamesOnly, Facts };
  Kind kind = Kind::Long;
  std::time_t now = 0;  // Long: what counts as recent
  std::string prefix;   // NamesOnly: before each name
  FactSet facts = kAllFacts;
  FactRights rights;  // Facts: for the perm fact
};

// The style of LIST and STAT.
ListingStyle LongListing(std::time_t now);

// The next part of `reader` as lines in `style`.
ListingPart NextListingPart(ListingReader& reader, const ListingStyle& style);

}  // namespace hx::ftpd
