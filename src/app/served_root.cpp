#include "app/served_root.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "app/private_directory.h"

namespace hx {
namespace {

// More folders than this (users' folders that sessions no longer use) and the unused ones are let go.
constexpr size_t kMaxHeldRoots = 64;

bool Trusted(uid_t owner) {
  return owner == 0 || owner == ::geteuid();
}

// An operator's folder, as the class comment says. Returns the descriptor (O_PATH) or -1 with errno, and
// `refused` when the folder is there but not safe to serve.
int OpenOperatorFolder(const std::string& dir, bool& refused) {
  refused = false;
  int fd = ::open(dir.c_str(), O_PATH | O_NOFOLLOW | O_CLOEXEC);
  if (fd < 0) return -1;
  struct stat st {};
  if (::fstat(fd, &st) != 0) {
    int error = errno;
    ::close(fd);
    errno = error;
    return -1;
  }
  if (S_ISLNK(st.st_mode)) {
    ::close(fd);
    if (!Trusted(st.st_uid)) {
      refused = true;
      errno = EACCES;
      return -1;
    }
    fd = ::open(dir.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0 || ::fstat(fd, &st) != 0) {
      int error = errno;
      if (fd >= 0) ::close(fd);
      errno = error;
      return -1;
    }
  }
  if (!S_ISDIR(st.st_mode)) {
    ::close(fd);
    errno = ENOTDIR;
    return -1;
  }
  if (!Trusted(st.st_uid) && (st.st_mode & S_IWOTH)) {
    ::close(fd);
    refused = true;
    errno = EACCES;
    return -1;
  }
  return fd;
}

}  // namespace

ServedRoot::ServedRoot(std::string path, State state, int fd, int error)
    : m_path(std::move(path)), m_state(state), m_fd(fd), m_error(error) {}

ServedRoot::~ServedRoot() {
  if (m_fd >= 0) ::close(m_fd);
}

std::shared_ptr<ServedRoot> ServedRoot::Open(const std::string& text) {
  std::string dir = text.empty() ? std::string(".") : text;
  while (dir.size() > 1 && dir.back() == '/') dir.pop_back();
  int fd = -1;
  bool refused = false;
  State failed = State::Absent;
  if (IsPrivateFolder(dir)) {
    fd = OpenPrivateFolder(dir, refused);
    // A private folder that cannot be made (its name taken, its parent gone) is missing: never served by
    // another name, never followed.
    failed = State::Missing;
    if (fd < 0) errno = ENOENT;
  } else {
    fd = OpenOperatorFolder(dir, refused);
    if (refused) failed = State::Refused;
  }
  int error = fd < 0 ? errno : 0;
  // The class is only made here; make_shared cannot reach the private constructor.
  return std::shared_ptr<ServedRoot>(new ServedRoot(dir, fd >= 0 ? State::Open : failed, fd, error));
}

bool ServedRoot::Removed() const {
  struct stat st {};
  return m_fd >= 0 && ::fstat(m_fd, &st) == 0 && st.st_nlink == 0;
}

std::string ServedRoot::RefusalText() const {
  if (m_state == State::Missing) return std::string(kFolderMissingText) + ": " + m_path;
  return "Transfer folder not served: " + m_path +
         " is another user's link, or another user's folder that everyone may write to";
}

ServedRootLookup ServedRoots::Get(const std::string& text) {
  std::lock_guard guard(m_lock);
  std::shared_ptr<ServedRoot>& held = m_roots[text];
  if (held && held->GetState() == ServedRoot::State::Open && !held->Removed()) return {held, false};
  ServedRoot::State before = held ? held->GetState() : ServedRoot::State::Open;
  held = ServedRoot::Open(text);
  ServedRoot::State now = held->GetState();
  bool refused = now == ServedRoot::State::Missing || now == ServedRoot::State::Refused;
  ServedRootLookup lookup{held, refused && now != before};
  if (m_roots.size() > kMaxHeldRoots) {
    std::erase_if(m_roots, [](const auto& entry) { return entry.second.use_count() == 1; });
  }
  return lookup;
}

}  // namespace hx
