#pragma once

#include <sys/types.h>

#include <cstddef>
#include <cstdint>
#include <list>
#include <mutex>
#include <optional>

namespace hx {

// What a file's content is known by without reading it: a file whose key is unchanged has the same bytes.
// The change time is part of it, as it cannot be set back the way the modification time can.
struct FileVersionKey {
  dev_t device = 0;
  ino_t inode = 0;
  std::int64_t size = 0;
  std::int64_t modifiedNs = 0;
  std::int64_t changedNs = 0;

  bool operator==(const FileVersionKey&) const = default;
};

// The key of the open file `fd`; nullopt when fstat fails.
std::optional<FileVersionKey> FileVersionOf(int fd);

// The sizes of files as sent in text mode (every LF as CR LF), which takes reading the whole file to know,
// for the last kCapacity file versions asked for. Shared by every session; safe from any thread.
class TextSizeCache {
 public:
  static constexpr size_t kCapacity = 256;

  std::optional<std::uint64_t> Find(const FileVersionKey& key);
  void Store(const FileVersionKey& key, std::uint64_t textSize);

 private:
  struct Entry {
    FileVersionKey key;
    std::uint64_t textSize;
  };
  std::mutex m_lock;
  std::list<Entry> m_entries;  // the most recently used first
};

}  // namespace hx
