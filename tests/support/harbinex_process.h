#pragma once

#include <sys/types.h>

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace hx::test {

// The path of the built program, from HX_BINARY (set by the test runner).
std::string HarbinexBinary();

// Writes a Harbinex.ini into `dir` with the given "Section/Key=value" entries, e.g. {"TFTP/TPort=0"}.
// Any key not given keeps the program's default.
void WriteIni(const std::filesystem::path& dir, const std::vector<std::string>& entries);

// A headless harbinex in a directory of its own: started with `--headless --dir DIR`, its stdout and stderr
// collected, its ports read from the "... listening on port N" lines, stopped with SIGTERM at the end.
class HarbinexProcess {
 public:
  // Starts the program and waits (at most `timeout`) until every service that the INI leaves on reports its
  // port. Throws std::runtime_error when it does not come up. `openFiles` caps its descriptors (soft and
  // hard). `unprivileged` takes CAP_NET_BIND_SERVICE from it, as a program run by a user lacks it: ports
  // below 1024 are refused.
  explicit HarbinexProcess(const std::filesystem::path& dir, bool expectTftp = true, bool expectFtp = true,
                           std::chrono::milliseconds timeout = std::chrono::seconds(20),
                           std::optional<unsigned> openFiles = std::nullopt, bool unprivileged = false);
  ~HarbinexProcess();
  HarbinexProcess(const HarbinexProcess&) = delete;
  HarbinexProcess& operator=(const HarbinexProcess&) = delete;

  std::uint16_t TftpPort() const { return m_tftpPort; }
  std::uint16_t FtpPort() const { return m_ftpPort; }
  pid_t Pid() const { return m_pid; }

  // Everything the program printed so far.
  std::string Stdout() const;
  std::string Stderr() const;
  // Waits until stdout holds `text` (at most `timeout`); true when it does.
  bool WaitForStdout(const std::string& text,
                     std::chrono::milliseconds timeout = std::chrono::seconds(10)) const;
  bool WaitForStderr(const std::string& text,
                     std::chrono::milliseconds timeout = std::chrono::seconds(10)) const;

  // Sends SIGTERM and waits for the exit; returns the exit status (or -1 when it had to be killed).
  int Stop(std::chrono::milliseconds timeout = std::chrono::seconds(10));

 private:
  void Collect(int fd, std::string& into);

  pid_t m_pid = -1;
  int m_outFd = -1;
  int m_errFd = -1;
  std::uint16_t m_tftpPort = 0;
  std::uint16_t m_ftpPort = 0;
  mutable std::mutex m_lock;
  std::string m_stdout;
  std::string m_stderr;
  std::thread m_outReader;
  std::thread m_errReader;
  std::optional<int> m_exitStatus;
};

// Runs a command (argv[0] looked up in PATH) with a time limit; returns its exit status (-1 when it timed out
// and was killed) and fills `output` with its stdout and stderr together.
int RunCommand(const std::vector<std::string>& argv, std::string& output,
               std::chrono::milliseconds timeout = std::chrono::seconds(30),
               const std::string& stdinText = {}, const std::filesystem::path& workDir = {});

// Polls `condition` every 10 ms until it holds or `timeout` passes.
template <class Condition>
bool WaitUntil(Condition condition, std::chrono::milliseconds timeout = std::chrono::seconds(10)) {
  auto deadline = std::chrono::steady_clock::now() + timeout;
  for (;;) {
    if (condition()) return true;
    if (std::chrono::steady_clock::now() >= deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
}

}  // namespace hx::test
