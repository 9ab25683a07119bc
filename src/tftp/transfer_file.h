#pragma once

#include <cstddef>
#include <cstdint>

namespace hx::tftp {

// The file a transfer reads from (sending side) or writes to (receiving side). Closing it is destroying it.
class TransferFile {
 public:
  virtual ~TransferFile() = default;
  // Reads up to `size` bytes; returns the count (below `size` only at the end of the file) or -1 on an error.
  virtual long Read(std::uint8_t* buffer, size_t size) = 0;
  // Writes all bytes; false on an error (disk full and the like).
  virtual bool Write(const std::uint8_t* data, size_t size) = 0;
  // The final block has been written: whatever makes the file complete happens now; false on a failure.
  virtual bool Complete() { return true; }
};

}  // namespace hx::tftp
