#include "tftp/file_access.h"

#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "tftp/tftp_packets.h"

namespace hx::tftp {
namespace {

std::vector<Rejection> Refuse(std::uint16_t code, std::string text) {
  std::vector<Rejection> list;
  list.push_back(Rejection{code, std::move(text), {}});
  return list;
}

}  // namespace

long SharedTransferFile::Read(std::uint8_t* buffer, size_t size) {
  if (!m_ahead) m_ahead = std::make_unique<std::uint8_t[]>(kReadAhead);
  size_t total = 0;
  while (total < size) {
    if (m_aheadPos == m_aheadEnd) {
      if (m_atEnd) break;
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

OpenResult OpenForSend(FileShareTable& shares, const std::string& path) {
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0)
    return Refuse(kErrFileNotFound, "File was not found. Aborting transfer");
  if (S_ISDIR(st.st_mode)) return Refuse(kErrNotDefined, "Cannot GET a directory!");
  // A pipe or a device would block the session or never end; only regular files are served.
  if (!S_ISREG(st.st_mode)) return Refuse(kErrAccessViolation, "File access error");
  int error = 0;
  SharedFile file =
      SharedFile::Open(shares, path, FileAccess::Read, ShareMode::DenyNone, Disposition::OpenExisting, error);
  if (!file.IsOpen()) return Refuse(kErrAccessViolation, "File access error");
  return std::make_unique<SharedTransferFile>(std::move(file));
}

OpenResult OpenForReceive(FileShareTable& shares, const std::string& path, const ReceiveRules& rules) {
  struct stat st {};
  int error = 0;
  if (::stat(path.c_str(), &st) != 0) {
    if (auto refused = MakeDirectories(path, rules.makeNewDirs)) {
      std::vector<Rejection> list;
      list.push_back(std::move(*refused));
      list.push_back(Rejection{kErrAccessViolation, "Unable to access file. Aborting", {}});
      return list;
    }
    // Created only when still missing, so that two sessions racing for one new name never share it and
    // the slower one never truncates what the faster one wrote.
    SharedFile file = SharedFile::Open(shares, path, FileAccess::Write, ShareMode::Exclusive,
                                       Disposition::CreateNew, error);
    if (!file.IsOpen()) return Refuse(kErrAccessViolation, "Failed to open file for receiving. Aborting");
    return std::make_unique<SharedTransferFile>(std::move(file));
  }
  // Read-only is the owner's write bit; anything but a regular file counts as a system file.
  if (!S_ISREG(st.st_mode) || (st.st_mode & S_IWUSR) == 0)
    return Refuse(kErrNotDefined,
                  "User asked for a volume, directory, system or read-only file! Access denied!");
  if (!rules.overwriteFiles)
    return Refuse(kErrNotDefined, "User asked to overwrite an existing file! Access denied!");
  SharedFile file = SharedFile::Open(shares, path, FileAccess::Write, ShareMode::Exclusive,
                                     Disposition::CreateAlways, error);
  if (!file.IsOpen()) return Refuse(kErrAccessViolation, "Failed to open file for receiving. Aborting.");
  return std::make_unique<SharedTransferFile>(std::move(file));
}

std::optional<Rejection> MakeDirectories(const std::string& path, bool makeNewDirs) {
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

    struct stat st {};
    if (::stat(built.c_str(), &st) != 0) {
      if (!makeNewDirs) return Rejection{kErrNotDefined, "Not allowed to create directories!", {}};
      // Another session may have created it a moment ago; that is as good as creating it here.
      if (::mkdir(built.c_str(), 0755) != 0 &&
          !(errno == EEXIST && ::stat(built.c_str(), &st) == 0 && S_ISDIR(st.st_mode)))
        return Rejection{kErrNotDefined, "Could not create the directory " + built, {}};
    } else if (!S_ISDIR(st.st_mode)) {
      return Rejection{kErrNotDefined, built + " is not a directory!", {}};
    }
  }
  return std::nullopt;
}

}  // namespace hx::tftp
