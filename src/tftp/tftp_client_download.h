#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "app/download_file.h"
#include "app/shared_file.h"
#include "tftp/file_access.h"
#include "tftp/transfer_file.h"

namespace hx::tftp {

// The local file of a client GET. The blocks go to a DownloadFile beside the target; the block shorter than
// 512 bytes that ends every TFTP transfer completes the file, which then takes the target's place. A
// transfer that ends any other way leaves the target as it was and no file behind.
class TftpClientDownload : public TransferFile {
 public:
  // `claim`, when open, holds the existing target against other sessions until it has been replaced.
  TftpClientDownload(DownloadFile file, SharedFile claim, DownloadFile::Placement placement);

  long Read(std::uint8_t* buffer, size_t size) override;
  // The last block also puts the file in place; false when that fails, as for a failed write.
  bool Write(const std::uint8_t* data, size_t size) override;
  // Puts the received file in place of the target.
  bool Complete() override;

 private:
  DownloadFile m_file;
  SharedFile m_claim;
  DownloadFile::Placement m_placement;
};

// Opens the download of a GET into `path` with the refusals a write request of a peer gets (the same rules
// and texts): directories are created when allowed, an existing file must be a writable regular file that
// may be overwritten and that no other session uses. The target itself is not touched: a new one appears
// when the file is complete, and only if no other file took its name meanwhile; an existing one is replaced
// then.
OpenResult OpenClientDownload(FileShareTable& shares, const std::string& path, const ReceiveRules& rules);

}  // namespace hx::tftp
