#include "tftp/file_access.h"

#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "tftp/tftp_packets.h"

namespace hx::tftp {
namespace {

// The errors of a path that goes through a link out of the directory (or, on older kernels, through any
// link).
bool LeadsOutside(int error) {
  return error == EXDEV || error == ELOOP;
}

bool OutOfDescriptors(int error) {
  return error == EMFILE || error == ENFILE;
}

}  // namespace

std::vector<Rejection> Refuse(std::uint16_t code, std::string text) {
  std::vector<Rejection> list;
  list.push_back(Rejection{code, std::move(text), {}});
  return list;
}

bool IsServerBusy(const std::vector<Rejection>& rejections) {
  return rejections.size() == 1 && rejections.front().text == kServerBusy;
}

long SharedTransferFile::Read(std::uint8_t* buffer, size_t size) {
  if (!m_ahead) m_ahead = std::make_unique<std::uint8_t[]>(kReadAhead);
  size_t total = 0;
  while (total < size) {
    if (m_aheadPos == m_aheadEnd) {
      if (m_atEnd) break;
      if (size - total >= kReadDirect) {
        long n = m_file.Read(buffer + total, size - total);
        if (n < 0) return -1;
        if (n == 0) m_atEnd = true;
        total += static_cast<size_t>(n);
        continue;
      }
      long n = m_file.Read(m_ahead.get(), kReadAhead);
      if (n < 0) return -1;
      if (n == 0) {
        m_atEnd = true;
        break;
      }
      m_aheadPos = 0;
      m_aheadEnd = static_cast<size_t>(n);
    }
    size_t n = std::min(size - total, m_aheadEnd - m_aheadPos);
    std::memcpy(buffer + total, m_ahead.get() + m_aheadPos, n);
    m_aheadPos += n;
    total += n;
  }
  return static_cast<long>(total);
}

bool SharedTransferFile::Write(const std::uint8_t* data, size_t size) {
  return m_file.Write(data, size);
}

ReplacingTransferFile::ReplacingTransferFile(DownloadFile file, SharedFile claim,
                                             DownloadFile::Placement placement)
    : m_file(std::move(file)), m_claim(std::move(claim)), m_placement(placement) {}

long ReplacingTransferFile::Read(std::uint8_t*, size_t) {
  return -1;
}

bool ReplacingTransferFile::Write(const std::uint8_t* data, size_t size) {
  return m_file.IsOpen() && m_file.Write(data, size);
}

bool ReplacingTransferFile::Complete() {
  int error = 0;
  bool placed = m_file.Commit(m_placement, error);
  m_claim.Close();
  return placed;
}

OpenResult OpenForSend(FileShareTable& shares, const std::string& path) {
  return OpenForSend(shares, *RootedFileSystem::Unconfined(), path);
}

OpenResult OpenForReceive(FileShareTable& shares, const std::string& path, const ReceiveRules& rules) {
  return OpenForReceive(shares, *RootedFileSystem::Unconfined(), path, rules);
}

OpenResult OpenForSend(FileShareTable& shares, const RootedFileSystem& files, const std::string& path) {
  struct stat st {};
  if (!files.Stat(path, st)) {
    // A link that leads out of the directory is there, but not for this peer.
    if (LeadsOutside(errno)) return Refuse(kErrAccessViolation, "File access error");
    if (OutOfDescriptors(errno)) return Refuse(kErrNotDefined, kServerBusy);
    return Refuse(kErrFileNotFound, "File was not found. Aborting transfer");
  }
  if (S_ISDIR(st.st_mode)) return Refuse(kErrNotDefined, "Cannot GET a directory!");
  // A pipe or a device would block the session or never end; only regular files are served.
  if (!S_ISREG(st.st_mode)) return Refuse(kErrAccessViolation, "File access error");
  int error = 0;
  SharedFile file =
      files.OpenShared(shares, path, FileAccess::Read, ShareMode::DenyNone, Disposition::OpenExisting, error);
  if (!file.IsOpen())
    return Refuse(OutOfDescriptors(error) ? kErrNotDefined : kErrAccessViolation,
                  OutOfDescriptors(error) ? kServerBusy : "File access error");
  return std::make_unique<SharedTransferFile>(std::move(file));
}

std::optional<std::vector<Rejection>> CheckReceiveTarget(const RootedFileSystem& files,
                                                         const std::string& path, const ReceiveRules& rules,
                                                         bool& exists) {
  struct stat st {};
  exists = files.Stat(path, st);
  if (!exists) {
    // A link to outside the directory, or one that points nowhere: neither may lead the write anywhere.
    int missing = errno;
    if (LeadsOutside(missing) || (missing == ENOENT && files.LinkStat(path, st)))
      return Refuse(kErrAccessViolation, "File access error");
    if (auto refused = MakeDirectories(files, path, rules.makeNewDirs)) {
      std::vector<Rejection> list;
      list.push_back(std::move(*refused));
      list.push_back(Rejection{kErrAccessViolation, "Unable to access file. Aborting", {}});
      return list;
    }
    return std::nullopt;
  }
  // Read-only is the owner's write bit; anything but a regular file counts as a system file.
  if (!S_ISREG(st.st_mode) || (st.st_mode & S_IWUSR) == 0)
    return Refuse(kErrNotDefined,
                  "User asked for a volume, directory, system or read-only file! Access denied!");
  if (!rules.overwriteFiles)
    return Refuse(kErrFileExists, "User asked to overwrite an existing file! Access denied!");
  return std::nullopt;
}

OpenResult OpenForReceive(FileShareTable& shares, const RootedFileSystem& files, const std::string& path,
                          const ReceiveRules& rules) {
  bool exists = false;
  if (auto refused = CheckReceiveTarget(files, path, rules, exists)) return std::move(*refused);
  int error = 0;
  if (!exists) {
    // Created only when still missing, so that two sessions racing for one new name never share it and
    // the slower one never truncates what the faster one wrote.
    SharedFile file = files.OpenShared(shares, path, FileAccess::Write, ShareMode::Exclusive,
                                       Disposition::CreateNew, error);
    if (!file.IsOpen()) return Refuse(kErrAccessViolation, "Failed to open file for receiving. Aborting");
    return std::make_unique<SharedTransferFile>(std::move(file));
  }
  return OpenReplacement(shares, files, path);
}

OpenResult OpenReplacement(FileShareTable& shares, const RootedFileSystem& files, const std::string& path) {
  // Opened for writing but not truncated: the open proves that it may be written, and its claim keeps other
  // sessions away from it until the replacement has taken its place.
  int error = 0;
  SharedFile claim = files.OpenShared(shares, path, FileAccess::Write, ShareMode::Exclusive,
                                      Disposition::OpenExisting, error);
  struct stat st {};
  DownloadFile file;
  if (claim.IsOpen() && ::fstat(claim.NativeHandle(), &st) == 0)
    file = DownloadFile::Create(files, path, &st, error);
  if (!file.IsOpen()) return Refuse(kErrAccessViolation, "Failed to open file for receiving. Aborting.");
  return std::make_unique<ReplacingTransferFile>(std::move(file), std::move(claim),
                                                 DownloadFile::Placement::Replace);
}

std::optional<Rejection> MakeDirectories(const RootedFileSystem& files, const std::string& path,
                                         bool makeNewDirs) {
  size_t last = path.rfind('/');
  if (last == std::string::npos) return std::nullopt;
  std::string dirPart = path.substr(0, last);

  std::string built = path.front() == '/' ? "/" : "";
  size_t start = 0;
  bool first = true;
  while (start <= dirPart.size()) {
    size_t end = dirPart.find('/', start);
    if (end == std::string::npos) end = dirPart.size();
    std::string component = dirPart.substr(start, end - start);
    start = end + 1;
    if (component.empty()) continue;
    if (!first) built += '/';
    first = false;
    built += component;
    if (!files.IsBeneath(built)) continue;  // the directory itself and what leads to it are the operator's

    struct stat st {};
    if (!files.Stat(built, st)) {
      if (!makeNewDirs) return Rejection{kErrNotDefined, "Not allowed to create directories!", {}};
      // Another session may have created it a moment ago; that is as good as creating it here.
      if (!files.MakeDirectory(built, 0755) &&
          !(errno == EEXIST && files.Stat(built, st) && S_ISDIR(st.st_mode)))
        return Rejection{kErrNotDefined, "Could not create the directory " + built, {}};
    } else if (!S_ISDIR(st.st_mode)) {
      return Rejection{kErrNotDefined, built + " is not a directory!", {}};
    }
  }
  return std::nullopt;
}

bool HasRoomFor(const RootedFileSystem& files, const std::string& directory, std::uint64_t size) {
  std::optional<std::uint64_t> free = files.FreeSpace(directory);
  return !free || *free >= size;
}

}  // namespace hx::tftp
