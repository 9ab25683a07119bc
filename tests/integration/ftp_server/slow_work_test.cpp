// Work that reads the disk at length runs beside the network threads, never on them; and file names that
// hold line breaks can neither be made nor break a reply.
#include <algorithm>
#include <chrono>
#include <filesystem>

#include "ftp_test_support.h"

namespace hx::test {
namespace {

using Clock = std::chrono::steady_clock;
using namespace std::string_literals;

class FtpSlowWorkTest : public FtpServerTest {};

// Four clients pipeline SIZE in type A of 1 GiB files, which takes reading them whole; meanwhile a TFTP
// download and an FTP login are served at once.
TEST_F(FtpSlowWorkTest, TypeASizeOfLargeFilesLeavesOtherClientsServed) {
  StartServer({"FTP/UserSecurity=0"}, /*withTftp=*/true);
  constexpr std::uintmax_t kSize = 1ull << 30;
  for (int i = 0; i < 4; ++i) {
    WriteFile(Root() / ("big" + std::to_string(i)), "");
    std::filesystem::resize_file(Root() / ("big" + std::to_string(i)), kSize);
  }
  WriteFile(Root() / "boot.bin", "boot image");

  std::vector<std::unique_ptr<ControlClient>> sizers;
  for (int i = 0; i < 4; ++i) {
    sizers.push_back(Login());
    std::string name = "big" + std::to_string(i);
    sizers.back()->Send("TYPE A\r\nSIZE " + name + "\r\nSIZE " + name + "\r\nNOOP\r\n");
  }
  // The first SIZE is under way before the others are timed.
  EXPECT_EQ(sizers.front()->Line(), "200 Type set to A.\r\n");

  auto start = Clock::now();
  std::string output;
  auto fetched = m_dir.Path() / "fetched.bin";
  EXPECT_EQ(RunCommand({"tftp", "-m", "binary", "127.0.0.1", std::to_string(TftpPort()), "-c", "get",
                        "boot.bin", fetched.string()},
                       output, 20s),
            0)
      << output;
  auto tftpTime = Clock::now() - start;
  EXPECT_EQ(ReadFile(fetched), "boot image");
  start = Clock::now();
  auto client = Login();
  EXPECT_EQ(client->Command("NOOP"), "200 Command OK\r\n");
  auto loginTime = Clock::now() - start;
  EXPECT_LT(tftpTime, 1s);
  EXPECT_LT(loginTime, 1s);

  // Every pipelined command is answered, in order.
  for (size_t i = 0; i < sizers.size(); ++i) {
    SCOPED_TRACE(i);
    if (i > 0) {
      EXPECT_EQ(sizers[i]->Line(), "200 Type set to A.\r\n");
    }
    EXPECT_EQ(sizers[i]->Line(120s), "213 1073741824\r\n");
    EXPECT_EQ(sizers[i]->Line(120s), "213 1073741824\r\n");
    EXPECT_EQ(sizers[i]->Line(), "200 Command OK\r\n");
  }
}

// Names with a line break or a NUL are refused by every command that makes a name; the line reader ends a
// line at a CR, so a CR in the form of RFC 2640 arrives as a name ending in NUL.
TEST_F(FtpSlowWorkTest, NamesWithLineBreaksOrNulAreNotCreated) {
  StartServer({"FTP/UserSecurity=0"});
  WriteFile(Root() / "old.txt", "x");
  auto client = Login();
  DataListener data;
  EXPECT_EQ(client->Command("PORT " + data.PortArgument()), "200 PORT command successful.\r\n");
  const std::string nul(1, '\0');
  for (const std::string& command : {"STOR a" + nul + "b", "APPE a" + nul + "b", "MKD d" + nul + "e"}) {
    SCOPED_TRACE(command.substr(0, 4));
    EXPECT_EQ(client->Command(command), "553 Illegal file name\r\n");
  }
  client->Send("STOR a\r" + nul + "b\r\n");
  EXPECT_EQ(client->Line(), "553 Illegal file name\r\n");
  EXPECT_EQ(client->Line().substr(0, 4), "502 ");  // the rest of the line, "b"
  EXPECT_EQ(client->Command("RNFR old.txt"), "350 Requested file action pending further information\r\n");
  EXPECT_EQ(client->Command("RNTO new" + nul), "553 Illegal file name\r\n");
  EXPECT_EQ(client->Command("NOOP"), "200 Command OK\r\n");
  std::vector<std::string> names;
  for (const auto& entry : std::filesystem::directory_iterator(Root()))
    names.push_back(entry.path().filename());
  EXPECT_EQ(names, std::vector<std::string>{"old.txt"});
  EXPECT_FALSE(data.Accept(100ms));
}

// A name that holds CR LF (made here, as another program could) is listed with CR NUL and "?": no reply and
// no listing line is split, and the multi-line STAT reply ends where it should.
TEST_F(FtpSlowWorkTest, NamesWithLineBreaksCannotSplitAReply) {
  StartServer({"FTP/UserSecurity=0"});
  WriteFile(Root() / "x\r\n226 y", "12");
  auto client = Login();
  DataListener data;
  const std::string shown = "x\r\0?226 y"s;
  const std::string tail = " " + shown + "\r\n";  // the end of a LIST or STAT line

  for (std::string command : {"NLST", "LIST"}) {
    SCOPED_TRACE(command);
    EXPECT_EQ(client->Command("PORT " + data.PortArgument()), "200 PORT command successful.\r\n");
    EXPECT_EQ(client->Command(command), "150 File status OK ; about to open data connection\r\n");
    auto connection = data.Accept();
    ASSERT_TRUE(connection);
    std::vector<std::string> lines = SplitLines(connection->ReceiveAll());
    EXPECT_EQ(client->Line(), "226 Closing data connection\r\n");
    ASSERT_EQ(lines.size(), 1u);
    if (command == "NLST")
      EXPECT_EQ(lines[0], shown + "\r\n");
    else
      EXPECT_EQ(lines[0].substr(0, 35) + lines[0].substr(lines[0].size() - tail.size()),
                ListModeText(Root() / "x\r\n226 y") + " 1 owner group         2 " + tail);
  }

  for (std::string command : {"STAT *", "STAT x*"}) {
    SCOPED_TRACE(command);
    EXPECT_EQ(client->Command(command), "213- File status\r\n");
    std::vector<std::string> lines;
    for (std::string line = client->Line(); !line.empty() && line.rfind("213 ", 0) != 0;
         line = client->Line())
      lines.push_back(line);
    ASSERT_FALSE(lines.empty());
    EXPECT_EQ(lines.size(), command == "STAT *" ? 3u : 1u);
    EXPECT_EQ(lines.back().substr(lines.back().size() - tail.size()), tail);
    EXPECT_EQ(client->Command("NOOP"), "200 Command OK\r\n");
  }
}

}  // namespace
}  // namespace hx::test
