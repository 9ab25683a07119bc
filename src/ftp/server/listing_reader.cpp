#include "ftp/server/listing_reader.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>

#include "ftp/server/info_replies.h"

namespace hx::ftpd {
namespace {

int DotRank(const std::string& name) {
  return name == "." ? 0 : name == ".." ? 1 : 2;
}

}  // namespace

ListingReader::ListingReader(std::shared_ptr<const RootedFileSystem> files, std::string pattern,
                             size_t partEntries, size_t sortLimit)
    : m_files(std::move(files)), m_partEntries(std::max<size_t>(partEntries, 1)), m_sortLimit(sortLimit) {
  size_t slash = pattern.rfind('/');
  m_dir = slash == std::string::npos ? std::string("./") : pattern.substr(0, slash + 1);
  m_namePattern = slash == std::string::npos ? pattern : pattern.substr(slash + 1);
}

void ListingReader::Start() {
  m_started = true;
  if (m_namePattern.empty()) return;
  if (m_namePattern.find_first_of("*?") == std::string::npos) {
    m_names.push_back(m_namePattern);
    return;
  }
  int fd = m_files->Open(m_dir, O_RDONLY | O_DIRECTORY);
  if (fd < 0) return;
  m_directory.reset(::fdopendir(fd));
  if (!m_directory) {
    ::close(fd);
    return;
  }
  ReadNames(m_sortLimit + 1);
  if (m_directory) return;  // too many to sort: they go in the directory's order
  std::sort(m_names.begin(), m_names.end(), [](const std::string& a, const std::string& b) {
    int ra = DotRank(a), rb = DotRank(b);
    return ra != rb ? ra < rb : a < b;
  });
}

void ListingReader::ReadNames(size_t count) {
  while (m_directory && count > 0) {
    const dirent* item = ::readdir(m_directory.get());
    if (!item) {
      m_directory.reset();
      break;
    }
    if (!MatchWildcard(m_namePattern, item->d_name)) continue;
    if (m_hideDots && DotRank(item->d_name) < 2) {
      m_found = true;
      continue;
    }
    m_names.emplace_back(item->d_name);
    --count;
  }
}

bool ListingReader::Describe(const std::string& name, ListEntry& entry) const {
  std::string path = m_dir + name;
  struct stat st {};
  // A link that points nowhere, or out of the root, is still listed, with what the link itself says. The
  // root's ".." lies outside it; it is listed, as every directory's is, with the root's own details.
  if (!m_files->Stat(path, st) && !m_files->LinkStat(path, st) && !(name == ".." && m_files->Stat(m_dir, st)))
    return false;
  std::optional<ListEntry> described = EntryOf(name, st);
  if (!described) return false;
  entry = std::move(*described);
  return true;
}

std::vector<ListEntry> ListingReader::NextEntries() {
  if (!m_started) Start();
  std::vector<ListEntry> entries;
  while (entries.size() < m_partEntries) {
    if (m_next == m_names.size()) {
      std::vector<std::string>().swap(m_names);
      m_next = 0;
      ReadNames(m_partEntries - entries.size());
      if (m_names.empty()) break;
    }
    ListEntry entry;
    if (Describe(m_names[m_next], entry)) entries.push_back(std::move(entry));
    ++m_next;
  }
  if (!entries.empty()) m_found = true;
  return entries;
}

ListingStyle LongListing(std::time_t now) {
  ListingStyle style;
  style.now = now;
  return style;
}

ListingPart NextListingPart(ListingReader& reader, const ListingStyle& style) {
  ListingPart part;
  std::string shownPrefix = NameForReply(style.prefix);
  for (const ListEntry& entry : reader.NextEntries()) {
    switch (style.kind) {
      case ListingStyle::Kind::Long:
        part.text += FormatListLine(entry, style.now, false);
        break;
      case ListingStyle::Kind::NamesOnly:
        part.text += shownPrefix + FormatListLine(entry, style.now, true);
        break;
      case ListingStyle::Kind::Facts:
        part.text += FactLine(entry, style.facts, style.rights);
        break;
    }
  }
  part.last = reader.Done();
  part.found = reader.Found();
  return part;
}

}  // namespace hx::ftpd
