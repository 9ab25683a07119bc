#pragma once

#include <sys/types.h>

#include <cstdint>
#include <filesystem>
#include <map>
#include <memory>
#include <mutex>
#include <utility>
#include <vector>

namespace hx {

// Who else may open a file while one session has it open, as the sessions of the program see it.
enum class ShareMode {
  Exclusive,  // nobody else
  DenyWrite,  // others may read
  DenyNone,   // others may read and write
};
enum class FileAccess { Read, Write, ReadWrite };
enum class Disposition {
  OpenExisting,  // fails when missing
  CreateNew,     // fails when it exists
  CreateAlways,  // creates or truncates
  OpenAlways,    // opens or creates, keeps the content
};

// The process-wide table of open files, keyed by device and inode, that emulates share modes between
// sessions: an open is refused when its access conflicts with another open's share mode, or its share mode
// with another open's access.
class FileShareTable {
 public:
  struct Claim {
    dev_t dev;
    ino_t ino;
    FileAccess access;
    ShareMode share;
  };
  bool TryClaim(const Claim& claim);
  void Release(const Claim& claim);

 private:
  std::mutex m_lock;
  std::multimap<std::pair<dev_t, ino_t>, Claim> m_open;
};

// An open file that holds its share claim until it is closed.
class SharedFile {
 public:
  SharedFile() = default;
  ~SharedFile();
  SharedFile(SharedFile&& other) noexcept;
  SharedFile& operator=(SharedFile&& other) noexcept;

  // Opens the file; on failure returns a closed file and sets `error` to the errno value (EACCES for a share
  // conflict, so callers see it as "in use").
  static SharedFile Open(FileShareTable& table, const std::filesystem::path& path, FileAccess access,
                         ShareMode share, Disposition disposition, int& error);
  // The open(2) flags that Open uses for an access and a disposition.
  static int OpenFlags(FileAccess access, Disposition disposition);
  // Takes over `fd`, opened with OpenFlags, and claims it; on failure closes it and sets `error` as Open
  // does.
  static SharedFile Claim(FileShareTable& table, int fd, FileAccess access, ShareMode share,
                          Disposition disposition, int& error);

  bool IsOpen() const { return m_fd >= 0; }
  // The descriptor, for calls that move data without a copy through user space (sendfile). It stays owned
  // by the file.
  int NativeHandle() const { return m_fd; }
  // Reads up to `size` bytes; returns the count (0 at the end) or -1 on an error.
  long Read(void* buffer, size_t size);
  // Writes all bytes; false on an error (disk full and the like).
  bool Write(const void* data, size_t size);
  bool Seek(std::uint64_t offset);
  // Cuts the file to `length` bytes.
  bool Truncate(std::uint64_t length);
  std::uint64_t Size() const;
  void Close();

 private:
  int m_fd = -1;
  FileShareTable* m_table = nullptr;
  FileShareTable::Claim m_claim{};
};

}  // namespace hx
