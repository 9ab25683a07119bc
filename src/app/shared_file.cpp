#include "app/shared_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "app/file_io.h"

namespace hx {
namespace {

bool Reads(FileAccess a) {
  return a != FileAccess::Write;
}
bool Writes(FileAccess a) {
  return a != FileAccess::Read;
}
bool SharesRead(ShareMode s) {
  return s != ShareMode::Exclusive;
}
bool SharesWrite(ShareMode s) {
  return s == ShareMode::DenyNone;
}

bool Compatible(const FileShareTable::Claim& a, const FileShareTable::Claim& b) {
  if (Reads(a.access) && !SharesRead(b.share)) return false;
  if (Writes(a.access) && !SharesWrite(b.share)) return false;
  if (Reads(b.access) && !SharesRead(a.share)) return false;
  if (Writes(b.access) && !SharesWrite(a.share)) return false;
  return true;
}

}  // namespace

bool FileShareTable::TryClaim(const Claim& claim) {
  std::lock_guard guard(m_lock);
  auto [first, last] = m_open.equal_range({claim.dev, claim.ino});
  for (auto it = first; it != last; ++it)
    if (!Compatible(claim, it->second)) return false;
  m_open.emplace(std::make_pair(claim.dev, claim.ino), claim);
  return true;
}

void FileShareTable::Release(const Claim& claim) {
  std::lock_guard guard(m_lock);
  auto [first, last] = m_open.equal_range({claim.dev, claim.ino});
  for (auto it = first; it != last; ++it) {
    if (it->second.access == claim.access && it->second.share == claim.share) {
      m_open.erase(it);
      return;
    }
  }
}

SharedFile::~SharedFile() {
  Close();
}

SharedFile::SharedFile(SharedFile&& other) noexcept
    : m_fd(std::exchange(other.m_fd, -1)),
      m_table(std::exchange(other.m_table, nullptr)),
      m_claim(other.m_claim) {}

SharedFile& SharedFile::operator=(SharedFile&& other) noexcept {
  if (this != &other) {
    Close();
    m_fd = std::exchange(other.m_fd, -1);
    m_table = std::exchange(other.m_table, nullptr);
    m_claim = other.m_claim;
  }
  return *this;
}

int SharedFile::OpenFlags(FileAccess access, Disposition disposition) {
  int flags = O_CLOEXEC | (access == FileAccess::Read    ? O_RDONLY
                           : access == FileAccess::Write ? O_WRONLY
                                                         : O_RDWR);
  switch (disposition) {
    case Disposition::OpenExisting:
      break;
    case Disposition::CreateNew:
      flags |= O_CREAT | O_EXCL;
      break;
    // Truncation waits until the share claim is granted, so that a refused open never destroys a file
    // that another session is reading.
    case Disposition::CreateAlways:
    case Disposition::OpenAlways:
      flags |= O_CREAT;
      break;
  }
  return flags;
}

SharedFile SharedFile::Open(FileShareTable& table, const std::filesystem::path& path, FileAccess access,
                            ShareMode share, Disposition disposition, int& error) {
  int fd = ::open(path.c_str(), OpenFlags(access, disposition), 0644);
  if (fd < 0) {
    error = errno;
    return SharedFile();
  }
  return Claim(table, fd, access, share, disposition, error);
}

SharedFile SharedFile::Claim(FileShareTable& table, int fd, FileAccess access, ShareMode share,
                             Disposition disposition, int& error) {
  SharedFile file;
  struct stat st {};
  if (::fstat(fd, &st) != 0 || S_ISDIR(st.st_mode)) {
    error = S_ISDIR(st.st_mode) ? EISDIR : errno;
    ::close(fd);
    return file;
  }
  FileShareTable::Claim claim{st.st_dev, st.st_ino, access, share};
  if (!table.TryClaim(claim)) {
    error = EACCES;
    ::close(fd);
    return file;
  }
  if (disposition == Disposition::CreateAlways && st.st_size != 0 && ::ftruncate(fd, 0) != 0) {
    error = errno;
    table.Release(claim);
    ::close(fd);
    return file;
  }
  file.m_fd = fd;
  file.m_table = &table;
  file.m_claim = claim;
  error = 0;
  return file;
}

long SharedFile::Read(void* buffer, size_t size) {
  for (;;) {
    ssize_t n = ::read(m_fd, buffer, size);
    if (n >= 0 || errno != EINTR) return static_cast<long>(n);
  }
}

bool SharedFile::Write(const void* data, size_t size) {
  return WriteAll(m_fd, data, size);
}

bool SharedFile::Seek(std::uint64_t offset) {
  return ::lseek(m_fd, static_cast<off_t>(offset), SEEK_SET) != static_cast<off_t>(-1);
}

bool SharedFile::Truncate(std::uint64_t length) {
  return ::ftruncate(m_fd, static_cast<off_t>(length)) == 0;
}

std::uint64_t SharedFile::Size() const {
  return FileSize(m_fd).value_or(0);
}

void SharedFile::Close() {
  if (m_fd < 0) return;
  ::close(m_fd);
  m_fd = -1;
  if (m_table) m_table->Release(m_claim);
  m_table = nullptr;
}

}  // namespace hx
