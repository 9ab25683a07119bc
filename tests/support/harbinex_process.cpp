#include "support/harbinex_process.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <map>
#include <stdexcept>

extern char** environ;

namespace hx::test {
namespace {

std::vector<char*> Argv(const std::vector<std::string>& args) {
  std::vector<char*> argv;
  for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);
  return argv;
}

// Waits for the child with a deadline; kills it when the deadline passes. Returns the exit status or -1.
int WaitChild(pid_t pid, std::chrono::milliseconds timeout) {
  auto deadline = std::chrono::steady_clock::now() + timeout;
  for (;;) {
    int status = 0;
    pid_t r = ::waitpid(pid, &status, WNOHANG);
    if (r == pid) return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    if (r < 0) return -1;
    if (std::chrono::steady_clock::now() >= deadline) {
      ::kill(pid, SIGKILL);
      ::waitpid(pid, &status, 0);
      return -1;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
}

}  // namespace

std::string HarbinexBinary() {
  const char* binary = std::getenv("HX_BINARY");
  if (!binary || !*binary) throw std::runtime_error("HX_BINARY is not set");
  return binary;
}

void WriteIni(const std::filesystem::path& dir, const std::vector<std::string>& entries) {
  std::map<std::string, std::vector<std::string>> sections;
  std::vector<std::string> order;
  for (const auto& entry : entries) {
    auto slash = entry.find('/');
    std::string section = entry.substr(0, slash);
    if (!sections.count(section)) order.push_back(section);
    sections[section].push_back(entry.substr(slash + 1));
  }
  std::ofstream out(dir / "Harbinex.ini", std::ios::trunc);
  for (const auto& section : order) {
    out << "[" << section << "]\n";
    for (const auto& line : sections[section]) out << line << "\n";
  }
}

HarbinexProcess::HarbinexProcess(const std::filesystem::path& dir, bool expectTftp, bool expectFtp,
                                 std::chrono::milliseconds timeout, std::optional<unsigned> openFiles,
                                 bool unprivileged) {
  int out[2], err[2];
  if (::pipe2(out, O_CLOEXEC) != 0 || ::pipe2(err, O_CLOEXEC) != 0) throw std::runtime_error("pipe failed");
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, out[1], STDOUT_FILENO);
  posix_spawn_file_actions_adddup2(&actions, err[1], STDERR_FILENO);
  std::vector<std::string> args = {HarbinexBinary(), "--headless", "--dir", dir.string()};
  // setpriv drops the capability from the bounding set and becomes the program, so the pid is the program's.
  if (unprivileged) args.insert(args.begin(), {"/usr/bin/setpriv", "--bounding-set", "-net_bind_service"});
  if (openFiles) {
    // prlimit sets the limit and then becomes the program, so the pid is the program's.
    std::string limit = std::to_string(*openFiles);
    args.insert(args.begin(), {"/usr/bin/prlimit", "--nofile=" + limit + ":" + limit, "--"});
  }
  auto argv = Argv(args);
  int rc = ::posix_spawn(&m_pid, argv[0], &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  ::close(out[1]);
  ::close(err[1]);
  m_outFd = out[0];
  m_errFd = err[0];
  if (rc != 0) {
    ::close(m_outFd);
    ::close(m_errFd);
    throw std::runtime_error("cannot start " + args[0]);
  }
  m_outReader = std::thread([this] { Collect(m_outFd, m_stdout); });
  m_errReader = std::thread([this] { Collect(m_errFd, m_stderr); });

  // Lines "TFTP server listening on port N" and "FTP server listening on port N", matched at line starts.
  auto portAfter = [](const std::string& text, const std::string& prefix) -> std::uint16_t {
    for (size_t start = 0; start < text.size();) {
      size_t end = text.find('\n', start);
      if (end == std::string::npos) break;
      if (text.compare(start, prefix.size(), prefix) == 0)
        return static_cast<std::uint16_t>(
            std::stoi(text.substr(start + prefix.size(), end - start - prefix.size())));
      start = end + 1;
    }
    return 0;
  };
  bool up = WaitUntil(
      [&] {
        std::string text = Stdout();
        if (expectTftp) m_tftpPort = portAfter(text, "TFTP server listening on port ");
        if (expectFtp) m_ftpPort = portAfter(text, "FTP server listening on port ");
        return (!expectTftp || m_tftpPort) && (!expectFtp || m_ftpPort);
      },
      timeout);
  if (!up) {
    // The destructor does not run for a constructor that throws: end the program and its readers here, so
    // that the test fails instead of the whole run aborting on a joinable thread.
    Stop();
    m_outReader.join();
    m_errReader.join();
    ::close(m_outFd);
    ::close(m_errFd);
    throw std::runtime_error("harbinex did not come up; stderr: " + Stderr());
  }
}

HarbinexProcess::~HarbinexProcess() {
  Stop();
  if (m_outReader.joinable()) m_outReader.join();
  if (m_errReader.joinable()) m_errReader.join();
  if (m_outFd >= 0) ::close(m_outFd);
  if (m_errFd >= 0) ::close(m_errFd);
}

void HarbinexProcess::Collect(int fd, std::string& into) {
  char buffer[4096];
  for (;;) {
    ssize_t n = ::read(fd, buffer, sizeof buffer);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return;
    std::lock_guard guard(m_lock);
    into.append(buffer, static_cast<size_t>(n));
  }
}

std::string HarbinexProcess::Stdout() const {
  std::lock_guard guard(m_lock);
  return m_stdout;
}

std::string HarbinexProcess::Stderr() const {
  std::lock_guard guard(m_lock);
  return m_stderr;
}

bool HarbinexProcess::WaitForStdout(const std::string& text, std::chrono::milliseconds timeout) const {
  return WaitUntil([&] { return Stdout().find(text) != std::string::npos; }, timeout);
}

bool HarbinexProcess::WaitForStderr(const std::string& text, std::chrono::milliseconds timeout) const {
  return WaitUntil([&] { return Stderr().find(text) != std::string::npos; }, timeout);
}

int HarbinexProcess::Stop(std::chrono::milliseconds timeout) {
  if (m_exitStatus) return *m_exitStatus;
  if (m_pid <= 0) return -1;
  ::kill(m_pid, SIGTERM);
  m_exitStatus = WaitChild(m_pid, timeout);
  return *m_exitStatus;
}

int RunCommand(const std::vector<std::string>& args, std::string& output, std::chrono::milliseconds timeout,
               const std::string& stdinText, const std::filesystem::path& workDir) {
  int out[2], in[2];
  if (::pipe2(out, O_CLOEXEC) != 0 || ::pipe2(in, O_CLOEXEC) != 0) return -1;
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, out[1], STDOUT_FILENO);
  posix_spawn_file_actions_adddup2(&actions, out[1], STDERR_FILENO);
  posix_spawn_file_actions_adddup2(&actions, in[0], STDIN_FILENO);
  if (!workDir.empty()) posix_spawn_file_actions_addchdir_np(&actions, workDir.c_str());
  auto argv = Argv(args);
  pid_t pid = -1;
  int rc = ::posix_spawnp(&pid, argv[0], &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  ::close(out[1]);
  ::close(in[0]);
  if (rc != 0) {
    ::close(out[0]);
    ::close(in[1]);
    output = "cannot start " + args[0];
    return -1;
  }
  std::thread writer([fd = in[1], stdinText] {
    size_t done = 0;
    while (done < stdinText.size()) {
      ssize_t n = ::write(fd, stdinText.data() + done, stdinText.size() - done);
      if (n <= 0) break;
      done += static_cast<size_t>(n);
    }
    ::close(fd);
  });
  output.clear();
  auto deadline = std::chrono::steady_clock::now() + timeout;
  char buffer[4096];
  for (;;) {
    auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
    if (left.count() <= 0) break;
    pollfd p{out[0], POLLIN, 0};
    if (::poll(&p, 1, static_cast<int>(left.count())) <= 0) break;
    ssize_t n = ::read(out[0], buffer, sizeof buffer);
    if (n <= 0) break;
    output.append(buffer, static_cast<size_t>(n));
  }
  ::close(out[0]);
  int status = WaitChild(
      pid, std::chrono::milliseconds(std::max<long>(1, std::chrono::duration_cast<std::chrono::milliseconds>(
                                                           deadline - std::chrono::steady_clock::now())
                                                           .count())));
  writer.join();
  return status;
}

}  // namespace hx::test
