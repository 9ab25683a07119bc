#pragma once

#include <sys/types.h>

#include <filesystem>

namespace hx {

// Opens one of the program's own files (Harbinex.ini, Harbinex.pwd, Harbinex.log, Harbinex.dbg and the
// files beside them) as open(2) with `flags`, never through a link (ELOOP) and never anything but a regular
// file (EINVAL; a pipe planted under the name does not make the open wait). A file that O_CREAT creates gets
// exactly `newFileMode`, whatever the umask. Returns the descriptor (close-on-exec) or -1 with errno set.
int OpenProgramFile(const std::filesystem::path& path, int flags, mode_t newFileMode);

}  // namespace hx
