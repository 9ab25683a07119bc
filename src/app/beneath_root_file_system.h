#pragma once

#include <sys/stat.h>
#include <sys/types.h>

#include <cstdint>
#include <ctime>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "app/rooted_file_system.h"

namespace hx {

class ServedRoot;

// The program's file system for the servers: each path is resolved beneath the session's root, so that no
// symbolic link or ".." ever leads a peer out of it. A link whose target stays inside the root is followed;
// one that leads out, and an absolute link, is refused as if the file were not accessible. Resolution
// happens in the kernel (openat2 with RESOLVE_BENEATH); where the kernel lacks it, a walk from the root opens
// one component at a time without following any link. Either way the check and the use are one step, so a
// link planted between them changes nothing. A path that does not begin with the root is refused.
//
// A regular file with more than one hard link may be another name of a file outside the root: unless hard
// links are followed, such a file is opened (for reading or writing) only when it belongs to the program's
// user, and is otherwise refused as not accessible (EACCES).
class BeneathRootFileSystem final : public RootedFileSystem {
 public:
  // Confines every call to `root` (a local directory, with or without a final "/"; an empty root is the
  // current directory), which is looked up by its name at each call.
  explicit BeneathRootFileSystem(std::string root);
  // Confines every call to the folder `held`, which `root` names in the paths: the servers' folders, held
  // open (ServedRoot) so that a change of the name between calls leads nowhere. A folder that is not open
  // fails every call with its Error(); without one (nullptr) the root is looked up by its name.
  BeneathRootFileSystem(std::string root, std::shared_ptr<const ServedRoot> held, bool followHardLinks);
  // Any local path, links followed as the system does (RootedFileSystem::Unconfined).
  static BeneathRootFileSystem Unconfined();

  bool IsBeneath(const std::string& path) const override;
  bool Stat(const std::string& path, struct stat& st) const override;
  bool LinkStat(const std::string& path, struct stat& st) const override;
  std::optional<std::uint64_t> Size(const std::string& path) const override;
  std::optional<std::uint64_t> FreeSpace(const std::string& path) const override;
  int Open(const std::string& path, int flags, mode_t mode = 0644) const override;
  SharedFile OpenShared(FileShareTable& shares, const std::string& path, FileAccess access, ShareMode share,
                        Disposition disposition, int& error) const override;
  bool MakeDirectory(const std::string& path, mode_t mode = 0755) const override;
  bool RemoveDirectory(const std::string& path) const override;
  bool Unlink(const std::string& path) const override;
  bool Rename(const std::string& from, const std::string& to) const override;
  std::optional<std::vector<std::string>> ReadDirectory(const std::string& path) const override;
  bool SetTimes(const std::string& path, std::timespec accessed, std::timespec modified) const override;

  // Tests force the component walk that older kernels get.
  static void ForceComponentWalk(bool on);

 private:
  BeneathRootFileSystem(std::string root, bool confined);

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
