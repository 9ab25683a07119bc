#pragma once

#include <sys/stat.h>
#include <sys/types.h>

#include <cstdint>
#include <ctime>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "app/shared_file.h"

namespace hx {

// Every file-system call the servers make on behalf of a peer, and the clients on behalf of the operator.
// Paths are local paths as the servers build them: the root followed by the path inside it. Calls return
// false (or -1, or nullopt) with errno set, as the system calls they stand for. The program's own kind
// confines each call beneath a root (BeneathRootFileSystem); tests may hand the sessions another.
class RootedFileSystem {
 public:
  virtual ~RootedFileSystem() = default;

  // The operator's own clients: any local path, links followed as the system does.
  static std::shared_ptr<const RootedFileSystem> Unconfined();

  // True when `path` lies inside the root and is not the root itself.
  virtual bool IsBeneath(const std::string& path) const = 0;
  // What `path` names, following links that stay inside the root.
  virtual bool Stat(const std::string& path, struct stat& st) const = 0;
  // What `path` itself is: a link is described as a link.
  virtual bool LinkStat(const std::string& path, struct stat& st) const = 0;
  // The size of the regular file that `path` names; nullopt (EISDIR for a directory, EINVAL for anything
  // else that is no regular file) otherwise.
  virtual std::optional<std::uint64_t> Size(const std::string& path) const = 0;
  // The bytes that the program may still write to the file system holding `path`.
  virtual std::optional<std::uint64_t> FreeSpace(const std::string& path) const = 0;
  // open(2) beneath the root; returns the descriptor or -1.
  virtual int Open(const std::string& path, int flags, mode_t mode = 0644) const = 0;
  // Opens a regular file into the table of open files (SharedFile::Open beneath the root). Anything else
  // (a directory, a pipe, a device) is refused with EISDIR or EINVAL before a byte is read or written, and
  // opening never waits on a pipe.
  virtual SharedFile OpenShared(FileShareTable& shares, const std::string& path, FileAccess access,
                                ShareMode share, Disposition disposition, int& error) const = 0;
  virtual bool MakeDirectory(const std::string& path, mode_t mode = 0755) const = 0;
  virtual bool RemoveDirectory(const std::string& path) const = 0;
  virtual bool Unlink(const std::string& path) const = 0;
  // Moves a file or directory; fails when the target exists.
  virtual bool Rename(const std::string& from, const std::string& to) const = 0;
  // The names in a directory, "." and ".." included.
  virtual std::optional<std::vector<std::string>> ReadDirectory(const std::string& path) const = 0;
  // Sets the access and modification times of what `path` names (links inside the root followed), as
  // utimensat(2): UTIME_OMIT in tv_nsec keeps that time.
  virtual bool SetTimes(const std::string& path, std::timespec accessed, std::timespec modified) const = 0;
};

}  // namespace hx
