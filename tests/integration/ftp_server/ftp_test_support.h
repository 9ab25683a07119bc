#pragma once

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "support/harbinex_process.h"
#include "support/temp_dir.h"

namespace hx::test {

using namespace std::chrono_literals;

// A TCP connection to 127.0.0.1 (or ::1) with bounded waits.
class TcpConnection {
 public:
  explicit TcpConnection(int fd) : m_fd(fd) {}
  // From `source` when given, another IPv4 loopback address such as 127.0.0.2.
  static std::unique_ptr<TcpConnection> Connect(std::uint16_t port, bool ipv6 = false,
                                                const std::string& source = {});
  ~TcpConnection();
  TcpConnection(const TcpConnection&) = delete;
  TcpConnection& operator=(const TcpConnection&) = delete;

  bool Send(const std::string& bytes, int flags = 0);
  // Up to `max` bytes; empty on timeout, on the end of the stream (Closed() then tells) or an error.
  std::string Receive(std::chrono::milliseconds timeout, size_t max = 65536);
  // Everything until the peer closes; stops at `timeout`.
  std::string ReceiveAll(std::chrono::milliseconds timeout = 10s);
  bool Closed() const { return m_closed; }
  // Waits until the peer closes (true) or the time is up; what arrives meanwhile is dropped.
  bool WaitClosed(std::chrono::milliseconds timeout = 5s);
  void ShutdownWrite();
  // Closes with a reset instead of an orderly close.
  void Reset();
  int Fd() const { return m_fd; }

 private:
  int m_fd;
  bool m_closed = false;
};

// The test side of an FTP control connection: lines out, reply lines in, byte for byte.
class ControlClient {
 public:
  explicit ControlClient(std::uint16_t port, bool ipv6 = false, const std::string& source = {});
  // The next reply line with its CR LF; empty when none comes within the timeout.
  std::string Line(std::chrono::milliseconds timeout = 5s);
  std::vector<std::string> Lines(size_t count, std::chrono::milliseconds timeout = 5s);
  // Sends the line with CR LF and returns the first reply line.
  std::string Command(const std::string& line);
  void Send(const std::string& raw);
  // True when no reply line arrives within the time.
  bool Silent(std::chrono::milliseconds time = 300ms);
  bool WaitClosed(std::chrono::milliseconds timeout = 5s);
  TcpConnection& Connection() { return *m_connection; }

 private:
  std::unique_ptr<TcpConnection> m_connection;
  std::string m_pending;
};

// The client's end of active-mode data connections: a listener on 127.0.0.1 whose PORT argument is given.
class DataListener {
 public:
  DataListener();
  ~DataListener();
  std::string PortArgument() const;
  std::uint16_t Port() const { return m_port; }
  // The next connection from the server; nullptr when none comes in time.
  std::unique_ptr<TcpConnection> Accept(std::chrono::milliseconds timeout = 5s);

 private:
  int m_fd = -1;
  std::uint16_t m_port = 0;
};

// Bytes that look random and are the same for the same seed.
std::string RandomBytes(size_t size, unsigned seed);

// The lines of a listing, each with its CR LF.
std::vector<std::string> SplitLines(const std::string& text);

// The first ten characters of a LIST line for the file: its type and permission bits, "drwxr-xr-x".
std::string ListModeText(const std::filesystem::path& path);

// A free TCP port on 127.0.0.1 that nobody listens on (taken and given back).
std::uint16_t UnusedPort();
std::string PortArgumentFor(std::uint16_t port);

// Starts a headless harbinex in a temporary directory whose FTP root is "root", with anonymous logins
// allowed, FDataPort 0 and Quorin as a first start leaves it (0) unless the test says otherwise. `withTftp`
// also starts the TFTP service, serving the same root.
class FtpServerTest : public ::testing::Test {
 protected:
  void StartServer(const std::vector<std::string>& extraIni = {}, bool withTftp = false);
  void TearDown() override;

  std::filesystem::path Root() const { return m_dir.Path() / "root"; }
  std::string RootDir() const { return Root().string() + "/"; }
  std::uint16_t Port() const { return m_program->FtpPort(); }
  std::uint16_t TftpPort() const { return m_program->TftpPort(); }
  // A connection that has read the banner.
  std::unique_ptr<ControlClient> Connect();
  // A connection logged in (anonymous unless told), with its 230 read.
  std::unique_ptr<ControlClient> Login(const std::string& user = "anonymous",
                                       const std::string& password = "me@");
  // The transfer-log entries printed so far, without their time stamps.
  std::vector<std::string> LogEntries() const;
  // Waits until the entries hold `expected` as a contiguous run, in order.
  bool WaitForLogRun(const std::vector<std::string>& expected, std::chrono::milliseconds timeout = 5s) const;
  bool WaitForLog(const std::string& entry, std::chrono::milliseconds timeout = 5s) const {
    return WaitForLogRun({entry}, timeout);
  }
  // Changes a setting while the server runs (it reads settings where it uses them).
  void SetSetting(const std::string& section, const std::string& key, const std::string& value);
  // Adds a profile to the password file: rights as eight '0'/'1' characters.
  void AddUser(const std::string& name, const std::string& password, const std::string& directory,
               const std::string& rights);

  TempDir m_dir;
  std::unique_ptr<HarbinexProcess> m_program;
  // What the server may print on stderr (its message boxes); anything else fails the test.
  std::string m_expectedStderr;
};

}  // namespace hx::test
