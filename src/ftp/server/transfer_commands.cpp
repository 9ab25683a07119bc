// The data commands: LIST and NLST (and MLSD, listing_commands.cpp), RETR, STOR and APPE. Each takes the
// client's connection to the passive listener of its last PASV or EPSV, or opens an active data connection
// from the data port (FDataPort) to the address of its last PORT or EPRT.
#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <functional>
#include <utility>

#include "app/config_keys.h"
#include "app/config_store.h"
#include "app/session_table.h"
#include "ftp/server/arguments.h"
#include "ftp/server/control_session.h"
#include "ftp/server/data_connection.h"
#include "ftp/server/download.h"
#include "ftp/server/ftp_worker.h"
#include "ftp/server/info_replies.h"
#include "ftp/server/listing.h"
#include "ftp/server/listing_job.h"
#include "ftp/server/listing_reader.h"
#include "ftp/server/login_rules.h"
#include "ftp/server/passive_listener.h"
#include "ftp/server/replies.h"
#include "ftp/server/upload.h"

namespace hx::ftpd {

std::unique_ptr<DataOpener> ControlSession::TakeDataOpener(asio::ip::tcp::socket& socket) {
  if (m_passive) {
    std::shared_ptr<PassiveListener> listener = std::move(m_passive);
    if (!listener->IsOpen()) {  // its time ran out before this command
      SendReply(reply::kCantOpenData);
      return nullptr;
    }
    return std::make_unique<PassiveOpener>(std::move(listener));
  }
  if (!m_portTarget || !IsUsableDataTarget(*m_portTarget, m_peerAddress)) {
    SendReply(reply::kCantOpenData);
    return nullptr;
  }
  bool portRefused = false;
  std::string failure = OpenDataSocket(socket, DataPort(), m_portTarget->protocol(), portRefused);
  if (!failure.empty()) {
    SendReply(failure);
    return nullptr;
  }
  if (portRefused && !m_dataPortNoted && DebugOn()) {
    m_dataPortNoted = true;
    DebugLine(
        ThreadPrefix() + " Data port " + std::to_string(DataPort()) +
        " needs root or CAP_NET_BIND_SERVICE; active connections leave from a free port (set FDataPort)");
  }
  return std::make_unique<ActiveOpener>(*m_portTarget);
}

std::uint16_t ControlSession::DataPort() const {
  int port = cfg::Read(m_context.config, cfg::kFDataPort);
  return static_cast<std::uint16_t>(std::clamp(port, 0, 65535));
}

void ControlSession::DoList(std::string_view, std::string_view argument) {
  ListCommand(argument, false);
}

void ControlSession::DoNlst(std::string_view, std::string_view argument) {
  ListCommand(argument, true);
}

void ControlSession::ListCommand(std::string_view argument, bool namesOnly) {
  std::string named = ListArgument(argument);
  std::string path = named;
  // A failed resolution names nothing (its error text is not a path to search).
  bool resolved = ResolvePath(path, PathMode::List);
  // A directory argument was turned into the pattern of its entries.
  bool namedDirectory = path.ends_with("*.*") && !named.ends_with("*.*");
  ListingStyle style;
  style.kind = namesOnly ? ListingStyle::Kind::NamesOnly : ListingStyle::Kind::Long;
  style.now = WallTime();
  if (namesOnly) style.prefix = NameListPrefix(named, namedDirectory);
  auto reader = std::make_shared<ListingReader>(Files(), resolved ? path : std::string());
  // A client that fetches every name of a folder must not be handed the folder and its parent.
  if (namesOnly || !ListsDotEntries(argument)) reader->HideDots();
  SendListing(std::move(reader), std::move(style));
}

void ControlSession::SendListing(std::shared_ptr<ListingReader> reader, ListingStyle style) {
  // The search and the lines are made on the blocking pool, a part at a time; the first part tells whether
  // there is anything to list.
  std::function<ListingPart()> nextPart = [reader, style = std::move(style)] {
    return NextListingPart(*reader, style);
  };
  auto start = [this, nextPart](ListingPart first) {
    if (!first.found) {
      SendReply(reply::kFileUnavailable);
      return;
    }
    asio::ip::tcp::socket socket(m_worker.Executor());
    std::unique_ptr<DataOpener> opener = TakeDataOpener(socket);
    if (!opener) return;
    SendReply(reply::kAboutToOpen);
    StartTransfer(
        std::make_unique<ListingJob>(*this, m_worker, m_context.clock, std::move(socket), m_context.blocking,
                                     std::move(first), nextPart, DataConnectionTls()),
        std::move(opener));
  };
  if (!Offload(nextPart, std::move(start))) SendReply(reply::kServerBusy);
}

void ControlSession::DoRetr(std::string_view, std::string_view argument) {
  std::string path(argument);
  if (!ResolvePath(path, PathMode::Plain)) {
    SendReply(FormatReply("550 %s\r\n", path));
    return;
  }
  int error = 0;
  // Any number of sessions may read the file at once (fifty devices fetching one image); writing, deleting
  // or renaming it waits until the last of them is done.
  SharedFile file = Files()->OpenShared(m_context.shares, path, FileAccess::Read, ShareMode::DenyWrite,
                                        Disposition::OpenExisting, error);
  if (!file.IsOpen()) {
    SendReply(reply::kFileUnavailable);
    return;
  }
  std::uint64_t position = 0;
  if (m_bRestart) {
    bool positioned = m_lRestartPos >= 0 && file.Seek(static_cast<std::uint64_t>(m_lRestartPos));
    position = positioned ? static_cast<std::uint64_t>(m_lRestartPos) : 0;
    if (!positioned) {
      SendReply(reply::kRestartFileError);
      m_bRestart = false;
      m_lRestartPos = 0;
      return;
    }
  }
  m_bRestart = false;
  m_lRestartPos = 0;

  asio::ip::tcp::socket socket(m_worker.Executor());
  std::unique_ptr<DataOpener> opener = TakeDataOpener(socket);
  if (!opener) return;
  LogEntry("FTP: Starting GET file transfer of " + path);
  // The count the row's Bytes reaches (it counts from the start of the file, as a restart does not), for the
  // session list's share; a type A transfer sends more than the file holds.
  ShowTransferFile(argument, path);
  SetSessionText(kColTotal, m_chType == 'A' ? std::string() : std::to_string(file.Size()));
  SendReply(reply::kAboutToOpen);
  auto download = std::make_unique<Download>(*this, m_worker, m_context.clock, std::move(socket),
                                             CurrentTransferSettings(), std::move(file), path, position);
  if (m_chType == 'A') download->ConvertLineEnds();
  StartTransfer(std::move(download), std::move(opener));
}

void ControlSession::DoStor(std::string_view, std::string_view argument) {
  StoreCommand(argument, false);
}

void ControlSession::DoAppe(std::string_view, std::string_view argument) {
  StoreCommand(argument, true);
}

void ControlSession::StoreCommand(std::string_view argument, bool append) {
  if (RefuseIllegalName(argument)) return;
  std::string path(argument);
  if (!ResolvePath(path, PathMode::Plain)) {
    SendReply(FormatReply("550 %s\r\n", path));
    return;
  }
  std::shared_ptr<const RootedFileSystem> files = Files();
  // Checked again when the file is created: a name that appears before the data connection is refused too.
  if (GetRight(kFieldOverwrite) == 0 && ProbePath(*files, path) != PathKind::Missing) {
    SendReply(reply::kNoOverwriteRight);
    return;
  }
  if (append && m_bRestart) {
    SendReply(reply::kBadSequence);
    return;
  }
  // Nothing is created or cut before the data connection is up, so that a refused or failed command leaves
  // the file as it was. An existing file is opened (and claimed) now, untouched, so that one in use is
  // refused at once.
  int error = 0;
  SharedFile file = files->OpenShared(m_context.shares, path, FileAccess::Write, ShareMode::Exclusive,
                                      Disposition::OpenExisting, error);
  if (!file.IsOpen() && error != ENOENT) {
    SendReply(reply::kFileUnavailable);
    return;
  }
  std::uint64_t size = file.IsOpen() ? file.Size() : 0;
  bool restart = std::exchange(m_bRestart, false);
  std::int64_t restartPos = std::exchange(m_lRestartPos, 0);
  std::uint64_t position = append ? size : 0;
  if (restart) {
    if (restartPos < 0) {
      SendReply(reply::kRestartFileError);
      return;
    }
    // Writing there would leave a hole of any size in the file.
    if (static_cast<std::uint64_t>(restartPos) > size) {
      SendReply(reply::kRestartBeyondEnd);
      return;
    }
    position = static_cast<std::uint64_t>(restartPos);
  }

  asio::ip::tcp::socket socket(m_worker.Executor());
  std::unique_ptr<DataOpener> opener = TakeDataOpener(socket);
  if (!opener) return;
  LogEntry("FTP: Starting PUT file transfer of " + path);
  // Bytes counts from the start of the file; ALLO announces what is sent from the restart position on.
  std::optional<std::uint64_t> announced = std::exchange(m_announcedSize, std::nullopt);
  if (announced) *announced += position;
  if (!announced && path == m_sizedPath) announced = m_sizedBytes;
  ShowTransferFile(argument, path);
  SetSessionText(kColTotal, announced ? std::to_string(*announced) : std::string());
  SendReply(FormatReply(reply::kOpeningBinaryFormat, argument));
  UploadFile upload{.shares = m_context.shares,
                    .files = std::move(files),
                    .path = path,
                    .file = std::move(file),
                    .replace = !append && !restart,
                    .append = append,
                    .mayOverwrite = GetRight(kFieldOverwrite) != 0,
                    .position = position};
  auto transfer = std::make_unique<Upload>(*this, m_worker, m_context.clock, std::move(socket),
                                           CurrentTransferSettings(), m_context.blocking, std::move(upload));
  if (m_chType == 'A') transfer->ConvertLineEnds();
  StartTransfer(std::move(transfer), std::move(opener));
}

}  // namespace hx::ftpd
