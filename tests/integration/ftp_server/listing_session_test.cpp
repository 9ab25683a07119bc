// Listings as sessions make them: LIST's dates against the session's clock, and MLSD, MLST and OPTS MLST
// with the facts a profile's rights give.
#include <sys/stat.h>
#include <sys/time.h>

#include "ftp_test_support.h"
#include "support/ftp_session/ftp_session_fixture.h"

namespace hx::test {
namespace {

class FtpListingSessionTest : public FtpSessionTest {
 protected:
  FtpListingSessionTest() { StartServer(); }
  // PORT to the listener, then `command`; the data it sent, after "150" and before "226" (or the refusal
  // in `reply`, with no data).
  std::string DataCommand(SessionClient& client, const std::string& command, std::string* reply = nullptr) {
    EXPECT_EQ(client.Command("PORT " + m_data.PortArgument()), "200 PORT command successful.\r\n");
    std::string first = client.Command(command);
    if (reply) *reply = first;
    if (first != "150 File status OK ; about to open data connection\r\n") return {};
    auto connection = m_data.Accept();
    EXPECT_TRUE(connection) << command;
    std::string text = connection ? connection->ReceiveAll() : std::string();
    EXPECT_EQ(client.Line(), "226 Closing data connection\r\n") << command;
    return text;
  }
  static std::string Hex(std::uint64_t value) {
    char text[24];
    std::snprintf(text, sizeof text, "%llx", static_cast<unsigned long long>(value));
    return text;
  }
  std::string Unique(const std::filesystem::path& path) const {
    struct stat st {};
    EXPECT_EQ(::stat(path.c_str(), &st), 0);
    return Hex(st.st_dev) + "U" + Hex(st.st_ino);
  }

  DataListener m_data;
};

// A file is "recent" while the session's clock says so: the time of day now, the year once six months have
// passed on that clock.
TEST_F(FtpListingSessionTest, ListDatesFollowTheSessionsClock) {
  WriteFile(Root() / "f.txt", "x");
  auto client = Login();
  std::string line = DataCommand(*client, "LIST");
  ASSERT_GT(line.size(), 9u);
  EXPECT_EQ(line[line.size() - 11], ':') << line;  // "... HH:MM f.txt\r\n"
  struct Case {
    int days;
    bool timeOfDay;
  } cases[] = {{100, true}, {100, false}};  // 100 days in, then 200
  for (const Case& c : cases) {
    m_clock.Advance(std::chrono::hours(24 * c.days));
    line = DataCommand(*client, "LIST f.txt");
    ASSERT_GT(line.size(), 14u);
    EXPECT_EQ(line[line.size() - 11] == ':', c.timeOfDay) << line;
    std::string year = line.substr(line.size() - 14, 6);  // "  YYYY" before " f.txt\r\n"
    EXPECT_EQ(year.substr(0, 2) == "  " && year.find_first_not_of("0123456789", 2) == std::string::npos,
              !c.timeOfDay)
        << line;
  }
}

TEST_F(FtpListingSessionTest, MlsdAndMlstShowTheFactsOfTheProfile) {
  std::filesystem::create_directories(Root() / "sub" / "deeper");
  WriteFile(Root() / "sub" / "a.bin", "12345");
  struct timespec times[2] = {{1592222400, 250000000}, {1592222400, 250000000}};
  ASSERT_EQ(::utimensat(AT_FDCWD, (Root() / "sub" / "a.bin").c_str(), times, 0), 0);
  // Download and rename only.
  AddUser("reader", "secret1", RootDir(), "10101000");
  auto client = Login("reader", "secret1");
  std::string sub = DataCommand(*client, "MLSD sub");
  std::vector<std::string> lines = SplitLines(sub);
  ASSERT_EQ(lines.size(), 4u) << sub;
  EXPECT_EQ(lines[0].substr(0, 10), "type=cdir;");
  EXPECT_EQ(lines[0].substr(lines[0].size() - 4), " .\r\n");
  EXPECT_EQ(lines[1].substr(0, 10), "type=pdir;");
  EXPECT_EQ(lines[2], "type=file;size=5;modify=20200615120000.250;perm=fr;unique=" +
                          Unique(Root() / "sub" / "a.bin") + "; a.bin\r\n");
  EXPECT_EQ(lines[3].substr(0, 9), "type=dir;");
  EXPECT_NE(lines[3].find(";perm=efl;unique=" + Unique(Root() / "sub" / "deeper") + "; deeper\r\n"),
            std::string::npos)
      << lines[3];

  EXPECT_EQ(client->Command("MLST sub/a.bin"), "250- Listing /sub/a.bin\r\n");
  EXPECT_EQ(client->Lines(2),
            (std::vector<std::string>{" " + lines[2].substr(0, lines[2].size() - 8) + " /sub/a.bin\r\n",
                                      "250 End\r\n"}));
  EXPECT_EQ(client->Command("CWD sub"), "250 CWD command successful\r\n");
  EXPECT_EQ(client->Command("MLST"), "250- Listing /sub\r\n");
  EXPECT_EQ(client->Line().substr(0, 10), " type=dir;");
  EXPECT_EQ(client->Line(), "250 End\r\n");
  EXPECT_EQ(client->Command("MLST /"), "250- Listing /\r\n");
  EXPECT_EQ(client->Line().substr(0, 10), " type=dir;");
  EXPECT_EQ(client->Line(), "250 End\r\n");

  // The facts chosen stay chosen, for MLSD as for MLST, and FEAT marks them.
  EXPECT_EQ(client->Command("OPTS MLST size;Type;x.unknown;"), "200 MLST OPTS type;size;\r\n");
  EXPECT_EQ(DataCommand(*client, "MLSD"),
            "type=cdir; .\r\ntype=pdir; ..\r\ntype=file;size=5; a.bin\r\n"
            "type=dir; deeper\r\n");
  EXPECT_EQ(client->Command("MLST a.bin"), "250- Listing /sub/a.bin\r\n");
  EXPECT_EQ(client->Lines(2), (std::vector<std::string>{" type=file;size=5; /sub/a.bin\r\n", "250 End\r\n"}));
  client->Send("FEAT\r\n");
  std::vector<std::string> feat = client->Lines(12);
  EXPECT_NE(std::find(feat.begin(), feat.end(), " MLST type*;size*;modify;perm;unique;\r\n"), feat.end());

  // What cannot be listed gets the refusals of LIST; a file is no folder for MLSD.
  struct Case {
    std::string command, reply;
  } cases[] = {
      {"MLSD missing", "550 File unavailable\r\n"}, {"MLSD ../../..", "550 File unavailable\r\n"},
      {"MLSD a.bin", "501 Not a directory\r\n"},    {"MLST missing", "550 File unavailable\r\n"},
      {"MLST ../../x", "550 File unavailable\r\n"},
  };
  for (const Case& c : cases) {
    std::string reply;
    EXPECT_EQ(DataCommand(*client, c.command, &reply), "");
    EXPECT_EQ(reply, c.reply) << c.command;
  }
  EXPECT_FALSE(m_data.Accept(std::chrono::milliseconds(100)));
}

}  // namespace
}  // namespace hx::test
