#include "support/lossy_relay.h"
#include "support/loopback.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <stdexcept>

namespace hx::test {
namespace {

constexpr std::size_t kKeptDatagrams = 8;
// A window of 64 blocks of 65,464 bytes is 4 MiB in flight; the relay must not lose any of it in a full
// receive buffer, only the datagrams it drops on purpose.
constexpr int kBufferBytes = 8 * 1024 * 1024;

// A UDP socket on a free port of 127.0.0.1; sets `port`.
int BoundSocket(std::uint16_t& port) {
  int fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
  if (fd < 0) throw std::runtime_error("relay: no UDP socket");
  // Beyond rmem_max only for root (the tests run as root); otherwise the system's limit holds.
  for (int option : {SO_RCVBUF, SO_SNDBUF})
    ::setsockopt(fd, SOL_SOCKET, option, &kBufferBytes, sizeof kBufferBytes);
  ::setsockopt(fd, SOL_SOCKET, SO_RCVBUFFORCE, &kBufferBytes, sizeof kBufferBytes);
  ::setsockopt(fd, SOL_SOCKET, SO_SNDBUFFORCE, &kBufferBytes, sizeof kBufferBytes);
  sockaddr_in address = Loopback(0);
  socklen_t length = sizeof address;
  if (::bind(fd, reinterpret_cast<sockaddr*>(&address), length) != 0 ||
      ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
    ::close(fd);
    throw std::runtime_error("relay: cannot bind a UDP socket on 127.0.0.1");
  }
  port = ntohs(address.sin_port);
  return fd;
}

void SendTo(int fd, std::uint16_t port, const std::string& bytes) {
  sockaddr_in to = Loopback(port);
  ::sendto(fd, bytes.data(), bytes.size(), 0, reinterpret_cast<sockaddr*>(&to), sizeof to);
}

}  // namespace

LossyRelay::LossyRelay(std::uint16_t serverPort, unsigned dropEvery, std::chrono::milliseconds lifetime)
    : m_serverPort(serverPort), m_dropEvery(dropEvery) {
  std::uint16_t unused = 0;
  m_requestFd = BoundSocket(m_requestPort);
  m_sessionFd = BoundSocket(unused);
  m_serverFd = BoundSocket(unused);
  if (::pipe2(m_wakeFds, O_CLOEXEC) != 0) throw std::runtime_error("relay: no pipe");
  m_thread = std::thread(&LossyRelay::Run, this, std::chrono::steady_clock::now() + lifetime);
}

LossyRelay::~LossyRelay() {
  ::write(m_wakeFds[1], "x", 1);
  m_thread.join();
  for (int fd : {m_requestFd, m_sessionFd, m_serverFd, m_wakeFds[0], m_wakeFds[1]}) ::close(fd);
}

LossyRelay::Counts LossyRelay::Snapshot() const {
  std::lock_guard guard(m_lock);
  return m_counts;
}

bool LossyRelay::Drop() {
  ++m_seen;
  if (m_dropEvery == 0 || m_seen % m_dropEvery != 0) return false;
  std::lock_guard guard(m_lock);
  ++m_counts.dropped;
  return true;
}

void LossyRelay::Note(const std::string& datagram, bool toServer) {
  std::lock_guard guard(m_lock);
  std::size_t& count = toServer ? m_counts.toServer : m_counts.toClient;
  std::size_t& largest = toServer ? m_counts.largestToServer : m_counts.largestToClient;
  std::vector<std::string>& first = toServer ? m_counts.firstToServer : m_counts.firstToClient;
  ++count;
  largest = std::max(largest, datagram.size());
  if (first.size() < kKeptDatagrams) first.push_back(datagram);
}

void LossyRelay::Run(std::chrono::steady_clock::time_point deadline) {
  std::string buffer(65536, '\0');
  for (;;) {
    auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
    if (left.count() <= 0) return;
    pollfd fds[] = {{m_requestFd, POLLIN, 0},
                    {m_sessionFd, POLLIN, 0},
                    {m_serverFd, POLLIN, 0},
                    {m_wakeFds[0], POLLIN, 0}};
    if (::poll(fds, 4, static_cast<int>(std::min<long>(left.count(), 60'000))) <= 0) continue;
    if (fds[3].revents) return;
    // Each socket is emptied before the next poll, so that a window of datagrams costs one wake-up.
    for (int i = 0; i < 3; ++i) {
      if (!fds[i].revents) continue;
      for (;;) {
        sockaddr_in from{};
        socklen_t length = sizeof from;
        ssize_t n = ::recvfrom(fds[i].fd, buffer.data(), buffer.size(), 0, reinterpret_cast<sockaddr*>(&from),
                               &length);
        if (n < 0) break;  // drained (or an error report of an earlier send, which changes nothing)
        std::string datagram(buffer.data(), static_cast<size_t>(n));
        std::uint16_t sender = ntohs(from.sin_port);
        if (fds[i].fd == m_serverFd) {
          m_transferPort = sender;
          if (Drop() || m_clientPort == 0) continue;
          Note(datagram, /*toServer=*/false);
          SendTo(m_sessionFd, m_clientPort, datagram);
          continue;
        }
        m_clientPort = sender;
        if (fds[i].fd == m_requestFd) m_transferPort = 0;  // a new transfer: its port comes with the answer
        std::uint16_t to = fds[i].fd == m_requestFd ? m_serverPort : m_transferPort;
        if (Drop() || to == 0) continue;
        Note(datagram, /*toServer=*/true);
        SendTo(m_serverFd, to, datagram);
      }
    }
  }
}

}  // namespace hx::test
