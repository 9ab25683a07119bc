#include "app/file_io.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

namespace hx {
namespace {

// Repeats `readSome(done)` (which reads what it can after the first `done` bytes) until `size` bytes have
// come or the file has ended.
template <typename ReadSome>
long ReadLoop(size_t size, ReadSome readSome) {
  size_t done = 0;
  while (done < size) {
    ssize_t count = readSome(done);
    if (count < 0 && errno == EINTR) continue;
    if (count < 0) return -1;
    if (count == 0) break;
    done += static_cast<size_t>(count);
  }
  return static_cast<long>(done);
}

}  // namespace

bool WriteAll(int fd, const void* data, size_t size) {
  const char* bytes = static_cast<const char*>(data);
  while (size > 0) {
    ssize_t count = ::write(fd, bytes, size);
    if (count < 0 && errno == EINTR) continue;
    if (count < 0) return false;
    bytes += count;
    size -= static_cast<size_t>(count);
  }
  return true;
}

long ReadAll(int fd, void* buffer, size_t size) {
  char* bytes = static_cast<char*>(buffer);
  return ReadLoop(size, [&](size_t done) { return ::read(fd, bytes + done, size - done); });
}

long ReadAll(int fd, void* buffer, size_t size, std::uint64_t offset) {
  char* bytes = static_cast<char*>(buffer);
  return ReadLoop(size, [&](size_t done) {
    return ::pread(fd, bytes + done, size - done, static_cast<off_t>(offset + done));
  });
}

std::optional<std::string> ReadToEnd(int fd) {
  std::string content;
  char buffer[16384];
  for (;;) {
    long count = ReadAll(fd, buffer, sizeof buffer);
    if (count < 0) return std::nullopt;
    content.append(buffer, static_cast<size_t>(count));
    if (static_cast<size_t>(count) < sizeof buffer) return content;
  }
}

std::optional<std::uint64_t> FileSize(int fd) {
  struct stat st {};
  if (::fstat(fd, &st) != 0) return std::nullopt;
  return static_cast<std::uint64_t>(st.st_size);
}

}  // namespace hx
