#pragma once

#include <chrono>
#include <string>
#include <vector>

namespace hx::test {

// What one run of the program printed, and how it ended.
struct ToolRun {
  int status = -1;  // exit status; -1 when it had to be killed at the time limit
  std::string out;
  std::string err;
};

// Runs the built program with `args` (after the program name), feeding `stdinText` to its standard input,
// with stdout and stderr kept apart. A run that outlives `timeout` is killed.
ToolRun RunHarbinex(const std::vector<std::string>& args, const std::string& stdinText = {},
                    std::chrono::milliseconds timeout = std::chrono::seconds(60));

}  // namespace hx::test
