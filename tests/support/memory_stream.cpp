#include "support/memory_stream.h"

#include <unistd.h>

#include <algorithm>
#include <asio/error.hpp>
#include <asio/post.hpp>
#include <cstring>
#include <vector>

namespace hx::test {
namespace {

class Forwarder : public ByteStream {
 public:
  explicit Forwarder(std::shared_ptr<ByteStream> stream) : m_stream(std::move(stream)) {}
  void ReadSome(asio::mutable_buffer buffer, IoHandler done) override {
    m_stream->ReadSome(buffer, std::move(done));
  }
  void WriteSome(asio::const_buffer buffer, IoHandler done) override {
    m_stream->WriteSome(buffer, std::move(done));
  }
  std::size_t WriteNow(asio::const_buffer buffer, std::error_code& error) override {
    return m_stream->WriteNow(buffer, error);
  }
  std::size_t SendFileNow(int fd, std::uint64_t offset, std::size_t count, std::error_code& error) override {
    return m_stream->SendFileNow(fd, offset, count, error);
  }
  std::size_t ReceiveFileNow(int fd, std::size_t count, std::error_code& error) override {
    return m_stream->ReceiveFileNow(fd, count, error);
  }
  void WaitWritable(WaitHandler done) override { m_stream->WaitWritable(std::move(done)); }
  void WaitReadable(WaitHandler done) override { m_stream->WaitReadable(std::move(done)); }
  void Cancel() override { m_stream->Cancel(); }
  void Close() override { m_stream->Close(); }
  bool IsOpen() const override { return m_stream->IsOpen(); }

 private:
  std::shared_ptr<ByteStream> m_stream;
};

}  // namespace

std::unique_ptr<ByteStream> MemoryStream::ProgramEnd() {
  return std::make_unique<Forwarder>(shared_from_this());
}

void MemoryStream::Put(const std::string& bytes) {
  std::lock_guard guard(m_lock);
  m_input += bytes;
  ServeReadLocked();
}

void MemoryStream::EndInput() {
  std::lock_guard guard(m_lock);
  m_inputEnded = true;
  ServeReadLocked();
}

std::string MemoryStream::TakeLine(std::chrono::milliseconds timeout) {
  std::unique_lock guard(m_lock);
  size_t end = std::string::npos;
  m_changed.wait_for(guard, timeout, [&] { return (end = m_output.find("\r\n")) != std::string::npos; });
  if (end == std::string::npos) return {};
  std::string line = m_output.substr(0, end + 2);
  m_output.erase(0, end + 2);
  return line;
}

bool MemoryStream::WaitClosed(std::chrono::milliseconds timeout) {
  std::unique_lock guard(m_lock);
  return m_changed.wait_for(guard, timeout, [&] { return m_closed; });
}

void MemoryStream::ServeReadLocked() {
  if (m_pendingWait && (!m_input.empty() || m_inputEnded || m_closed)) {
    asio::post(m_executor, [done = std::move(m_pendingWait)] { done({}); });
    m_pendingWait = nullptr;
  }
  if (!m_pendingRead) return;
  std::error_code error;
  size_t count = 0;
  if (m_closed) {
    error = asio::error::operation_aborted;
  } else if (!m_input.empty()) {
    count = std::min(m_input.size(), m_readBuffer.size());
    std::memcpy(m_readBuffer.data(), m_input.data(), count);
    m_input.erase(0, count);
  } else if (m_inputEnded) {
    error = asio::error::eof;
  } else {
    return;
  }
  asio::post(m_executor, [done = std::move(m_pendingRead), error, count] { done(error, count); });
  m_pendingRead = nullptr;
}

void MemoryStream::ReadSome(asio::mutable_buffer buffer, IoHandler done) {
  std::lock_guard guard(m_lock);
  m_pendingRead = std::move(done);
  m_readBuffer = buffer;
  ServeReadLocked();
}

void MemoryStream::WriteSome(asio::const_buffer buffer, IoHandler done) {
  std::error_code error;
  size_t count = WriteNow(buffer, error);
  asio::post(m_executor, [done = std::move(done), error, count] { done(error, count); });
}

std::size_t MemoryStream::WriteNow(asio::const_buffer buffer, std::error_code& error) {
  std::lock_guard guard(m_lock);
  if (m_closed) {
    error = asio::error::bad_descriptor;
    return 0;
  }
  error.clear();
  m_output.append(static_cast<const char*>(buffer.data()), buffer.size());
  m_changed.notify_all();
  return buffer.size();
}

std::size_t MemoryStream::SendFileNow(int fd, std::uint64_t offset, std::size_t count,
                                      std::error_code& error) {
  std::vector<char> bytes(count);
  ssize_t got = ::pread(fd, bytes.data(), count, static_cast<off_t>(offset));
  if (got < 0) {
    error = {errno, std::system_category()};
    return 0;
  }
  return WriteNow(asio::buffer(bytes.data(), static_cast<size_t>(got)), error);
}

std::size_t MemoryStream::ReceiveFileNow(int, std::size_t, std::error_code& error) {
  error = asio::error::operation_not_supported;
  return 0;
}

void MemoryStream::WaitWritable(WaitHandler done) {
  asio::post(m_executor, [done = std::move(done)] { done({}); });
}

void MemoryStream::WaitReadable(WaitHandler done) {
  std::lock_guard guard(m_lock);
  m_pendingWait = std::move(done);
  ServeReadLocked();
}

void MemoryStream::Cancel() {
  std::lock_guard guard(m_lock);
  if (m_pendingRead)
    asio::post(m_executor, [done = std::move(m_pendingRead)] { done(asio::error::operation_aborted, 0); });
  if (m_pendingWait)
    asio::post(m_executor, [done = std::move(m_pendingWait)] { done(asio::error::operation_aborted); });
  m_pendingRead = nullptr;
  m_pendingWait = nullptr;
}

void MemoryStream::Close() {
  Cancel();
  std::lock_guard guard(m_lock);
  m_closed = true;
  m_changed.notify_all();
}

bool MemoryStream::IsOpen() const {
  std::lock_guard guard(m_lock);
  return !m_closed;
}

}  // namespace hx::test
