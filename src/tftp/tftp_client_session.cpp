#include "tftp/tftp_client_session.h"

#include <netinet/in.h>
#include <sys/socket.h>

#include <asio/error.hpp>
#include <asio/ip/address.hpp>
#include <variant>

#include "app/address_text.h"
#include "app/config_keys.h"
#include "app/config_store.h"
#include "app/file_systems.h"
#include "app/session_loops.h"
#include "app/session_table.h"
#include "app/socket_error_text.h"
#include "tftp/file_access.h"
#include "tftp/option_packets.h"
#include "tftp/tftp_client_download.h"

namespace hx::tftp {
namespace {

constexpr int kErrInvalidArgument = 10022;
constexpr int kErrConnectionReset = 10054;

}  // namespace

std::string_view SendFailurePrefix(bool put) {
  return put ? "Error sending : " : "Error connecting to host : ";
}

std::string_view NoAnswerPrefix(bool put) {
  return put ? "Error receiving : " : "Error receiving response from host : ";
}

TftpClientSession::TftpClientSession(AppContext& context, TftpClientJob job)
    : TftpSession(context), m_job(std::move(job)) {}

TftpClientSession::~TftpClientSession() = default;

void TftpClientSession::PostStart() {
  Post([this] {
    if (Ended()) return;  // stopped before its start
    if (m_job.put)
      StartClientPut();
    else
      StartClientGet();
  });
}

void TftpClientSession::Run() {
  SetCell(kColType, "Tftp Client");
  SetCell(kColPeer, HostPortShown(m_job.host, static_cast<unsigned>(m_job.port)));
  SetCell(kColFile, m_job.remoteName);
  SetCell(kColPath, m_job.localName);
  SetCell(kColBytes, "0");
  LogLine("TFTP: Outgoing connection to address " + m_job.host);
}

void TftpClientSession::StartClientGet() {
  StartClient(Side::Receiving);
}

void TftpClientSession::StartClientPut() {
  StartClient(Side::Sending);
}

void TftpClientSession::StartClient(Side side) {
  bool put = side == Side::Sending;
  TransferEngine& engine = CreateEngine(side, /*clientSide=*/true);
  const std::string& path = m_job.localName;
  Execute(engine.OpenFile(path));

  // Checked before the local file is touched, so that a request that could never leave creates or empties
  // nothing.
  // Options only when asked for; then tsize too, which a write fills in with the file's size below.
  TftpOptions asked = m_job.options;
  if (asked.Any()) asked.transferSize = 0;
  std::vector<std::uint8_t> request =
      BuildOptionRequest(put ? kOpWrq : kOpRrq, m_job.remoteName, "octet", asked);
  if (request.empty() || (!asked.Any() && request.size() > kMaxPacket)) {
    Rejection tooLong{kErrNotDefined, kRemoteNameTooLong, {}};
    Execute(engine.Reject(std::span(&tooLong, 1)));
    return;
  }

  OpenResult opened;
  if (put) {
    opened = OpenForSend(m_context.shares, path);
  } else {
    ReceiveRules rules;
    rules.makeNewDirs = cfg::Read(m_context.config, cfg::kTMakeNewDirs) != 0;
    rules.overwriteFiles = cfg::Read(m_context.config, cfg::kTOverWriteFiles) != 0;
    opened = OpenClientDownload(m_context.shares, path, rules);
  }
  // The engine knows no peer yet, so a refusal is shown and logged but never sent anywhere.
  if (auto* rejections = std::get_if<std::vector<Rejection>>(&opened)) {
    Execute(engine.Reject(*rejections));
    return;
  }
  std::unique_ptr<TransferFile> file = std::move(std::get<std::unique_ptr<TransferFile>>(opened));
  if (put) {
    if (std::optional<std::uint64_t> size = m_context.files.Unconfined()->Size(path)) {
      SetCell(kColTotal, std::to_string(*size));
      if (asked.Any()) {
        asked.transferSize = *size;
        request = BuildOptionRequest(kOpWrq, m_job.remoteName, "octet", asked);
      }
    }
  }

  std::optional<Endpoint> server = ResolveServer();
  if (!server) {
    FailBeforeRequest(std::string(SendFailurePrefix(put)) + SocketErrorText(kErrInvalidArgument));
    return;
  }
  if (OpenSocket(server->protocol())) {
    FailBeforeRequest("Could not create socket");
    return;
  }

  m_server = *server;
  ReportUnreachable(true);
  ClientRequest clientRequest;
  clientRequest.request = request;
  clientRequest.options = asked;
  SizeBuffers(asked);
  clientRequest.server = *server;
  clientRequest.sendFailurePrefix = SendFailurePrefix(put);
  clientRequest.noAnswerPrefix = NoAnswerPrefix(put);
  Execute(engine.StartClient(std::move(file), clientRequest, Now()));
  AwaitFirstAnswer();
}

void TftpClientSession::FailBeforeRequest(const std::string& text) {
  SetCell(kColStatus, text);
  SetCell(kColOutcome, kOutcomeFailed);
  LogLine("TFTP: ERROR. " + text);
  Finish();
}

std::optional<Endpoint> TftpClientSession::ResolveServer() {
  auto port = static_cast<unsigned short>(m_job.port);
  std::error_code error;
  asio::ip::address address = asio::ip::make_address(m_job.host, error);
  if (!error) return Endpoint(address, port);
  asio::ip::udp::resolver resolver(m_executor);
  // A name server may keep the lookup waiting; the other sessions go on meanwhile.
  BlockingRegion lookup;
  auto results =
      resolver.resolve(m_job.host, std::to_string(port), asio::ip::resolver_base::numeric_service, error);
  if (error || results.empty()) return std::nullopt;
  // A request cannot find out which address of the name the server listens on: an IPv4 one is taken when
  // there is one, as servers listen on IPv4 more often than not; a name with IPv6 addresses only takes the
  // first of them.
  for (const auto& entry : results) {
    if (entry.endpoint().address().is_v4()) return entry.endpoint();
  }
  return results.begin()->endpoint();
}

void TftpClientSession::ReportUnreachable(bool on) {
  // Without it, an unconnected UDP socket never hears that nothing listens where its request went.
  int value = on ? 1 : 0;
  if (m_server.address().is_v6()) {
#ifdef IPV6_RECVERR
    ::setsockopt(m_socket.native_handle(), IPPROTO_IPV6, IPV6_RECVERR, &value, sizeof value);
#endif
  } else {
#ifdef IP_RECVERR
    ::setsockopt(m_socket.native_handle(), IPPROTO_IP, IP_RECVERR, &value, sizeof value);
#endif
  }
}

void TftpClientSession::AwaitFirstAnswer() {
  if (Ended()) return;
  // One byte more than the longest answer expected, so that a longer one shows as cut.
  m_firstAnswer.resize(Engine().MaxDatagram() + 1);
  m_socket.async_receive_from(
      asio::buffer(m_firstAnswer), m_firstFrom,
      Bind([this](const std::error_code& error, size_t length) { OnFirstAnswer(error, length); }));
}

void TftpClientSession::OnFirstAnswer(const std::error_code& error, size_t length) {
  if (Ended() || error == asio::error::operation_aborted) return;
  if (error) {
    // On a datagram socket a refusal is a port-unreachable report: the request's, unless it was the answer
    // to a stranger.
    if (error == asio::error::connection_refused && !UnreachableWasServer()) {
      AwaitFirstAnswer();
      return;
    }
    int number = error == asio::error::connection_refused ? kErrConnectionReset : WinsockErrorNumber(error);
    Execute(Engine().OnReceiveFailed(number));
    AwaitFirstAnswer();
    return;
  }
  size_t longest = m_firstAnswer.size() - 1;
  bool oversized = length > longest;
  std::span<const std::uint8_t> datagram(m_firstAnswer.data(), oversized ? longest : length);
  // The server answers from a port of its own choosing, but from the host the request went to; a datagram
  // of any other host is forged or lost and must not become the peer.
  if (m_firstFrom.address() != m_server.address()) {
    TurnAway(datagram, m_firstFrom);
    AwaitFirstAnswer();
    return;
  }
  // The first datagram fixes the peer; from now on the transfer-identifier rule guards the session.
  ReportUnreachable(false);
  Execute(Engine().OnDatagram(datagram, m_firstFrom, Now(), oversized));
  StartReceiving();
}

void TftpClientSession::TurnAway(std::span<const std::uint8_t> datagram, const Endpoint& from) {
  // As the transfer-identifier rule answers strangers: never an ERROR to an ERROR.
  if (ParsePacket(datagram).kind == Packet::Kind::Error) return;
  PacketBuffer reply{};
  size_t length = BuildError(reply, kErrUnknownTransferId, "Unknown transfer ID");
  std::error_code ignored;
  m_socket.send_to(asio::buffer(reply.data(), length), from, 0, ignored);
}

bool TftpClientSession::UnreachableWasServer() {
#if defined(IP_RECVERR) && defined(IPV6_RECVERR)
  // The report waits in the socket's error queue, addressed with where the datagram it answers had gone.
  Endpoint target;
  std::array<char, 512> control{};
  msghdr message{};
  message.msg_name = target.data();
  message.msg_namelen = static_cast<socklen_t>(target.capacity());
  message.msg_control = control.data();
  message.msg_controllen = control.size();
  if (::recvmsg(m_socket.native_handle(), &message, MSG_ERRQUEUE | MSG_DONTWAIT) < 0) return true;
  target.resize(message.msg_namelen);
  return target == m_server;
#else
  return true;
#endif
}

}  // namespace hx::tftp
