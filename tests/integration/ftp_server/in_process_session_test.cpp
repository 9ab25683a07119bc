// Sessions inside the test's process, on the manual clock: the limits a session keeps (the idle limit, the
// data connection's stall limit, the pause after a refused login) are tested without waiting for them.
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <fstream>

#include "ftp_test_support.h"
#include "support/ftp_session/ftp_session_fixture.h"
#include "support/loopback.h"

namespace hx::test {
namespace {

using std::chrono::seconds;

class FtpInProcessTest : public FtpSessionTest {
 protected:
  std::filesystem::path Home(const std::string& name) const { return m_dir.Path() / "homes" / name; }
  std::string HomeDir(const std::string& name) const { return Home(name).string() + "/"; }
  // A file larger than the socket buffers of both ends hold, so that a download that is not read stalls,
  // and anonymous sessions may delete it afterwards.
  void MakeBigFile() {
    SetSetting("FTP", "UserSecurity", 0);
    { std::ofstream big(Root() / "big.bin", std::ios::binary); }
    std::filesystem::resize_file(Root() / "big.bin", 64ULL << 20);  // sparse
  }
  // Starts a download of big.bin in active mode and takes its first bytes: the session has the connection.
  // nullptr when the connection did not come.
  std::unique_ptr<TcpConnection> StartDownload(SessionClient& client, DataListener& data) {
    EXPECT_EQ(client.Command("PORT " + data.PortArgument()), "200 PORT command successful.\r\n");
    EXPECT_EQ(client.Command("RETR big.bin"), "150 File status OK ; about to open data connection\r\n");
    auto connection = data.Accept();
    if (connection && connection->Receive(seconds(5), 1000).empty()) return nullptr;
    return connection;
  }
  // Moves the clock a second at a time, up to `limit` times, until a reply line comes; counts the moves.
  std::string AdvanceUntilLine(SessionClient& client, int limit, int& advanced) {
    std::string line;
    while ((line = client.Line(std::chrono::milliseconds(200))).empty() && advanced < limit) {
      Advance(seconds(1));
      ++advanced;
    }
    return line;
  }
};

TEST_F(FtpInProcessTest, IdleLimitCountsFromTheLastCommand) {
  SetSetting("FTP", "FIdleTimeout", 60);
  auto client = Login();
  Advance(seconds(59));
  EXPECT_EQ(client->Command("NOOP"), "200 Command OK\r\n");
  Advance(seconds(59));
  EXPECT_TRUE(client->Silent());
  Advance(seconds(1));
  EXPECT_EQ(client->Line(), "421 Timeout.\r\n");
  EXPECT_TRUE(client->WaitClosed());
  EXPECT_TRUE(m_frontend.WaitForLogEntry("FTP: Connection closed after 60 seconds without a command"));
}

TEST_F(FtpInProcessTest, FifthFailedLoginOfAConnectionClosesIt) {
  std::filesystem::create_directories(Home("bob"));
  AddUser("bob", "secret1", HomeDir("bob"), "11111111");
  auto client = Connect();
  for (int i = 1; i <= 4; ++i) {
    EXPECT_EQ(client->Command("USER bob"), "331 User name ok, need password\r\n");
    EXPECT_EQ(CommandAfterPause(*client, "PASS guess" + std::to_string(i)), "530 Login access denied\r\n")
        << i;
  }
  // Four refusals leave the connection open, and a login in between does not reset the count.
  EXPECT_EQ(client->Command("USER bob"), "331 User name ok, need password\r\n");
  EXPECT_EQ(client->Command("PASS secret1"), "230 User logged in\r\n");
  EXPECT_EQ(client->Command("USER bob"), "331 User name ok, need password\r\n");
  EXPECT_EQ(CommandAfterPause(*client, "PASS guess5"), "421 Too many failed logins.\r\n");
  EXPECT_TRUE(client->WaitClosed());
  EXPECT_TRUE(m_frontend.WaitForLogEntry("FTP: Connection closed after 5 failed logins"));
  EXPECT_TRUE(m_frontend.Logged("FTP: User bob attempted access. User profile denied access"));
}

TEST_F(FtpInProcessTest, MalformedStoredPasswordsRefuseTheLogin) {
  std::filesystem::create_directories(Home("bob"));
  std::ofstream(m_dir.Path() / "Harbinex.pwd", std::ios::app)
      << "empty||||" << HomeDir("bob") << "||1||1||1||1||1||1||1||1\r\n"
      << "short||J12||" << HomeDir("bob") << "||1||1||1||1||1||1||1||1\r\n"
      << "low||0abcdefghijklmnopqrs||" << HomeDir("bob") << "||1||1||1||1||1||1||1||1\r\n";
  auto client = Connect();
  for (const char* user : {"empty", "short", "low"}) {
    EXPECT_EQ(client->Command(std::string("USER ") + user), "331 User name ok, need password\r\n");
    EXPECT_EQ(CommandAfterPause(*client, "PASS "), "530 Login access denied\r\n") << user;
  }
}

TEST_F(FtpInProcessTest, StalledDataConnectionsAreAbortedAndIdleSessionsClosed) {
  // FDataTimeout ends a download that the client stops taking; the idle limit waits while it runs.
  MakeBigFile();
  SetSetting("FTP", "FDataTimeout", 3);
  SetSetting("FTP", "FIdleTimeout", 1);
  auto client = Login();
  DataListener data;
  auto connection = StartDownload(*client, data);
  ASSERT_TRUE(connection);
  // The limit counts from the last byte, which goes out while the socket buffers fill: the clock moves a
  // second at a time until the download is given up.
  int advanced = 0;
  EXPECT_EQ(AdvanceUntilLine(*client, 10, advanced), "426 Transfer terminated abnormally\r\n");
  EXPECT_GE(advanced, 3);
  EXPECT_TRUE(m_frontend.WaitForLogEntry("FTP: No data moved for 3 seconds"));
  EXPECT_TRUE(m_frontend.WaitForLogEntry("FTP: File transfer aborted"));
  // With the transfer gone, the session is idle and goes after a second.
  advanced = 0;
  EXPECT_EQ(AdvanceUntilLine(*client, 2, advanced), "421 Timeout.\r\n");
  EXPECT_LE(advanced, 1);
  EXPECT_TRUE(client->WaitClosed());

  // An upload whose client connects and sends nothing; its file is released.
  SetSetting("FTP", "FDataTimeout", 1);
  SetSetting("FTP", "FIdleTimeout", 0);
  client = Login();
  EXPECT_EQ(client->Command("PORT " + data.PortArgument()), "200 PORT command successful.\r\n");
  EXPECT_EQ(client->Command("STOR up.bin"), "150 Opening BINARY mode data connection for up.bin.\r\n");
  auto upload = data.Accept();
  ASSERT_TRUE(upload);
  // The session has the connection once it has made the file.
  EXPECT_TRUE(WaitUntil([&] { return std::filesystem::exists(Root() / "up.bin"); }));
  Advance(seconds(1));
  EXPECT_EQ(client->Line(), "426 Transfer terminated abnormally\r\n");
  EXPECT_EQ(client->Command("DELE up.bin"), "250 Requested file action OK, completed\r\n");
}

// With Quorin the early 226 is the download's one final reply: a stall or a client that drops the data
// connection afterwards is only logged, so that the next command gets its own answer.
TEST_F(FtpInProcessTest, QuorinSendsNoSecondFinalReply) {
  MakeBigFile();
  SetSetting("General", "Quorin", 1);
  SetSetting("FTP", "FDataTimeout", 3);
  auto client = Login();
  DataListener data;
  for (bool stall : {true, false}) {
    SCOPED_TRACE(stall ? "stall" : "reset");
    EXPECT_EQ(client->Command("PORT " + data.PortArgument()), "200 PORT command successful.\r\n");
    EXPECT_EQ(client->Command("RETR big.bin"), "150 File status OK ; about to open data connection\r\n");
    auto connection = data.Accept();
    ASSERT_TRUE(connection);
    EXPECT_EQ(client->Line(), "226 File transfer successful.\r\n");
    EXPECT_FALSE(connection->Receive(seconds(5), 1000).empty());
    if (stall) {
      const std::string note = "FTP: No data moved for 3 seconds";
      for (int i = 0; i < 10 && !m_frontend.WaitForLogEntry(note, std::chrono::milliseconds(200)); ++i)
        Advance(seconds(1));
    } else {
      connection->Reset();
      Advance(std::chrono::milliseconds(50), 2);  // the pause for an ABOR that may follow the reset
    }
    const long aborted = stall ? 1 : 2;
    EXPECT_TRUE(
        WaitUntil([&] { return std::ranges::count(LogEntries(), "FTP: File transfer aborted") == aborted; }));
    EXPECT_EQ(client->Command("NOOP"), "200 Command OK\r\n");
  }
}

TEST_F(FtpInProcessTest, AborMidDownloadEndsItAtOnceWhicheverComesFirst) {
  MakeBigFile();
  auto client = Login();
  DataListener data;
  // The client's ABOR alone, then its ABOR after it reset the connection: the session waits for the ABOR on
  // the clock (which does not move here) instead of reporting the reset.
  for (bool resetFirst : {false, true}) {
    SCOPED_TRACE(resetFirst);
    auto connection = StartDownload(*client, data);
    ASSERT_TRUE(connection);
    if (resetFirst) {
      connection->Reset();
      EXPECT_TRUE(client->Silent());
    }
    EXPECT_EQ(client->Command("ABOR"), "426 Transfer terminated abnormally\r\n");
    EXPECT_EQ(client->Line(), "226 ABORT command successful.\r\n");
    EXPECT_TRUE(connection->WaitClosed(std::chrono::seconds(10)));
  }
  EXPECT_EQ(client->Command("DELE big.bin"), "250 Requested file action OK, completed\r\n");
}

TEST_F(FtpInProcessTest, ClosingTheControlConnectionWhileADownloadWaitsForItsAborEndsTheSession) {
  MakeBigFile();
  auto client = Login();
  DataListener data;
  auto connection = StartDownload(*client, data);
  ASSERT_TRUE(connection);
  connection->Reset();  // the download now waits on the clock, which does not move, for an ABOR
  EXPECT_TRUE(client->Silent());
  client->Close();
  EXPECT_TRUE(client->WaitClosed());
  // Nothing of the session is left waiting: its worker finishes.
  EXPECT_TRUE(WaitUntil([&] {
    m_registry.ReapFinishedWorkers();
    return m_registry.WorkerCount(WorkerKind::Ftp) == 0;
  }));
}

TEST_F(FtpInProcessTest, RefusedStoreLeavesTheFile) {
  std::filesystem::create_directories(Home("bob"));
  WriteFile(Home("bob") / "keep.txt", "old");
  AddUser("bob", "secret1", HomeDir("bob"), "11100000");  // no Overwrite right
  auto client = Login("bob", "secret1");
  DataListener data;
  EXPECT_EQ(client->Command("PORT " + data.PortArgument()), "200 PORT command successful.\r\n");
  EXPECT_EQ(client->Command("STOR keep.txt"),
            "550 File unavailable. Overwrite not allowed by user profile\r\n");
  // With the right, a data connection that cannot be opened leaves it as well.
  AddUser("eve", "secret2", HomeDir("bob"), "11110000");
  client = Login("eve", "secret2");
  // A port that is bound but not listening refuses connections.
  int bound = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in address = Loopback(0);
  socklen_t length = sizeof address;
  ASSERT_EQ(::bind(bound, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
  ASSERT_EQ(::getsockname(bound, reinterpret_cast<sockaddr*>(&address), &length), 0);
  EXPECT_EQ(client->Command("PORT " + PortArgumentFor(ntohs(address.sin_port))),
            "200 PORT command successful.\r\n");
  EXPECT_EQ(client->Command("STOR keep.txt"), "150 Opening BINARY mode data connection for keep.txt.\r\n");
  EXPECT_EQ(client->Line(), "425 Can't open data connection\r\n");
  EXPECT_EQ(ReadFile(Home("bob") / "keep.txt"), "old");
  ::close(bound);
}

TEST_F(FtpInProcessTest, FailingFileSystemCallsAreRefusedAndLeaveTheFiles) {
  SetSetting("FTP", "UserSecurity", 0);
  std::filesystem::create_directories(Root() / "sub");
  WriteFile(Root() / "keep.txt", "old");
  m_files.Fail("Unlink", "keep.txt", EACCES);
  m_files.Fail("Rename", "keep.txt", EIO);
  m_files.Fail("MakeDirectory", "new", ENOSPC);
  m_files.Fail("RemoveDirectory", "sub", EBUSY);
  // The replacement of an upload is made in the file's folder: the folder cannot be opened.
  m_files.Fail("Open", "root", EMFILE);
  const std::pair<const char*, const char*> cases[] = {
      {"DELE keep.txt", "550 Could not remove file\r\n"},
      {"RNFR keep.txt", "350 Requested file action pending further information\r\n"},
      {"RNTO moved.txt", "553 Could not rename file\r\n"},
      {"MKD new", "550 Could not create directory\r\n"},
      {"RMD sub", "550 Could not remove directory\r\n"},
  };
  auto client = Login();
  for (const auto& [command, reply] : cases) EXPECT_EQ(client->Command(command), reply);
  DataListener data;
  EXPECT_EQ(client->Command("PORT " + data.PortArgument()), "200 PORT command successful.\r\n");
  EXPECT_EQ(client->Command("STOR keep.txt"), "150 Opening BINARY mode data connection for keep.txt.\r\n");
  auto connection = data.Accept();
  ASSERT_TRUE(connection);
  EXPECT_EQ(client->Line(), "550 File unavailable\r\n");
  EXPECT_EQ(ReadFile(Root() / "keep.txt"), "old");
  EXPECT_TRUE(std::filesystem::is_directory(Root() / "sub"));
  EXPECT_FALSE(std::filesystem::exists(Root() / "new"));
}

}  // namespace
}  // namespace hx::test
