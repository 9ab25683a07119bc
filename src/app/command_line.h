#pragma once

#include <optional>
#include <string>
#include <vector>

namespace hx {

// The arguments of one command after the program name, with "--dir DIR" taken out.
struct CommandLine {
  std::vector<std::string> args;
  std::optional<std::string> dir;

  // Takes "--NAME VALUE" out of args; nullopt when absent. Sets `missing` when the value is missing.
  std::optional<std::string> TakeOption(const std::string& name, bool& missing);
};

CommandLine ParseCommandLine(int argc, char** argv);

// The directory of the running executable, ending in "/".
std::string ExecutableDirectory();

}  // namespace hx
