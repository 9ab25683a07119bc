#include "tftp/tftp_server_session.h"

#include <algorithm>
#include <variant>

#include "app/address_text.h"
#include "app/config_keys.h"
#include "app/config_store.h"
#include "app/file_systems.h"
#include "app/resource_limits.h"
#include "app/served_root.h"
#include "app/session_table.h"
#include "tftp/file_access.h"
#include "tftp/netascii_file.h"
#include "tftp/option_packets.h"
#include "tftp/request_checks.h"

namespace hx::tftp {

TftpServerSession::TftpServerSession(AppContext& context, std::span<const std::uint8_t> request,
                                     const Endpoint& peer)
    : TftpSession(context), m_peer(Unmapped(peer.address()), peer.port()) {
  m_request.assign(request.begin(), request.end());
}

bool TftpServerSession::Prepare() {
  // An IPv4 peer of the dual-stack listener is served from an IPv4 socket, as it would be without IPv6.
  m_socketError = OpenSocket(m_peer.protocol());
  return !m_socketError;
}

bool TftpServerSession::OutOfDescriptors() const {
  return IsOutOfDescriptors(m_socketError);
}

void TftpServerSession::Run() {
  std::string peerAddress = AddressText(m_peer.address());
  SetCell(kColType, "Tftp Srv");
  SetCell(kColPeer, HostPortShown(peerAddress, m_peer.port()));
  SetCell(kColBytes, "0");
  LogLine("TFTP: Connection from address " + peerAddress);

  std::uint16_t opcode = RequestOpcode(m_request);
  // Anything but a read or write request ends here, without a reply: the row shows that it came.
  if (opcode != kOpRrq && opcode != kOpWrq) {
    Finish();
    return;
  }
  SetCell(kColFile, RequestedName(m_request));
  Serve(opcode == kOpRrq ? Side::Sending : Side::Receiving);
}

void TftpServerSession::Serve(Side side) {
  TransferEngine& engine = CreateEngine(side, /*clientSide=*/false);
  engine.SetPeer(m_peer);

  // With writes off, no write request gets as far as a file name.
  if (side == Side::Receiving && cfg::Read(m_context.config, cfg::kTAllowWrite) == 0) {
    LogLine("TFTP: Write requests are off (TFTP/TAllowWrite=0)");
    Rejection refused{kErrAccessViolation, "Access violation", {}};
    Execute(engine.Reject(std::span(&refused, 1)));
    return;
  }

  std::string downloadDir = cfg::Read(m_context.config, cfg::kTDLDir);
  auto parsed = ParseRequest(m_request, downloadDir);
  if (auto* rejection = std::get_if<Rejection>(&parsed)) {
    Execute(engine.Reject(std::span(rejection, 1)));
    return;
  }
  const Request& request = std::get<Request>(parsed);
  const std::string& path = request.path;
  SetCell(kColPath, path);
  Execute(engine.OpenFile(path));

  // The folder is held open; requests beneath a private folder that vanished and cannot be made again are
  // refused, and the log says so once.
  ServedRootLookup root = m_context.roots.Get(downloadDir);
  if (root.newlyRefused) LogLine("TFTP: " + root.root->RefusalText());
  if (root.root->GetState() == ServedRoot::State::Missing) {
    Rejection missing{kErrNotDefined, kFolderMissingText, {}};
    Execute(engine.Reject(std::span(&missing, 1)));
    return;
  }

  std::shared_ptr<const RootedFileSystem> files = m_context.files.Beneath(
      downloadDir, root.root, cfg::Read(m_context.config, cfg::kFollowHardLinks) != 0);
  // A write that announces its size (tsize) is refused before it touches a file when the size cannot fit.
  bool negotiate = request.options.Any() && m_settings.OptionsEnabled();
  if (negotiate && side == Side::Receiving && request.options.transferSize &&
      !HasRoomFor(*files, downloadDir, *request.options.transferSize)) {
    Rejection full{kErrDiskFull, "Disk full or allocation exceeded", {}};
    Execute(engine.Reject(std::span(&full, 1)));
    return;
  }

  OpenResult opened;
  if (side == Side::Sending) {
    opened = OpenForSend(m_context.shares, *files, path);
  } else {
    ReceiveRules rules;
    rules.makeNewDirs = cfg::Read(m_context.config, cfg::kTMakeNewDirs) != 0;
    rules.overwriteFiles = cfg::Read(m_context.config, cfg::kTOverWriteFiles) != 0;
    opened = OpenForReceive(m_context.shares, *files, path, rules);
  }
  if (auto* rejections = std::get_if<std::vector<Rejection>>(&opened)) {
    if (IsServerBusy(*rejections)) LogLine(kOutOfDescriptorsLine);
    Execute(engine.Reject(*rejections));
    return;
  }
  std::unique_ptr<TransferFile> file = std::move(std::get<std::unique_ptr<TransferFile>>(opened));
  bool netascii = request.mode == TransferMode::Netascii;
  if (netascii) file = NetasciiFile(std::move(file), side);

  // The size of a file served as it is, for the share of it that has gone over.
  std::uint64_t fileSize = side == Side::Sending ? files->Size(path).value_or(0) : 0;
  if (side == Side::Sending && !netascii) SetCell(kColTotal, std::to_string(fileSize));
  TftpOptions granted;
  if (negotiate)
    granted =
        GrantOptions(request.options, OptionLimits{m_settings.MaxBlockSize(), m_settings.MaxWindowSize()},
                     side == Side::Sending, netascii, fileSize);
  if (side == Side::Sending) {
    // The blocks in flight come from the memory all sessions share: a window that does not fit is granted
    // smaller. Netascii can make a file up to twice as long on the way.
    std::uint64_t sendSize = netascii ? 2 * fileSize : fileSize;
    std::uint64_t limit =
        static_cast<std::uint64_t>(std::max(0, cfg::Read(m_context.config, cfg::kTMemoryLimit)));
    m_blocks = ReserveWindow(m_context.blocks, granted, sendSize, limit << 20);
    engine.ExpectSize(sendSize);
  }
  SizeBuffers(granted);
  Execute(engine.Start(std::move(file), Now(), granted));
  StartReceiving();
}

}  // namespace hx::tftp
