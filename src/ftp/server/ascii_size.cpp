#include "ftp/server/ascii_size.h"

#include <string_view>
#include <vector>

#include "ftp/server/info_replies.h"

namespace hx::ftpd {
namespace {

std::optional<std::uint64_t> CountWhole(SharedFile& file, const std::atomic<bool>& stop) {
  std::vector<char> block(64 * 1024);
  std::uint64_t size = 0;
  for (;;) {
    if (stop.load(std::memory_order_relaxed)) return std::nullopt;
    long count = file.Read(block.data(), block.size());
    if (count < 0) return std::nullopt;
    size += CountAsciiBytes(std::string_view(block.data(), static_cast<size_t>(count)));
    if (count < static_cast<long>(block.size())) return size;
  }
}

}  // namespace

std::optional<std::uint64_t> AsciiSizeOf(SharedFile file, TextSizeCache& cache,
                                         const std::atomic<bool>& stop) {
  std::optional<FileVersionKey> before = FileVersionOf(file.NativeHandle());
  std::optional<std::uint64_t> size = before ? cache.Find(*before) : std::nullopt;
  if (size) {
    file.Close();
    return size;
  }
  size = CountWhole(file, stop);
  // A file that changed while it was read gave a count of neither version: it is not kept.
  bool unchanged = before && FileVersionOf(file.NativeHandle()) == before;
  file.Close();
  if (size && unchanged) cache.Store(*before, *size);
  return size;
}

}  // namespace hx::ftpd
