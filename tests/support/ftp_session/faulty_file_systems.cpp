#include "support/ftp_session/faulty_file_systems.h"

#include <cerrno>
#include <string_view>

namespace hx::test {
namespace {

class FaultyFileSystem : public RootedFileSystem {
 public:
  FaultyFileSystem(const FaultyFileSystems& faults, std::shared_ptr<const RootedFileSystem> real)
      : m_faults(faults), m_real(std::move(real)) {}

  bool IsBeneath(const std::string& path) const override { return m_real->IsBeneath(path); }
  bool Stat(const std::string& path, struct stat& st) const override {
    return !Fails("Stat", path) && m_real->Stat(path, st);
  }
  bool LinkStat(const std::string& path, struct stat& st) const override {
    return !Fails("LinkStat", path) && m_real->LinkStat(path, st);
  }
  std::optional<std::uint64_t> Size(const std::string& path) const override {
    if (Fails("Size", path)) return std::nullopt;
    return m_real->Size(path);
  }
  std::optional<std::uint64_t> FreeSpace(const std::string& path) const override {
    if (Fails("FreeSpace", path)) return std::nullopt;
    return m_real->FreeSpace(path);
  }
  int Open(const std::string& path, int flags, mode_t mode) const override {
    return Fails("Open", path) ? -1 : m_real->Open(path, flags, mode);
  }
  SharedFile OpenShared(FileShareTable& shares, const std::string& path, FileAccess access, ShareMode share,
                        Disposition disposition, int& error) const override {
    if (Fails("OpenShared", path)) {
      error = errno;
      return {};
    }
    return m_real->OpenShared(shares, path, access, share, disposition, error);
  }
  bool MakeDirectory(const std::string& path, mode_t mode) const override {
    return !Fails("MakeDirectory", path) && m_real->MakeDirectory(path, mode);
  }
  bool RemoveDirectory(const std::string& path) const override {
    return !Fails("RemoveDirectory", path) && m_real->RemoveDirectory(path);
  }
  bool Unlink(const std::string& path) const override {
    return !Fails("Unlink", path) && m_real->Unlink(path);
  }
  bool Rename(const std::string& from, const std::string& to) const override {
    return !Fails("Rename", from) && !Fails("Rename", to) && m_real->Rename(from, to);
  }
  std::optional<std::vector<std::string>> ReadDirectory(const std::string& path) const override {
    if (Fails("ReadDirectory", path)) return std::nullopt;
    return m_real->ReadDirectory(path);
  }
  bool SetTimes(const std::string& path, std::timespec accessed, std::timespec modified) const override {
    return !Fails("SetTimes", path) && m_real->SetTimes(path, accessed, modified);
  }

 private:
  // True, with errno set, when the test made this call fail.
  bool Fails(const char* call, const std::string& path) const {
    int error = m_faults.FaultFor(call, path);
    if (error != 0) errno = error;
    return error != 0;
  }

  const FaultyFileSystems& m_faults;
  std::shared_ptr<const RootedFileSystem> m_real;
};

}  // namespace

void FaultyFileSystems::Fail(std::string call, std::string pathEnd, int error) {
  std::lock_guard guard(m_lock);
  m_faults.push_back({std::move(call), std::move(pathEnd), error});
}

int FaultyFileSystems::FaultFor(const std::string& call, const std::string& path) const {
  std::string_view name = path;
  if (name.size() > 1 && name.ends_with('/')) name.remove_suffix(1);  // a folder named with its "/"
  std::lock_guard guard(m_lock);
  for (const Fault& fault : m_faults)
    if (fault.call == call && name.ends_with(fault.pathEnd)) return fault.error;
  return 0;
}

std::shared_ptr<const RootedFileSystem> FaultyFileSystems::Beneath(const std::string& root,
                                                                   std::shared_ptr<const ServedRoot> held,
                                                                   bool followHardLinks) {
  return std::make_shared<FaultyFileSystem>(*this, m_local.Beneath(root, std::move(held), followHardLinks));
}

}  // namespace hx::test
