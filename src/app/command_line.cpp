#include "app/command_line.h"

#include <unistd.h>

#include <climits>
#include <filesystem>

namespace hx {

std::optional<std::string> CommandLine::TakeOption(const std::string& name, bool& missing) {
  for (size_t i = 0; i < args.size(); ++i) {
    if (args[i] != name) continue;
    if (i + 1 >= args.size()) {
      missing = true;
      args.erase(args.begin() + static_cast<long>(i));
      return std::nullopt;
    }
    std::string value = args[i + 1];
    args.erase(args.begin() + static_cast<long>(i), args.begin() + static_cast<long>(i) + 2);
    return value;
  }
  return std::nullopt;
}

CommandLine ParseCommandLine(int argc, char** argv) {
  CommandLine line;
  for (int i = 1; i < argc; ++i) line.args.emplace_back(argv[i]);
  bool missing = false;
  line.dir = line.TakeOption("--dir", missing);
  return line;
}

std::string ExecutableDirectory() {
  char path[PATH_MAX];
  ssize_t n = ::readlink("/proc/self/exe", path, sizeof path - 1);
  if (n <= 0) return "./";
  std::filesystem::path exe(std::string(path, static_cast<size_t>(n)));
  return exe.parent_path().string() + "/";
}

}  // namespace hx
