#include "users/password_file.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <optional>

#include "app/atomic_file.h"
#include "app/file_io.h"
#include "app/frontend.h"
#include "app/program_file.h"

namespace hx {
namespace {

constexpr const char* kFileName = "Harbinex.pwd";
// Hashes can be guessed at offline, and old passwords decode without a key: nobody but the owner may read it.
constexpr mode_t kNewFileMode = 0600;

// Opens for reading, creating the file when missing and never truncating it, and reads it whole.
bool ReadCreating(const std::filesystem::path& path, std::string& content) {
  int fd = OpenProgramFile(path, O_RDONLY | O_CREAT, kNewFileMode);
  if (fd < 0) return false;
  std::optional<std::string> read = ReadToEnd(fd);
  ::close(fd);
  if (!read) return false;
  content = std::move(*read);
  return true;
}

// The non-empty lines of the file; a line ends at LF or CR LF.
std::vector<std::string> SplitLines(std::string_view content) {
  std::vector<std::string> lines;
  size_t start = 0;
  while (start < content.size()) {
    size_t end = content.find('\n', start);
    if (end == std::string::npos) end = content.size();
    std::string_view line = content.substr(start, end - start);
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    if (!line.empty()) lines.emplace_back(line);
    start = end + 1;
  }
  return lines;
}

std::string JoinLines(const std::vector<std::string>& lines) {
  std::string content;
  for (const auto& line : lines) {
    content += line;
    content += "\r\n";
  }
  return content;
}

std::vector<std::string>::iterator FindLine(std::vector<std::string>& lines, std::string_view name) {
  return std::find_if(lines.begin(), lines.end(), [&](const std::string& line) {
    return ExtractField(line, kProfileSeparator, 0) == name;
  });
}

}  // namespace

PasswordFile::PasswordFile(const std::string& appDir, Frontend& frontend)
    : m_path(std::filesystem::path(appDir) / kFileName), m_frontend(frontend) {
  std::string content;
  if (!ReadCreating(m_path, content)) {
    m_frontend.MessageBox("Error opening password file for reading");
    return;
  }
  m_lines = SplitLines(content);
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

bool PasswordFile::Add(const std::string& profile) {
  const std::string name = ExtractField(profile, kProfileSeparator, 0);
  return Change([&](std::vector<std::string>& lines) {
    // A second line of the name would never be found: the first one wins every lookup.
    if (FindLine(lines, name) != lines.end()) return false;
    lines.push_back(profile);
    return true;
  });
}

bool PasswordFile::Remove(std::string_view name) {
  return Change([&](std::vector<std::string>& lines) {
    auto it = FindLine(lines, name);
    if (it == lines.end()) return false;
    lines.erase(it);
    return true;
  });
}

bool PasswordFile::Replace(std::string_view name, const std::string& profile) {
  return Change([&](std::vector<std::string>& lines) {
    auto it = FindLine(lines, name);
    if (it == lines.end()) return false;
    *it = profile;
    return true;
  });
}

bool PasswordFile::ReplacePassword(std::string_view name, std::string_view expected,
                                   std::string_view replacement) {
  return Change([&](std::vector<std::string>& lines) {
    auto it = FindLine(lines, name);
    if (it == lines.end()) return false;
    // The line is the name, the separator, field 1, and the rest from the next separator on.
    const size_t start = name.size() + kProfileSeparator.size();
    if (ExtractField(*it, kProfileSeparator, 1) != expected) return false;
    it->replace(start, expected.size(), replacement);
    return true;
  });
}

bool PasswordFile::Save() {
  return Change([this](std::vector<std::string>& lines) {
    lines = m_lines;
    return true;
  });
}

bool PasswordFile::Change(const std::function<bool(std::vector<std::string>& lines)>& change) {
  // The lock spans the read of the current file, the change and the rename: a writer that read before
  // another one renamed would otherwise write back a file without that one's profile.
  WriterLock lock(m_path);
  std::vector<std::string> lines;
  bool changed = false;
  auto edit = [&](const std::string& current) -> std::optional<std::string> {
    lines = SplitLines(current);
    changed = change(lines);
    if (!changed) return std::nullopt;
    return JoinLines(lines);
  };
  if (!lock.Held() || !RewriteFileAtomically(m_path, edit, kNewFileMode)) {
    m_frontend.MessageBox("Error opening password file for writing");
    return false;
  }
  m_lines = std::move(lines);
  return changed;
}

}  // namespace hx
