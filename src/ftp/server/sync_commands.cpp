// The commands that mirror and sync tools use beside the transfers: MFMT and SITE UTIME keep a copy's
// modification time, HASH (with OPTS HASH) checks a file without downloading it.
#include <fcntl.h>
#include <unistd.h>

#include <cerrno>

#include "app/text_util.h"
#include "ftp/server/control_session.h"
#include "ftp/server/file_digest.h"
#include "ftp/server/file_times.h"
#include "ftp/server/info_replies.h"
#include "ftp/server/login_rules.h"
#include "ftp/server/replies.h"

namespace hx::ftpd {

bool ControlSession::SetFileTimes(const TimeChange& change) {
  // Setting a time changes a file as writing it would: an upload that may replace files is needed.
  if (GetRight(kFieldUpload) == 0) {
    SendReply(reply::kNoUploadRight);
    return false;
  }
  if (GetRight(kFieldOverwrite) == 0) {
    SendReply(reply::kNoOverwriteRight);
    return false;
  }
  std::string path = change.path;
  std::timespec accessed = change.accessed.value_or(std::timespec{0, UTIME_OMIT});
  if (!ResolvePath(path, PathMode::Plain) || !Files()->SetTimes(path, accessed, change.modified)) {
    SendReply(reply::kFileUnavailable);
    return false;
  }
  return true;
}

void ControlSession::DoMfmt(std::string_view, std::string_view argument) {
  std::optional<TimeChange> change = ParseMfmtArgument(argument);
  if (!change) {
    SendReply(reply::kSyntaxError);
    return;
  }
  if (SetFileTimes(*change))
    SendReply(FormatReply(reply::kModifiedFormat, change->modifiedText + "; " + NameForReply(change->path)));
}

void ControlSession::DoSite(std::string_view line, std::string_view argument) {
  std::optional<std::string_view> utime = SiteUtimeArgument(argument);
  if (!utime) {
    DoNotImplemented(line, argument);
    return;
  }
  std::optional<TimeChange> change = ParseUtimeArgument(*utime);
  if (!change) {
    SendReply(reply::kSyntaxError);
    return;
  }
  if (SetFileTimes(*change)) SendReply(reply::kSiteUtimeOk);
}

bool ControlSession::OptsHash(std::string_view option) {
  constexpr std::string_view kHash = "HASH";
  if (option.size() < kHash.size() || !EqualsNoCase(option.substr(0, kHash.size()), kHash)) return false;
  std::string_view name = option.substr(kHash.size());
  if (!name.empty() && name.front() != ' ') return false;
  while (!name.empty() && name.front() == ' ') name.remove_prefix(1);
  if (!name.empty()) {
    std::optional<HashAlgorithm> chosen = ParseHashName(name);
    if (!chosen) {
      SendReply(reply::kUnknownHashAlgorithm);
      return true;
    }
    m_hashAlgorithm = *chosen;
  }
  SendReply(FormatReply(reply::kHashSelectedFormat, HashName(m_hashAlgorithm)));
  return true;
}

void ControlSession::DoHash(std::string_view, std::string_view argument) {
  if (argument.empty()) {
    SendReply(reply::kSyntaxError);
    return;
  }
  std::string path(argument);
  if (!ResolvePath(path, PathMode::Plain)) {
    SendReply(reply::kFileUnavailable);
    return;
  }
  // Read alongside downloads, as RETR reads; the claim keeps writers out until the digest is made, so
  // that it is the digest of one version of the file.
  std::shared_ptr<const RootedFileSystem> files = Files();
  int error = 0;
  SharedFile file = files->OpenShared(m_context.shares, path, FileAccess::Read, ShareMode::DenyWrite,
                                      Disposition::OpenExisting, error);
  if (!file.IsOpen()) {
    // The table refuses with EACCES; a file that the system lets us open is then held by another session.
    int probe = error == EACCES ? files->Open(path, O_RDONLY | O_NONBLOCK) : -1;
    if (probe >= 0) ::close(probe);
    SendReply(probe >= 0 ? reply::kFileBusy : reply::kFileUnavailable);
    return;
  }
  HashAlgorithm algorithm = m_hashAlgorithm;
  auto digest = [file = std::move(file), algorithm, stop = m_stopWork]() mutable {
    return FileDigest(std::move(file), algorithm, *stop);
  };
  auto answer = [this, algorithm, name = NameForReply(argument)](std::optional<FileDigestResult> result) {
    if (result)
      SendReply(HashReply(algorithm, result->bytes, result->digest, name));
    else
      SendReply(reply::kRestartFileError);  // "451 Requested action aborted - File error"
  };
  if (!Offload(std::move(digest), std::move(answer))) SendReply(reply::kServerBusy);
}

}  // namespace hx::ftpd
