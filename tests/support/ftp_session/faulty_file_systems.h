#pragma once

#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "app/file_systems.h"

namespace hx::test {

// The program's own file systems, except that the calls a test names fail: a call (by its name in
// RootedFileSystem: "Open", "Unlink", "Rename", ...) on a path that ends with the given text fails with the
// given errno, as a full or failing disk, a permission or a race would make it fail. Safe from any thread.
class FaultyFileSystems : public FileSystems {
 public:
  void Fail(std::string call, std::string pathEnd, int error);
  // The errno for `call` on `path`, or 0.
  int FaultFor(const std::string& call, const std::string& path) const;

  std::shared_ptr<const RootedFileSystem> Beneath(const std::string& root,
                                                  std::shared_ptr<const ServedRoot> held,
                                                  bool followHardLinks) override;
  std::shared_ptr<const RootedFileSystem> Unconfined() override { return m_local.Unconfined(); }

 private:
  struct Fault {
    std::string call;
    std::string pathEnd;
    int error;
  };

  LocalFileSystems m_local;
  mutable std::mutex m_lock;
  std::vector<Fault> m_faults;
};

}  // namespace hx::test
