#pragma once

#include <string>

#include "app/shared_file.h"
#include "tftp/file_access.h"

namespace hx::tftp {

// Opens the download of a GET into `path` with the refusals a write request of a peer gets (the same rules
// and texts): directories are created when allowed, an existing file must be a writable regular file that
// may be overwritten and that no other session uses. The target itself is not touched: the blocks go to a
// file beside it (a ReplacingTransferFile), and a new one appears when the file is complete, and only if no
// other file took its name meanwhile; an existing one is replaced then.
OpenResult OpenClientDownload(FileShareTable& shares, const std::string& path, const ReceiveRules& rules);

}  // namespace hx::tftp
