#pragma once

#include <sys/types.h>

#include <cstdint>
#include <optional>
#include <string>

namespace hx {

// Whole reads and writes on a descriptor: a call the kernel interrupts or answers short is carried on, so
// that a caller never sees half a transfer unless the file itself ends.

// Writes all `size` bytes; false (errno set) on an error such as a full disk.
bool WriteAll(int fd, const void* data, size_t size);
// Reads `size` bytes from the file position; fewer only at the end of the file. -1 (errno set) on an error.
long ReadAll(int fd, void* buffer, size_t size);
// The same at `offset`, leaving the file position as it is.
long ReadAll(int fd, void* buffer, size_t size, std::uint64_t offset);
// Everything from the file position to the end of the file; nullopt (errno set) on an error.
std::optional<std::string> ReadToEnd(int fd);
// The size of the file open as `fd`; nullopt (errno set) when the system cannot tell.
std::optional<std::uint64_t> FileSize(int fd);

}  // namespace hx
