#include "integration/clients/tftp_client_support.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <stdexcept>
#include <string_view>
#include <thread>
#include <vector>

#include "integration/clients/ftp_client_peers.h"
#include "support/harbinex_process.h"
#include "support/loopback.h"

namespace hx::test::tftpc {
namespace {

constexpr const char* kTftpd = "/usr/sbin/in.tftpd";

void PutU16(std::string& out, std::uint16_t value) {
  out.push_back(static_cast<char>(value >> 8));
  out.push_back(static_cast<char>(value & 0xFF));
}

}  // namespace

bool UdpPortTaken(std::uint16_t port) {
  int fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return false;
  sockaddr_in address = Loopback(port);
  bool taken = ::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 && errno == EADDRINUSE;
  ::close(fd);
  return taken;
}

UdpSocket::UdpSocket(const char* localAddress)
    : m_ipv6(std::string_view(localAddress).find(':') != std::string_view::npos) {
  m_fd = ::socket(m_ipv6 ? AF_INET6 : AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  if (m_fd < 0) throw std::runtime_error("no UDP socket");
  sockaddr_storage address{};
  socklen_t length = sizeof address;
  bool parsed = false;
  if (m_ipv6) {
    auto* v6 = reinterpret_cast<sockaddr_in6*>(&address);
    v6->sin6_family = AF_INET6;
    parsed = ::inet_pton(AF_INET6, localAddress, &v6->sin6_addr) == 1;
  } else {
    auto* v4 = reinterpret_cast<sockaddr_in*>(&address);
    v4->sin_family = AF_INET;
    parsed = ::inet_pton(AF_INET, localAddress, &v4->sin_addr) == 1;
  }
  if (!parsed || ::bind(m_fd, reinterpret_cast<sockaddr*>(&address), length) != 0 ||
      ::getsockname(m_fd, reinterpret_cast<sockaddr*>(&address), &length) != 0)
    throw std::runtime_error(std::string("cannot bind a UDP socket on ") + localAddress);
  // Both families keep the port at the same place.
  m_port = ntohs(reinterpret_cast<sockaddr_in*>(&address)->sin_port);
}

UdpSocket::~UdpSocket() {
  Close();
}

void UdpSocket::Close() {
  if (m_fd >= 0) ::close(m_fd);
  m_fd = -1;
}

void UdpSocket::SendTo(std::uint16_t port, const std::string& bytes) const {
  if (m_ipv6) {
    sockaddr_in6 to{};
    to.sin6_family = AF_INET6;
    to.sin6_addr = in6addr_loopback;
    to.sin6_port = htons(port);
    ::sendto(m_fd, bytes.data(), bytes.size(), 0, reinterpret_cast<sockaddr*>(&to), sizeof to);
    return;
  }
  sockaddr_in to = Loopback(port);
  ::sendto(m_fd, bytes.data(), bytes.size(), 0, reinterpret_cast<sockaddr*>(&to), sizeof to);
}

std::optional<Datagram> UdpSocket::Receive(std::chrono::milliseconds timeout) const {
  auto deadline = std::chrono::steady_clock::now() + timeout;
  for (;;) {
    auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
    if (left.count() < 0) return std::nullopt;
    pollfd p{m_fd, POLLIN, 0};
    if (::poll(&p, 1, static_cast<int>(left.count())) <= 0) {
      if (std::chrono::steady_clock::now() >= deadline) return std::nullopt;
      continue;
    }
    char buffer[2048];
    sockaddr_storage from{};
    socklen_t length = sizeof from;
    ssize_t n = ::recvfrom(m_fd, buffer, sizeof buffer, 0, reinterpret_cast<sockaddr*>(&from), &length);
    if (n < 0) continue;  // a port-unreachable report for something this socket sent
    return Datagram{std::string(buffer, static_cast<size_t>(n)),
                    ntohs(reinterpret_cast<sockaddr_in*>(&from)->sin_port)};
  }
}

std::uint16_t FreeUdpPort() {
  UdpSocket probe;
  return probe.Port();
}

Tftpd::Tftpd(const std::filesystem::path& dir, bool allowCreate) {
  if (::access(kTftpd, X_OK) != 0) return;
  // The server drops to an unprivileged user inside the directory.
  std::error_code ignored;
  std::filesystem::permissions(dir, std::filesystem::perms::all, ignored);
  for (int attempt = 0; attempt < 3 && !m_started; ++attempt) {
    m_port = FreeUdpPort();
    std::vector<std::string> argv{kTftpd,       "-L", "-s",
                                  dir.string(), "-a", "127.0.0.1:" + std::to_string(m_port)};
    if (allowCreate) argv.insert(argv.begin() + 2, "-c");
    m_process = std::make_unique<PeerProcess>(argv);
    if (!m_process->Started()) return;
    m_started = WaitUntil([&] { return UdpPortTaken(m_port); }, std::chrono::seconds(5));
    if (!m_started) m_process.reset();
  }
}

Tftpd::~Tftpd() = default;

std::string Tftpd::Output() const {
  return m_process ? m_process->Output() : std::string();
}

std::string Request(int opcode, const std::string& name, const std::string& mode) {
  std::string out;
  PutU16(out, static_cast<std::uint16_t>(opcode));
  out += name;
  out.push_back('\0');
  out += mode;
  out.push_back('\0');
  return out;
}

std::string Data(std::uint16_t block, const std::string& payload) {
  std::string out;
  PutU16(out, 3);
  PutU16(out, block);
  return out + payload;
}

std::string Ack(std::uint16_t block) {
  std::string out;
  PutU16(out, 4);
  PutU16(out, block);
  return out;
}

std::uint16_t OpcodeOf(const std::string& packet) {
  if (packet.size() < 2) return 0;
  return static_cast<std::uint16_t>((static_cast<unsigned char>(packet[0]) << 8) |
                                    static_cast<unsigned char>(packet[1]));
}

std::uint16_t NumberOf(const std::string& packet) {
  if (packet.size() < 4) return 0;
  return static_cast<std::uint16_t>((static_cast<unsigned char>(packet[2]) << 8) |
                                    static_cast<unsigned char>(packet[3]));
}

std::string PayloadOf(const std::string& packet) {
  if (packet.size() <= 4) return {};
  std::string rest = packet.substr(4);
  if (OpcodeOf(packet) == 5) rest = rest.substr(0, rest.find('\0'));
  return rest;
}

std::string PatternBytes(size_t size, unsigned seed) {
  std::string out(size, '\0');
  unsigned state = seed * 2654435761u + 1;
  for (auto& c : out) {
    state = state * 1103515245u + 12345u;
    c = static_cast<char>(state >> 16);
  }
  return out;
}

}  // namespace hx::test::tftpc
