#include "integration/clients/ftp_client_tool.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <thread>

#include "support/harbinex_process.h"

extern char** environ;

namespace hx::test {

ToolRun RunHarbinex(const std::vector<std::string>& args, const std::string& stdinText,
                    std::chrono::milliseconds timeout) {
  ToolRun run;
  // A program that exits before it read all of its input must not take the test down with SIGPIPE.
  ::signal(SIGPIPE, SIG_IGN);
  int out[2], err[2], in[2];
  if (::pipe2(out, O_CLOEXEC) != 0 || ::pipe2(err, O_CLOEXEC) != 0 || ::pipe2(in, O_CLOEXEC) != 0) return run;
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, out[1], STDOUT_FILENO);
  posix_spawn_file_actions_adddup2(&actions, err[1], STDERR_FILENO);
  posix_spawn_file_actions_adddup2(&actions, in[0], STDIN_FILENO);
  std::vector<std::string> all{HarbinexBinary()};
  all.insert(all.end(), args.begin(), args.end());
  std::vector<char*> argv;
  for (auto& a : all) argv.push_back(a.data());
  argv.push_back(nullptr);
  pid_t pid = -1;
  int rc = ::posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  ::close(out[1]);
  ::close(err[1]);
  ::close(in[0]);
  if (rc != 0) {
    ::close(out[0]);
    ::close(err[0]);
    ::close(in[1]);
    run.err = "cannot start the program";
    return run;
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
  auto deadline = std::chrono::steady_clock::now() + timeout;
  pollfd fds[2] = {{out[0], POLLIN, 0}, {err[0], POLLIN, 0}};
  std::string* into[2] = {&run.out, &run.err};
  int open = 2;
  bool killed = false;
  char buffer[4096];
  while (open > 0) {
    auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
    if (left.count() <= 0) {
      ::kill(pid, SIGKILL);
      killed = true;
      break;
    }
    if (::poll(fds, 2, static_cast<int>(left.count())) < 0) continue;
    for (int i = 0; i < 2; ++i) {
      if (fds[i].fd < 0 || fds[i].revents == 0) continue;
      ssize_t n = ::read(fds[i].fd, buffer, sizeof buffer);
      if (n <= 0) {
        ::close(fds[i].fd);
        fds[i].fd = -1;
        --open;
      } else {
        into[i]->append(buffer, static_cast<size_t>(n));
      }
    }
  }
  for (auto& f : fds) {
    if (f.fd >= 0) ::close(f.fd);
  }
  int status = 0;
  ::waitpid(pid, &status, 0);
  writer.join();
  run.status = (!killed && WIFEXITED(status)) ? WEXITSTATUS(status) : -1;
  return run;
}

}  // namespace hx::test
