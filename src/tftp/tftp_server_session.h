#pragma once

#include <cstdint>
#include <span>
#include <vector>

#include "tftp/tftp_session.h"

namespace hx::tftp {

// The session of one request datagram that arrived on the server's port: it answers from a port of its own,
// serves a read request as the sending side and a write request as the receiving side.
class TftpServerSession : public TftpSession {
 public:
  // `request` is the datagram as received (at most 516 bytes); `peer` is where it came from.
  TftpServerSession(AppContext& context, std::span<const std::uint8_t> request, const Endpoint& peer);
  // After a failed Create: the session had no socket because the process or the system is out of descriptors.
  bool OutOfDescriptors() const;

 protected:
  // Takes the session's socket, so that a server out of descriptors refuses the request before it has a row.
  bool Prepare() override;
  void Run() override;

 private:
  void Serve(Side side);

  std::vector<std::uint8_t> m_request;
  Endpoint m_peer;
  std::error_code m_socketError;
};

}  // namespace hx::tftp
