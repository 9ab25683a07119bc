#pragma once

#include <sys/stat.h>

#include <cstddef>
#include <filesystem>
#include <string>

#include "app/rooted_file_system.h"

namespace hx {

// A file received whole: a client download, or an upload that overwrites a file of the servers. The data goes
// to a temporary file in the target's folder, which takes the target's place only when the download has
// succeeded (Commit): until then the target stays as it was, and a download that fails or is abandoned leaves
// nothing behind. The temporary is unnamed (O_TMPFILE) where the file system allows it, so that not even a
// crash leaves a trace; elsewhere it is a hidden file named after the target, removed on any failure.
class DownloadFile {
 public:
  enum class Temporary {
    PreferUnnamed,  // O_TMPFILE, or a named temporary where the file system refuses it
    Named,          // always a named temporary (what a file system without O_TMPFILE gets)
  };
  enum class Placement {
    Replace,       // the file replaces whatever is at the target, in one step
    KeepExisting,  // the file is put in place only while the target is still missing
  };

  DownloadFile() = default;
  ~DownloadFile();  // discards an uncommitted file
  DownloadFile(DownloadFile&& other) noexcept;
  DownloadFile& operator=(DownloadFile&& other) noexcept;

  // Creates the temporary beside `target`. It gets the permission bits, and where allowed the owner, of
  // `existing` (the target as it is now) when given; otherwise those of a new file, 0644 less the umask. On
  // failure returns a closed file and sets `error` to the errno value.
  static DownloadFile Create(const std::filesystem::path& target, const struct stat* existing, int& error,
                             Temporary temporary = Temporary::PreferUnnamed);
  // The same beneath the root of `files`: the target's folder is opened through it, so that no link leads
  // the temporary, or the file that replaces the target, out of the root.
  static DownloadFile Create(const RootedFileSystem& files, const std::string& target,
                             const struct stat* existing, int& error,
                             Temporary temporary = Temporary::PreferUnnamed);

  bool IsOpen() const { return m_fd >= 0; }
  // The temporary's descriptor, for calls that move data into it without a copy (splice). It stays owned
  // by the file.
  int NativeHandle() const { return m_fd; }
  // Writes all bytes; false on an error (disk full and the like), with errno set.
  bool Write(const void* data, size_t size);
  // Flushes the file to the disk and puts it at the target. Either way the file is closed afterwards and no
  // temporary remains; false with `error` set when it could not be put in place (EEXIST: KeepExisting found
  // a file there), the target then being as it was.
  bool Commit(Placement placement, int& error);
  // Closes the file and removes the temporary; the target is untouched. Nothing happens when it is closed.
  void Discard();

 private:
  bool PlaceUnnamed(Placement placement, int& error);
  bool PlaceNamed(Placement placement, int& error);
  // Gives the unnamed file the name `name` in the folder; false with errno set.
  bool LinkUnnamed(const std::string& name);

  int m_dirFd = -1;        // the target's folder
  int m_fd = -1;           // the temporary
  std::string m_name;      // the target's name in its folder
  std::string m_tempName;  // the temporary's name while it has one
};

}  // namespace hx
