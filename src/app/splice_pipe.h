#pragma once

#include <cstddef>

namespace hx {

// Moves bytes from a socket to a file through a pipe of the kernel's (splice): each byte is copied once, from
// the socket's buffers into the file's pages, instead of twice through a buffer of the program's own.
class SplicePipe {
 public:
  SplicePipe() = default;
  SplicePipe(const SplicePipe&) = delete;
  SplicePipe& operator=(const SplicePipe&) = delete;
  ~SplicePipe();

  // Creates the pipe, asking for `capacity` bytes; false when no pipe can be had (the caller copies instead).
  bool Open(size_t capacity);
  bool IsOpen() const { return m_read >= 0; }

  // Moves what the non-blocking socket `from` holds, up to `limit` bytes, to the file `to` at its offset, and
  // returns the count: 0 when the peer has closed the connection, -1 with `error` set otherwise (EAGAIN:
  // nothing to read yet).
  long Move(int from, int to, size_t limit, int& error);

 private:
  int m_read = -1;
  int m_write = -1;
  size_t m_capacity = 0;
};

}  // namespace hx
