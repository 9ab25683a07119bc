#include "app/program_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

namespace hx {
namespace {

int Fail(int fd, int error) {
  ::close(fd);
  errno = error;
  return -1;
}

}  // namespace

int OpenProgramFile(const std::filesystem::path& path, int flags, mode_t newFileMode) {
  bool blocking = !(flags & O_NONBLOCK);
  flags |= O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK;
  int fd = -1;
  bool created = false;
  if (flags & O_CREAT) {
    // Made here (O_EXCL: never through a link) or found; the loop covers a file removed in between.
    for (int attempt = 0; attempt < 3 && fd < 0; ++attempt) {
      fd = ::open(path.c_str(), flags | O_EXCL, newFileMode);
      created = fd >= 0;
      if (fd < 0 && errno == EEXIST && !(flags & O_EXCL)) fd = ::open(path.c_str(), flags & ~O_CREAT);
      if (fd < 0 && errno != ENOENT) return -1;
    }
    if (fd < 0) return -1;
  } else {
    fd = ::open(path.c_str(), flags);
    if (fd < 0) return -1;
  }
  struct stat st {};
  if (::fstat(fd, &st) != 0) return Fail(fd, errno);
  if (!S_ISREG(st.st_mode)) return Fail(fd, EINVAL);
  if (created && ::fchmod(fd, newFileMode) != 0) return Fail(fd, errno);
  if (blocking && ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK) != 0) return Fail(fd, errno);
  return fd;
}

}  // namespace hx
