#include "tftp/datagram_batch.h"

#include <cerrno>

namespace hx::tftp {

int ReceiveBatch::Receive(int socket, size_t count, size_t size) {
  // One byte more than the longest datagram expected, so that a longer one shows as cut.
  size_t stride = size + 1;
  if (m_size != size || m_headers.size() < count) {
    m_size = size;
    m_storage.assign(count * stride, 0);
    m_vectors.resize(count);
    m_headers.resize(count);
    m_sources.resize(count);
  }
  for (size_t i = 0; i < count; ++i) {
    m_vectors[i] = iovec{m_storage.data() + i * stride, stride};
    m_headers[i] = mmsghdr{};
    m_headers[i].msg_hdr.msg_iov = &m_vectors[i];
    m_headers[i].msg_hdr.msg_iovlen = 1;
    m_headers[i].msg_hdr.msg_name = m_sources[i].data();
    m_headers[i].msg_hdr.msg_namelen = static_cast<socklen_t>(m_sources[i].capacity());
  }
  int received;
  do {
    received = ::recvmmsg(socket, m_headers.data(), static_cast<unsigned>(count), MSG_DONTWAIT, nullptr);
  } while (received < 0 && errno == EINTR);
  for (int i = 0; i < received; ++i)
    m_sources[static_cast<size_t>(i)].resize(m_headers[static_cast<size_t>(i)].msg_hdr.msg_namelen);
  return received;
}

std::span<const std::uint8_t> ReceiveBatch::Bytes(int i) const {
  auto index = static_cast<size_t>(i);
  size_t length = std::min<size_t>(m_headers[index].msg_len, m_size);
  return std::span(m_storage.data() + index * (m_size + 1), length);
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
    int sent = ::sendmmsg(socket, m_headers.data() + next, static_cast<unsigned>(count - next), 0);
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
