#include "app/atomic_file.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <mutex>
#include <random>

#include "app/file_io.h"
#include "app/program_file.h"

namespace hx {
namespace {

// The one lock of the process around every whole-file rewrite (configuration and password files).
std::mutex& RewriteLock() {
  static std::mutex lock;
  return lock;
}

// The mode is set before the content goes in, so that no other mode ever covers it; the content is on the
// disk before the rename makes it the file.
bool FillFile(int fd, const std::string& content, mode_t mode) {
  return ::fchmod(fd, mode) == 0 && WriteAll(fd, content.data(), content.size()) && ::fsync(fd) == 0;
}

// A fresh name beside `path` in the "NAME.XXXXXX" style of mkstemp.
std::string TemporaryName(const std::filesystem::path& path) {
  static constexpr char kChars[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
  thread_local std::mt19937 random{std::random_device{}()};
  std::uniform_int_distribution<size_t> pick(0, sizeof kChars - 2);
  std::string name = path.string() + ".";
  for (int i = 0; i < 6; ++i) name += kChars[pick(random)];
  return name;
}

// Gives the unnamed file `fd` a temporary name beside `path`. A link cannot replace an existing file, so
// the target itself is reached by a rename afterwards.
bool LinkUnnamed(int fd, const std::filesystem::path& path, std::string& name) {
  const std::string self = "/proc/self/fd/" + std::to_string(fd);
  for (int attempt = 0; attempt < 100; ++attempt) {
    name = TemporaryName(path);
    if (::linkat(AT_FDCWD, self.c_str(), AT_FDCWD, name.c_str(), AT_SYMLINK_FOLLOW) == 0) return true;
    // Without /proc the descriptor is linked directly, which older kernels grant to privileged callers only.
    if (errno == ENOENT && ::linkat(fd, "", AT_FDCWD, name.c_str(), AT_EMPTY_PATH) == 0) return true;
    if (errno != EEXIST) return false;
  }
  return false;
}

enum class Written { kDone, kFailed, kUnsupported };

// The content goes into a file without a name, which gets one only when it is complete: a process killed
// while writing leaves nothing behind. kUnsupported when the file system (or kernel) has no unnamed files
// or cannot link them.
Written WriteUnnamed(const std::filesystem::path& path, const std::string& content, mode_t mode,
                     std::string& temp) {
  std::filesystem::path dir = path.parent_path();
  if (dir.empty()) dir = ".";
  int fd = ::open(dir.c_str(), O_TMPFILE | O_WRONLY | O_CLOEXEC, mode);
  if (fd < 0) {
    return (errno == EOPNOTSUPP || errno == EISDIR || errno == EINVAL) ? Written::kUnsupported
                                                                       : Written::kFailed;
  }
  if (!FillFile(fd, content, mode)) {
    ::close(fd);
    return Written::kFailed;
  }
  bool linked = LinkUnnamed(fd, path, temp);
  bool closed = ::close(fd) == 0;
  if (!linked) return Written::kUnsupported;
  if (!closed) {
    ::unlink(temp.c_str());
    return Written::kFailed;
  }
  return Written::kDone;
}

// The content goes into a named temporary from the start, removed again on every failure.
bool WriteNamed(const std::filesystem::path& path, const std::string& content, mode_t mode,
                std::string& temp) {
  temp = path.string() + ".XXXXXX";
  int fd = ::mkostemp(temp.data(), O_CLOEXEC);
  if (fd < 0) return false;
  bool ok = FillFile(fd, content, mode);
  ok = (::close(fd) == 0) && ok;
  if (!ok) ::unlink(temp.c_str());
  return ok;
}

}  // namespace

std::optional<std::string> ReadWholeFile(const std::filesystem::path& path) {
  int fd = OpenProgramFile(path, O_RDONLY, 0);
  if (fd < 0) return std::nullopt;
  std::optional<std::string> content = ReadToEnd(fd);
  int error = errno;
  ::close(fd);
  errno = error;
  return content;
}

bool RewriteFileAtomically(const std::filesystem::path& path,
                           const std::function<std::optional<std::string>(const std::string& current)>& edit,
                           mode_t newFileMode) {
  std::lock_guard guard(RewriteLock());
  std::optional<std::string> current = ReadWholeFile(path);
  // A file that is there but cannot be read must not be replaced by an edit of nothing.
  if (!current && errno != ENOENT) return false;
  std::optional<std::string> next = edit(current.value_or(std::string()));
  if (!next) return true;

  struct stat old {};
  mode_t mode = ::lstat(path.c_str(), &old) == 0 ? (old.st_mode & 07777) : newFileMode;
  std::string temp;
  Written written = WriteUnnamed(path, *next, mode, temp);
  if (written == Written::kUnsupported)
    written = WriteNamed(path, *next, mode, temp) ? Written::kDone : Written::kFailed;
  if (written != Written::kDone) return false;
  if (::rename(temp.c_str(), path.c_str()) != 0) {
    ::unlink(temp.c_str());
    return false;
  }
  return true;
}

WriterLock::WriterLock(const std::filesystem::path& file) {
  const std::string name = file.string() + ".lock";
  m_fd = OpenProgramFile(name, O_RDWR | O_CREAT, 0600);
  if (m_fd < 0) return;
  int rc;
  do {
    rc = ::flock(m_fd, LOCK_EX);
  } while (rc != 0 && errno == EINTR);
  if (rc != 0) {
    ::close(m_fd);
    m_fd = -1;
  }
}

WriterLock::~WriterLock() {
  if (m_fd >= 0) ::close(m_fd);  // closing the only descriptor of the lock file releases the lock
}

}  // namespace hx
