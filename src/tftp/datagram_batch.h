#pragma once

#include <sys/socket.h>

#include <asio/ip/udp.hpp>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <vector>

// Many datagrams with one system call each way (recvmmsg, sendmmsg): a window of blocks goes out and comes
// in without a call per block.
namespace hx::tftp {

// The first datagram of a batch is waited for by the caller (into First()); those that arrived with it are
// taken with one more call.
class ReceiveBatch {
 public:
  // Buffers for up to `count` datagrams of up to `size` bytes; returns where the first one goes (one byte
  // longer, so that a longer datagram shows as cut) and where its source is written.
  std::span<std::uint8_t> First(size_t count, size_t size);
  asio::ip::udp::endpoint& FirstSource() { return m_sources[0]; }
  // The first datagram came with `length` bytes; takes those that wait behind it, without waiting, up to
  // the count, and returns how many the batch holds.
  int ReceiveMore(int socket, size_t length);
  // Takes up to `count` datagrams that are waiting on the socket, without waiting, into buffers of `size`
  // bytes; returns how many, or -1 with errno set (EAGAIN when none waits).
  int Receive(int socket, size_t count, size_t size);
  // Datagram `i`: its bytes (cut to `size`), whether it was longer, and where it came from.
  std::span<const std::uint8_t> Bytes(int i) const;
  bool Cut(int i) const;
  asio::ip::udp::endpoint From(int i) const;

 private:
  // recvmmsg into the buffers from `from` on.
  int Take(int socket, size_t from);

  size_t m_size = 0;
  size_t m_count = 0;
  std::unique_ptr<std::uint8_t[]> m_storage;  // not zero-filled: datagrams are received into it
  std::vector<iovec> m_vectors;
  std::vector<mmsghdr> m_headers;
  std::vector<asio::ip::udp::endpoint> m_sources;
};

class SendBatch {
 public:
  static constexpr size_t kBurstBytes = 64 * 1024;

  // Queues a datagram; the bytes must stay valid until Flush.
  void Add(std::span<const std::uint8_t> bytes, const asio::ip::udp::endpoint& to, bool reportFailure);
  bool Empty() const { return m_vectors.empty(); }
  // Sends what is queued and empties the queue. A failed datagram whose failure was to be reported stops
  // the batch: returns its errno (the rest are dropped); other failures are skipped. Returns 0 otherwise.
  int Flush(int socket);

 private:
  std::vector<iovec> m_vectors;
  std::vector<asio::ip::udp::endpoint> m_targets;
  std::vector<bool> m_report;
  std::vector<mmsghdr> m_headers;
};

}  // namespace hx::tftp
