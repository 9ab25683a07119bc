#include "support/temp_dir.h"

#include <pwd.h>
#include <stdlib.h>
#include <unistd.h>

#include <fstream>
#include <sstream>
#include <stdexcept>

namespace hx::test {

TempDir::TempDir() {
  std::string pattern = (std::filesystem::temp_directory_path() / "hx-test-XXXXXX").string();
  if (!::mkdtemp(pattern.data())) throw std::runtime_error("mkdtemp failed");
  m_path = pattern;
}

TempDir::~TempDir() {
  std::error_code ignored;
  std::filesystem::permissions(m_path, std::filesystem::perms::owner_all, std::filesystem::perm_options::add,
                               ignored);
  std::filesystem::remove_all(m_path, ignored);
}

void WriteFile(const std::filesystem::path& path, const std::string& content) {
  if (path.has_parent_path()) std::filesystem::create_directories(path.parent_path());
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << content;
}

std::string ReadFile(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream content;
  content << in.rdbuf();
  return content.str();
}

uid_t NobodyUid() {
  const passwd* entry = ::getpwnam("nobody");
  return entry ? entry->pw_uid : 65534;
}

void GiveToNobody(const std::filesystem::path& path) {
  if (::lchown(path.c_str(), NobodyUid(), static_cast<gid_t>(-1)) != 0)
    throw std::runtime_error("lchown failed: " + path.string());
}

}  // namespace hx::test
