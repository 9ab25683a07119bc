#pragma once

#include <sys/types.h>

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace hx::test {

// A TCP port on 127.0.0.1 that was free a moment ago.
std::uint16_t FreeTcpPort();
// Polls until something accepts connections on 127.0.0.1:port.
bool WaitForTcpPort(std::uint16_t port, std::chrono::milliseconds timeout = std::chrono::seconds(15));

// A peer program started by a test (pyftpdlib, vsftpd...), its output collected in a file; ended with
// SIGTERM, then SIGKILL, by its process id when the object goes.
class PeerProcess {
 public:
  explicit PeerProcess(const std::vector<std::string>& argv);
  ~PeerProcess();
  PeerProcess(const PeerProcess&) = delete;
  PeerProcess& operator=(const PeerProcess&) = delete;

  bool Started() const { return m_pid > 0; }
  // Whether the peer still runs; one that ended is reaped here.
  bool Running();
  std::string Output() const;

 private:
  pid_t m_pid = -1;
  std::string m_outputPath;
};

// Starts a TCP server whose command line `argv(port)` names its port, on a free port of 127.0.0.1: a server
// that exits because another test took the port between the probe and its bind is started again on a new one.
// Sets `port`; null when it never listened within 15 seconds.
std::unique_ptr<PeerProcess> StartTcpPeer(const std::function<std::vector<std::string>(std::uint16_t)>& argv,
                                          std::uint16_t& port);

// One accepted control connection of the fake server, with blocking helpers that all time out.
class FakeControl {
 public:
  explicit FakeControl(int fd) : m_fd(fd) {}
  ~FakeControl();

  void Send(const std::string& bytes);
  // The next command line without its CR LF; nullopt when the client closed the connection or nothing came
  // within the timeout.
  std::optional<std::string> ReadLine(std::chrono::milliseconds timeout = std::chrono::seconds(10));
  // True when the client closes the connection within the timeout without sending anything more.
  bool ClientCloses(std::chrono::milliseconds timeout = std::chrono::seconds(10));
  void Close();

  // Connects to the address of a PORT line ("PORT h1,h2,h3,h4,p1,p2") from `sourceAddress`; -1 on failure.
  static int ConnectToPort(const std::string& portLine, const std::string& sourceAddress = "127.0.0.1");
  // The port of a PORT line.
  static int PortOf(const std::string& portLine);

  // Every line read so far, in order.
  std::vector<std::string> lines;

 private:
  int m_fd;
  std::string m_pending;
};

// A scripted FTP server on 127.0.0.1 for the failure cases no real server produces: the script runs on a
// thread of its own with the first accepted connection.
class FakeFtpServer {
 public:
  using Script = std::function<void(FakeControl&)>;
  explicit FakeFtpServer(Script script);
  ~FakeFtpServer();

  std::uint16_t Port() const { return m_port; }
  // Waits for the script to end; false when it is still running after the timeout.
  bool Join(std::chrono::milliseconds timeout = std::chrono::seconds(30));
  // Whether any client connected at all.
  bool Accepted() const;

 private:
  int m_listenFd = -1;
  std::uint16_t m_port = 0;
  std::thread m_thread;
  mutable std::mutex m_lock;
  bool m_accepted = false;
  bool m_done = false;
};

// Reads everything a data connection sends until the client closes it (bounded by the timeout).
std::string ReadAll(int fd, std::chrono::milliseconds timeout = std::chrono::seconds(10));
// Writes all bytes; false on an error.
bool WriteAll(int fd, const std::string& bytes);

}  // namespace hx::test
