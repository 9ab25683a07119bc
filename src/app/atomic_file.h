#pragma once

#include <sys/types.h>

#include <filesystem>
#include <functional>
#include <optional>
#include <string>

namespace hx {

// Reads a whole file of the program (OpenProgramFile: never through a link). Returns nullopt when it does not
// exist or cannot be read (errno tells which).
std::optional<std::string> ReadWholeFile(const std::filesystem::path& path);

// Rewrites a file whole: `edit` gets the current content (empty when the file is missing) and returns the new
// content, or nullopt to leave the file as it is. The new content goes to a temporary file in the same
// directory that then replaces the original by rename; the temporary never outlives the call (it has no name
// at all where the file system allows, so even a killed process leaves none behind). The file keeps its mode;
// a new one gets `newFileMode`. The read-edit-write runs under one process-wide lock, so two writers in this
// process never lose each other's change, and a reader (in any process) sees either the old or the new file,
// never half of one. Writers in other processes must agree through a `WriterLock`.
// Returns false when the file could not be read or the new content could not be written; the original is
// then untouched.
bool RewriteFileAtomically(const std::filesystem::path& path,
                           const std::function<std::optional<std::string>(const std::string& current)>& edit,
                           mode_t newFileMode = 0600);

// The lock that writers of one file hold across read, change and rename, in every process: an exclusive flock
// on the lock file beside it ("NAME.lock", created when missing and left in place). Locking the file itself
// would not do, since the rename puts a new file under its name while a waiter still holds the old one.
// Locks of two objects exclude each other even within one thread, so never nest two for the same file.
class WriterLock {
 public:
  explicit WriterLock(const std::filesystem::path& file);  // waits until the lock is granted
  ~WriterLock();
  WriterLock(const WriterLock&) = delete;
  WriterLock& operator=(const WriterLock&) = delete;

  // False when the lock file could not be opened or locked; the caller must not write then.
  bool Held() const { return m_fd >= 0; }

 private:
  int m_fd = -1;
};

}  // namespace hx
