#include "tftp/datagram_batch.h"

#include <algorithm>

#include <cerrno>

namespace hx::tftp {

std::span<std::uint8_t> ReceiveBatch::First(size_t count, size_t size) {
  size_t stride = size + 1;
  if (m_size != size || m_headers.size() < count) {
    m_size = size;
    m_storage.reset(new std::uint8_t[count * stride]);
    m_vectors.resize(count);
    m_headers.resize(count);
    m_sources.resize(count);
  }
  m_count = count;
  for (size_t i = 0; i < count; ++i) {
    m_vectors[i] = iovec{m_storage.get() + i * stride, stride};
    m_headers[i] = mmsghdr{};
    m_headers[i].msg_hdr.msg_iov = &m_vectors[i];
    m_headers[i].msg_hdr.msg_iovlen = 1;
    m_headers[i].msg_hdr.msg_name = m_sources[i].data();
    m_headers[i].msg_hdr.msg_namelen = static_cast<socklen_t>(m_sources[i].capacity());
  }
  return std::span(m_storage.get(), stride);
}

int ReceiveBatch::ReceiveMore(int socket, size_t length) {
  m_headers[0].msg_len = static_cast<unsigned>(length);
  if (m_count < 2) return 1;
  int more = Take(socket, 1);
  return 1 + std::max(more, 0);
}

int ReceiveBatch::Receive(int socket, size_t count, size_t size) {
  First(count, size);
  return Take(socket, 0);
}

int ReceiveBatch::Take(int socket, size_t from) {
  int received;
  do {
    received = ::recvmmsg(socket, m_headers.data() + from, static_cast<unsigned>(m_count - from),
                          MSG_DONTWAIT, nullptr);
  } while (received < 0 && errno == EINTR);
  for (int i = 0; i < received; ++i) {
    size_t index = from + static_cast<size_t>(i);
    m_sources[index].resize(m_headers[index].msg_hdr.msg_namelen);
  }
  return received;
}

std::span<const std::uint8_t> ReceiveBatch::Bytes(int i) const {
  auto index = static_cast<size_t>(i);
  size_t length = std::min<size_t>(m_headers[index].msg_len, m_size);
  return std::span(m_storage.get() + index * (m_size + 1), length);
}

bool ReceiveBatch::Cut(int i) const {
  return m_headers[static_cast<size_t>(i)].msg_len > m_size;
}

asio::ip::udp::endpoint ReceiveBatch::From(int i) const {
  return m_sources[static_cast<size_t>(i)];
}

void SendBatch::Add(std::span<const std::uint8_t> bytes, const asio::ip::udp::endpoint& to,
                    bool reportFailure) {
  m_vectors.push_back(iovec{const_cast<std::uint8_t*>(bytes.data()), bytes.size()});
  m_targets.push_back(to);
  m_report.push_back(reportFailure);
}

int SendBatch::Flush(int socket) {
  size_t count = m_vectors.size();
  m_headers.assign(count, mmsghdr{});
  for (size_t i = 0; i < count; ++i) {
    m_headers[i].msg_hdr.msg_iov = &m_vectors[i];
    m_headers[i].msg_hdr.msg_iovlen = 1;
    m_headers[i].msg_hdr.msg_name = m_targets[i].data();
    m_headers[i].msg_hdr.msg_namelen = static_cast<socklen_t>(m_targets[i].size());
  }
  int failure = 0;
  for (size_t next = 0; next < count;) {
    // A call sends at most what a receive buffer of the system's default size takes: the peer, woken by
    // the first datagram, gets the processor back only when the call returns, and a window of large blocks
    // sent in one call would overflow a peer's buffer on the same processor.
    size_t end = next + 1;
    for (size_t bytes = m_vectors[next].iov_len; end < count && bytes + m_vectors[end].iov_len <= kBurstBytes;
         ++end)
      bytes += m_vectors[end].iov_len;
    int sent = ::sendmmsg(socket, m_headers.data() + next, static_cast<unsigned>(end - next), 0);
    if (sent > 0) {
      next += static_cast<size_t>(sent);
      continue;
    }
    if (sent < 0 && errno == EINTR) continue;
    // The datagram at `next` failed.
    if (m_report[next]) {
      failure = sent < 0 ? errno : EIO;
      break;
    }
    ++next;
  }
  m_vectors.clear();
  m_targets.clear();
  m_report.clear();
  return failure;
}

}  // namespace hx::tftp
