#include "app/file_systems.h"

#include <utility>

#include "app/beneath_root_file_system.h"

namespace hx {

std::shared_ptr<const RootedFileSystem> LocalFileSystems::Beneath(const std::string& root,
                                                                  std::shared_ptr<const ServedRoot> held,
                                                                  bool followHardLinks) {
  return std::make_shared<const BeneathRootFileSystem>(root, std::move(held), followHardLinks);
}

std::shared_ptr<const RootedFileSystem> LocalFileSystems::Unconfined() {
  return RootedFileSystem::Unconfined();
}

}  // namespace hx
