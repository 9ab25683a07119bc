#include "tftp/tftp_server_session.h"

#include <algorithm>
#include <variant>

#include "app/address_text.h"
#include "app/config_keys.h"
#include "app/config_store.h"
#include "app/session_table.h"
#include "tftp/file_access.h"
#include "tftp/netascii_file.h"
#include "tftp/request_checks.h"

namespace hx::tftp {

TftpServerSession::TftpServerSession(AppContext& context, std::span<const std::uint8_t> request,
                                     const Endpoint& peer)
    : TftpSession(context), m_peer(Unmapped(peer.address()), peer.port()) {
  m_requestLength = std::min(request.size(), m_request.size());
  std::copy_n(request.begin(), m_requestLength, m_request.begin());
}

bool TftpServerSession::Prepare() {
  // An IPv4 peer of the dual-stack listener is served from an IPv4 socket, as it would be without IPv6.
  return !OpenSocket(m_peer.protocol());
}

void TftpServerSession::Run() {
  std::string peerAddress = AddressText(m_peer.address());
  SetCell(kColType, "Tftp Srv");
  SetCell(kColPeer, peerAddress);
  SetCell(kColBytes, "0");
  LogLine("TFTP: Connection from address " + peerAddress);

  std::span<const std::uint8_t> request(m_request.data(), m_requestLength);
  std::uint16_t opcode = RequestOpcode(request);
  // Anything but a read or write request ends here, without a reply: the row shows that it came.
  if (opcode != kOpRrq && opcode != kOpWrq) {
    Finish();
    return;
  }
  Serve(opcode == kOpRrq ? Side::Sending : Side::Receiving);
}

void TftpServerSession::Serve(Side side) {
  TransferEngine& engine = CreateEngine(side, /*clientSide=*/false);
  engine.SetPeer(m_peer);

  std::string downloadDir = cfg::Read(m_context.config, cfg::kTDLDir);
  auto parsed = ParseRequest(std::span(m_request.data(), m_requestLength), downloadDir);
  if (auto* rejection = std::get_if<Rejection>(&parsed)) {
    Execute(engine.Reject(std::span(rejection, 1)));
    return;
  }
  const Request& request = std::get<Request>(parsed);
  const std::string& path = request.path;
  Execute(engine.OpenFile(path));

  RootedFileSystem files(downloadDir);
  OpenResult opened;
  if (side == Side::Sending) {
    opened = OpenForSend(m_context.shares, files, path);
  } else {
    ReceiveRules rules;
    rules.makeNewDirs = cfg::Read(m_context.config, cfg::kTMakeNewDirs) != 0;
    rules.overwriteFiles = cfg::Read(m_context.config, cfg::kTOverWriteFiles) != 0;
    opened = OpenForReceive(m_context.shares, files, path, rules);
  }
  if (auto* rejections = std::get_if<std::vector<Rejection>>(&opened)) {
    Execute(engine.Reject(*rejections));
    return;
  }
  std::unique_ptr<TransferFile> file = std::move(std::get<std::unique_ptr<TransferFile>>(opened));
  if (request.mode == TransferMode::Netascii) file = NetasciiFile(std::move(file), side);
  Execute(engine.Start(std::move(file), Clock::now()));
  StartReceiving();
}

}  // namespace hx::tftp
