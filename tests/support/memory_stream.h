#pragma once

#include <asio/any_io_executor.hpp>
#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <string>

#include "app/byte_stream.h"

namespace hx::test {

// A connection held in memory: what the test puts in is what the program reads, and what the program writes
// is what the test takes out. The program's handlers run on `executor`; the test's calls are safe from any
// thread.
class MemoryStream : public ByteStream, public std::enable_shared_from_this<MemoryStream> {
 public:
  explicit MemoryStream(asio::any_io_executor executor) : m_executor(std::move(executor)) {}

  // The stream for the program to own, while the test keeps this one.
  std::unique_ptr<ByteStream> ProgramEnd();

  // The test's side.
  void Put(const std::string& bytes);
  // The peer's orderly end: the program reads eof once it has read everything before it.
  void EndInput();
  // What the program has written and the test has not taken yet, up to and including the first CR LF; waits
  // for it up to `timeout` and gives the empty string when no full line came.
  std::string TakeLine(std::chrono::milliseconds timeout);
  // Whether the program closed the stream, waiting for it up to `timeout`.
  bool WaitClosed(std::chrono::milliseconds timeout);

  // The program's side.
  void ReadSome(asio::mutable_buffer buffer, IoHandler done) override;
  void WriteSome(asio::const_buffer buffer, IoHandler done) override;
  std::size_t WriteNow(asio::const_buffer buffer, std::error_code& error) override;
  std::size_t SendFileNow(int fd, std::uint64_t offset, std::size_t count, std::error_code& error) override;
  std::size_t ReceiveFileNow(int fd, std::size_t count, std::error_code& error) override;
  void WaitWritable(WaitHandler done) override;
  void WaitReadable(WaitHandler done) override;
  void Cancel() override;
  void Close() override;
  bool IsOpen() const override;

 private:
  // Completes a pending read when input (or its end) is there; the lock is held.
  void ServeReadLocked();

  asio::any_io_executor m_executor;
  mutable std::mutex m_lock;
  std::condition_variable m_changed;
  std::string m_input;
  bool m_inputEnded = false;
  std::string m_output;
  bool m_closed = false;
  IoHandler m_pendingRead;
  asio::mutable_buffer m_readBuffer;
  WaitHandler m_pendingWait;  // a wait for readability
};

}  // namespace hx::test
