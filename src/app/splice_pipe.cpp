#include "app/splice_pipe.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>

namespace hx {

SplicePipe::~SplicePipe() {
  if (m_read >= 0) ::close(m_read);
  if (m_write >= 0) ::close(m_write);
}

bool SplicePipe::Open(size_t capacity) {
  int fds[2];
  if (::pipe2(fds, O_CLOEXEC) != 0) return false;
  m_read = fds[0];
  m_write = fds[1];
  // A pipe holds 64 KiB unless asked for more; a smaller one only means more calls.
  int granted = ::fcntl(m_write, F_SETPIPE_SZ, static_cast<int>(capacity));
  m_capacity = granted > 0 ? static_cast<size_t>(granted) : 65536;
  return true;
}

long SplicePipe::Move(int from, int to, size_t limit, int& error) {
  size_t moved = 0;
  while (moved < limit) {
    ssize_t in = ::splice(from, nullptr, m_write, nullptr, std::min(limit - moved, m_capacity),
                          SPLICE_F_MOVE | SPLICE_F_NONBLOCK);
    if (in == 0) break;  // the peer closed: what came before it is in the file already
    if (in < 0) {
      if (errno == EINTR) continue;
      if (moved > 0 && errno == EAGAIN) break;
      error = errno;
      return -1;
    }
    // The pipe is empty before every fill, so the file takes all of it before the next one.
    for (ssize_t left = in; left > 0;) {
      ssize_t out = ::splice(m_read, nullptr, to, nullptr, static_cast<size_t>(left), SPLICE_F_MOVE);
      if (out < 0 && errno == EINTR) continue;
      if (out <= 0) {
        error = out < 0 ? errno : EIO;
        return -1;
      }
      left -= out;
    }
    moved += static_cast<size_t>(in);
  }
  return static_cast<long>(moved);
}

}  // namespace hx
