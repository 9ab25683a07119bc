#pragma once

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace hx::test {

using Bytes = std::vector<std::uint8_t>;

struct Datagram {
  Bytes bytes;
  std::uint16_t port = 0;  // the sender's port on the loopback address
};

// A raw UDP socket on 127.0.0.1 (or ::1, or another IPv4 loopback address as `source`) and a port of its
// own, for packets that no well-behaved client sends; it talks to ports on 127.0.0.1 (or ::1).
class UdpPeer {
 public:
  explicit UdpPeer(bool ipv6 = false, const std::string& source = {});
  ~UdpPeer();
  UdpPeer(const UdpPeer&) = delete;
  UdpPeer& operator=(const UdpPeer&) = delete;

  std::uint16_t Port() const { return m_port; }
  void SendTo(std::uint16_t port, const Bytes& bytes) const;
  // The next datagram, or nullopt when none comes within `timeout`.
  std::optional<Datagram> Receive(std::chrono::milliseconds timeout = std::chrono::seconds(5)) const;

 private:
  int m_fd = -1;
  bool m_ipv6 = false;
  std::uint16_t m_port = 0;
};

Bytes Request(int opcode, const std::string& name, const std::string& mode);
Bytes Ack(std::uint16_t block);
Bytes Data(std::uint16_t block, const std::string& payload);
std::uint16_t OpcodeOf(const Datagram& d);
std::uint16_t NumberOf(const Datagram& d);  // block number or error code
std::string ErrorText(const Datagram& d);
std::string PayloadOf(const Datagram& d);

}  // namespace hx::test
