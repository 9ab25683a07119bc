// The commands that need no more than their line: QUIT, REIN, the data connection's address (PORT, EPRT,
// PASV, EPSV), ABOR, NOOP, the refusals, and the information commands TYPE, MODE, STRU, SYST, HELP, FEAT,
// OPTS and STAT.
#include <algorithm>
#include <charconv>

#include "app/address_text.h"
#include "app/config_keys.h"
#include "app/config_store.h"
#include "app/socket_error_text.h"
#include "app/text_util.h"
#include "app/worker_registry.h"
#include "ftp/server/arguments.h"
#include "ftp/server/control_session.h"
#include "ftp/server/download.h"
#include "ftp/server/ftp_worker.h"
#include "ftp/server/info_replies.h"
#include "ftp/server/listing.h"
#include "ftp/server/listing_reader.h"
#include "ftp/server/passive_listener.h"
#include "ftp/server/replies.h"
#include "ftp/server/upload.h"

namespace hx::ftpd {
namespace {

// Passive listeners waiting for their connection at once from one peer address (unless FPerAddress is 0):
// a client needs one at a time, two when it transfers over two sessions.
constexpr int kPassivePerAddress = 2;

}  // namespace

void ControlSession::DoQuit(std::string_view, std::string_view) {
  // After a failed transfer or login the row shows that failure again, not the goodbye.
  const bool failed = m_outcome.Failed();
  if (failed) SetSessionText(kColStatus, m_outcome.Failure());
  SendReply(m_bNeedUser || m_bNeedPass ? reply::kGoodbyeBeforeLogin : reply::kGoodbye, !failed);
  m_bConnected = false;
  LogEntry("FTP: Connection closed");
  EndSession();
}

void ControlSession::DoRein(std::string_view, std::string_view) {
  // Only the login starts over: profile, PORT, type and a pending REST stay until replaced. A pending
  // rename does not: the next login may have another root.
  m_bNeedUser = true;
  m_bNeedPass = false;
  m_strRenameFrom.clear();
  m_strRootDir = cfg::Read(m_context.config, cfg::kFDLDir);
  std::replace(m_strRootDir.begin(), m_strRootDir.end(), '\\', '/');
  m_strCurDir = m_strRootDir;
}

void ControlSession::DoPort(std::string_view, std::string_view argument) {
  if (m_epsvAll) {
    SendReply(reply::kBadSequence);
    return;
  }
  // Six numbers cannot hold an IPv6 address; such a client has EPRT.
  if (ControlIsIpv6()) {
    SendReply(reply::kUseEprt);
    return;
  }
  if (PortArgumentOutOfRange(argument)) {
    SendReply(reply::kSyntaxError);
    return;
  }
  // Checked when a data command uses it.
  ClosePassive();
  std::optional<DataAddress> address = ParsePortArgument(argument);
  m_portTarget = address ? std::optional(DataEndpoint(*address)) : std::nullopt;
  SendReply(reply::kPortOk);
}

void ControlSession::DoEprt(std::string_view, std::string_view argument) {
  if (m_epsvAll) {
    SendReply(reply::kBadSequence);
    return;
  }
  ExtendedAddress address = ParseEprtArgument(argument);
  if (address.kind == ExtendedAddress::Kind::UnknownFamily) {
    SendReply(reply::kUnknownNetworkProtocol);
    return;
  }
  if (address.kind == ExtendedAddress::Kind::Malformed) {
    SendReply(reply::kSyntaxError);
    return;
  }
  // The address and port are checked when a data command uses them, as PORT's are.
  ClosePassive();
  m_portTarget = address.endpoint;
  SendReply(reply::kEprtOk);
}

bool ControlSession::PassiveEnabled() const {
  return cfg::Read(m_context.config, cfg::kFPassive) != 0;
}

void ControlSession::ClosePassive() {
  if (m_passive) m_passive->Close();
  m_passive.reset();
}

std::shared_ptr<PassiveListener> ControlSession::OpenPassiveListener() {
  ClosePassive();
  m_portTarget.reset();
  // Listeners that wait for a connection are capped per address like the connections themselves, so that
  // one peer cannot hold the ports of a passive range.
  int cap = cfg::Read(m_context.config, cfg::kFPerAddress) == 0 ? 0 : kPassivePerAddress;
  AddressSlot slot = m_context.registry.TakeAddressSlot(PerAddress::PassiveListeners, m_peerAddress, cap);
  if (!slot) {
    SendReply(reply::kTooManyPassive);
    return nullptr;
  }
  std::optional<PortRange> ports = ParsePortRange(cfg::Read(m_context.config, cfg::kFPassivePorts));
  auto listener = std::make_shared<PassiveListener>(m_worker.Executor(), m_peerAddress);
  std::error_code error = listener->Open(LocalAddress(), ports.value_or(PortRange{}), m_context.passivePorts);
  if (error) {
    LogEntry("FTP: Could not open a passive data port: " + SocketErrorText(error));
    SendReply(reply::kCantOpenData);
    return nullptr;
  }
  listener->HoldAddressSlot(std::move(slot));
  listener->CloseAfter(DataTimeout());
  m_passive = listener;
  return listener;
}

asio::ip::address ControlSession::LocalAddress() const {
  return Unmapped(m_ends.local.address());
}

void ControlSession::DoPasv(std::string_view line, std::string_view argument) {
  if (!PassiveEnabled()) {
    DoNotImplemented(line, argument);
    return;
  }
  if (m_epsvAll) {
    SendReply(reply::kBadSequence);
    return;
  }
  // The reply holds four numbers of an address; an IPv6 client has EPSV.
  if (ControlIsIpv6()) {
    SendReply(reply::kUseEpsv);
    return;
  }
  std::shared_ptr<PassiveListener> listener = OpenPassiveListener();
  if (!listener) return;
  // Behind NAT the clients reach the server by another address than its own.
  asio::ip::address announced = LocalAddress();
  std::string configured = cfg::Read(m_context.config, cfg::kFPassiveAddress);
  if (auto host = ParseIpv4(TrimBlanks(configured))) announced = asio::ip::address_v4(*host);
  if (!announced.is_v4()) announced = asio::ip::address_v4::any();
  SendReply(PassiveReply(announced.to_v4(), listener->Port()));
}

void ControlSession::DoEpsv(std::string_view line, std::string_view argument) {
  if (!PassiveEnabled()) {
    DoNotImplemented(line, argument);
    return;
  }
  std::string_view protocol = TrimBlanks(argument);
  if (EqualsNoCase(protocol, "ALL")) {
    // The client promises to use EPSV alone from now on, so middleboxes need not look into the session.
    m_epsvAll = true;
    SendReply(reply::kEpsvAllOk);
    return;
  }
  // The data connection goes over the control connection's protocol; another one is not offered.
  if (!protocol.empty() && protocol != (ControlIsIpv6() ? "2" : "1")) {
    SendReply(reply::kUnknownNetworkProtocol);
    return;
  }
  std::shared_ptr<PassiveListener> listener = OpenPassiveListener();
  if (listener) SendReply(ExtendedPassiveReply(listener->Port()));
}

void ControlSession::DoAbor(std::string_view, std::string_view) {
  if (m_transfer) {
    m_transfer->Abort();
  } else {
    // A client that aborts waits for an answer, even when its transfer has already ended.
    SendReply(reply::kNothingToAbort);
  }
}

void ControlSession::DoNoop(std::string_view, std::string_view) {
  SendReply(reply::kNoopOk);
}

void ControlSession::DoNotHere(std::string_view, std::string_view) {
  SendReply(reply::kNotImplementedHere);
}

void ControlSession::DoAllo(std::string_view line, std::string_view argument) {
  // Nothing is reserved; the size only tells the session list how far the next upload has come.
  std::uint64_t size = 0;
  auto [end, error] = std::from_chars(argument.data(), argument.data() + argument.size(), size);
  if (error == std::errc() && end != argument.data()) m_announcedSize = size;
  DoNotHere(line, argument);
}

void ControlSession::DoNotImplemented(std::string_view line, std::string_view) {
  SendReply(FormatReply(reply::kNotImplementedFormat, line));
}

void ControlSession::DoType(std::string_view, std::string_view argument) {
  SendReply(TypeReply(argument, m_chType));
}

void ControlSession::DoMode(std::string_view, std::string_view argument) {
  SendReply(ModeReply(argument));
}

void ControlSession::DoStru(std::string_view, std::string_view argument) {
  SendReply(StruReply(argument));
}

void ControlSession::DoSyst(std::string_view, std::string_view) {
  SendReply(SystemReply());
}

void ControlSession::DoHelp(std::string_view, std::string_view) {
  for (const char* text : kHelpLines) SendReply(text);
}

void ControlSession::DoFeat(std::string_view, std::string_view) {
  for (const std::string& text :
       FeatLines(PassiveEnabled(), FeatFactsText(m_mlstFacts), m_hashAlgorithm, TlsOffered()))
    SendReply(text);
}

void ControlSession::DoOpts(std::string_view line, std::string_view argument) {
  // Names are bytes here, sent as they are stored: UTF-8 is the only mode there is.
  std::string_view option = TrimBlanks(argument);
  if (OptsHash(option)) return;
  if (option.size() >= 4 && EqualsNoCase(option.substr(0, 4), "UTF8") &&
      (option.size() == 4 || EqualsNoCase(TrimBlanks(option.substr(4)), "ON"))) {
    SendReply(reply::kUtf8Ok);
    return;
  }
  if (option.size() >= 4 && EqualsNoCase(option.substr(0, 4), "MLST") &&
      (option.size() == 4 || option[4] == ' ')) {
    OptsMlst(TrimBlanks(option.substr(4)));
    return;
  }
  DoNotImplemented(line, argument);
}

void ControlSession::DoStat(std::string_view, std::string_view argument) {
  if (argument.empty()) {
    for (const std::string& text : StatusLines(m_strPeerAddr, m_strUser, m_chType)) SendReply(text);
    return;
  }
  std::string path(argument);
  // A failed resolution names nothing (its error text is not a path to search).
  bool resolved = ResolvePath(path, PathMode::List);
  auto reader = std::make_shared<ListingReader>(Files(), resolved ? path : std::string());
  bool queued = Offload([reader, now = WallTime()] { return NextListingPart(*reader, LongListing(now)); },
                        [this, reader](ListingPart first) {
                          if (!first.found) {
                            SendReply(reply::kFileNotFound);
                            return;
                          }
                          SendReply(reply::kFileStatusBegin);
                          SendStatPart(reader, std::move(first));
                        });
  if (!queued) SendReply(reply::kServerBusy);
}

void ControlSession::SendStatPart(std::shared_ptr<ListingReader> reader, ListingPart part) {
  // Each line is a reply line of its own, as it always was; names cannot hold a CR LF (NameForReply).
  for (size_t at = 0; at < part.text.size();) {
    size_t end = part.text.find("\r\n", at);
    end = end == std::string::npos ? part.text.size() : end + 2;
    SendReply(std::string_view(part.text).substr(at, end - at));
    at = end;
  }
  if (part.last) {
    SendReply(reply::kFileStatusEnd);
    return;
  }
  // The next part follows once these lines have gone out (ProcessLines).
  m_statReader = std::move(reader);
  ResumeProcessing();
}

void ControlSession::ContinueStat() {
  std::shared_ptr<ListingReader> reader = std::move(m_statReader);
  bool queued = Offload([reader, now = WallTime()] { return NextListingPart(*reader, LongListing(now)); },
                        [this, reader](ListingPart part) { SendStatPart(reader, std::move(part)); },
                        BlockingPool::Admission::Continuation);
  // Only a pool that has stopped refuses: the reply still ends as a reply must.
  if (!queued) SendReply(reply::kFileStatusEnd);
}

}  // namespace hx::ftpd
