#pragma once

#include <atomic>
#include <cstdint>
#include <optional>

#include "app/shared_file.h"
#include "app/text_size_cache.h"

namespace hx::ftpd {

// The size of `file` as a type A transfer sends it (every LF as CR LF), which takes reading it whole; the
// answer for a version of the file counted before comes from `cache`. Reads from the file's current position
// (the start, for a file just opened) and closes it before returning, so that its claim is given back before
// the caller replies. nullopt when reading fails or `stop` is set meanwhile.
std::optional<std::uint64_t> AsciiSizeOf(SharedFile file, TextSizeCache& cache,
                                         const std::atomic<bool>& stop);

}  // namespace hx::ftpd
