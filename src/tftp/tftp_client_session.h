#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "tftp/tftp_client_job.h"
#include "tftp/tftp_session.h"

namespace hx::tftp {

// The session of one TFTP client transfer. Its row shows "Tftp Client" and the host as typed from the start;
// it then waits for its start (PostStart, the window's start message), opens the local file, sends the
// request in mode "octet" from an ephemeral port, and waits up to twice TTimeout for the server's first
// answer. The source of that answer becomes the peer for the rest of the transfer, which the transfer engine
// carries out as for a server session: a GET is the receiving side, a PUT the sending side.
//
// Nothing is sent when the local file is refused or the remote name does not fit a request; a host name
// that cannot be resolved shows socket error 10022, and a request that meets a closed port shows 10054, as
// the socket layer of the desktop reports an unreachable UDP port.
class TftpClientSession : public TftpSession {
 public:
  TftpClientSession(AppContext& context, TftpClientJob job);
  ~TftpClientSession() override;

  // Tells the session to start its GET or PUT; any thread.
  void PostStart();
  const TftpClientJob& Job() const { return m_job; }

 protected:
  void Run() override;

 private:
  void StartClientGet();
  void StartClientPut();
  void StartClient(Side side);
  // The request cannot go out: Status and the log say why, and the session ends.
  void FailBeforeRequest(const std::string& text);
  // The address of the server, or nullopt when the host text is neither an address nor a known name.
  std::optional<Endpoint> ResolveServer();
  // Whether a port-unreachable report for what this socket sent fails its next receive. Only wanted while
  // the request waits for its answer: later, a report caused by a reply to a stranger must not end the
  // transfer.
  void ReportUnreachable(bool on);
  void AwaitFirstAnswer();
  void OnFirstAnswer(const std::error_code& error, size_t length);
  // Answers a datagram that is not the server's with ERROR 5 "Unknown transfer ID", and nothing else.
  void TurnAway(std::span<const std::uint8_t> datagram, const Endpoint& from);
  // Whether the port-unreachable report that failed a receive is about a datagram sent to the server (true
  // when that cannot be told); reading it takes it off the socket's error queue.
  bool UnreachableWasServer();

  TftpClientJob m_job;
  // One byte more than a packet, so that a longer datagram shows as cut.
  std::vector<std::uint8_t> m_firstAnswer;
  Endpoint m_firstFrom;
  Endpoint m_server;  // where the request went
};

// The Status prefixes of a request that could not be sent, or got no answer, by direction.
std::string_view SendFailurePrefix(bool put);
std::string_view NoAnswerPrefix(bool put);

// The text shown when the remote name does not fit a request packet.
inline constexpr const char* kRemoteNameTooLong =
    "Remote file name is too long for a TFTP request (at most 507 characters). Aborting transfer";

}  // namespace hx::tftp
