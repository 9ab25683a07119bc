#include "users/password_file.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>

#include "app/atomic_file.h"
#include "app/frontend.h"

namespace hx {
namespace {

constexpr const char* kFileName = "Harbinex.pwd";

// Opens for reading, creating the file when missing and never truncating it, and reads it whole.
bool ReadCreating(const std::filesystem::path& path, std::string& content) {
  int fd = ::open(path.c_str(), O_RDONLY | O_CREAT | O_CLOEXEC, 0644);
  if (fd < 0) return false;
  char buffer[8192];
  for (;;) {
    ssize_t n = ::read(fd, buffer, sizeof buffer);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) {
      ::close(fd);
      return false;
    }
    if (n == 0) break;
    content.append(buffer, static_cast<size_t>(n));
  }
  ::close(fd);
  return true;
}

}  // namespace

PasswordFile::PasswordFile(const std::string& appDir, Frontend& frontend)
    : m_path(std::filesystem::path(appDir) / kFileName), m_frontend(frontend) {
  std::string content;
  if (!ReadCreating(m_path, content)) {
    m_frontend.MessageBox("Error opening password file for reading");
    return;
  }
  size_t start = 0;
  while (start < content.size()) {
    size_t end = content.find('\n', start);
    if (end == std::string::npos) end = content.size();
    std::string_view line(content.data() + start, end - start);
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    if (!line.empty()) m_lines.emplace_back(line);
    start = end + 1;
  }
}

std::vector<std::string>::iterator PasswordFile::FindLine(std::string_view name) {
  return std::find_if(m_lines.begin(), m_lines.end(),
                      [&](const std::string& line) { return ExtractField(line, kProfileSeparator, 0) == name; });
}

std::string PasswordFile::Find(std::string_view name) const {
  for (const auto& line : m_lines) {
    if (ExtractField(line, kProfileSeparator, 0) == name) return line;
  }
  return {};
}

bool PasswordFile::GetUserNames(std::vector<std::string>& out) const {
  for (const auto& line : m_lines) out.push_back(ExtractField(line, kProfileSeparator, 0));
  return !m_lines.empty();
}

void PasswordFile::Add(const std::string& profile) {
  m_lines.push_back(profile);
  Save();
}

bool PasswordFile::Remove(std::string_view name) {
  auto it = FindLine(name);
  if (it == m_lines.end()) return false;
  m_lines.erase(it);
  Save();
  return true;
}

bool PasswordFile::Replace(std::string_view name, const std::string& profile) {
  auto it = FindLine(name);
  if (it == m_lines.end()) return false;
  *it = profile;
  Save();
  return true;
}

bool PasswordFile::Save() {
  std::string content;
  for (const auto& line : m_lines) {
    content += line;
    content += "\r\n";
  }
  if (!RewriteFileAtomically(m_path, [&](const std::string&) { return content; })) {
    m_frontend.MessageBox("Error opening password file for writing");
    return false;
  }
  return true;
}

}  // namespace hx
