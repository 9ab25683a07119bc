#pragma once

#include <asio/buffer.hpp>
#include <asio/ip/tcp.hpp>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <system_error>

namespace hx {

// A connection as the FTP server's sessions see it: a stream of bytes each way. A plain TCP connection is one
// (TcpStream); an encrypted one is another, and nothing that uses the stream knows which it has.
//
// At most one read and one write (or wait for either) are pending at a time. Handlers run on the executor of
// the connection; after Cancel or Close, pending ones get operation_aborted. The calls that end in "Now"
// never wait: they do what the connection allows at once and report would_block when that is nothing.
class ByteStream {
 public:
  using IoHandler = std::function<void(std::error_code, std::size_t)>;
  using WaitHandler = std::function<void(std::error_code)>;

  virtual ~ByteStream() = default;

  // Reads what has come, up to the buffer's size; eof at the peer's orderly end.
  virtual void ReadSome(asio::mutable_buffer buffer, IoHandler done) = 0;
  // Writes some of the buffer, at least one byte unless it fails.
  virtual void WriteSome(asio::const_buffer buffer, IoHandler done) = 0;
  virtual std::size_t WriteNow(asio::const_buffer buffer, std::error_code& error) = 0;

  // Sends up to `count` bytes of the file `fd` from `offset`, without passing them through the program where
  // the connection allows; 0 without an error when the file holds nothing at `offset`.
  virtual std::size_t SendFileNow(int fd, std::uint64_t offset, std::size_t count,
                                  std::error_code& error) = 0;
  // Moves up to `count` bytes that have come into the file `fd` at its offset; 0 without an error at the
  // peer's orderly end. operation_not_supported when the stream cannot do it: the caller reads and writes.
  virtual std::size_t ReceiveFileNow(int fd, std::size_t count, std::error_code& error) = 0;

  // Waits until a write or a read (or the peer's end) can make progress.
  virtual void WaitWritable(WaitHandler done) = 0;
  virtual void WaitReadable(WaitHandler done) = 0;

  // Ends the pending operations with operation_aborted; the connection stays.
  virtual void Cancel() = 0;
  virtual void Close() = 0;
  virtual bool IsOpen() const = 0;

  // The TCP connection beneath a stream that does not encrypt, for a caller that goes on with TLS over it;
  // nullptr for any other stream. Once moved from, this stream is closed.
  virtual asio::ip::tcp::socket* Socket() { return nullptr; }
};

// The two addresses a connection was made between.
struct StreamEnds {
  asio::ip::tcp::endpoint local;                // the server's address that the client reached
  std::optional<asio::ip::tcp::endpoint> peer;  // the client's, when the system could tell it
};

}  // namespace hx
