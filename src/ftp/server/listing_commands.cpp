// MLSD and MLST: listings for programs, one entry a line of "fact=value;" pairs and the name, over the data
// connection as LIST (MLSD) or on the control connection (MLST); OPTS MLST chooses the facts.
#include <sys/stat.h>

#include <chrono>

#include "ftp/server/control_session.h"
#include "ftp/server/info_replies.h"
#include "ftp/server/listing.h"
#include "ftp/server/listing_reader.h"
#include "ftp/server/login_rules.h"
#include "ftp/server/replies.h"

namespace hx::ftpd {

std::time_t ControlSession::WallTime() const {
  return std::chrono::system_clock::to_time_t(m_context.clock.WallNow());
}

FactRights ControlSession::CurrentFactRights() const {
  return {.download = GetRight(kFieldDownload) != 0,
          .upload = GetRight(kFieldUpload) != 0,
          .overwrite = GetRight(kFieldOverwrite) != 0,
          .rename = GetRight(kFieldRename) != 0,
          .deleteFiles = GetRight(kFieldDelete) != 0,
          .makeDirs = GetRight(kFieldMakeDirs) != 0,
          .removeDirs = GetRight(kFieldRemoveDirs) != 0};
}

void ControlSession::DoMlsd(std::string_view, std::string_view argument) {
  std::string path(argument);
  // A path that does not resolve names nothing, as for LIST; its error text would show the server's paths.
  PathKind kind = ResolvePath(path, PathMode::Plain) ? ProbePath(*Files(), path) : PathKind::Missing;
  if (kind == PathKind::Missing) {
    SendReply(reply::kFileUnavailable);
    return;
  }
  // MLSD lists a folder's entries; a file has MLST.
  if (kind != PathKind::Directory) {
    SendReply(reply::kNotADirectory);
    return;
  }
  if (path.back() != '/') path += '/';
  ListingStyle style;
  style.kind = ListingStyle::Kind::Facts;
  style.facts = m_mlstFacts;
  style.rights = CurrentFactRights();
  SendListing(std::make_shared<ListingReader>(Files(), path + "*"), std::move(style));
}

void ControlSession::DoMlst(std::string_view, std::string_view argument) {
  std::string path(argument);
  struct stat st {};
  std::shared_ptr<const RootedFileSystem> files = Files();
  // As a listing shows them, a link that leads nowhere is described as the link itself.
  bool found = ResolvePath(path, PathMode::Plain) && (files->Stat(path, st) || files->LinkStat(path, st));
  std::optional<ListEntry> entry = found ? EntryOf(path, st) : std::nullopt;
  if (!entry) {
    SendReply(reply::kFileUnavailable);
    return;
  }
  // The path as the client sees it, from the session's root.
  size_t skip = m_strRootDir.empty() ? 0 : m_strRootDir.size() - 1;
  std::string shown = path.size() > skip ? path.substr(skip) : std::string("/");
  if (shown.size() > 1 && shown.back() == '/') shown.pop_back();
  shown = NameForReply(shown);
  SendReply(FormatReply(reply::kMlstBeginFormat, shown));
  SendReply(" " + FactsText(*entry, EntryRole::Named, m_mlstFacts, CurrentFactRights()) + " " + shown +
            "\r\n");
  SendReply(reply::kMlstEnd);
}

void ControlSession::OptsMlst(std::string_view facts) {
  m_mlstFacts = ParseFactList(facts);
  SendReply(OptsMlstReply(m_mlstFacts));
}

}  // namespace hx::ftpd
