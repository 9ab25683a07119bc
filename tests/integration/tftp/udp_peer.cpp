#include "udp_peer.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <stdexcept>

namespace hx::test {
namespace {

// The loopback address of the family with `port`, and its length.
socklen_t Loopback(bool ipv6, std::uint16_t port, sockaddr_storage& storage) {
  storage = {};
  if (ipv6) {
    auto* address = reinterpret_cast<sockaddr_in6*>(&storage);
    address->sin6_family = AF_INET6;
    address->sin6_addr = in6addr_loopback;
    address->sin6_port = htons(port);
    return sizeof(sockaddr_in6);
  }
  auto* address = reinterpret_cast<sockaddr_in*>(&storage);
  address->sin_family = AF_INET;
  address->sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  address->sin_port = htons(port);
  return sizeof(sockaddr_in);
}

// Both families keep the port at the same place.
std::uint16_t PortOf(const sockaddr_storage& storage) {
  return ntohs(reinterpret_cast<const sockaddr_in*>(&storage)->sin_port);
}

}  // namespace

UdpPeer::UdpPeer(bool ipv6, const std::string& source) : m_ipv6(ipv6) {
  m_fd = ::socket(ipv6 ? AF_INET6 : AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  if (m_fd < 0) throw std::runtime_error("socket failed");
  sockaddr_storage address{};
  socklen_t length = Loopback(ipv6, 0, address);
  if (!source.empty() &&
      ::inet_pton(AF_INET, source.c_str(), &reinterpret_cast<sockaddr_in*>(&address)->sin_addr) != 1)
    throw std::runtime_error("bad source address");
  if (::bind(m_fd, reinterpret_cast<sockaddr*>(&address), length) != 0)
    throw std::runtime_error("bind failed");
  length = sizeof address;
  ::getsockname(m_fd, reinterpret_cast<sockaddr*>(&address), &length);
  m_port = PortOf(address);
}

UdpPeer::~UdpPeer() {
  ::close(m_fd);
}

void UdpPeer::SendTo(std::uint16_t port, const Bytes& bytes) const {
  sockaddr_storage address{};
  socklen_t length = Loopback(m_ipv6, port, address);
  ::sendto(m_fd, bytes.data(), bytes.size(), 0, reinterpret_cast<sockaddr*>(&address), length);
}

std::optional<Datagram> UdpPeer::Receive(std::chrono::milliseconds timeout) const {
  pollfd p{m_fd, POLLIN, 0};
  if (::poll(&p, 1, static_cast<int>(timeout.count())) <= 0) return std::nullopt;
  Datagram d;
  d.bytes.resize(65536);  // the longest datagram: a block of 65,464 bytes fits
  sockaddr_storage from{};
  socklen_t length = sizeof from;
  ssize_t n =
      ::recvfrom(m_fd, d.bytes.data(), d.bytes.size(), 0, reinterpret_cast<sockaddr*>(&from), &length);
  if (n < 0) return std::nullopt;
  d.bytes.resize(static_cast<size_t>(n));
  d.port = PortOf(from);
  return d;
}

Bytes Request(int opcode, const std::string& name, const std::string& mode) {
  Bytes out = {0, static_cast<std::uint8_t>(opcode)};
  out.insert(out.end(), name.begin(), name.end());
  out.push_back(0);
  out.insert(out.end(), mode.begin(), mode.end());
  out.push_back(0);
  return out;
}

Bytes Ack(std::uint16_t block) {
  return {0, 4, static_cast<std::uint8_t>(block >> 8), static_cast<std::uint8_t>(block & 0xFF)};
}

Bytes Data(std::uint16_t block, const std::string& payload) {
  Bytes out = {0, 3, static_cast<std::uint8_t>(block >> 8), static_cast<std::uint8_t>(block & 0xFF)};
  out.insert(out.end(), payload.begin(), payload.end());
  return out;
}

std::uint16_t OpcodeOf(const Datagram& d) {
  return d.bytes.size() >= 2 ? static_cast<std::uint16_t>(d.bytes[0] << 8 | d.bytes[1]) : 0xFFFF;
}

std::uint16_t NumberOf(const Datagram& d) {
  return d.bytes.size() >= 4 ? static_cast<std::uint16_t>(d.bytes[2] << 8 | d.bytes[3]) : 0xFFFF;
}

std::string ErrorText(const Datagram& d) {
  if (d.bytes.size() < 5 || d.bytes.back() != 0) return "<malformed ERROR>";
  return std::string(d.bytes.begin() + 4, d.bytes.end() - 1);
}

std::string PayloadOf(const Datagram& d) {
  return d.bytes.size() < 4 ? std::string() : std::string(d.bytes.begin() + 4, d.bytes.end());
}

}  // namespace hx::test
