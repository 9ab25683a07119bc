// How transfers end other than by finishing: ABOR in both directions, a client that drops its data or
// control connection, a second data command, and files in use by another session.
#include <sys/socket.h>

#include <cstdlib>
#include <fstream>

#include "ftp_test_support.h"

namespace hx::test {
namespace {

constexpr std::uint64_t kBig = 64ULL << 20;  // more than the socket buffers of both ends hold

class FtpTransferEndTest : public FtpServerTest {
 protected:
  void SetUp() override {
    StartServer({"FTP/UserSecurity=0"});
    { std::ofstream big(Root() / "big.bin", std::ios::binary); }
    std::filesystem::resize_file(Root() / "big.bin", kBig);  // sparse
  }
  std::string Path(const std::string& name) const { return RootDir() + name; }

  // Starts a download of big.bin that the client does not read: the server is left waiting to send.
  std::unique_ptr<TcpConnection> StartStalledDownload(ControlClient& client, DataListener& data) {
    EXPECT_EQ(client.Command("PORT " + data.PortArgument()), "200 PORT command successful.\r\n");
    EXPECT_EQ(client.Command("RETR big.bin"), "150 File status OK ; about to open data connection\r\n");
    auto connection = data.Accept();
    EXPECT_TRUE(connection);
    return connection;
  }
};

TEST_F(FtpTransferEndTest, AborDuringADownload) {
  auto client = Login();
  DataListener data;
  auto connection = StartStalledDownload(*client, data);
  ASSERT_TRUE(connection);
  // The download's own end, then ABOR's answer: an aborted download is never called a success.
  EXPECT_EQ(client->Command("ABOR"), "426 Transfer terminated abnormally\r\n");
  EXPECT_EQ(client->Line(), "226 ABORT command successful.\r\n");
  EXPECT_TRUE(client->Silent());
  EXPECT_TRUE(connection->WaitClosed(10s));
  EXPECT_TRUE(WaitForLogRun({"FTP: Starting GET file transfer of " + Path("big.bin")}));
  EXPECT_TRUE(WaitForLog("FTP: File transfer aborted"));
  std::vector<std::string> entries = LogEntries();
  auto bytes = std::find_if(entries.begin(), entries.end(),
                            [&](const std::string& e) { return e.rfind("File " + Path("big.bin"), 0) == 0; });
  ASSERT_NE(bytes, entries.end());
  EXPECT_EQ(*std::next(bytes), "FTP: File transfer aborted");
  EXPECT_EQ(client->Command("DELE big.bin"), "250 Requested file action OK, completed\r\n");
}

// A download whose client never connects to the passive port is not left waiting for it after ABOR.
TEST_F(FtpTransferEndTest, AborBeforeTheDataConnectionCame) {
  auto client = Login();
  EXPECT_EQ(client->Command("PASV").substr(0, 4), "227 ");
  EXPECT_EQ(client->Command("RETR big.bin"), "150 File status OK ; about to open data connection\r\n");
  EXPECT_EQ(client->Command("ABOR"), "426 Transfer terminated abnormally\r\n");
  EXPECT_EQ(client->Line(), "226 ABORT command successful.\r\n");
  EXPECT_EQ(client->Command("DELE big.bin"), "250 Requested file action OK, completed\r\n");
}

TEST_F(FtpTransferEndTest, AborAfterTelnetInterruptAndSynch) {
  auto client = Login();
  DataListener data;
  auto connection = StartStalledDownload(*client, data);
  ASSERT_TRUE(connection);
  // As RFC 959 asks: Telnet IP, then IAC and DM as urgent data, then the command.
  ASSERT_TRUE(client->Connection().Send("\xff\xf4"));
  ASSERT_TRUE(client->Connection().Send("\xff\xf2", MSG_OOB));
  client->Send("ABOR\r\n");
  EXPECT_EQ(client->Line(), "426 Transfer terminated abnormally\r\n");
  EXPECT_EQ(client->Line(), "226 ABORT command successful.\r\n");
  // The whole line sent as urgent data, as Python's ftplib does.
  connection = StartStalledDownload(*client, data);
  ASSERT_TRUE(connection);
  ASSERT_TRUE(client->Connection().Send("ABOR\r\n", MSG_OOB));
  EXPECT_EQ(client->Line(), "426 Transfer terminated abnormally\r\n");
  EXPECT_EQ(client->Line(), "226 ABORT command successful.\r\n");
  EXPECT_EQ(client->Command("NOOP"), "200 Command OK\r\n");
}

TEST_F(FtpTransferEndTest, AborDuringADownloadWithQuorin) {
  SetSetting("General", "Quorin", "1");
  auto client = Login();
  DataListener data;
  auto connection = StartStalledDownload(*client, data);
  ASSERT_TRUE(connection);
  EXPECT_EQ(client->Line(), "226 File transfer successful.\r\n");  // at connect
  EXPECT_EQ(client->Command("ABOR"), "226 ABORT command successful.\r\n");
  EXPECT_TRUE(client->Silent());
}

TEST_F(FtpTransferEndTest, ClientDroppingTheDataConnectionAbortsTheDownload) {
  auto client = Login();
  DataListener data;
  auto connection = StartStalledDownload(*client, data);
  ASSERT_TRUE(connection);
  EXPECT_FALSE(connection->Receive(5s, 1000).empty());
  connection->Reset();
  EXPECT_EQ(client->Line(10s), "426 Transfer terminated abnormally\r\n");
  EXPECT_TRUE(client->Silent());
  EXPECT_TRUE(WaitForLog("FTP: File transfer aborted"));
  EXPECT_EQ(client->Command("DELE big.bin"), "250 Requested file action OK, completed\r\n");
}

TEST_F(FtpTransferEndTest, AborFollowedAtOnceByClosingTheDataConnection) {
  auto client = Login();
  DataListener data;
  for (int i = 0; i < 5; ++i) {  // whichever of the two the server sees first
    auto connection = StartStalledDownload(*client, data);
    ASSERT_TRUE(connection);
    client->Send("ABOR\r\n");
    connection->Reset();
    EXPECT_EQ(client->Line(), "426 Transfer terminated abnormally\r\n") << i;
    EXPECT_EQ(client->Line(), "226 ABORT command successful.\r\n") << i;
  }
}

TEST_F(FtpTransferEndTest, AborDuringAnUploadKeepsWhatArrived) {
  auto client = Login();
  DataListener data;
  EXPECT_EQ(client->Command("PORT " + data.PortArgument()), "200 PORT command successful.\r\n");
  EXPECT_EQ(client->Command("STOR part.bin"), "150 Opening BINARY mode data connection for part.bin.\r\n");
  auto connection = data.Accept();
  ASSERT_TRUE(connection);
  connection->Send(std::string(1000, 'p'));
  ASSERT_TRUE(WaitUntil([&] {
    std::error_code error;
    return std::filesystem::file_size(Root() / "part.bin", error) == 1000;
  }));
  EXPECT_EQ(client->Command("ABOR"), "426 Transfer terminated abnormally\r\n");
  EXPECT_EQ(client->Line(), "226 ABORT command successful\r\n");
  EXPECT_TRUE(connection->WaitClosed());
  EXPECT_TRUE(
      WaitForLogRun({"FTP: Starting PUT file transfer of " + Path("part.bin"), "FTP: Transfer was aborted"}));
  EXPECT_EQ(ReadFile(Root() / "part.bin"), std::string(1000, 'p'));
  EXPECT_EQ(client->Command("DELE part.bin"), "250 Requested file action OK, completed\r\n");
}

TEST_F(FtpTransferEndTest, ClientResettingAnUploadAbortsIt) {
  auto client = Login();
  DataListener data;
  EXPECT_EQ(client->Command("PORT " + data.PortArgument()), "200 PORT command successful.\r\n");
  EXPECT_EQ(client->Command("APPE part.bin"), "150 Opening BINARY mode data connection for part.bin.\r\n");
  auto connection = data.Accept();
  ASSERT_TRUE(connection);
  connection->Send("abc");
  connection->Reset();
  // No ABOR came: the 426 is the whole answer, and nothing is left over for the next command.
  EXPECT_EQ(client->Line(), "426 Transfer terminated abnormally\r\n");
  EXPECT_EQ(client->Command("NOOP"), "200 Command OK\r\n");
  EXPECT_TRUE(WaitForLog("FTP: Transfer was aborted"));
}

// A STOR over an existing file replaces it whole or not at all: ABOR and a client that resets its data
// connection leave the old file as it was and nothing beside it; a finished upload replaces it and keeps
// its permissions.
TEST_F(FtpTransferEndTest, OverwriteReplacesTheFileOnlyWhenTheUploadSucceeds) {
  const std::string old = RandomBytes(5000, 3);
  WriteFile(Root() / "keep.bin", old);
  std::filesystem::permissions(Root() / "keep.bin", std::filesystem::perms::owner_read |
                                                        std::filesystem::perms::owner_write |
                                                        std::filesystem::perms::group_read);
  const auto mode = std::filesystem::status(Root() / "keep.bin").permissions();
  auto client = Login();
  EXPECT_EQ(client->Command("TYPE I"), "200 Type set to I.\r\n");  // the bytes as they are
  for (bool abor : {true, false}) {
    SCOPED_TRACE(abor ? "ABOR" : "reset");
    DataListener data;
    EXPECT_EQ(client->Command("PORT " + data.PortArgument()), "200 PORT command successful.\r\n");
    EXPECT_EQ(client->Command("STOR keep.bin"), "150 Opening BINARY mode data connection for keep.bin.\r\n");
    auto connection = data.Accept();
    ASSERT_TRUE(connection);
    ASSERT_TRUE(connection->Send(std::string(256 * 1024, 'p')));
    if (abor) {
      EXPECT_EQ(client->Command("ABOR"), "426 Transfer terminated abnormally\r\n");
      EXPECT_EQ(client->Line(), "226 ABORT command successful\r\n");
    } else {
      connection->Reset();
      EXPECT_EQ(client->Line(), "426 Transfer terminated abnormally\r\n");
    }
    EXPECT_EQ(ReadFile(Root() / "keep.bin"), old);
    EXPECT_EQ(
        std::distance(std::filesystem::directory_iterator(Root()), std::filesystem::directory_iterator()),
        2);  // keep.bin and big.bin
  }
  const std::string fresh = RandomBytes(300000, 4);
  DataListener data;
  EXPECT_EQ(client->Command("PORT " + data.PortArgument()), "200 PORT command successful.\r\n");
  EXPECT_EQ(client->Command("STOR keep.bin"), "150 Opening BINARY mode data connection for keep.bin.\r\n");
  auto connection = data.Accept();
  ASSERT_TRUE(connection);
  ASSERT_TRUE(connection->Send(fresh));
  connection.reset();
  EXPECT_EQ(client->Line(), "226 File transfer successful\r\n");
  EXPECT_EQ(ReadFile(Root() / "keep.bin"), fresh);
  EXPECT_EQ(std::filesystem::status(Root() / "keep.bin").permissions(), mode);
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(Root()), std::filesystem::directory_iterator()),
            2);
}

// Binary uploads move from the socket to the file without a buffer of the server's own, type A ones through
// it: a full file system ends either as aborted, and the session goes on.
TEST_F(FtpTransferEndTest, UploadsIntoAFullFileSystemAreAborted) {
  std::filesystem::path full = Root() / "full";
  std::filesystem::create_directory(full);
  ASSERT_EQ(std::system(("mount -t tmpfs -o size=64k tmpfs " + full.string()).c_str()), 0)
      << "the test mounts a small tmpfs and needs root";
  struct Unmount {
    std::string path;
    ~Unmount() { EXPECT_EQ(std::system(("umount " + path).c_str()), 0); }
  } unmount{full.string()};
  auto client = Login();
  for (const char* type : {"I", "A"}) {
    SCOPED_TRACE(type);
    EXPECT_EQ(client->Command(std::string("TYPE ") + type).substr(0, 4), "200 ");
    DataListener data;
    EXPECT_EQ(client->Command("PORT " + data.PortArgument()), "200 PORT command successful.\r\n");
    EXPECT_EQ(client->Command("STOR full/up.bin").substr(0, 4), "150 ");
    auto connection = data.Accept();
    ASSERT_TRUE(connection);
    connection->Send(std::string(1 << 20, 'f'));
    EXPECT_EQ(client->Line(), "426 Transfer terminated abnormally\r\n");
    EXPECT_EQ(client->Command("DELE full/up.bin"), "250 Requested file action OK, completed\r\n");
  }
  // Over an existing file, the old one stays whole and nothing is left beside it.
  WriteFile(full / "kept.bin", "old");
  DataListener data;
  EXPECT_EQ(client->Command("PORT " + data.PortArgument()), "200 PORT command successful.\r\n");
  EXPECT_EQ(client->Command("STOR full/kept.bin").substr(0, 4), "150 ");
  auto connection = data.Accept();
  ASSERT_TRUE(connection);
  connection->Send(std::string(1 << 20, 'f'));
  EXPECT_EQ(client->Line(), "426 Transfer terminated abnormally\r\n");
  EXPECT_EQ(ReadFile(full / "kept.bin"), "old");
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(full), std::filesystem::directory_iterator()),
            1);
}

TEST_F(FtpTransferEndTest, SecondDataCommandWhileATransferRuns) {
  WriteFile(Root() / "small.txt", "s");
  auto client = Login();
  DataListener data;
  auto connection = StartStalledDownload(*client, data);
  ASSERT_TRUE(connection);
  const std::string busy = "450 Requested file action not taken. A transfer is in progress\r\n";
  EXPECT_EQ(client->Command("RETR small.txt"), busy);
  EXPECT_EQ(client->Command("STOR other.txt"), busy);
  EXPECT_EQ(client->Command("APPE other.txt"), busy);
  EXPECT_EQ(client->Command("LIST"), busy);
  EXPECT_EQ(client->Command("NOOP"), "200 Command OK\r\n");  // commands are served meanwhile
  EXPECT_EQ(client->Command("REST 1"), "350 Requested file action pending further information\r\n");
  // The running download goes on to its end.
  EXPECT_EQ(connection->ReceiveAll(60s).size(), kBig);
  EXPECT_EQ(client->Line(), "226 File transfer successful.\r\n");
  EXPECT_FALSE(std::filesystem::exists(Root() / "other.txt"));
  // The refused commands left the offset pending.
  EXPECT_EQ(client->Command("PORT " + data.PortArgument()), "200 PORT command successful.\r\n");
  EXPECT_EQ(client->Command("RETR small.txt"), "150 File status OK ; about to open data connection\r\n");
  connection = data.Accept();
  ASSERT_TRUE(connection);
  EXPECT_EQ(connection->ReceiveAll(), "");
  EXPECT_EQ(client->Line(), "226 File transfer successful.\r\n");
}

TEST_F(FtpTransferEndTest, FilesInUseByAnotherSession) {
  auto owner = Login();
  DataListener data;
  auto connection = StartStalledDownload(*owner, data);
  ASSERT_TRUE(connection);
  auto other = Login();
  DataListener otherData;
  // Downloads of one file run side by side.
  auto reader = Login();
  DataListener readerData;
  auto second = StartStalledDownload(*reader, readerData);
  ASSERT_TRUE(second);
  // Writing, deleting and renaming wait until the last reader is done.
  EXPECT_EQ(other->Command("PORT " + otherData.PortArgument()), "200 PORT command successful.\r\n");
  EXPECT_EQ(other->Command("STOR big.bin"), "550 File unavailable\r\n");
  EXPECT_EQ(other->Command("APPE big.bin"), "550 File unavailable\r\n");
  EXPECT_EQ(other->Command("DELE big.bin"), "550 Could not remove file\r\n");
  EXPECT_EQ(other->Command("RNFR big.bin"), "350 Requested file action pending further information\r\n");
  EXPECT_EQ(other->Command("RNTO moved.bin"), "553 Could not rename file\r\n");
  EXPECT_EQ(other->Command("SIZE big.bin"), "550 File unavailable\r\n");  // type A reads the file
  EXPECT_EQ(other->Command("TYPE I"), "200 Type set to I.\r\n");
  EXPECT_EQ(other->Command("SIZE big.bin"), "213 " + std::to_string(kBig) + "\r\n");
  EXPECT_FALSE(otherData.Accept(100ms));
  EXPECT_EQ(std::filesystem::file_size(Root() / "big.bin"), kBig);
  // Both downloads are whole; then the file is free.
  EXPECT_EQ(connection->ReceiveAll(60s).size(), kBig);
  EXPECT_EQ(owner->Line(), "226 File transfer successful.\r\n");
  EXPECT_EQ(other->Command("DELE big.bin"),
            "550 Could not remove file\r\n");  // the second reader still has it
  EXPECT_EQ(second->ReceiveAll(60s).size(), kBig);
  EXPECT_EQ(reader->Line(), "226 File transfer successful.\r\n");
  EXPECT_EQ(other->Command("DELE big.bin"), "250 Requested file action OK, completed\r\n");
}

TEST_F(FtpTransferEndTest, ClosingTheControlConnectionEndsTheTransfer) {
  {
    auto client = Login();
    DataListener data;
    auto connection = StartStalledDownload(*client, data);
    ASSERT_TRUE(connection);
    client.reset();  // the control connection goes; the download must go with it
    EXPECT_TRUE(connection->WaitClosed(10s));
  }
  EXPECT_TRUE(WaitForLog("FTP: Connection closed"));
  auto client = Login();
  EXPECT_EQ(client->Command("DELE big.bin"), "250 Requested file action OK, completed\r\n");
  // An upload left by QUIT is closed as well.
  DataListener data;
  EXPECT_EQ(client->Command("PORT " + data.PortArgument()), "200 PORT command successful.\r\n");
  EXPECT_EQ(client->Command("STOR up.bin"), "150 Opening BINARY mode data connection for up.bin.\r\n");
  auto connection = data.Accept();
  ASSERT_TRUE(connection);
  // The file is created once the server has the connection; a byte that arrives shows the upload runs.
  ASSERT_TRUE(connection->Send("x"));
  EXPECT_TRUE(WaitUntil([&] {
    std::error_code missing;
    return std::filesystem::file_size(Root() / "up.bin", missing) == 1;
  }));
  EXPECT_EQ(client->Command("QUIT"), "221 Service closing control connection\r\n");
  EXPECT_TRUE(connection->WaitClosed());
  auto again = Login();
  EXPECT_EQ(again->Command("DELE up.bin"), "250 Requested file action OK, completed\r\n");
}

}  // namespace
}  // namespace hx::test
