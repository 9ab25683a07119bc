#include "integration/clients/ftp_client_peers.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>

extern char** environ;

namespace hx::test {
namespace {

sockaddr_in Loopback(std::uint16_t port, const char* address = "127.0.0.1") {
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_port = htons(port);
  ::inet_pton(AF_INET, address, &a.sin_addr);
  return a;
}

long MillisLeft(std::chrono::steady_clock::time_point deadline) {
  auto left =
      std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
  return left.count() > 0 ? static_cast<long>(left.count()) : 0;
}

}  // namespace

std::uint16_t FreeTcpPort() {
  int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in a = Loopback(0);
  ::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a);
  socklen_t len = sizeof a;
  ::getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len);
  ::close(fd);
  return ntohs(a.sin_port);
}

bool WaitForTcpPort(std::uint16_t port, std::chrono::milliseconds timeout) {
  auto deadline = std::chrono::steady_clock::now() + timeout;
  for (;;) {
    int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in a = Loopback(port);
    bool ok = ::connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0;
    ::close(fd);
    if (ok) return true;
    if (std::chrono::steady_clock::now() >= deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
}

PeerProcess::PeerProcess(const std::vector<std::string>& argv) {
  char pattern[] = "/tmp/hx-peer-XXXXXX";
  int out = ::mkstemp(pattern);
  if (out < 0) return;
  m_outputPath = pattern;
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, out, STDOUT_FILENO);
  posix_spawn_file_actions_adddup2(&actions, out, STDERR_FILENO);
  posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
  std::vector<std::string> args = argv;
  std::vector<char*> raw;
  for (auto& a : args) raw.push_back(a.data());
  raw.push_back(nullptr);
  if (::posix_spawnp(&m_pid, raw[0], &actions, nullptr, raw.data(), environ) != 0) m_pid = -1;
  posix_spawn_file_actions_destroy(&actions);
  ::close(out);
}

PeerProcess::~PeerProcess() {
  if (m_pid > 0) {
    ::kill(m_pid, SIGTERM);
    int status = 0;
    for (int i = 0; i < 200; ++i) {
      if (::waitpid(m_pid, &status, WNOHANG) == m_pid) {
        m_pid = -1;
        break;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    if (m_pid > 0) {
      ::kill(m_pid, SIGKILL);
      ::waitpid(m_pid, &status, 0);
    }
  }
  if (!m_outputPath.empty()) ::unlink(m_outputPath.c_str());
}

bool PeerProcess::Running() {
  if (m_pid <= 0) return false;
  int status = 0;
  if (::waitpid(m_pid, &status, WNOHANG) != m_pid) return true;
  m_pid = -1;
  return false;
}

std::unique_ptr<PeerProcess> StartTcpPeer(const std::function<std::vector<std::string>(std::uint16_t)>& argv,
                                          std::uint16_t& port) {
  auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(15);
  for (int attempt = 0; attempt < 5; ++attempt) {
    port = FreeTcpPort();
    auto process = std::make_unique<PeerProcess>(argv(port));
    while (process->Running() && std::chrono::steady_clock::now() < deadline) {
      if (WaitForTcpPort(port, std::chrono::milliseconds(0))) return process;
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    if (std::chrono::steady_clock::now() >= deadline) break;
  }
  return nullptr;
}

std::string PeerProcess::Output() const {
  std::ifstream in(m_outputPath);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

FakeControl::~FakeControl() {
  Close();
}

void FakeControl::Close() {
  if (m_fd >= 0) ::close(m_fd);
  m_fd = -1;
}

void FakeControl::Send(const std::string& bytes) {
  WriteAll(m_fd, bytes);
}

std::optional<std::string> FakeControl::ReadLine(std::chrono::milliseconds timeout) {
  auto deadline = std::chrono::steady_clock::now() + timeout;
  for (;;) {
    size_t end = m_pending.find("\r\n");
    if (end != std::string::npos) {
      std::string line = m_pending.substr(0, end);
      m_pending.erase(0, end + 2);
      lines.push_back(line);
      return line;
    }
    pollfd p{m_fd, POLLIN, 0};
    if (::poll(&p, 1, static_cast<int>(MillisLeft(deadline))) <= 0) return std::nullopt;
    char buffer[4096];
    ssize_t n = ::read(m_fd, buffer, sizeof buffer);
    if (n <= 0) return std::nullopt;
    m_pending.append(buffer, static_cast<size_t>(n));
  }
}

bool FakeControl::ClientCloses(std::chrono::milliseconds timeout) {
  if (!m_pending.empty()) return false;
  pollfd p{m_fd, POLLIN, 0};
  if (::poll(&p, 1, static_cast<int>(timeout.count())) <= 0) return false;
  char c;
  return ::read(m_fd, &c, 1) <= 0;
}

int FakeControl::PortOf(const std::string& portLine) {
  int h[4], p1 = -1, p2 = -1;
  if (std::sscanf(portLine.c_str(), "PORT %d,%d,%d,%d,%d,%d", &h[0], &h[1], &h[2], &h[3], &p1, &p2) != 6)
    return -1;
  return p1 * 256 + p2;
}

int FakeControl::ConnectToPort(const std::string& portLine, const std::string& sourceAddress) {
  int port = PortOf(portLine);
  if (port <= 0) return -1;
  int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in source = Loopback(0, sourceAddress.c_str());
  if (::bind(fd, reinterpret_cast<sockaddr*>(&source), sizeof source) != 0) {
    ::close(fd);
    return -1;
  }
  sockaddr_in target = Loopback(static_cast<std::uint16_t>(port));
  if (::connect(fd, reinterpret_cast<sockaddr*>(&target), sizeof target) != 0) {
    ::close(fd);
    return -1;
  }
  return fd;
}

FakeFtpServer::FakeFtpServer(Script script) {
  m_listenFd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in a = Loopback(0);
  ::bind(m_listenFd, reinterpret_cast<sockaddr*>(&a), sizeof a);
  ::listen(m_listenFd, 4);
  socklen_t len = sizeof a;
  ::getsockname(m_listenFd, reinterpret_cast<sockaddr*>(&a), &len);
  m_port = ntohs(a.sin_port);
  m_thread = std::thread([this, script = std::move(script)] {
    pollfd p{m_listenFd, POLLIN, 0};
    if (::poll(&p, 1, 30000) > 0) {
      int fd = ::accept4(m_listenFd, nullptr, nullptr, SOCK_CLOEXEC);
      if (fd >= 0) {
        {
          std::lock_guard guard(m_lock);
          m_accepted = true;
        }
        FakeControl control(fd);
        script(control);
      }
    }
    std::lock_guard guard(m_lock);
    m_done = true;
  });
}

FakeFtpServer::~FakeFtpServer() {
  ::shutdown(m_listenFd, SHUT_RDWR);
  if (m_thread.joinable()) m_thread.join();
  ::close(m_listenFd);
}

bool FakeFtpServer::Join(std::chrono::milliseconds timeout) {
  auto deadline = std::chrono::steady_clock::now() + timeout;
  for (;;) {
    {
      std::lock_guard guard(m_lock);
      if (m_done) break;
    }
    if (std::chrono::steady_clock::now() >= deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  m_thread.join();
  return true;
}

bool FakeFtpServer::Accepted() const {
  std::lock_guard guard(m_lock);
  return m_accepted;
}

std::string ReadAll(int fd, std::chrono::milliseconds timeout) {
  auto deadline = std::chrono::steady_clock::now() + timeout;
  std::string all;
  char buffer[16384];
  for (;;) {
    pollfd p{fd, POLLIN, 0};
    if (::poll(&p, 1, static_cast<int>(MillisLeft(deadline))) <= 0) return all;
    ssize_t n = ::read(fd, buffer, sizeof buffer);
    if (n <= 0) return all;
    all.append(buffer, static_cast<size_t>(n));
  }
}

bool WriteAll(int fd, const std::string& bytes) {
  size_t done = 0;
  while (done < bytes.size()) {
    ssize_t n = ::send(fd, bytes.data() + done, bytes.size() - done, MSG_NOSIGNAL);
    if (n <= 0) return false;
    done += static_cast<size_t>(n);
  }
  return true;
}

}  // namespace hx::test
