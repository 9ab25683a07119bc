#include "app/private_directory.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>

namespace hx {
namespace {

std::string TemporaryBase() {
  const char* tmpdir = std::getenv("TMPDIR");
  struct stat st {};
  if (tmpdir && *tmpdir && ::stat(tmpdir, &st) == 0 && S_ISDIR(st.st_mode)) return tmpdir;
  return "/tmp";
}

}  // namespace

std::optional<std::string> PrivateTransferDirectory() {
  std::string dir = TemporaryBase();
  if (dir.back() != '/') dir += '/';
  dir += "harbinex-" + std::to_string(::geteuid());
  if (::mkdir(dir.c_str(), 0700) != 0 && errno != EEXIST) return std::nullopt;
  // Checked without following a link, after the creation: whoever made the name first, only a directory
  // of this user is taken.
  struct stat st {};
  if (::lstat(dir.c_str(), &st) != 0 || !S_ISDIR(st.st_mode) || st.st_uid != ::geteuid()) return std::nullopt;
  return dir + "/";
}

}  // namespace hx
