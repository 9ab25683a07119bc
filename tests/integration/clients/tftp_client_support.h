#pragma once

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>

namespace hx::test {
class PeerProcess;
}

// Peers of the TFTP client tests: a UDP socket of the test that plays a server (or stays silent), and
// tftpd-hpa started on a free port of 127.0.0.1.
namespace hx::test::tftpc {

struct Datagram {
  std::string bytes;
  std::uint16_t port = 0;  // the sender's port on the loopback address
};

// A UDP socket on a port of its own of `localAddress` (any 127.x address is local on Linux, and ::1); it
// sends to 127.0.0.1, or to ::1 when it is an IPv6 socket.
class UdpSocket {
 public:
  explicit UdpSocket(const char* localAddress = "127.0.0.1");
  ~UdpSocket();
  UdpSocket(const UdpSocket&) = delete;
  UdpSocket& operator=(const UdpSocket&) = delete;

  std::uint16_t Port() const { return m_port; }
  void SendTo(std::uint16_t port, const std::string& bytes) const;
  // The next datagram, or nullopt when none comes within `timeout`.
  std::optional<Datagram> Receive(std::chrono::milliseconds timeout = std::chrono::seconds(5)) const;
  // Closes the socket; its port then answers with port-unreachable.
  void Close();

 private:
  int m_fd = -1;
  bool m_ipv6 = false;
  std::uint16_t m_port = 0;
};

// A UDP port of 127.0.0.1 on which nothing listens: free a moment ago.
std::uint16_t FreeUdpPort();
// Whether something holds the UDP port of 127.0.0.1: binding it fails then.
bool UdpPortTaken(std::uint16_t port);

// tftpd-hpa serving `dir` (`in.tftpd -L -s DIR -a 127.0.0.1:PORT`, with `-c` when uploads may create files)
// on a free port, stopped by its process id when the object goes. The directory is opened up for the user
// the server drops to.
class Tftpd {
 public:
  Tftpd(const std::filesystem::path& dir, bool allowCreate);
  ~Tftpd();

  // False when the server is missing or did not come up; the test then skips.
  bool Started() const { return m_started; }
  std::uint16_t Port() const { return m_port; }
  std::string Output() const;

 private:
  std::unique_ptr<PeerProcess> m_process;
  std::uint16_t m_port = 0;
  bool m_started = false;
};

// Packets as the tests build and read them.
std::string Request(int opcode, const std::string& name, const std::string& mode = "octet");
std::string Data(std::uint16_t block, const std::string& payload);
std::string Ack(std::uint16_t block);
std::uint16_t OpcodeOf(const std::string& packet);
std::uint16_t NumberOf(const std::string& packet);  // block number or error code
std::string PayloadOf(const std::string& packet);   // DATA: the data bytes; ERROR: the text

// `size` bytes that differ from block to block, so that a block out of place shows.
std::string PatternBytes(size_t size, unsigned seed = 1);

}  // namespace hx::test::tftpc
