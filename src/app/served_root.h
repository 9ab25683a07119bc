#pragma once

#include <map>
#include <memory>
#include <mutex>
#include <string>

namespace hx {

// A served folder held open: TFTP's TDLDir, FTP's FDLDir and the folders of the users' profiles. The folder
// is opened once, by the rules below, and every file-system call of a session is resolved beneath the
// descriptor (RootedFileSystem), so that whatever later happens to the folder's name (a cleaner removes it,
// another user puts a link there) no request follows the name anywhere else.
//
// The program's private folder (IsPrivateFolder) is made and opened only as OpenPrivateFolder allows: when
// it is missing and its name is taken, the folder is Missing and requests are refused. Any other folder is
// opened without following a link, except a link that belongs to root or the program's user (the operator's
// own, which only someone who may write its parent could change); it must be a directory, and one that
// belongs to another user (not root) and that everyone may write to is Refused.
class ServedRoot {
 public:
  enum class State {
    Open,     // Descriptor() is the folder
    Missing,  // the private folder is gone and cannot be made again safely
    Refused,  // the folder is not safe to serve
    Absent,   // the folder cannot be opened (it does not exist, is no directory, ...): Error() tells why
  };

  // Opens the folder that `text` names (a setting's text, with or without a final "/"; empty: the current
  // directory).
  static std::shared_ptr<ServedRoot> Open(const std::string& text);
  ~ServedRoot();
  ServedRoot(const ServedRoot&) = delete;
  ServedRoot& operator=(const ServedRoot&) = delete;

  State GetState() const { return m_state; }
  // The folder's descriptor; -1 unless Open.
  int Descriptor() const { return m_fd; }
  // The errno every call beneath a folder that is not Open fails with.
  int Error() const { return m_error; }
  // True when the open folder has been removed since it was opened.
  bool Removed() const;
  // The log line (without the service's prefix) of a Missing or Refused folder.
  std::string RefusalText() const;

 private:
  ServedRoot(std::string path, State state, int fd, int error);

  std::string m_path;
  State m_state;
  int m_fd;
  int m_error;
};

// The text of the refusal of every request while a served folder is Missing (TFTP ERROR text; the FTP reply
// says the same).
inline constexpr const char* kFolderMissingText = "Transfer folder is missing";

struct ServedRootLookup {
  std::shared_ptr<const ServedRoot> root;
  // True for the first lookup that finds the folder Missing or Refused: the caller logs RefusalText() once,
  // not for every request that is refused.
  bool newlyRefused = false;
};

// The served folders, each held open under the text that names it. A folder is opened at its first lookup
// and again only when it was removed (the private folder is then made again as OpenPrivateFolder allows) or
// when it is not Open (so that an operator's folder that appears later is served); a changed setting is a
// new text and so a new folder. Safe to use from every thread.
class ServedRoots {
 public:
  ServedRootLookup Get(const std::string& text);

 private:
  std::mutex m_lock;
  std::map<std::string, std::shared_ptr<ServedRoot>> m_roots;
};

}  // namespace hx
