#include "users/directory_rule.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <memory>

#include "app/rooted_file_system.h"

namespace hx {

std::string MissingDirectoryMessage(const std::string& dir) {
  return "The directory " + dir + " does not exist!\r\rPlease choose a valid directory";
}

std::optional<std::string> CheckProfileDirectory(std::string& dir) {
  if (dir.empty() || dir.back() != '/') dir += '/';
  std::shared_ptr<const RootedFileSystem> files = RootedFileSystem::Unconfined();
  struct stat st {};
  if (!files->Stat(dir, st)) {
    // stat of "file/" fails with ENOTDIR for an existing non-directory: report that as such.
    std::string bare = dir.substr(0, dir.size() - 1);
    if (!bare.empty() && files->Stat(bare, st) && !S_ISDIR(st.st_mode)) {
      return dir + " exists, but is not a directory!\r\rPlease choose a valid directory name\r";
    }
    return MissingDirectoryMessage(dir);
  }
  if (!S_ISDIR(st.st_mode)) {
    return dir + " exists, but is not a directory!\r\rPlease choose a valid directory name\r";
  }
  std::string probe = dir + "NEWXXXXXX";
  int fd = ::mkstemp(probe.data());
  if (fd < 0) {
    return "Could not write to the directory you specified\r\rPossible Causes:\r\r 1) The directory or disk "
           "is write-protected \r 2) The directory is on a CD-ROM \r 3) This is a Network directory, and you "
           "do not have sufficient rights\r \r Please select a different directory....";
  }
  ::close(fd);
  files->Unlink(probe);
  return std::nullopt;
}

std::string NormalProfileDirectory(const std::string& dir) {
  std::error_code error;
  std::filesystem::path absolute = std::filesystem::absolute(dir, error);
  if (error) absolute = dir;  // without a working directory the path stays as given, and its check refuses it
  return absolute.lexically_normal().string();
}

}  // namespace hx
