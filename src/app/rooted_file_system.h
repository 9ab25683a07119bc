#pragma once

#include <sys/stat.h>
#include <sys/types.h>

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "app/shared_file.h"

namespace hx {

class ServedRoot;

// Every file-system call the servers make on behalf of a peer: each path is resolved beneath the session's
// root, so that no symbolic link or ".." ever leads a peer out of it. A link whose target stays inside the
// root is followed; one that leads out, and an absolute link, is refused as if the file were not accessible.
// Resolution happens in the kernel (openat2 with RESOLVE_BENEATH); where the kernel lacks it, a walk from the
// root opens one component at a time without following any link. Either way the check and the use are one
// step, so a link planted between them changes nothing.
//
// Paths are local paths as the servers build them: the root followed by the path inside it. A path that
// does not begin with the root is refused. Calls return false (or -1, or nullopt) with errno set, as the
// system calls they stand for.
//
// A regular file with more than one hard link may be another name of a file outside the root: unless hard
// links are followed, such a file is opened (for reading or writing) only when it belongs to the program's
// user, and is otherwise refused as not accessible (EACCES).
class RootedFileSystem {
 public:
  // Confines every call to `root` (a local directory, with or without a final "/"; an empty root is the
  // current directory), which is looked up by its name at each call.
  explicit RootedFileSystem(std::string root);
  // Confines every call to the folder `held`, which `root` names in the paths: the servers' folders, held
  // open (ServedRoot) so that a change of the name between calls leads nowhere. A folder that is not open
  // fails every call with its Error(); without one (nullptr) the root is looked up by its name.
  RootedFileSystem(std::string root, std::shared_ptr<const ServedRoot> held, bool followHardLinks);
  // The operator's own clients: any local path, links followed as the system does.
  static RootedFileSystem Unconfined();

  // True when `path` lies inside the root and is not the root itself.
  bool IsBeneath(const std::string& path) const;
  // What `path` names, following links that stay inside the root.
  bool Stat(const std::string& path, struct stat& st) const;
  // What `path` itself is: a link is described as a link.
  bool LinkStat(const std::string& path, struct stat& st) const;
  // open(2) beneath the root; returns the descriptor or -1.
  int Open(const std::string& path, int flags, mode_t mode = 0644) const;
  // Opens a regular file into the table of open files (SharedFile::Open beneath the root). Anything else
  // (a directory, a pipe, a device) is refused with EISDIR or EINVAL before a byte is read or written, and
  // opening never waits on a pipe.
  SharedFile OpenShared(FileShareTable& shares, const std::string& path, FileAccess access, ShareMode share,
                        Disposition disposition, int& error) const;
  bool MakeDirectory(const std::string& path, mode_t mode = 0755) const;
  bool RemoveDirectory(const std::string& path) const;
  bool Unlink(const std::string& path) const;
  // Moves a file or directory; fails when the target exists.
  bool Rename(const std::string& from, const std::string& to) const;
  // The names in a directory, "." and ".." included.
  std::optional<std::vector<std::string>> ReadDirectory(const std::string& path) const;

  // Tests force the component walk that older kernels get.
  static void ForceComponentWalk(bool on);

 private:
  RootedFileSystem(std::string root, bool confined);

  // The descriptor of the root, `opened` taking one that is opened for the call; -1 with errno set.
  int RootDescriptor(int& opened) const;
  // Whether the file opened as `fd` may be served: see the class comment on hard links.
  bool MayServe(int fd, struct stat& st) const;

  // The path inside the root ("." for the root itself), or nullopt (errno EXDEV) when it lies outside.
  std::optional<std::string> Inside(const std::string& path) const;
  // Opens `relative` beneath the root; the path must come from Inside().
  int OpenBeneath(const std::string& relative, int flags, mode_t mode) const;
  // Opens the directory holding the last component of `path`, beneath the root, and gives that component.
  int OpenParent(const std::string& path, std::string& name) const;

  std::string m_root;  // ends in "/" when confined
  bool m_confined;
  std::shared_ptr<const ServedRoot> m_held;  // nullptr: the root is opened by its name for each call
  bool m_followHardLinks = false;
};

}  // namespace hx
