#include "app/text_size_cache.h"

#include <sys/stat.h>

namespace hx {

std::optional<FileVersionKey> FileVersionOf(int fd) {
  struct stat st {};
  if (::fstat(fd, &st) != 0) return std::nullopt;
  auto nanoseconds = [](const timespec& t) {
    return static_cast<std::int64_t>(t.tv_sec) * 1000000000 + t.tv_nsec;
  };
  return FileVersionKey{st.st_dev, st.st_ino, static_cast<std::int64_t>(st.st_size), nanoseconds(st.st_mtim),
                        nanoseconds(st.st_ctim)};
}

std::optional<std::uint64_t> TextSizeCache::Find(const FileVersionKey& key) {
  std::lock_guard guard(m_lock);
  for (auto it = m_entries.begin(); it != m_entries.end(); ++it) {
    if (it->key == key) {
      m_entries.splice(m_entries.begin(), m_entries, it);
      return it->textSize;
    }
  }
  return std::nullopt;
}

void TextSizeCache::Store(const FileVersionKey& key, std::uint64_t textSize) {
  std::lock_guard guard(m_lock);
  // An older version of the same file is of no use any more.
  m_entries.remove_if([&](const Entry& e) { return e.key.device == key.device && e.key.inode == key.inode; });
  m_entries.push_front({key, textSize});
  if (m_entries.size() > kCapacity) m_entries.pop_back();
}

}  // namespace hx
