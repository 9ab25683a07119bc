#include "app/private_directory.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>

namespace hx {
namespace {

// How many "harbinex-UID-N" names are tried before the start gives up.
constexpr int kMaxAlternatives = 999;

std::string TemporaryBase() {
  const char* tmpdir = std::getenv("TMPDIR");
  struct stat st {};
  if (tmpdir && *tmpdir && ::stat(tmpdir, &st) == 0 && S_ISDIR(st.st_mode)) return tmpdir;
  return "/tmp";
}

std::string WithoutTrailingSlashes(std::string path) {
  while (path.size() > 1 && path.back() == '/') path.pop_back();
  return path;
}

bool AllDigits(const std::string& text) {
  return !text.empty() && text.find_first_not_of("0123456789") == std::string::npos;
}

// The private folder's name without its "-N": "harbinex-UID".
std::string BaseName() {
  return "harbinex-" + std::to_string(::geteuid());
}

}  // namespace

bool IsPrivateFolder(const std::string& path) {
  std::string dir = WithoutTrailingSlashes(path);
  std::string name = dir.substr(dir.rfind('/') + 1);
  std::string base = BaseName();
  if (name.compare(0, base.size(), base) != 0) return false;
  std::string rest = name.substr(base.size());
  return rest.empty() || (rest.front() == '-' && AllDigits(rest.substr(1)));
}

int OpenPrivateFolder(const std::string& path, bool& taken) {
  taken = false;
  std::string dir = WithoutTrailingSlashes(path);
  bool made = ::mkdir(dir.c_str(), 0700) == 0;
  if (!made && errno != EEXIST) return -1;
  // Opened without following a link and checked on the descriptor: whoever made the name, and whatever it
  // becomes after the check, only this directory of this user is used.
  int fd = ::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
  if (fd < 0) {
    taken = errno == ELOOP || errno == ENOTDIR;
    return -1;
  }
  struct stat st {};
  bool own = ::fstat(fd, &st) == 0 && S_ISDIR(st.st_mode) && st.st_uid == ::geteuid();
  // A folder made here gets its mode whatever the umask; one found must already be closed to everyone else.
  if (own && made) own = ::fchmod(fd, 0700) == 0;
  if (own && !made) own = (st.st_mode & 077) == 0;
  if (!own) {
    ::close(fd);
    taken = true;
    errno = EACCES;
    return -1;
  }
  return fd;
}

std::optional<PrivateFolder> SettlePrivateFolder(const std::string& wanted) {
  std::string first = WithoutTrailingSlashes(wanted);
  std::string base = first.substr(0, first.rfind('/') + 1) + BaseName();
  for (int n = 0; n <= kMaxAlternatives; ++n) {
    std::string dir = n == 0 ? first : base + "-" + std::to_string(n);
    if (n > 0 && dir == first) continue;
    bool taken = false;
    int fd = OpenPrivateFolder(dir, taken);
    if (fd >= 0) {
      ::close(fd);
      return PrivateFolder{dir + "/", n == 0 ? std::string() : first};
    }
    if (!taken) return std::nullopt;
  }
  return std::nullopt;
}

std::string DefaultPrivateFolder() {
  std::string dir = TemporaryBase();
  if (dir.back() != '/') dir += '/';
  return dir + BaseName();
}

std::optional<std::string> PrivateTransferDirectory() {
  std::optional<PrivateFolder> folder = SettlePrivateFolder(DefaultPrivateFolder());
  return folder ? std::optional(folder->path) : std::nullopt;
}

}  // namespace hx
