#include "app/download_file.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <random>
#include <utility>

#include "app/file_io.h"

namespace hx {
namespace {

constexpr int kNameAttempts = 100;

// The file system cannot make an unnamed file: an old kernel says EISDIR, a file system without support
// EOPNOTSUPP.
bool UnnamedUnsupported(int error) {
  return error == EOPNOTSUPP || error == EISDIR || error == EINVAL;
}

// A hidden name beside the target, different at every call. The target's part is cut so that the whole
// stays a valid file name however long the target's is.
std::string TemporaryName(const std::string& target) {
  static constexpr char kLetters[] = "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789";
  thread_local std::mt19937 random{std::random_device{}()};
  std::uniform_int_distribution<size_t> pick(0, sizeof kLetters - 2);
  std::string name = "." + target.substr(0, 200) + ".";
  for (int i = 0; i < 8; ++i) name += kLetters[pick(random)];
  return name;
}

}  // namespace

DownloadFile::~DownloadFile() {
  Discard();
}

DownloadFile::DownloadFile(DownloadFile&& other) noexcept
    : m_dirFd(std::exchange(other.m_dirFd, -1)),
      m_fd(std::exchange(other.m_fd, -1)),
      m_name(std::move(other.m_name)),
      m_tempName(std::exchange(other.m_tempName, {})) {}

DownloadFile& DownloadFile::operator=(DownloadFile&& other) noexcept {
  if (this != &other) {
    Discard();
    m_dirFd = std::exchange(other.m_dirFd, -1);
    m_fd = std::exchange(other.m_fd, -1);
    m_name = std::move(other.m_name);
    m_tempName = std::exchange(other.m_tempName, {});
  }
  return *this;
}

DownloadFile DownloadFile::Create(const std::filesystem::path& target, const struct stat* existing,
                                  int& error, Temporary temporary) {
  return Create(*RootedFileSystem::Unconfined(), target.string(), existing, error, temporary);
}

DownloadFile DownloadFile::Create(const RootedFileSystem& files, const std::string& target,
                                  const struct stat* existing, int& error, Temporary temporary) {
  DownloadFile file;
  size_t slash = target.rfind('/');
  file.m_name = slash == std::string::npos ? target : target.substr(slash + 1);
  if (file.m_name.empty() || file.m_name == "." || file.m_name == "..") {
    error = EISDIR;
    return file;
  }
  std::string dir = slash == std::string::npos ? "." : slash == 0 ? "/" : target.substr(0, slash);
  file.m_dirFd = files.Open(dir, O_PATH | O_DIRECTORY);
  if (file.m_dirFd < 0) {
    error = errno;
    return file;
  }
  // Created with the mode of a new file, so that the umask applies as to any file the program creates.
  if (temporary == Temporary::PreferUnnamed) {
    file.m_fd = ::openat(file.m_dirFd, ".", O_TMPFILE | O_RDWR | O_CLOEXEC, 0644);
    if (file.m_fd < 0 && !UnnamedUnsupported(errno)) {
      error = errno;
      file.Discard();
      return file;
    }
  }
  for (int i = 0; file.m_fd < 0 && i < kNameAttempts; ++i) {
    std::string name = TemporaryName(file.m_name);
    file.m_fd = ::openat(file.m_dirFd, name.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
    if (file.m_fd >= 0) {
      file.m_tempName = std::move(name);
    } else if (errno != EEXIST) {
      break;
    }
  }
  if (file.m_fd < 0) {
    error = errno;
    file.Discard();
    return file;
  }
  if (existing != nullptr) {
    // The replacement is the same file to its users: the same owner where this process may say so (a change
    // of owner clears the set-id bits, so it comes first), and the same permissions.
    if (existing->st_uid != ::geteuid() || existing->st_gid != ::getegid())
      (void)::fchown(file.m_fd, existing->st_uid, existing->st_gid);
    (void)::fchmod(file.m_fd, existing->st_mode & 07777);
  }
  return file;
}

bool DownloadFile::Write(const void* data, size_t size) {
  return WriteAll(m_fd, data, size);
}

bool DownloadFile::Commit(Placement placement, int& error) {
  if (m_fd < 0) {
    error = EBADF;
    return false;
  }
  // On the disk before it replaces anything: after a crash the target is the old file or the new one.
  bool placed = false;
  if (::fdatasync(m_fd) != 0)
    error = errno;
  else
    placed = m_tempName.empty() ? PlaceUnnamed(placement, error) : PlaceNamed(placement, error);
  Discard();
  return placed;
}

bool DownloadFile::LinkUnnamed(const std::string& name) {
  // Linking the descriptor itself needs a privilege; its name under /proc does not.
  if (::linkat(m_fd, "", m_dirFd, name.c_str(), AT_EMPTY_PATH) == 0) return true;
  if (errno != ENOENT && errno != EPERM) return false;
  std::string self = "/proc/self/fd/" + std::to_string(m_fd);
  return ::linkat(AT_FDCWD, self.c_str(), m_dirFd, name.c_str(), AT_SYMLINK_FOLLOW) == 0;
}

bool DownloadFile::PlaceUnnamed(Placement placement, int& error) {
  if (placement == Placement::KeepExisting) {
    if (LinkUnnamed(m_name)) return true;
    error = errno;
    return false;
  }
  // A link never replaces a file: the file gets a name of its own first, which then replaces the target.
  for (int i = 0; i < kNameAttempts; ++i) {
    std::string name = TemporaryName(m_name);
    if (LinkUnnamed(name)) {
      m_tempName = std::move(name);
      return PlaceNamed(placement, error);
    }
    if (errno != EEXIST) break;
  }
  error = errno;
  return false;
}

bool DownloadFile::PlaceNamed(Placement placement, int& error) {
  bool placed = false;
  if (placement == Placement::Replace) {
    placed = ::renameat(m_dirFd, m_tempName.c_str(), m_dirFd, m_name.c_str()) == 0;
  } else {
    placed = ::renameat2(m_dirFd, m_tempName.c_str(), m_dirFd, m_name.c_str(), RENAME_NOREPLACE) == 0;
    // Where the file system cannot rename without replacing, a second link does the same; the temporary's
    // own name goes with Discard.
    if (!placed && (errno == EINVAL || errno == ENOSYS)) {
      if (::linkat(m_dirFd, m_tempName.c_str(), m_dirFd, m_name.c_str(), 0) != 0) {
        error = errno;
        return false;
      }
      return true;
    }
  }
  if (!placed) {
    error = errno;
    return false;
  }
  m_tempName.clear();
  return true;
}

void DownloadFile::Discard() {
  if (m_fd >= 0) ::close(m_fd);
  m_fd = -1;
  if (!m_tempName.empty() && m_dirFd >= 0) ::unlinkat(m_dirFd, m_tempName.c_str(), 0);
  m_tempName.clear();
  if (m_dirFd >= 0) ::close(m_dirFd);
  m_dirFd = -1;
}

}  // namespace hx
