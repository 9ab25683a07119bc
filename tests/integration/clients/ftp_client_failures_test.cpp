// harbinex ftp get|put against a scripted server: the Status texts and message boxes of every failure, the
// order of the commands, and the guards of the data connection.
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <filesystem>
#include <optional>
#include <string>

#include "integration/clients/ftp_client_peers.h"
#include "integration/clients/ftp_client_tool.h"
#include "support/harbinex_process.h"
#include "support/temp_dir.h"

namespace hx::test {
namespace {

class FtpClientFailures : public ::testing::Test {
 protected:
  ToolRun Ftp(const std::string& direction, std::uint16_t port, const std::filesystem::path& localFile,
              const std::string& remote = "file.bin") {
    return RunHarbinex({"ftp", direction, "127.0.0.1:" + std::to_string(port), "anonymous", "pw", remote,
                        localFile.string(), "--dir", app.Path().string()},
                       {}, std::chrono::seconds(100));
  }
  TempDir app;
  TempDir local;
};

// Greeting, USER, PASS, TYPE I and PORT answered positively; returns the PORT line (empty when the client
// did not get that far).
std::string LogIn(FakeControl& c) {
  c.Send("220 Fake server ready\r\n");
  if (!c.ReadLine()) return {};
  c.Send("331 Password required\r\n");
  if (!c.ReadLine()) return {};
  c.Send("230 Logged in\r\n");
  if (!c.ReadLine()) return {};
  c.Send("200 Type set to I\r\n");
  auto port = c.ReadLine();
  if (!port) return {};
  c.Send("200 PORT command successful\r\n");
  return *port;
}

void AbortiveClose(int fd) {
  linger hard{1, 0};
  ::setsockopt(fd, SOL_SOCKET, SO_LINGER, &hard, sizeof hard);
  ::close(fd);
}

TEST_F(FtpClientFailures, GetSendsEachCommandInTurnAndKeepsAnEarlyFinalReply) {
  std::string portLine;
  FakeFtpServer server([&](FakeControl& c) {
    portLine = LogIn(c);
    if (!c.ReadLine()) return;  // RETR
    // The final reply comes in the same segment as the 1xx, before the data connection: it must wait in the
    // client's reader, not be lost.
    c.Send("150 Opening BINARY mode data connection\r\n226 Transfer complete\r\n");
    int data = FakeControl::ConnectToPort(portLine);
    WriteAll(data, std::string(25000, 'g'));
    ::close(data);
    if (c.ReadLine()) c.Send("221 Goodbye\r\n");  // QUIT
  });
  ToolRun run = Ftp("get", server.Port(), local.Path() / "got.bin");
  ASSERT_TRUE(server.Join());
  // (lines were read on the server's thread, which has ended.)
  EXPECT_EQ(run.status, 0) << run.out << run.err;
  EXPECT_EQ(run.out, "221 Goodbye\n");
  EXPECT_EQ(ReadFile(local.Path() / "got.bin"), std::string(25000, 'g'));
  ASSERT_EQ(FakeControl::PortOf(portLine) > 1023, true) << portLine;
  EXPECT_EQ(portLine.rfind("PORT 127,0,0,1,", 0), 0u) << portLine;
}

TEST_F(FtpClientFailures, CommandOrder) {
  std::vector<std::string> lines;
  FakeFtpServer server([&](FakeControl& c) {
    std::string portLine = LogIn(c);
    if (!c.ReadLine()) return;
    int data = FakeControl::ConnectToPort(portLine);
    c.Send("150 Here it comes\r\n");
    WriteAll(data, "abc");
    ::close(data);
    c.Send("226 Done\r\n");
    if (c.ReadLine()) c.Send("221 Bye\r\n");
    c.ClientCloses();
    lines = c.lines;
  });
  ToolRun run = Ftp("get", server.Port(), local.Path() / "order.bin", "dir/name with blanks.bin");
  ASSERT_TRUE(server.Join());
  ASSERT_EQ(run.status, 0) << run.err;
  ASSERT_EQ(lines.size(), 6u);
  EXPECT_EQ(lines[0], "USER anonymous");
  EXPECT_EQ(lines[1], "PASS pw");
  EXPECT_EQ(lines[2], "TYPE I");
  EXPECT_EQ(lines[3].rfind("PORT 127,0,0,1,", 0), 0u);
  EXPECT_EQ(lines[4], "RETR dir/name with blanks.bin");
  EXPECT_EQ(lines[5], "QUIT");
}

TEST_F(FtpClientFailures, MultiLineGreetingIsAccepted) {
  std::vector<std::string> lines;
  bool closedWithoutQuit = false;
  FakeFtpServer server([&](FakeControl& c) {
    c.Send("220-Welcome\r\n220-to the second line\r\n220 Ready\r\n");
    if (!c.ReadLine()) return;
    c.Send("530 Not logged in\r\n");
    closedWithoutQuit = c.ClientCloses();
    lines = c.lines;
  });
  ToolRun run = Ftp("get", server.Port(), local.Path() / "x.bin");
  ASSERT_TRUE(server.Join());
  EXPECT_EQ(run.status, 1);
  EXPECT_EQ(lines, (std::vector<std::string>{"USER anonymous"}));
  EXPECT_EQ(run.err, "harbinex: 530 Not logged in\n");
  EXPECT_EQ(run.out, "530 Not logged in\n");
  EXPECT_TRUE(closedWithoutQuit);
}

TEST_F(FtpClientFailures, MalformedContinuationLineFailsAtThatLine) {
  bool closedWithoutCommand = false;
  FakeFtpServer server([&](FakeControl& c) {
    c.Send("220-Welcome\r\nnot a reply line\r\n220 Ready\r\n");
    closedWithoutCommand = c.ClientCloses();
  });
  ToolRun run = Ftp("get", server.Port(), local.Path() / "x.bin");
  ASSERT_TRUE(server.Join());
  EXPECT_EQ(run.status, 1);
  EXPECT_EQ(run.err, "harbinex: not a reply line\n");
  EXPECT_EQ(run.out, "not a reply line\n");
  EXPECT_TRUE(closedWithoutCommand);
}

TEST_F(FtpClientFailures, UserAcceptedWithoutPasswordIsLoggedIn) {
  std::vector<std::string> lines;
  FakeFtpServer server([&](FakeControl& c) {
    c.Send("220 Hi\r\n");
    if (!c.ReadLine()) return;
    c.Send("230 Login successful.\r\n");
    if (!c.ReadLine()) return;  // TYPE I
    c.Send("200 Switching to Binary mode.\r\n");
    auto portLine = c.ReadLine();
    if (!portLine) return;
    c.Send("200 PORT command successful.\r\n");
    if (!c.ReadLine()) return;  // RETR
    int data = FakeControl::ConnectToPort(*portLine);
    c.Send("150 Opening BINARY mode data connection\r\n");
    WriteAll(data, "no password needed");
    ::close(data);
    c.Send("226 Transfer complete.\r\n");
    if (c.ReadLine()) c.Send("221 Goodbye.\r\n");
    c.ClientCloses();
    lines = c.lines;
  });
  ToolRun run = Ftp("get", server.Port(), local.Path() / "x.bin");
  ASSERT_TRUE(server.Join());
  EXPECT_EQ(run.status, 0) << run.out << run.err;
  EXPECT_EQ(ReadFile(local.Path() / "x.bin"), "no password needed");
  ASSERT_EQ(lines.size(), 5u);
  EXPECT_EQ(lines[0], "USER anonymous");
  EXPECT_EQ(lines[1], "TYPE I") << "no PASS after a 230 to USER";
  EXPECT_EQ(lines[2].rfind("PORT 127,0,0,1,", 0), 0u);
  EXPECT_EQ(lines[3], "RETR file.bin");
  EXPECT_EQ(lines[4], "QUIT");
}

// A listening socket on 127.0.0.1 for the passive data connection of a scripted server.
class PassiveListener {
 public:
  PassiveListener() {
    m_fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ::bind(m_fd, reinterpret_cast<sockaddr*>(&a), sizeof a);
    ::listen(m_fd, 1);
    socklen_t len = sizeof a;
    ::getsockname(m_fd, reinterpret_cast<sockaddr*>(&a), &len);
    port = ntohs(a.sin_port);
  }
  ~PassiveListener() { ::close(m_fd); }
  // The next connection, or -1 when none arrives within the timeout.
  int Accept(int timeoutMs = 10000) {
    pollfd p{m_fd, POLLIN, 0};
    if (::poll(&p, 1, timeoutMs) != 1) return -1;
    return ::accept4(m_fd, nullptr, nullptr, SOCK_CLOEXEC);
  }
  std::uint16_t port = 0;

 private:
  int m_fd = -1;
};

TEST_F(FtpClientFailures, PassiveFallsBackToPasvWhenEpsvIsRefused) {
  std::vector<std::string> lines;
  std::string stored;
  FakeFtpServer server([&](FakeControl& c) {
    c.Send("220 Hi\r\n");
    if (!c.ReadLine()) return;
    c.Send("331 Password required\r\n");
    if (!c.ReadLine()) return;
    c.Send("230 Logged in\r\n");
    if (!c.ReadLine()) return;  // TYPE I
    c.Send("200 Type set to I\r\n");
    if (!c.ReadLine()) return;  // EPSV
    c.Send("500 'EPSV': command not understood.\r\n");
    if (!c.ReadLine()) return;  // PASV
    PassiveListener listener;
    // The address announced is not the one the client must use: the data goes to the control peer.
    c.Send("227 Entering Passive Mode (192,0,2,7," + std::to_string(listener.port >> 8) + "," +
           std::to_string(listener.port & 0xFF) + ").\r\n");
    int data = listener.Accept();
    if (data < 0 || !c.ReadLine()) return;  // STOR
    c.Send("150 Ok to send data.\r\n");
    stored = ReadAll(data);
    ::close(data);
    c.Send("226 Transfer complete.\r\n");
    if (c.ReadLine()) c.Send("221 Goodbye.\r\n");
    c.ClientCloses();
    lines = c.lines;
  });
  const std::string content(30000, 'p');
  WriteFile(local.Path() / "up.bin", content);
  ToolRun run =
      RunHarbinex({"ftp", "put", "127.0.0.1:" + std::to_string(server.Port()), "anonymous", "pw", "up.bin",
                   (local.Path() / "up.bin").string(), "--passive", "--dir", app.Path().string()});
  ASSERT_TRUE(server.Join());
  EXPECT_EQ(run.status, 0) << run.out << run.err;
  EXPECT_EQ(run.out, "221 Goodbye.\n");
  EXPECT_EQ(stored, content);
  EXPECT_EQ(lines, (std::vector<std::string>{"USER anonymous", "PASS pw", "TYPE I", "EPSV", "PASV",
                                             "STOR up.bin", "QUIT"}));
}

TEST_F(FtpClientFailures, WrongCodeToPort) {
  FakeFtpServer server([&](FakeControl& c) {
    c.Send("220 Hi\r\n");
    c.ReadLine();
    c.Send("331 Pw\r\n");
    c.ReadLine();
    c.Send("230 Ok\r\n");
    c.ReadLine();
    c.Send("200 Ok\r\n");
    c.ReadLine();  // PORT
    c.Send("501 Illegal PORT command\r\n");
    c.ClientCloses();
  });
  ToolRun run = Ftp("put", server.Port(), "/dev/null");
  ASSERT_TRUE(server.Join());
  EXPECT_EQ(run.status, 1);
  EXPECT_EQ(run.err, "harbinex: 501 Illegal PORT command\n");
}

TEST_F(FtpClientFailures, ServerClosesControlDuringLogin) {
  FakeFtpServer server([&](FakeControl& c) {
    c.Send("220 Hi\r\n");
    c.ReadLine();
    c.Close();
  });
  ToolRun run = Ftp("get", server.Port(), local.Path() / "x.bin");
  ASSERT_TRUE(server.Join());
  EXPECT_EQ(run.status, 1);
  EXPECT_EQ(run.out, "Error reading from socket: Connection closed by the server\n");
  EXPECT_EQ(run.err, "");
}

TEST_F(FtpClientFailures, ServerCutsTheDataConnectionOfAGet) {
  FakeFtpServer server([&](FakeControl& c) {
    std::string portLine = LogIn(c);
    if (!c.ReadLine()) return;
    int data = FakeControl::ConnectToPort(portLine);
    c.Send("150 Opening\r\n");
    WriteAll(data, std::string(20000, 'p'));
    AbortiveClose(data);
    c.Send("426 Connection closed; transfer aborted\r\n");
    c.ClientCloses();
  });
  ToolRun run = Ftp("get", server.Port(), local.Path() / "cut.bin");
  ASSERT_TRUE(server.Join());
  EXPECT_EQ(run.status, 1);
  EXPECT_EQ(run.err, "harbinex: 426 Connection closed; transfer aborted\n");
  // A download cut short leaves no file at all, not even a part of one.
  EXPECT_TRUE(std::filesystem::is_empty(local.Path()));
}

TEST_F(FtpClientFailures, ServerClosesControlDuringAPut) {
  const std::string content(5 * 1024 * 1024, 'u');
  WriteFile(local.Path() / "big.bin", content);
  bool dataReleased = false;
  FakeFtpServer server([&](FakeControl& c) {
    std::string portLine = LogIn(c);
    if (!c.ReadLine()) return;  // STOR
    int data = FakeControl::ConnectToPort(portLine);
    c.Send("150 Ok to send data\r\n");
    // Take a little, then hang up the control connection and stop reading.
    char some[4096];
    (void)::read(data, some, sizeof some);
    c.Close();
    // The client must close the data connection by itself: reading on reaches its end.
    ReadAll(data, std::chrono::seconds(20));
    dataReleased = true;
    ::close(data);
  });
  auto started = std::chrono::steady_clock::now();
  ToolRun run = Ftp("put", server.Port(), local.Path() / "big.bin");
  ASSERT_TRUE(server.Join());
  EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(20));
  EXPECT_EQ(run.status, 1);
  EXPECT_EQ(run.out, "Error reading from socket: Connection closed by the server\n");
  EXPECT_TRUE(dataReleased);
  EXPECT_EQ(ReadFile(local.Path() / "big.bin"), content);
}

TEST_F(FtpClientFailures, ServerCutsTheDataConnectionOfAPut) {
  WriteFile(local.Path() / "up.bin", std::string(24 * 1024 * 1024, 'q'));
  FakeFtpServer server([&](FakeControl& c) {
    std::string portLine = LogIn(c);
    if (!c.ReadLine()) return;
    int data = FakeControl::ConnectToPort(portLine);
    c.Send("150 Ok to send data\r\n");
    char some[4096];
    (void)::read(data, some, sizeof some);
    AbortiveClose(data);
    c.Send("426 Failure writing network stream\r\n");
    c.ClientCloses();
  });
  ToolRun run = Ftp("put", server.Port(), local.Path() / "up.bin");
  ASSERT_TRUE(server.Join());
  EXPECT_EQ(run.status, 1);
  EXPECT_EQ(run.err, "harbinex: 426 Failure writing network stream\n");
  // The upload ended with what the server took, and says so in the log.
  const std::string log = ReadFile(app.Path() / "Harbinex.log");
  const std::string entry = " File " + (local.Path() / "up.bin").string() + " Bytes transferred: ";
  auto at = log.find(entry);
  ASSERT_NE(at, std::string::npos) << log;
  EXPECT_LT(std::stoull(log.substr(at + entry.size())), 24ull * 1024 * 1024);
}

TEST_F(FtpClientFailures, RefusalBeforeTheDataConnectionEndsTheSession) {
  FakeFtpServer server([&](FakeControl& c) {
    LogIn(c);
    if (!c.ReadLine()) return;
    c.Send("150 Opening\r\n425 Can't open data connection\r\n");
    c.ClientCloses();
  });
  auto started = std::chrono::steady_clock::now();
  ToolRun run = Ftp("get", server.Port(), local.Path() / "x.bin");
  ASSERT_TRUE(server.Join());
  EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(20));
  EXPECT_EQ(run.status, 1);
  EXPECT_EQ(run.err, "harbinex: 425 Can't open data connection\n");
}

TEST_F(FtpClientFailures, DataConnectionFromAnotherAddressIsRefused) {
  bool intruderShutOut = false;
  FakeFtpServer server([&](FakeControl& c) {
    std::string portLine = LogIn(c);
    if (!c.ReadLine()) return;
    c.Send("150 Opening\r\n");
    int intruder = FakeControl::ConnectToPort(portLine, "127.0.0.2");
    if (intruder >= 0) {
      WriteAll(intruder, "INJECTED");
      // The client closes it without taking anything.
      intruderShutOut = ReadAll(intruder, std::chrono::seconds(10)).empty();
      ::close(intruder);
    }
    int data = FakeControl::ConnectToPort(portLine);
    WriteAll(data, "genuine");
    ::close(data);
    c.Send("226 Done\r\n");
    if (c.ReadLine()) c.Send("221 Bye\r\n");
  });
  ToolRun run = Ftp("get", server.Port(), local.Path() / "guarded.bin");
  ASSERT_TRUE(server.Join());
  EXPECT_EQ(run.status, 0) << run.out << run.err;
  EXPECT_TRUE(intruderShutOut);
  EXPECT_EQ(ReadFile(local.Path() / "guarded.bin"), "genuine");
}

TEST_F(FtpClientFailures, NothingListening) {
  std::uint16_t port = FreeTcpPort();
  ToolRun run = Ftp("get", port, local.Path() / "x.bin");
  EXPECT_EQ(run.status, 1);
  EXPECT_EQ(run.out, "Unable to connect to host : [10061] Connection refused\n");
  const std::string log = ReadFile(app.Path() / "Harbinex.log");
  EXPECT_NE(log.find("FTP: ERROR. Unable to connect to host : [10061] Connection refused"), std::string::npos)
      << log;
}

TEST_F(FtpClientFailures, TlsOptionsThatDoNotFitAreUsageErrors) {
  FakeFtpServer server([&](FakeControl& c) { c.Send("220 Hi\r\n"); });
  const std::string pin = "SHA256:" + std::string(64, 'b');
  struct Case {
    std::vector<std::string> options;
    std::string error;  // stderr
  };
  const Case cases[] = {
      {{"--tls", "--fingerprint", "SHA256:12:34"},
       "harbinex: --fingerprint: not a SHA-256 fingerprint (SHA256: and 64 hex digits): SHA256:12:34\n"},
      {{"--tls", "--fingerprint", "MD5:" + std::string(64, 'b')},
       "harbinex: --fingerprint: not a SHA-256 fingerprint (SHA256: and 64 hex digits): MD5:" +
           std::string(64, 'b') + "\n"},
      {{"--tls", "--tls-implicit"}, "harbinex: --tls and --tls-implicit: give one of them\n"},
      {{"--tls", "--fingerprint", pin, "--insecure"},
       "harbinex: --fingerprint and --insecure: give one of them\n"},
      {{"--fingerprint", pin}, "harbinex: --fingerprint: only with --tls or --tls-implicit\n"},
      {{"--insecure"}, "harbinex: --insecure: only with --tls or --tls-implicit\n"},
  };
  for (const Case& c : cases) {
    std::vector<std::string> args{"ftp",
                                  "get",
                                  "127.0.0.1:" + std::to_string(server.Port()),
                                  "anonymous",
                                  "pw",
                                  "file.bin",
                                  (local.Path() / "x.bin").string(),
                                  "--dir",
                                  app.Path().string()};
    args.insert(args.end(), c.options.begin(), c.options.end());
    ToolRun run = RunHarbinex(args);
    EXPECT_EQ(run.status, 2) << c.error;
    EXPECT_EQ(run.err, c.error);
    EXPECT_EQ(run.out, "");
  }
  EXPECT_FALSE(server.Accepted());
}

TEST_F(FtpClientFailures, LocalFileProblemsNeedNoNetwork) {
  FakeFtpServer server([&](FakeControl& c) { c.Send("220 Hi\r\n"); });
  struct Case {
    const char* direction;
    std::filesystem::path file;
  };
  WriteFile(local.Path() / "dir" / "inside", "x");
  const Case cases[] = {
      {"put", local.Path() / "missing.bin"},
      {"get", local.Path() / "dir"},
      {"put", local.Path() / "dir"},
      {"get", local.Path() / "no-such-dir" / "x.bin"},
  };
  for (const auto& c : cases) {
    ToolRun run = Ftp(c.direction, server.Port(), c.file);
    EXPECT_EQ(run.status, 1) << c.file;
    EXPECT_EQ(run.out, "Unable to open local file\n") << c.file;
  }
  EXPECT_FALSE(server.Accepted());
}

// Makes a file that this process may not overwrite: read-only for an ordinary user, immutable for root.
// Returns how to undo it, or nullopt when the system offers neither.
std::optional<std::string> ProtectFile(const std::filesystem::path& file) {
  if (::geteuid() != 0) {
    std::filesystem::permissions(file, std::filesystem::perms::owner_read);
    return "";
  }
  std::string output;
  if (RunCommand({"chattr", "+i", file.string()}, output) != 0) return std::nullopt;
  return "chattr";
}

TEST_F(FtpClientFailures, LocalFileWithoutOverwritePermissionIsLeftAlone) {
  FakeFtpServer server([&](FakeControl& c) { c.Send("220 Hi\r\n"); });
  const auto file = local.Path() / "keep.bin";
  WriteFile(file, "precious");
  auto undo = ProtectFile(file);
  if (!undo) GTEST_SKIP() << "no way to protect a file from root here";
  ToolRun run = Ftp("get", server.Port(), file);
  std::string output;
  if (*undo == "chattr") RunCommand({"chattr", "-i", file.string()}, output);
  EXPECT_EQ(run.status, 1);
  EXPECT_EQ(run.out, "Unable to open local file\n");
  EXPECT_EQ(ReadFile(file), "precious");
  EXPECT_FALSE(server.Accepted());
}

}  // namespace
}  // namespace hx::test
