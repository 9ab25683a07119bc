#include "tftp/tftp_client_download.h"

#include <memory>
#include <utility>
#include <vector>

#include "app/download_file.h"
#include "tftp/tftp_packets.h"

namespace hx::tftp {

OpenResult OpenClientDownload(FileShareTable& shares, const std::string& path, const ReceiveRules& rules) {
  std::shared_ptr<const RootedFileSystem> anywhere = RootedFileSystem::Unconfined();
  bool exists = false;
  if (auto refused = CheckReceiveTarget(*anywhere, path, rules, exists)) return std::move(*refused);
  if (exists) return OpenReplacement(shares, *anywhere, path);
  int error = 0;
  DownloadFile file = DownloadFile::Create(path, nullptr, error);
  if (!file.IsOpen()) return Refuse(kErrAccessViolation, "Failed to open file for receiving. Aborting");
  // A file that another session creates meanwhile is not overwritten, as the rules would not allow it.
  return std::make_unique<ReplacingTransferFile>(std::move(file), SharedFile(),
                                                 DownloadFile::Placement::KeepExisting);
}

}  // namespace hx::tftp
