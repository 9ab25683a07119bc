// The commands that work on the file system inside the session's root: CWD, CDUP, PWD, MKD, RMD, DELE,
// RNFR, RNTO, SIZE, MDTM and REST.
#include <fcntl.h>
#include <stdio.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "app/shared_file.h"
#include "app/text_size_cache.h"
#include "ftp/server/arguments.h"
#include "ftp/server/ascii_size.h"
#include "ftp/server/control_session.h"
#include "ftp/server/info_replies.h"
#include "ftp/server/login_rules.h"
#include "ftp/server/replies.h"

namespace hx::ftpd {
namespace {

// Another session's open file cannot be deleted or renamed, as the share modes of the program promise.
// The claim stands for the operation and is given back at once.
class InUseGuard {
 public:
  InUseGuard(FileShareTable& table, const RootedFileSystem& files, const std::string& path) : m_table(table) {
    struct stat st {};
    if (!files.Stat(path, st) || S_ISDIR(st.st_mode)) return;
    m_claim = {st.st_dev, st.st_ino, FileAccess::ReadWrite, ShareMode::Exclusive};
    m_held = m_table.TryClaim(m_claim);
    m_inUse = !m_held;
  }
  ~InUseGuard() {
    if (m_held) m_table.Release(m_claim);
  }
  InUseGuard(const InUseGuard&) = delete;
  InUseGuard& operator=(const InUseGuard&) = delete;
  bool InUse() const { return m_inUse; }

 private:
  FileShareTable& m_table;
  FileShareTable::Claim m_claim{};
  bool m_held = false;
  bool m_inUse = false;
};

}  // namespace

bool ControlSession::RefuseIllegalName(std::string_view argument) {
  // A client cannot send a line break inside a command, but a name with a NUL (a CR in the form of RFC 2640
  // ends the line here and leaves its NUL) would be cut short by the system, and names made by other means
  // must not become new ones either.
  if (argument.find_first_of(std::string_view("\r\n\0", 3)) == std::string_view::npos) return false;
  SendReply(reply::kIllegalFileName);
  return true;
}

bool ControlSession::ResolvePath(std::string& path, PathMode mode) const {
  std::shared_ptr<const RootedFileSystem> files = Files();
  return ftpd::ResolvePath(path, mode, m_strRootDir, m_strCurDir,
                           [&files](const std::string& local) { return ProbePath(*files, local); });
}

void ControlSession::DoCwd(std::string_view, std::string_view argument) {
  std::string path(argument);
  if (ResolvePath(path, PathMode::Directory)) {
    m_strCurDir = path;
    SendReply(reply::kCwdOk);
    return;
  }
  SendReply(FormatReply("550 %s\r\n", std::string(argument) + " : " + path));
}

void ControlSession::DoCdup(std::string_view, std::string_view) {
  DoCwd("CWD ..", "..");
}

void ControlSession::DoPwd(std::string_view, std::string_view) {
  SendReply(FormatReply(reply::kPwdFormat, NameForReply(ShownPath(m_strCurDir, m_strRootDir))));
}

void ControlSession::DoMkd(std::string_view, std::string_view argument) {
  if (RefuseIllegalName(argument)) return;
  std::string path(argument);
  if (!ResolvePath(path, PathMode::Plain)) {
    SendReply(FormatReply("550 %s\r\n", path));
    return;
  }
  if (!Files()->MakeDirectory(path)) {
    SendReply(reply::kMkdFailed);
    return;
  }
  LogEntry("FTP: Directory " + path + " was created by " + m_strUser);
  SendReply(reply::kMkdOk);
}

void ControlSession::DoRmd(std::string_view, std::string_view argument) {
  std::string path(argument);
  if (!ResolvePath(path, PathMode::Directory)) {
    SendReply(FormatReply("550 %s\r\n", path));
    return;
  }
  // A path that leaves the root resolves to the root; the root itself is never removed, or the session
  // (and every other one that shares it) would lose its directory.
  if (path == m_strRootDir || !Files()->RemoveDirectory(path)) {
    SendReply(reply::kRmdFailed);
    return;
  }
  LogEntry("FTP: Directory " + path + " was removed by " + m_strUser);
  SendReply(reply::kActionOk);
}

void ControlSession::DoDele(std::string_view, std::string_view argument) {
  std::string path(argument);
  if (!ResolvePath(path, PathMode::Plain)) {
    SendReply(FormatReply("550 %s not found\r\n", path));
    return;
  }
  std::shared_ptr<const RootedFileSystem> files = Files();
  InUseGuard guard(m_context.shares, *files, path);
  if (guard.InUse() || !files->Unlink(path)) {
    SendReply(reply::kDeleFailed);
    return;
  }
  SendReply(reply::kActionOk);
  LogEntry("FTP: File " + path + " was deleted by " + m_strUser);
}

void ControlSession::DoRnfr(std::string_view, std::string_view argument) {
  m_strRenameFrom = argument;
  if (!ResolvePath(m_strRenameFrom, PathMode::Existing)) {
    SendReply(FormatReply("450 %s\r\n", m_strRenameFrom));
    m_strRenameFrom.clear();
    return;
  }
  SendReply(reply::kPending);
}

void ControlSession::DoRnto(std::string_view, std::string_view argument) {
  std::string path(argument);
  if (RefuseIllegalName(argument)) {
    // The pending rename is over, as after any other refusal.
  } else if (!ResolvePath(path, PathMode::Plain)) {
    SendReply(FormatReply("553 %s\r\n", path));
  } else {
    std::shared_ptr<const RootedFileSystem> files = Files();
    InUseGuard guard(m_context.shares, *files, m_strRenameFrom);
    if (m_strRenameFrom.empty() || guard.InUse() || !files->Rename(m_strRenameFrom, path)) {
      SendReply(reply::kRenameFailed);
    } else {
      LogEntry("FTP: " + m_strUser + " renamed file " + m_strRenameFrom + " to " + path);
      SendReply(reply::kActionOk);
    }
  }
  m_strRenameFrom.clear();
}

void ControlSession::DoSize(std::string_view, std::string_view argument) {
  std::string path(argument);
  if (!ResolvePath(path, PathMode::Plain)) {
    SendReply(FormatReply("213 %s\r\n", path));
    return;
  }
  if (m_chType != 'A') {
    struct stat st {};
    if (!Files()->Stat(path, st) || !(S_ISREG(st.st_mode) || S_ISDIR(st.st_mode))) {
      SendReply(reply::kSizeError);
      return;
    }
    SizeKnown(path, S_ISDIR(st.st_mode) ? 0 : static_cast<std::uint64_t>(st.st_size));
    return;
  }
  // The size as sent in ASCII, every LF counting as CR LF: the file is read whole, on the blocking pool,
  // unless this version of it has been counted before. The file is opened here, so that one in use is
  // refused as before.
  int error = 0;
  SharedFile file = Files()->OpenShared(m_context.shares, path, FileAccess::Read, ShareMode::Exclusive,
                                        Disposition::OpenExisting, error);
  if (!file.IsOpen()) {
    SendReply(reply::kSizeError);
    return;
  }
  if (std::optional<FileVersionKey> version = FileVersionOf(file.NativeHandle())) {
    if (std::optional<std::uint64_t> known = m_context.textSizes.Find(*version)) {
      file.Close();
      SizeKnown(path, *known);
      return;
    }
  }
  auto count = [file = std::move(file), &cache = m_context.textSizes, stop = m_stopWork]() mutable {
    return AsciiSizeOf(std::move(file), cache, *stop);
  };
  auto answer = [this, path](std::optional<std::uint64_t> size) {
    if (size)
      SizeKnown(path, *size);
    else
      SendReply(reply::kSizeError);
  };
  if (!Offload(std::move(count), std::move(answer))) SendReply(reply::kServerBusy);
}

void ControlSession::SizeKnown(const std::string& path, std::uint64_t size) {
  m_sizedPath = path;
  m_sizedBytes = size;
  SendReply("213 " + std::to_string(size) + "\r\n");
}

void ControlSession::DoMdtm(std::string_view, std::string_view argument) {
  std::string path(argument);
  if (!ResolvePath(path, PathMode::Plain)) {
    SendReply(FormatReply("550 %s\r\n", path));
    return;
  }
  struct stat st {};
  if (!Files()->Stat(path, st)) {
    SendReply(reply::kMdtmUnavailable);
    return;
  }
  SendReply("213 " + FormatMdtmTime(st.st_mtime) + "\r\n");
}

void ControlSession::DoRest(std::string_view, std::string_view argument) {
  std::optional<std::int64_t> offset = ParseRestArgument(argument);
  if (!offset) {
    SendReply(reply::kSyntaxError);
    return;
  }
  m_lRestartPos = *offset;
  m_bRestart = true;
  SendReply(reply::kPending);
}

}  // namespace hx::ftpd
