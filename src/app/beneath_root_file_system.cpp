#include "app/beneath_root_file_system.h"

#include <dirent.h>
#include <fcntl.h>
#include <linux/openat2.h>
#include <stdio.h>
#include <sys/statvfs.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <utility>

#include "app/served_root.h"

namespace hx {
namespace {

std::atomic<bool> g_forceWalk{false};

// A descriptor closed at the end of its scope; errno survives the close.
class Descriptor {
 public:
  explicit Descriptor(int fd) : m_fd(fd) {}
  ~Descriptor() {
    if (m_fd < 0) return;
    int saved = errno;
    ::close(m_fd);
    errno = saved;
  }
  Descriptor(const Descriptor&) = delete;
  Descriptor& operator=(const Descriptor&) = delete;
  int Get() const { return m_fd; }
  int Release() { return std::exchange(m_fd, -1); }
  void Reset(int fd) {
    if (m_fd >= 0) ::close(m_fd);
    m_fd = fd;
  }

 private:
  int m_fd;
};

int Openat2Beneath(int dirFd, const std::string& relative, int flags, mode_t mode) {
  open_how how{};
  how.flags = static_cast<std::uint64_t>(flags);
  // O_TMPFILE includes O_DIRECTORY's bit; the kernel wants a mode with O_CREAT and O_TMPFILE only.
  how.mode = (flags & O_CREAT) || (flags & O_TMPFILE) == O_TMPFILE ? mode : 0;
  how.resolve = RESOLVE_BENEATH | RESOLVE_NO_MAGICLINKS;
  for (;;) {
    long fd = ::syscall(SYS_openat2, dirFd, relative.c_str(), &how, sizeof how);
    if (fd >= 0 || errno != EINTR) return static_cast<int>(fd);
  }
}

// The last component of the walk, never through a link: O_PATH would open the link itself, so it is refused
// as the other opens refuse it.
int OpenLast(int dirFd, const std::string& name, int flags, mode_t mode) {
  Descriptor fd(::openat(dirFd, name.c_str(), flags | O_NOFOLLOW, mode));
  struct stat st {};
  if (fd.Get() >= 0 && (flags & O_PATH) && ::fstat(fd.Get(), &st) == 0 && S_ISLNK(st.st_mode)) {
    errno = ELOOP;
    return -1;
  }
  return fd.Release();
}

// The walk for kernels without openat2: every component is opened on its own, none of them through a link,
// and ".." is refused, since nothing then tells whether it stays inside the root.
int WalkBeneath(int dirFd, const std::string& relative, int flags, mode_t mode) {
  Descriptor current(::fcntl(dirFd, F_DUPFD_CLOEXEC, 0));
  if (current.Get() < 0) return -1;
  size_t start = 0;
  for (;;) {
    size_t slash = relative.find('/', start);
    std::string component =
        relative.substr(start, slash == std::string::npos ? std::string::npos : slash - start);
    if (component == "..") {
      errno = EXDEV;
      return -1;
    }
    if (slash == std::string::npos)
      return OpenLast(current.Get(), component.empty() ? "." : component, flags, mode);
    start = slash + 1;
    if (component.empty() || component == ".") continue;
    int next = ::openat(current.Get(), component.c_str(), O_PATH | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (next < 0) return -1;
    current.Reset(next);
  }
}

}  // namespace

BeneathRootFileSystem::BeneathRootFileSystem(std::string root)
    : BeneathRootFileSystem(std::move(root), true) {}

BeneathRootFileSystem::BeneathRootFileSystem(std::string root, bool confined)
    : m_root(std::move(root)), m_confined(confined) {
  // The servers collapse doubled separators in the paths they build; the root must read the same way.
  auto end = std::unique(m_root.begin(), m_root.end(), [](char a, char b) { return a == '/' && b == '/'; });
  m_root.erase(end, m_root.end());
  if (m_confined && (m_root.empty() || m_root.back() != '/')) m_root += m_root.empty() ? "./" : "/";
}

BeneathRootFileSystem::BeneathRootFileSystem(std::string root, std::shared_ptr<const ServedRoot> held,
                                             bool followHardLinks)
    : BeneathRootFileSystem(std::move(root), true) {
  m_held = std::move(held);
  m_followHardLinks = followHardLinks;
}

BeneathRootFileSystem BeneathRootFileSystem::Unconfined() {
  return BeneathRootFileSystem(std::string(), false);
}

std::shared_ptr<const RootedFileSystem> RootedFileSystem::Unconfined() {
  return std::make_shared<const BeneathRootFileSystem>(BeneathRootFileSystem::Unconfined());
}

void BeneathRootFileSystem::ForceComponentWalk(bool on) {
  g_forceWalk = on;
}

std::optional<std::string> BeneathRootFileSystem::Inside(const std::string& path) const {
  if (!m_confined) return path;
  std::string relative;
  if (path.compare(0, m_root.size(), m_root) == 0)
    relative = path.substr(m_root.size());
  else if (path + "/" == m_root)
    relative.clear();
  else if (m_root == "./" && !path.empty() && path.front() != '/')
    relative = path;  // the current directory as the root: every relative path lies in it
  else {
    errno = EXDEV;
    return std::nullopt;
  }
  while (!relative.empty() && relative.back() == '/') relative.pop_back();
  while (!relative.empty() && relative.front() == '/') relative.erase(0, 1);
  return relative.empty() ? std::string(".") : relative;
}

bool BeneathRootFileSystem::IsBeneath(const std::string& path) const {
  int saved = errno;
  std::optional<std::string> relative = Inside(path);
  errno = saved;
  return relative && *relative != ".";
}

int BeneathRootFileSystem::OpenBeneath(const std::string& relative, int flags, mode_t mode) const {
  // openat2 refuses flags that mean nothing with O_PATH.
  flags |= (flags & O_PATH) ? O_CLOEXEC : O_CLOEXEC | O_NOCTTY;
  if (!m_confined) return ::open(relative.c_str(), flags, mode);
  int opened = -1;
  int rootFd = RootDescriptor(opened);
  Descriptor root(opened);
  if (rootFd < 0) return -1;
  if (!g_forceWalk) {
    int fd = Openat2Beneath(rootFd, relative, flags, mode);
    if (fd >= 0 || errno != ENOSYS) return fd;
  }
  return WalkBeneath(rootFd, relative, flags, mode);
}

int BeneathRootFileSystem::RootDescriptor(int& opened) const {
  opened = -1;
  if (!m_held) return opened = ::open(m_root.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC);
  if (m_held->Descriptor() < 0) errno = m_held->Error();
  return m_held->Descriptor();
}

bool BeneathRootFileSystem::MayServe(int fd, struct stat& st) const {
  if (::fstat(fd, &st) != 0) return false;
  if (!m_confined || m_followHardLinks || !S_ISREG(st.st_mode) || st.st_nlink <= 1 ||
      st.st_uid == ::geteuid())
    return true;
  errno = EACCES;
  return false;
}

int BeneathRootFileSystem::OpenParent(const std::string& path, std::string& name) const {
  std::optional<std::string> relative = Inside(path);
  if (!relative) return -1;
  size_t slash = relative->rfind('/');
  name = slash == std::string::npos ? *relative : relative->substr(slash + 1);
  std::string parent = slash == std::string::npos ? std::string(".") : relative->substr(0, slash);
  // "." or ".." as the last component would make the call work on the parent itself, or above it.
  if (name == "." || name == "..") {
    errno = EINVAL;
    return -1;
  }
  if (!m_confined) return ::open(parent.empty() ? "/" : parent.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC);
  return OpenBeneath(parent, O_PATH | O_DIRECTORY, 0);
}

bool BeneathRootFileSystem::Stat(const std::string& path, struct stat& st) const {
  std::optional<std::string> relative = Inside(path);
  if (!relative) return false;
  if (!m_confined) return ::stat(relative->c_str(), &st) == 0;
  Descriptor fd(OpenBeneath(*relative, O_PATH, 0));
  return fd.Get() >= 0 && ::fstat(fd.Get(), &st) == 0;
}

bool BeneathRootFileSystem::LinkStat(const std::string& path, struct stat& st) const {
  std::string name;
  Descriptor parent(OpenParent(path, name));
  return parent.Get() >= 0 && ::fstatat(parent.Get(), name.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0;
}

std::optional<std::uint64_t> BeneathRootFileSystem::Size(const std::string& path) const {
  struct stat st {};
  if (!Stat(path, st)) return std::nullopt;
  if (!S_ISREG(st.st_mode)) {
    errno = S_ISDIR(st.st_mode) ? EISDIR : EINVAL;
    return std::nullopt;
  }
  return static_cast<std::uint64_t>(st.st_size);
}

std::optional<std::uint64_t> BeneathRootFileSystem::FreeSpace(const std::string& path) const {
  std::optional<std::string> relative = Inside(path);
  if (!relative) return std::nullopt;
  struct statvfs fs {};
  if (!m_confined) {
    if (::statvfs(relative->c_str(), &fs) != 0) return std::nullopt;
  } else {
    Descriptor fd(OpenBeneath(*relative, O_PATH, 0));
    if (fd.Get() < 0 || ::fstatvfs(fd.Get(), &fs) != 0) return std::nullopt;
  }
  return static_cast<std::uint64_t>(fs.f_bavail) * fs.f_frsize;
}

int BeneathRootFileSystem::Open(const std::string& path, int flags, mode_t mode) const {
  std::optional<std::string> relative = Inside(path);
  if (!relative) return -1;
  if (flags & O_PATH) return OpenBeneath(*relative, flags, mode);
  // A file is emptied only after it passed the check: a refused one keeps its content.
  Descriptor fd(OpenBeneath(*relative, flags & ~O_TRUNC, mode));
  struct stat st {};
  if (fd.Get() < 0 || !MayServe(fd.Get(), st)) return -1;
  if ((flags & O_TRUNC) && S_ISREG(st.st_mode) && st.st_size != 0 && ::ftruncate(fd.Get(), 0) != 0) return -1;
  return fd.Release();
}

SharedFile BeneathRootFileSystem::OpenShared(FileShareTable& shares, const std::string& path,
                                             FileAccess access, ShareMode share, Disposition disposition,
                                             int& error) const {
  // O_NONBLOCK keeps the open of a pipe from waiting for its other end; the file is refused below anyway.
  Descriptor fd(Open(path, SharedFile::OpenFlags(access, disposition) | O_NONBLOCK, 0644));
  struct stat st {};
  if (fd.Get() < 0 || ::fstat(fd.Get(), &st) != 0) {
    error = errno;
    return SharedFile();
  }
  if (!S_ISREG(st.st_mode)) {
    error = S_ISDIR(st.st_mode) ? EISDIR : EINVAL;
    return SharedFile();
  }
  ::fcntl(fd.Get(), F_SETFL, ::fcntl(fd.Get(), F_GETFL) & ~O_NONBLOCK);
  return SharedFile::Claim(shares, fd.Release(), access, share, disposition, error);
}

bool BeneathRootFileSystem::MakeDirectory(const std::string& path, mode_t mode) const {
  std::string name;
  Descriptor parent(OpenParent(path, name));
  return parent.Get() >= 0 && ::mkdirat(parent.Get(), name.c_str(), mode) == 0;
}

bool BeneathRootFileSystem::RemoveDirectory(const std::string& path) const {
  std::string name;
  Descriptor parent(OpenParent(path, name));
  return parent.Get() >= 0 && ::unlinkat(parent.Get(), name.c_str(), AT_REMOVEDIR) == 0;
}

bool BeneathRootFileSystem::Unlink(const std::string& path) const {
  std::string name;
  Descriptor parent(OpenParent(path, name));
  return parent.Get() >= 0 && ::unlinkat(parent.Get(), name.c_str(), 0) == 0;
}

bool BeneathRootFileSystem::Rename(const std::string& from, const std::string& to) const {
  std::string fromName, toName;
  Descriptor fromParent(OpenParent(from, fromName));
  if (fromParent.Get() < 0) return false;
  Descriptor toParent(OpenParent(to, toName));
  if (toParent.Get() < 0) return false;
  if (::renameat2(fromParent.Get(), fromName.c_str(), toParent.Get(), toName.c_str(), RENAME_NOREPLACE) == 0)
    return true;
  if (errno != EINVAL && errno != ENOSYS) return false;
  // A file system without the flag: check, then move.
  struct stat st {};
  if (::fstatat(toParent.Get(), toName.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0) {
    errno = EEXIST;
    return false;
  }
  return ::renameat(fromParent.Get(), fromName.c_str(), toParent.Get(), toName.c_str()) == 0;
}

std::optional<std::vector<std::string>> BeneathRootFileSystem::ReadDirectory(const std::string& path) const {
  int fd = Open(path, O_RDONLY | O_DIRECTORY);
  if (fd < 0) return std::nullopt;
  DIR* handle = ::fdopendir(fd);
  if (!handle) {
    ::close(fd);
    return std::nullopt;
  }
  std::vector<std::string> names;
  while (const dirent* item = ::readdir(handle)) names.emplace_back(item->d_name);
  ::closedir(handle);
  return names;
}

bool BeneathRootFileSystem::SetTimes(const std::string& path, std::timespec accessed,
                                     std::timespec modified) const {
  std::optional<std::string> relative = Inside(path);
  if (!relative) return false;
  const std::timespec times[2] = {accessed, modified};
  if (!m_confined) return ::utimensat(AT_FDCWD, relative->c_str(), times, 0) == 0;
  // The file is found as every open finds it, and its times are set through that very descriptor: a name
  // swapped for a link in between changes nothing. A hard link is subject to the rule of the opens.
  Descriptor fd(OpenBeneath(*relative, O_PATH, 0));
  struct stat st {};
  if (fd.Get() < 0 || !MayServe(fd.Get(), st)) return false;
  if (::utimensat(fd.Get(), "", times, AT_EMPTY_PATH) == 0) return true;
  if (errno != EINVAL) return false;
  // Older kernels take no empty path here; the descriptor's entry in /proc leads to the same file.
  std::string name = "/proc/self/fd/" + std::to_string(fd.Get());
  return ::utimensat(AT_FDCWD, name.c_str(), times, 0) == 0;
}

}  // namespace hx
