#pragma once

#include <asio/ip/tcp.hpp>
#include <memory>

#include "app/byte_stream.h"
#include "app/splice_pipe.h"

namespace hx {

// A plain TCP connection as a ByteStream. Files go out with sendfile and come in with splice, so that their
// bytes never pass through the program.
class TcpStream : public ByteStream {
 public:
  // `socket` is connected; it is made non-blocking.
  explicit TcpStream(asio::ip::tcp::socket socket);

  void ReadSome(asio::mutable_buffer buffer, IoHandler done) override;
  void WriteSome(asio::const_buffer buffer, IoHandler done) override;
  std::size_t WriteNow(asio::const_buffer buffer, std::error_code& error) override;
  std::size_t SendFileNow(int fd, std::uint64_t offset, std::size_t count, std::error_code& error) override;
  std::size_t ReceiveFileNow(int fd, std::size_t count, std::error_code& error) override;
  void WaitWritable(WaitHandler done) override;
  void WaitReadable(WaitHandler done) override;
  void Cancel() override;
  void Close() override;
  bool IsOpen() const override { return m_socket.is_open(); }
  asio::ip::tcp::socket* Socket() override { return &m_socket; }

 private:
  // The pipe of splice is asked for this much: a receive moves up to that many bytes at once.
  static constexpr std::size_t kPipeCapacity = 256 * 1024;

  asio::ip::tcp::socket m_socket;
  std::unique_ptr<SplicePipe> m_pipe;  // made at the first receive into a file
  bool m_pipeRefused = false;          // no pipe could be had (out of descriptors)
};

}  // namespace hx
