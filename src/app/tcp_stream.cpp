#include "app/tcp_stream.h"

#include <sys/sendfile.h>
#include <sys/types.h>

#include <cerrno>

namespace hx {
namespace {

std::error_code Errno(int code) {
  if (code == EAGAIN) return asio::error::would_block;
  return {code, std::system_category()};
}

}  // namespace

TcpStream::TcpStream(asio::ip::tcp::socket socket) : m_socket(std::move(socket)) {
  std::error_code ignored;
  m_socket.non_blocking(true, ignored);
  // sendfile and splice go to the descriptor itself, which must not block either.
  m_socket.native_non_blocking(true, ignored);
}

void TcpStream::ReadSome(asio::mutable_buffer buffer, IoHandler done) {
  m_socket.async_read_some(buffer, std::move(done));
}

void TcpStream::WriteSome(asio::const_buffer buffer, IoHandler done) {
  m_socket.async_write_some(buffer, std::move(done));
}

std::size_t TcpStream::WriteNow(asio::const_buffer buffer, std::error_code& error) {
  std::size_t written = m_socket.write_some(buffer, error);
  if (error == asio::error::try_again) error = asio::error::would_block;
  return written;
}

std::size_t TcpStream::SendFileNow(int fd, std::uint64_t offset, std::size_t count, std::error_code& error) {
  error.clear();
  for (;;) {
    off_t position = static_cast<off_t>(offset);
    ssize_t sent = ::sendfile(m_socket.native_handle(), fd, &position, count);
    if (sent >= 0) return static_cast<std::size_t>(sent);
    if (errno == EINTR) continue;
    error = Errno(errno);
    return 0;
  }
}

std::size_t TcpStream::ReceiveFileNow(int fd, std::size_t count, std::error_code& error) {
  error.clear();
  if (!m_pipe && !m_pipeRefused) {
    auto pipe = std::make_unique<SplicePipe>();
    if (pipe->Open(kPipeCapacity))
      m_pipe = std::move(pipe);
    else
      m_pipeRefused = true;
  }
  if (!m_pipe) {
    error = asio::error::operation_not_supported;
    return 0;
  }
  int code = 0;
  long moved = m_pipe->Move(m_socket.native_handle(), fd, count, code);
  if (moved >= 0) return static_cast<std::size_t>(moved);
  error = Errno(code);
  return 0;
}

void TcpStream::WaitWritable(WaitHandler done) {
  m_socket.async_wait(asio::socket_base::wait_write, std::move(done));
}

void TcpStream::WaitReadable(WaitHandler done) {
  m_socket.async_wait(asio::socket_base::wait_read, std::move(done));
}

void TcpStream::Cancel() {
  std::error_code ignored;
  m_socket.cancel(ignored);
}

void TcpStream::Close() {
  std::error_code ignored;
  m_socket.close(ignored);
}

}  // namespace hx
