#include "app/program_directory.h"

#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <cstdlib>
#include <string_view>

#include "app/command_line.h"

namespace hx {
namespace {

std::string WithSlash(std::string dir) {
  if (dir.empty() || dir.back() != '/') dir += '/';
  return dir;
}

bool IsAbsolute(const char* path) {
  return path && path[0] == '/';
}

}  // namespace

std::optional<std::string> ChooseProgramDirectory(const std::optional<std::string>& dirOption,
                                                  const std::string& executableDir, bool installed,
                                                  const char* xdgConfigHome, const char* home) {
  if (dirOption) return WithSlash(*dirOption);
  if (!installed) return WithSlash(executableDir);
  // A relative XDG_CONFIG_HOME is to be ignored: it would move with the working directory.
  if (IsAbsolute(xdgConfigHome)) return WithSlash(xdgConfigHome) + "harbinex/";
  if (IsAbsolute(home)) return WithSlash(home) + ".config/harbinex/";
  return std::nullopt;
}

bool IsInstalledProgram(const std::string& executableDir) {
  constexpr std::array<std::string_view, 6> kSystemFolders = {
      "/usr/bin/", "/usr/sbin/", "/bin/", "/sbin/", "/usr/local/bin/", "/usr/local/sbin/"};
  std::string dir = WithSlash(executableDir);
  for (std::string_view system : kSystemFolders)
    if (dir == system) return true;
  return ::access(dir.c_str(), W_OK) != 0;
}

std::optional<std::string> ProgramDirectory(const std::optional<std::string>& dirOption) {
  std::string executableDir = ExecutableDirectory();
  const char* home = std::getenv("HOME");
  if (!home || !*home) {
    const passwd* user = ::getpwuid(::getuid());
    home = user ? user->pw_dir : nullptr;
  }
  return ChooseProgramDirectory(dirOption, executableDir, !dirOption && IsInstalledProgram(executableDir),
                                std::getenv("XDG_CONFIG_HOME"), home);
}

bool CreatePrivateFolders(const std::string& dir) {
  for (size_t end = dir.find('/', 1); end != std::string::npos; end = dir.find('/', end + 1)) {
    std::string folder = dir.substr(0, end);
    if (::mkdir(folder.c_str(), 0700) != 0 && errno != EEXIST) return false;
  }
  if (dir.back() != '/' && ::mkdir(dir.c_str(), 0700) != 0 && errno != EEXIST) return false;
  struct stat st {};
  if (::stat(dir.c_str(), &st) != 0) return false;
  if (!S_ISDIR(st.st_mode)) {
    errno = ENOTDIR;
    return false;
  }
  return true;
}

}  // namespace hx
