#pragma once

#include <atomic>
#include <cstdint>
#include <optional>
#include <string>

#include "app/shared_file.h"
#include "ftp/server/hash_algorithm.h"

namespace hx::ftpd {

struct FileDigestResult {
  std::string digest;   // lowercase hex
  std::uint64_t bytes;  // how many were read
};

// The digest of `file` from its current position (the start, for a file just opened) to its end. The file
// is closed before returning, so that its claim is given back before the caller replies. nullopt when
// reading fails or `stop` is set meanwhile.
std::optional<FileDigestResult> FileDigest(SharedFile file, HashAlgorithm algorithm,
                                           const std::atomic<bool>& stop);

}  // namespace hx::ftpd
