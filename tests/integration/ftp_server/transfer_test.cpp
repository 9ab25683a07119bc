// Data connections as a client sees them on the wire: PORT, listings, downloads and uploads with their
// replies and log entries in order, restart offsets, ABOR in both directions, and the failures.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/time.h>

#include <algorithm>
#include <fstream>

#include "ftp_test_support.h"

namespace hx::test {
namespace {

std::string Pattern(size_t size) {
  std::string data(size, '\0');
  for (size_t i = 0; i < size; ++i) data[i] = static_cast<char>((i * 7 + i / 251) & 0xff);
  return data;
}

class FtpTransferTest : public FtpServerTest {
 protected:
  void SetUp() override { StartServer({"FTP/UserSecurity=0"}); }

  // PORT to the listener, then the command; returns the reply to the command.
  std::string DataCommand(ControlClient& client, DataListener& data, const std::string& command) {
    EXPECT_EQ(client.Command("PORT " + data.PortArgument()), "200 PORT command successful.\r\n");
    return client.Command(command);
  }
  std::string Path(const std::string& name) const { return RootDir() + name; }
};

TEST_F(FtpTransferTest, ListAndNameList) {
  WriteFile(Root() / "a.txt", "12345");
  std::filesystem::create_directory(Root() / "sub");
  std::filesystem::create_directory(Root() / "empty");
  WriteFile(Root() / "sub" / "inner.bin", "x");
  // Noon in UTC: the same day in every time zone. Years ago, so the listing shows the year.
  struct timeval times[2] = {{1592222400, 0}, {1592222400, 0}};
  ASSERT_EQ(::utimes((Root() / "a.txt").c_str(), times), 0);
  auto client = Login();
  DataListener data;
  auto listed = [&](const std::string& command) {
    EXPECT_EQ(DataCommand(*client, data, command), "150 File status OK ; about to open data connection\r\n");
    auto connection = data.Accept();
    EXPECT_TRUE(connection) << command;
    std::string text = connection ? connection->ReceiveAll() : std::string();
    EXPECT_EQ(client->Line(), "226 Closing data connection\r\n") << command;
    return text;
  };
  std::string listing = listed("LIST");
  std::vector<std::string> lines = SplitLines(listing);
  ASSERT_EQ(lines.size(), 3u) << listing;
  EXPECT_EQ(lines[0], ListModeText(Root() / "a.txt") + " 1 owner group         5 Jun 15  2020 a.txt\r\n");
  EXPECT_EQ(lines[1].substr(lines[1].size() - 8), " empty\r\n");
  EXPECT_EQ(lines[2].substr(lines[2].size() - 6), " sub\r\n");
  // A folder made a moment ago shows the time of day.
  EXPECT_EQ(lines[2][lines[2].size() - 9], ':') << lines[2];

  // Only "-a" lists the folder and its parent, first.
  EXPECT_EQ(listed("LIST -l"), listing);
  std::vector<std::string> all = SplitLines(listed("LIST -la"));
  ASSERT_EQ(all.size(), 5u);
  EXPECT_EQ(all[0].substr(0, 35), ListModeText(Root()) + " 1 owner group         0 ");
  EXPECT_EQ(all[0].substr(all[0].size() - 4), " .\r\n");
  EXPECT_EQ(all[1].substr(all[1].size() - 5), " ..\r\n");
  EXPECT_EQ(std::vector<std::string>(all.begin() + 2, all.end()), lines);
  EXPECT_EQ(SplitLines(listed("LIST -a sub")).size(), 3u);
  // NLST never names them: a client that fetches each name would try to fetch the folders.
  EXPECT_EQ(listed("NLST"), "a.txt\r\nempty\r\nsub\r\n");
  EXPECT_EQ(listed("NLST -la"), "a.txt\r\nempty\r\nsub\r\n");
  EXPECT_EQ(listed("NLST -l sub"), "sub/inner.bin\r\n");
  // An empty folder is an empty listing, not a missing one.
  EXPECT_EQ(listed("LIST empty"), "");
  EXPECT_EQ(listed("NLST empty"), "");

  // Nothing matches: 550 and no data connection.
  EXPECT_EQ(DataCommand(*client, data, "LIST missing"), "550 File unavailable\r\n");
  EXPECT_EQ(DataCommand(*client, data, "LIST ../"), "550 File unavailable\r\n");
  EXPECT_EQ(DataCommand(*client, data, "NLST *.none"), "550 File unavailable\r\n");
  EXPECT_FALSE(data.Accept(200ms));
}

TEST_F(FtpTransferTest, DownloadWithTheSuccessReplyAfterTheData) {
  const std::string content = Pattern(25000) + "\r\n\n\r";  // bare CR and LF bytes arrive unchanged
  WriteFile(Root() / "f.bin", content);
  auto client = Login();
  EXPECT_EQ(client->Command("TYPE I"), "200 Type set to I.\r\n");
  DataListener data;
  EXPECT_EQ(DataCommand(*client, data, "RETR f.bin"),
            "150 File status OK ; about to open data connection\r\n");
  auto connection = data.Accept();
  ASSERT_TRUE(connection);
  EXPECT_EQ(connection->ReceiveAll(), content);
  EXPECT_EQ(client->Line(), "226 File transfer successful.\r\n");
  EXPECT_TRUE(client->Silent());
  EXPECT_TRUE(WaitForLogRun({"FTP: Starting GET file transfer of " + Path("f.bin"),
                             "File " + Path("f.bin") + " Bytes transferred: 25004",
                             "FTP: File Transfer successful"}));
  // A length that is a multiple of the chunk ends with an empty chunk.
  WriteFile(Root() / "even.bin", Pattern(20480));
  EXPECT_EQ(DataCommand(*client, data, "RETR even.bin"),
            "150 File status OK ; about to open data connection\r\n");
  connection = data.Accept();
  ASSERT_TRUE(connection);
  EXPECT_EQ(connection->ReceiveAll().size(), 20480u);
  EXPECT_EQ(client->Line(), "226 File transfer successful.\r\n");
}

TEST_F(FtpTransferTest, TypeAConvertsLineEnds) {
  std::string text;
  for (int i = 0; i < 4000; ++i) text += "line " + std::to_string(i) + (i % 5 ? "\n" : " cr\r lf\r\n");
  // Every LF of the file goes out as CR LF, also one after a CR: what SIZE counts.
  std::string wire;
  for (char c : text) wire += c == '\n' ? std::string("\r\n") : std::string(1, c);
  WriteFile(Root() / "t.txt", text);
  auto client = Login();
  EXPECT_EQ(client->Command("TYPE A"), "200 Type set to A.\r\n");
  EXPECT_EQ(client->Command("SIZE t.txt"), "213 " + std::to_string(wire.size()) + "\r\n");
  DataListener data;
  EXPECT_EQ(DataCommand(*client, data, "RETR t.txt"),
            "150 File status OK ; about to open data connection\r\n");
  auto connection = data.Accept();
  ASSERT_TRUE(connection);
  EXPECT_EQ(connection->ReceiveAll(), wire);
  EXPECT_EQ(client->Line(), "226 File transfer successful.\r\n");
  // The log counts the file's bytes.
  EXPECT_TRUE(WaitForLog("File " + Path("t.txt") + " Bytes transferred: " + std::to_string(text.size())));

  // REST names a position in the file.
  EXPECT_EQ(client->Command("REST 4"), "350 Requested file action pending further information\r\n");
  EXPECT_EQ(DataCommand(*client, data, "RETR t.txt"),
            "150 File status OK ; about to open data connection\r\n");
  connection = data.Accept();
  ASSERT_TRUE(connection);
  EXPECT_EQ(connection->ReceiveAll(), wire.substr(4));
  EXPECT_EQ(client->Line(), "226 File transfer successful.\r\n");

  // CR LF is stored as LF, also when the CR ends one receive and the LF starts the next; a bare CR stays.
  EXPECT_EQ(DataCommand(*client, data, "STOR up.txt"),
            "150 Opening BINARY mode data connection for up.txt.\r\n");
  connection = data.Accept();
  ASSERT_TRUE(connection);
  ASSERT_TRUE(connection->Send("first\r\nsecond\r"));
  EXPECT_TRUE(WaitUntil([&] { return ReadFile(Root() / "up.txt") == "first\nsecond"; }));
  ASSERT_TRUE(connection->Send("\nbare\rcr\r\n"));
  connection.reset();
  EXPECT_EQ(client->Line(), "226 File transfer successful\r\n");
  EXPECT_EQ(ReadFile(Root() / "up.txt"), "first\nsecond\nbare\rcr\n");
  EXPECT_EQ(DataCommand(*client, data, "APPE up.txt"),
            "150 Opening BINARY mode data connection for up.txt.\r\n");
  connection = data.Accept();
  ASSERT_TRUE(connection);
  ASSERT_TRUE(connection->Send(wire));
  connection.reset();
  EXPECT_EQ(client->Line(), "226 File transfer successful\r\n");
  EXPECT_EQ(ReadFile(Root() / "up.txt"), "first\nsecond\nbare\rcr\n" + text);

  // Type I moves the bytes as they are.
  EXPECT_EQ(client->Command("TYPE I"), "200 Type set to I.\r\n");
  EXPECT_EQ(DataCommand(*client, data, "RETR t.txt"),
            "150 File status OK ; about to open data connection\r\n");
  connection = data.Accept();
  ASSERT_TRUE(connection);
  EXPECT_EQ(connection->ReceiveAll(), text);
  EXPECT_EQ(client->Line(), "226 File transfer successful.\r\n");
}

TEST_F(FtpTransferTest, QuorinSendsTheSuccessReplyOnceConnected) {
  SetSetting("General", "Quorin", "1");
  WriteFile(Root() / "f.bin", Pattern(100000));
  auto client = Login();
  EXPECT_EQ(client->Command("TYPE I"), "200 Type set to I.\r\n");
  DataListener data;
  EXPECT_EQ(DataCommand(*client, data, "RETR f.bin"),
            "150 File status OK ; about to open data connection\r\n");
  auto connection = data.Accept();
  ASSERT_TRUE(connection);
  EXPECT_EQ(client->Line(), "226 File transfer successful.\r\n");  // before the data is read
  EXPECT_EQ(connection->ReceiveAll(), Pattern(100000));
  EXPECT_TRUE(WaitForLog("FTP: File Transfer successful"));
  EXPECT_TRUE(client->Silent());  // nothing at the end
}

TEST_F(FtpTransferTest, RestartOffsets) {
  const std::string content = Pattern(1000);
  WriteFile(Root() / "f.bin", content);
  auto client = Login();
  EXPECT_EQ(client->Command("TYPE I"), "200 Type set to I.\r\n");
  DataListener data;
  EXPECT_EQ(client->Command("REST 100"), "350 Requested file action pending further information\r\n");
  EXPECT_EQ(DataCommand(*client, data, "RETR f.bin"),
            "150 File status OK ; about to open data connection\r\n");
  auto connection = data.Accept();
  ASSERT_TRUE(connection);
  EXPECT_EQ(connection->ReceiveAll(), content.substr(100));
  EXPECT_EQ(client->Line(), "226 File transfer successful.\r\n");
  EXPECT_TRUE(WaitForLog("File " + Path("f.bin") + " Bytes transferred: 1000"));

  EXPECT_EQ(client->Command("REST 5000"), "350 Requested file action pending further information\r\n");
  EXPECT_EQ(DataCommand(*client, data, "RETR f.bin"),
            "150 File status OK ; about to open data connection\r\n");
  connection = data.Accept();
  ASSERT_TRUE(connection);
  EXPECT_EQ(connection->ReceiveAll(), "");
  EXPECT_EQ(client->Line(), "226 File transfer successful.\r\n");

  EXPECT_EQ(client->Command("REST -1"), "350 Requested file action pending further information\r\n");
  EXPECT_EQ(DataCommand(*client, data, "RETR f.bin"), "451 Requested action aborted - File error\r\n");
  EXPECT_FALSE(data.Accept(200ms));
  // The offset was consumed: the next download is whole.
  EXPECT_EQ(DataCommand(*client, data, "RETR f.bin"),
            "150 File status OK ; about to open data connection\r\n");
  connection = data.Accept();
  ASSERT_TRUE(connection);
  EXPECT_EQ(connection->ReceiveAll(), content);
  EXPECT_EQ(client->Line(), "226 File transfer successful.\r\n");
}

TEST_F(FtpTransferTest, OffsetsBeyondFourGibibytes) {
  { std::ofstream big(Root() / "big.bin", std::ios::binary); }
  const std::uint64_t size = 5368709120ULL;  // sparse: no disk space needed
  std::filesystem::resize_file(Root() / "big.bin", size);
  auto client = Login();
  DataListener data;
  EXPECT_EQ(client->Command("REST " + std::to_string(size - 120)),
            "350 Requested file action pending further information\r\n");
  EXPECT_EQ(DataCommand(*client, data, "RETR big.bin"),
            "150 File status OK ; about to open data connection\r\n");
  auto connection = data.Accept();
  ASSERT_TRUE(connection);
  EXPECT_EQ(connection->ReceiveAll(), std::string(120, '\0'));
  EXPECT_EQ(client->Line(), "226 File transfer successful.\r\n");
  EXPECT_TRUE(WaitForLog("File " + Path("big.bin") + " Bytes transferred: 5368709120"));
  EXPECT_EQ(DataCommand(*client, data, "LIST big.bin"),
            "150 File status OK ; about to open data connection\r\n");
  connection = data.Accept();
  ASSERT_TRUE(connection);
  EXPECT_EQ(connection->ReceiveAll().substr(0, 36),
            ListModeText(Root() / "big.bin") + " 1 owner group 5368709120 ");
  EXPECT_EQ(client->Line(), "226 Closing data connection\r\n");
}

TEST_F(FtpTransferTest, StoreAndAppend) {
  auto client = Login();
  DataListener data;
  const std::string content = Pattern(30000);
  EXPECT_EQ(DataCommand(*client, data, "STOR up.bin"),
            "150 Opening BINARY mode data connection for up.bin.\r\n");
  auto connection = data.Accept();
  ASSERT_TRUE(connection);
  ASSERT_TRUE(connection->Send(content));
  connection.reset();
  EXPECT_EQ(client->Line(), "226 File transfer successful\r\n");
  EXPECT_EQ(ReadFile(Root() / "up.bin"), content);
  EXPECT_TRUE(WaitForLogRun(
      {"FTP: Starting PUT file transfer of " + Path("up.bin"), "FTP: Transfer was successful"}));

  EXPECT_EQ(DataCommand(*client, data, "APPE up.bin"),
            "150 Opening BINARY mode data connection for up.bin.\r\n");
  connection = data.Accept();
  ASSERT_TRUE(connection);
  connection->Send("tail");
  connection.reset();
  EXPECT_EQ(client->Line(), "226 File transfer successful\r\n");
  EXPECT_EQ(ReadFile(Root() / "up.bin"), content + "tail");

  EXPECT_EQ(DataCommand(*client, data, "APPE fresh.txt"),
            "150 Opening BINARY mode data connection for fresh.txt.\r\n");
  connection = data.Accept();
  ASSERT_TRUE(connection);
  connection->Send("new");
  connection.reset();
  EXPECT_EQ(client->Line(), "226 File transfer successful\r\n");
  EXPECT_EQ(ReadFile(Root() / "fresh.txt"), "new");

  // APPE refuses a pending offset and leaves it for the STOR that follows, which keeps the bytes before it.
  EXPECT_EQ(client->Command("REST 2"), "350 Requested file action pending further information\r\n");
  EXPECT_EQ(DataCommand(*client, data, "APPE fresh.txt"), "503 Bad sequence of commands\r\n");
  EXPECT_EQ(DataCommand(*client, data, "STOR fresh.txt"),
            "150 Opening BINARY mode data connection for fresh.txt.\r\n");
  connection = data.Accept();
  ASSERT_TRUE(connection);
  connection->Send("XY");
  connection.reset();
  EXPECT_EQ(client->Line(), "226 File transfer successful\r\n");
  EXPECT_EQ(ReadFile(Root() / "fresh.txt"), "neXY");

  // A plain STOR replaces the file.
  EXPECT_EQ(DataCommand(*client, data, "STOR fresh.txt"),
            "150 Opening BINARY mode data connection for fresh.txt.\r\n");
  connection = data.Accept();
  ASSERT_TRUE(connection);
  connection.reset();
  EXPECT_EQ(client->Line(), "226 File transfer successful\r\n");
  EXPECT_EQ(ReadFile(Root() / "fresh.txt"), "");
  EXPECT_EQ(DataCommand(*client, data, "STOR ../escape.txt"), "550 Access to directory denied\r\n");
  // No file name holds a NUL: it would cut the name short.
  EXPECT_EQ(DataCommand(*client, data, "STOR " + std::string("x\0y", 3)), "553 Illegal file name\r\n");
  EXPECT_FALSE(std::filesystem::exists(m_dir.Path() / "escape.txt"));
}

TEST_F(FtpTransferTest, AnonymousRightsFromTheSettings) {
  SetSetting("FTP", "UserSecurity", "1");
  SetSetting("FTP", "FAllowUpload", "0");
  SetSetting("FTP", "FAllowDownload", "0");
  WriteFile(Root() / "f.txt", "f");
  std::filesystem::create_directory(Root() / "d");
  auto client = Login();
  DataListener data;
  EXPECT_EQ(DataCommand(*client, data, "STOR new.txt"), "532 Need account for storing files\r\n");
  EXPECT_EQ(DataCommand(*client, data, "APPE new.txt"), "532 Need account for storing files\r\n");
  EXPECT_EQ(DataCommand(*client, data, "RETR f.txt"),
            "550 Requested action not taken. No access rights.\r\n");
  EXPECT_EQ(client->Command("DELE f.txt"),
            "550 File unavailable. User profile not allowed to delete files\r\n");
  EXPECT_EQ(client->Command("MKD x"),
            "550 File unavailable. User profile not allowed to create directories\r\n");
  EXPECT_EQ(client->Command("XMKD x"),
            "550 File unavailable. User profile not allowed to create directories\r\n");
  EXPECT_EQ(client->Command("RMD d"),
            "550 File unavailable. User profile not allowed to remove directories\r\n");
  EXPECT_EQ(client->Command("RNFR f.txt"), "550 File unavailable. User profile has no access\r\n");
  EXPECT_EQ(client->Command("RNTO g.txt"), "553 Could not rename file\r\n");
  EXPECT_FALSE(data.Accept(100ms));

  // Upload allowed, overwrite not: existing names (a directory too) are refused, new ones stored.
  SetSetting("FTP", "FAllowUpload", "1");
  auto second = Login();
  EXPECT_EQ(DataCommand(*second, data, "STOR f.txt"),
            "550 File unavailable. Overwrite not allowed by user profile\r\n");
  EXPECT_EQ(DataCommand(*second, data, "APPE f.txt"),
            "550 File unavailable. Overwrite not allowed by user profile\r\n");
  EXPECT_EQ(DataCommand(*second, data, "STOR d"),
            "550 File unavailable. Overwrite not allowed by user profile\r\n");
  EXPECT_EQ(DataCommand(*second, data, "STOR g.txt"),
            "150 Opening BINARY mode data connection for g.txt.\r\n");
  auto connection = data.Accept();
  ASSERT_TRUE(connection);
  connection->Send("g");
  connection.reset();
  EXPECT_EQ(second->Line(), "226 File transfer successful\r\n");
  EXPECT_EQ(ReadFile(Root() / "f.txt"), "f");
}

TEST_F(FtpTransferTest, DataAddressMustBeTheClientsOwn) {
  WriteFile(Root() / "f.txt", "f");
  auto client = Login();
  DataListener data;
  // No PORT yet.
  EXPECT_EQ(client->Command("RETR f.txt"), "425 Can't open data connection\r\n");
  EXPECT_EQ(client->Command("LIST"), "425 Can't open data connection\r\n");
  EXPECT_EQ(client->Command("STOR n.txt"), "425 Can't open data connection\r\n");
  const std::string bad[] = {
      "127,0,0,2," + std::to_string(data.Port() / 256) + "," + std::to_string(data.Port() % 256),
      "127,0,0,1,0,21", "127,0,0,1,3,255", "127,0,0,1,4", "x"};
  for (const std::string& argument : bad) {
    EXPECT_EQ(client->Command("PORT " + argument), "200 PORT command successful.\r\n");
    EXPECT_EQ(client->Command("RETR f.txt"), "425 Can't open data connection\r\n") << argument;
    EXPECT_EQ(client->Command("NLST"), "425 Can't open data connection\r\n") << argument;
    EXPECT_EQ(client->Command("APPE n.txt"), "425 Can't open data connection\r\n") << argument;
  }
  // A number that no byte can hold is a syntax error at once.
  EXPECT_EQ(client->Command("PORT 127,0,0,1,300,1"), "501 Syntax error in parameters\r\n");
  EXPECT_EQ(client->Command("PORT 127,0,0,1," + std::to_string(data.Port() / 256) + ",256"),
            "501 Syntax error in parameters\r\n");
  EXPECT_EQ(client->Command("RETR f.txt"), "425 Can't open data connection\r\n");
  EXPECT_FALSE(data.Accept(100ms));
  // Nothing stays open: the file can be deleted, and another session downloads it.
  auto other = Login();
  EXPECT_EQ(DataCommand(*other, data, "RETR f.txt"),
            "150 File status OK ; about to open data connection\r\n");
  auto connection = data.Accept();
  ASSERT_TRUE(connection);
  EXPECT_EQ(connection->ReceiveAll(), "f");
  EXPECT_EQ(other->Line(), "226 File transfer successful.\r\n");
  EXPECT_EQ(client->Command("DELE f.txt"), "250 Requested file action OK, completed\r\n");
}

TEST_F(FtpTransferTest, DataConnectionsLeaveFromTheDataPort) {
  std::uint16_t dataPort = UnusedPort();
  SetSetting("FTP", "FDataPort", std::to_string(dataPort));
  WriteFile(Root() / "f.txt", "f");
  auto client = Login();
  DataListener data;
  for (int i = 0; i < 3; ++i) {  // again and again, while earlier connections linger in TIME_WAIT
    EXPECT_EQ(DataCommand(*client, data, "RETR f.txt"),
              "150 File status OK ; about to open data connection\r\n");
    auto connection = data.Accept();
    ASSERT_TRUE(connection);
    sockaddr_in peer{};
    socklen_t length = sizeof peer;
    ASSERT_EQ(::getpeername(connection->Fd(), reinterpret_cast<sockaddr*>(&peer), &length), 0);
    EXPECT_EQ(ntohs(peer.sin_port), dataPort);
    EXPECT_EQ(connection->ReceiveAll(), "f");
    EXPECT_EQ(client->Line(), "226 File transfer successful.\r\n");
  }
}

TEST_F(FtpTransferTest, RefusedDataConnections) {
  m_expectedStderr = "harbinex: Could not connect to peer. Aborting transfer.\n";
  WriteFile(Root() / "f.txt", "f");
  auto client = Login();
  EXPECT_EQ(client->Command("PORT " + PortArgumentFor(UnusedPort())), "200 PORT command successful.\r\n");
  EXPECT_EQ(client->Command("RETR f.txt"), "150 File status OK ; about to open data connection\r\n");
  std::string reply = client->Line();
  if (reply == "425 Can't open data connection\r\n")
    EXPECT_TRUE(WaitForLog("Connect Failure: [10061] Connection refused"));
  else
    EXPECT_EQ(reply, "451 Couldn't connect: [10061] Connection refused\r\n");
  EXPECT_EQ(client->Command("STOR g.txt"), "150 Opening BINARY mode data connection for g.txt.\r\n");
  EXPECT_EQ(client->Line(), "425 Can't open data connection\r\n");
  EXPECT_EQ(client->Command("LIST"), "150 File status OK ; about to open data connection\r\n");
  EXPECT_EQ(client->Line(), "425 Can't open data connection\r\n");
  EXPECT_TRUE(m_program->WaitForStderr(m_expectedStderr));
  // The file was released, and the upload that never connected created nothing.
  EXPECT_EQ(client->Command("DELE f.txt"), "250 Requested file action OK, completed\r\n");
  EXPECT_FALSE(std::filesystem::exists(Root() / "g.txt"));
}

TEST_F(FtpTransferTest, RefusedOrFailedUploadsKeepTheFile) {
  WriteFile(Root() / "important.txt", "keep me");
  auto client = Login();
  EXPECT_EQ(client->Command("STOR important.txt"), "425 Can't open data connection\r\n");  // no PORT yet
  EXPECT_EQ(client->Command("REST 2"), "350 Requested file action pending further information\r\n");
  EXPECT_EQ(client->Command("STOR important.txt"), "425 Can't open data connection\r\n");
  EXPECT_EQ(client->Command("STOR new.txt"), "425 Can't open data connection\r\n");
  EXPECT_EQ(client->Command("PORT " + PortArgumentFor(UnusedPort())), "200 PORT command successful.\r\n");
  EXPECT_EQ(client->Command("STOR important.txt"),
            "150 Opening BINARY mode data connection for important.txt.\r\n");
  EXPECT_EQ(client->Line(), "425 Can't open data connection\r\n");
  // A restart beyond the end would leave a hole in the file.
  EXPECT_EQ(client->Command("REST 8"), "350 Requested file action pending further information\r\n");
  EXPECT_EQ(client->Command("STOR important.txt"), "554 Restart position beyond end of file\r\n");
  EXPECT_EQ(ReadFile(Root() / "important.txt"), "keep me");
  EXPECT_FALSE(std::filesystem::exists(Root() / "new.txt"));
  // Only the upload that reached its data connection was logged as started (the log is read from the
  // program's output, which may come a moment after the replies).
  EXPECT_TRUE(WaitForLog("FTP: Starting PUT file transfer of " + Path("important.txt")));
  std::vector<std::string> entries = LogEntries();
  EXPECT_EQ(std::count(entries.begin(), entries.end(),
                       "FTP: Starting PUT file transfer of " + Path("important.txt")),
            1);
}

}  // namespace
}  // namespace hx::test
