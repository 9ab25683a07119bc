#pragma once

#include <memory>
#include <string>

#include "app/rooted_file_system.h"

namespace hx {

class ServedRoot;

// Where the sessions get their file system from: the program's own confines every call beneath a root, a
// test may hand out one of its own.
class FileSystems {
 public:
  virtual ~FileSystems() = default;
  // The file system of a served folder: `root` names the folder in the paths, `held` is the folder held open
  // (nullptr: looked up by its name at each call); see BeneathRootFileSystem.
  virtual std::shared_ptr<const RootedFileSystem> Beneath(const std::string& root,
                                                          std::shared_ptr<const ServedRoot> held,
                                                          bool followHardLinks) = 0;
  // The operator's own clients: any local path.
  virtual std::shared_ptr<const RootedFileSystem> Unconfined() = 0;
};

// The program's file systems: BeneathRootFileSystem.
class LocalFileSystems : public FileSystems {
 public:
  std::shared_ptr<const RootedFileSystem> Beneath(const std::string& root,
                                                  std::shared_ptr<const ServedRoot> held,
                                                  bool followHardLinks) override;
  std::shared_ptr<const RootedFileSystem> Unconfined() override;
};

}  // namespace hx
