#pragma once

#include <sys/types.h>

#include <filesystem>
#include <string>

namespace hx::test {

// A fresh directory under the system's temporary directory, removed with everything in it at the end.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  const std::filesystem::path& Path() const { return m_path; }
  // The path with a trailing "/", as the program keeps directories.
  std::string Dir() const { return m_path.string() + "/"; }

 private:
  std::filesystem::path m_path;
};

// Writes a file whole; creates missing directories.
void WriteFile(const std::filesystem::path& path, const std::string& content);
std::string ReadFile(const std::filesystem::path& path);

// The user "nobody": the other local user of tests that plant files and links as someone else would.
uid_t NobodyUid();
// Hands the file or link itself (never a link's target) to "nobody".
void GiveToNobody(const std::filesystem::path& path);

}  // namespace hx::test
