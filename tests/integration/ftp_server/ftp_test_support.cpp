#include "ftp_test_support.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <stdexcept>

#include "app/config_store.h"
#include "support/ftp_session/ftp_session_fixture.h"
#include "support/loopback.h"

namespace hx::test {
namespace {

bool WaitReadable(int fd, std::chrono::milliseconds timeout) {
  pollfd p{fd, POLLIN, 0};
  int rc;
  do {
    rc = ::poll(&p, 1, static_cast<int>(timeout.count()));
  } while (rc < 0 && errno == EINTR);
  return rc > 0;
}

}  // namespace

std::unique_ptr<TcpConnection> TcpConnection::Connect(std::uint16_t port, bool ipv6,
                                                      const std::string& source) {
  int fd = ::socket(ipv6 ? AF_INET6 : AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return nullptr;
  if (!source.empty()) {
    sockaddr_in from = Loopback(0);
    if (::inet_pton(AF_INET, source.c_str(), &from.sin_addr) != 1 ||
        ::bind(fd, reinterpret_cast<sockaddr*>(&from), sizeof from) != 0) {
      ::close(fd);
      return nullptr;
    }
  }
  sockaddr_in address = Loopback(port);
  sockaddr_in6 address6{};
  address6.sin6_family = AF_INET6;
  address6.sin6_port = htons(port);
  address6.sin6_addr = in6addr_loopback;
  int connected = ipv6 ? ::connect(fd, reinterpret_cast<sockaddr*>(&address6), sizeof address6)
                       : ::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address);
  if (connected != 0) {
    ::close(fd);
    return nullptr;
  }
  return std::make_unique<TcpConnection>(fd);
}

TcpConnection::~TcpConnection() {
  if (m_fd >= 0) ::close(m_fd);
}

bool TcpConnection::Send(const std::string& bytes, int flags) {
  size_t done = 0;
  while (done < bytes.size()) {
    ssize_t n = ::send(m_fd, bytes.data() + done, bytes.size() - done, flags | MSG_NOSIGNAL);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    done += static_cast<size_t>(n);
  }
  return true;
}

std::string TcpConnection::Receive(std::chrono::milliseconds timeout, size_t max) {
  if (m_closed || !WaitReadable(m_fd, timeout)) return {};
  std::string buffer(max, '\0');
  ssize_t n;
  do {
    n = ::recv(m_fd, buffer.data(), buffer.size(), 0);
  } while (n < 0 && errno == EINTR);
  if (n <= 0) {
    m_closed = true;
    return {};
  }
  buffer.resize(static_cast<size_t>(n));
  return buffer;
}

std::string TcpConnection::ReceiveAll(std::chrono::milliseconds timeout) {
  std::string all;
  auto deadline = std::chrono::steady_clock::now() + timeout;
  while (!m_closed) {
    auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
    if (left.count() <= 0) break;
    all += Receive(left);
  }
  return all;
}

bool TcpConnection::WaitClosed(std::chrono::milliseconds timeout) {
  auto deadline = std::chrono::steady_clock::now() + timeout;
  while (!m_closed) {
    auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
    if (left.count() <= 0) return false;
    Receive(left);
  }
  return true;
}

void TcpConnection::ShutdownWrite() {
  ::shutdown(m_fd, SHUT_WR);
}

void TcpConnection::Reset() {
  linger option{1, 0};
  ::setsockopt(m_fd, SOL_SOCKET, SO_LINGER, &option, sizeof option);
  ::close(m_fd);
  m_fd = -1;
  m_closed = true;
}

ControlClient::ControlClient(std::uint16_t port, bool ipv6, const std::string& source)
    : m_connection(TcpConnection::Connect(port, ipv6, source)) {
  if (!m_connection) throw std::runtime_error("cannot connect to the server");
}

std::string ControlClient::Line(std::chrono::milliseconds timeout) {
  auto deadline = std::chrono::steady_clock::now() + timeout;
  for (;;) {
    size_t end = m_pending.find("\r\n");
    if (end != std::string::npos) {
      std::string line = m_pending.substr(0, end + 2);
      m_pending.erase(0, end + 2);
      return line;
    }
    auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
    if (left.count() <= 0 || m_connection->Closed()) return {};
    m_pending += m_connection->Receive(left);
  }
}

std::vector<std::string> ControlClient::Lines(size_t count, std::chrono::milliseconds timeout) {
  std::vector<std::string> lines;
  for (size_t i = 0; i < count; ++i) lines.push_back(Line(timeout));
  return lines;
}

std::string ControlClient::Command(const std::string& line) {
  Send(line + "\r\n");
  return Line();
}

void ControlClient::Send(const std::string& raw) {
  m_connection->Send(raw);
}

bool ControlClient::Silent(std::chrono::milliseconds time) {
  return Line(time).empty() && m_pending.empty();
}

bool ControlClient::WaitClosed(std::chrono::milliseconds timeout) {
  return m_connection->WaitClosed(timeout);
}

DataListener::DataListener() {
  m_fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in address = Loopback(0);
  if (m_fd < 0 || ::bind(m_fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
      ::listen(m_fd, 4) != 0)
    throw std::runtime_error("cannot listen for data connections");
  socklen_t length = sizeof address;
  ::getsockname(m_fd, reinterpret_cast<sockaddr*>(&address), &length);
  m_port = ntohs(address.sin_port);
}

DataListener::~DataListener() {
  if (m_fd >= 0) ::close(m_fd);
}

std::string DataListener::PortArgument() const {
  return PortArgumentFor(m_port);
}

std::unique_ptr<TcpConnection> DataListener::Accept(std::chrono::milliseconds timeout) {
  if (!WaitReadable(m_fd, timeout)) return nullptr;
  int fd = ::accept4(m_fd, nullptr, nullptr, SOCK_CLOEXEC);
  return fd < 0 ? nullptr : std::make_unique<TcpConnection>(fd);
}

std::uint16_t UnusedPort() {
  int fd = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in address = Loopback(0);
  ::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address);
  socklen_t length = sizeof address;
  ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length);
  ::close(fd);
  return ntohs(address.sin_port);
}

std::string PortArgumentFor(std::uint16_t port) {
  return "127,0,0,1," + std::to_string(port / 256) + "," + std::to_string(port % 256);
}

void FtpServerTest::StartServer(const std::vector<std::string>& extraIni, bool withTftp) {
  std::filesystem::create_directories(Root());
  std::vector<std::string> ini = {
      "General/Logging=0", "TFTP/TFTPServer=0", "TFTP/TPort=0",           "FTP/FPort=0",
      "FTP/FDataPort=0",   "FTP/AnonAllowed=1", "FTP/FDLDir=" + RootDir()};
  if (withTftp) {
    ini[1] = "TFTP/TFTPServer=1";
    ini.push_back("TFTP/TDLDir=" + RootDir());
  }
  // A test's own entries replace the defaults of the same key.
  for (const std::string& entry : extraIni) {
    std::string key = entry.substr(0, entry.find('='));
    std::erase_if(ini, [&](const std::string& e) { return e.substr(0, e.find('=')) == key; });
    ini.push_back(entry);
  }
  WriteIni(m_dir.Path(), ini);
  m_program = std::make_unique<HarbinexProcess>(m_dir.Path(), withTftp, /*expectFtp=*/true);
}

void FtpServerTest::TearDown() {
  if (!m_program) return;
  EXPECT_EQ(m_program->Stop(), 0);
  // Nothing the server should never print: sanitizer reports, message boxes of failures.
  EXPECT_EQ(m_program->Stderr(), m_expectedStderr);
}

std::unique_ptr<ControlClient> FtpServerTest::Connect() {
  auto client = std::make_unique<ControlClient>(Port());
  EXPECT_EQ(client->Line(), "220 Vantrel FTP Server Version 1.1\r\n");
  return client;
}

std::unique_ptr<ControlClient> FtpServerTest::Login(const std::string& user, const std::string& password) {
  auto client = Connect();
  EXPECT_EQ(client->Command("USER " + user), "331 User name ok, need password\r\n");
  EXPECT_EQ(client->Command("PASS " + password), "230 User logged in\r\n");
  return client;
}

std::vector<std::string> FtpServerTest::LogEntries() const {
  std::vector<std::string> entries;
  std::string text = m_program->Stdout();
  size_t start = 0;
  for (size_t end; (end = text.find('\n', start)) != std::string::npos; start = end + 1) {
    std::string line = text.substr(start, end - start);
    // "December 07, 2026 21:01:11 TEXT": the text follows the fourth blank.
    size_t at = 0;
    for (int i = 0; i < 4 && at != std::string::npos; ++i) at = line.find(' ', at == 0 ? 0 : at + 1);
    if (at == std::string::npos || line.rfind("FTP server listening", 0) == 0) continue;
    entries.push_back(line.substr(at + 1));
  }
  return entries;
}

bool FtpServerTest::WaitForLogRun(const std::vector<std::string>& expected,
                                  std::chrono::milliseconds timeout) const {
  return WaitUntil(
      [&] {
        std::vector<std::string> entries = LogEntries();
        return std::search(entries.begin(), entries.end(), expected.begin(), expected.end()) != entries.end();
      },
      timeout);
}

void FtpServerTest::SetSetting(const std::string& section, const std::string& key, const std::string& value) {
  ConfigStore(m_dir.Path() / "Harbinex.ini").WriteProfileString(section, key, value);
}

void FtpServerTest::AddUser(const std::string& name, const std::string& password,
                            const std::string& directory, const std::string& rights) {
  AddUserProfile(m_dir.Dir(), name, password, directory, rights);
}

std::vector<std::string> SplitLines(const std::string& text) {
  std::vector<std::string> lines;
  for (size_t start = 0, end; (end = text.find("\r\n", start)) != std::string::npos; start = end + 2)
    lines.push_back(text.substr(start, end - start + 2));
  return lines;
}

std::string ListModeText(const std::filesystem::path& path) {
  namespace fs = std::filesystem;
  fs::file_status status = fs::status(path);
  std::string text = fs::is_directory(status) ? "d" : "-";
  const fs::perms bits[] = {fs::perms::owner_read,  fs::perms::owner_write,  fs::perms::owner_exec,
                            fs::perms::group_read,  fs::perms::group_write,  fs::perms::group_exec,
                            fs::perms::others_read, fs::perms::others_write, fs::perms::others_exec};
  for (size_t i = 0; i < 9; ++i)
    text += (status.permissions() & bits[i]) != fs::perms::none ? "rwx"[i % 3] : '-';
  return text;
}

std::string RandomBytes(size_t size, unsigned seed) {
  std::string data(size, '\0');
  unsigned state = seed;
  for (char& c : data) {
    state = state * 1103515245u + 12345u;
    c = static_cast<char>(state >> 16);
  }
  return data;
}

}  // namespace hx::test
