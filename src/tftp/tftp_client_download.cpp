#include "tftp/tftp_client_download.h"

#include <sys/stat.h>

#include <memory>
#include <utility>
#include <vector>

#include "tftp/tftp_packets.h"

namespace hx::tftp {

TftpClientDownload::TftpClientDownload(DownloadFile file, SharedFile claim, DownloadFile::Placement placement)
    : m_file(std::move(file)), m_claim(std::move(claim)), m_placement(placement) {}

long TftpClientDownload::Read(std::uint8_t*, size_t) {
  return -1;
}

bool TftpClientDownload::Write(const std::uint8_t* data, size_t size) {
  return m_file.IsOpen() && m_file.Write(data, size);
}

bool TftpClientDownload::Complete() {
  int error = 0;
  bool placed = m_file.Commit(m_placement, error);
  m_claim.Close();
  return placed;
}

OpenResult OpenClientDownload(FileShareTable& shares, const std::string& path, const ReceiveRules& rules) {
  bool exists = false;
  if (auto refused = CheckReceiveTarget(RootedFileSystem::Unconfined(), path, rules, exists))
    return std::move(*refused);
  int error = 0;
  if (!exists) {
    DownloadFile file = DownloadFile::Create(path, nullptr, error);
    if (!file.IsOpen()) return Refuse(kErrAccessViolation, "Failed to open file for receiving. Aborting");
    // A file that another session creates meanwhile is not overwritten, as the rules would not allow it.
    return std::make_unique<TftpClientDownload>(std::move(file), SharedFile(),
                                                DownloadFile::Placement::KeepExisting);
  }
  // Opened for writing but not truncated: the open proves that it may be written, and its claim keeps other
  // sessions away from it as long as the download runs.
  SharedFile claim = SharedFile::Open(shares, path, FileAccess::Write, ShareMode::Exclusive,
                                      Disposition::OpenExisting, error);
  struct stat st {};
  DownloadFile file;
  if (claim.IsOpen() && ::fstat(claim.NativeHandle(), &st) == 0)
    file = DownloadFile::Create(path, &st, error);
  if (!file.IsOpen()) return Refuse(kErrAccessViolation, "Failed to open file for receiving. Aborting.");
  return std::make_unique<TftpClientDownload>(std::move(file), std::move(claim),
                                              DownloadFile::Placement::Replace);
}

}  // namespace hx::tftp
