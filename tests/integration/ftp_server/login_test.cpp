// Logins: anonymous by the settings or by a profile, named users from the password file with their rights
// and home directories, and the refusals.
#include <algorithm>
#include <fstream>

#include "ftp_test_support.h"
#include "support/ftp_session/ftp_session_fixture.h"
#include "users/extract_field.h"
#include "users/password_codec.h"
#include "users/password_hash.h"

namespace hx::test {
namespace {

class FtpLoginTest : public FtpSessionTest {
 protected:
  void SetUp() override {
    StartServer();
    std::filesystem::create_directories(Home("bob") / "sub");
    WriteFile(Home("bob") / "bob.txt", "bob's");
  }
  std::filesystem::path Home(const std::string& name) const { return m_dir.Path() / "homes" / name; }
  std::string HomeDir(const std::string& name) const { return Home(name).string() + "/"; }
};

TEST_F(FtpLoginTest, NamedUserWithHisHomeAndRights) {
  AddUser("bob", "secret1", HomeDir("bob"), "11100000");  // login, upload, download
  auto client = Login("bob", "secret1");
  EXPECT_TRUE(WaitForLogRun({"FTP: Login attempt by: bob", "FTP: Login successful"}));
  EXPECT_EQ(client->Command("PWD"), "257 \"/\" is current directory\r\n");
  EXPECT_EQ(client->Command("SIZE bob.txt"), "213 5\r\n");
  EXPECT_EQ(client->Command("CWD sub"), "250 CWD command successful\r\n");
  EXPECT_EQ(client->Command("CWD ../.."), "250 CWD command successful\r\n");
  EXPECT_EQ(client->Command("PWD"), "257 \"/\" is current directory\r\n");
  EXPECT_EQ(client->Command("DELE bob.txt"),
            "550 File unavailable. User profile not allowed to delete files\r\n");
  EXPECT_EQ(client->Command("MKD x"),
            "550 File unavailable. User profile not allowed to create directories\r\n");
  EXPECT_EQ(client->Command("RMD sub"),
            "550 File unavailable. User profile not allowed to remove directories\r\n");
  EXPECT_EQ(client->Command("RNFR bob.txt"), "550 File unavailable. User profile has no access\r\n");
  DataListener data;
  EXPECT_EQ(client->Command("PORT " + data.PortArgument()), "200 PORT command successful.\r\n");
  EXPECT_EQ(client->Command("STOR bob.txt"),
            "550 File unavailable. Overwrite not allowed by user profile\r\n");
  EXPECT_EQ(client->Command("RETR bob.txt"), "150 File status OK ; about to open data connection\r\n");
  auto connection = data.Accept();
  ASSERT_TRUE(connection);
  EXPECT_EQ(connection->ReceiveAll(), "bob's");
  EXPECT_EQ(client->Line(), "226 File transfer successful.\r\n");
}

TEST_F(FtpLoginTest, ProfileKeptWithTheUsersCommand) {
  // The way a headless operator keeps profiles: the program's own command, while the server runs.
  std::string output;
  ASSERT_EQ(RunCommand({HarbinexBinary(), "users", "add", "dave", "--password", "dave123", "--home",
                        HomeDir("bob"), "--rights", "login,download,delete", "--dir", m_dir.Path().string()},
                       output),
            0)
      << output;
  auto client = Login("dave", "dave123");
  EXPECT_EQ(client->Command("SIZE bob.txt"), "213 5\r\n");
  DataListener data;
  EXPECT_EQ(client->Command("PORT " + data.PortArgument()), "200 PORT command successful.\r\n");
  EXPECT_EQ(client->Command("STOR x.txt"), "532 Need account for storing files\r\n");
  EXPECT_EQ(client->Command("DELE bob.txt"), "250 Requested file action OK, completed\r\n");
  ASSERT_EQ(RunCommand({HarbinexBinary(), "users", "edit", "dave", "--password", "other12", "--dir",
                        m_dir.Path().string()},
                       output),
            0)
      << output;
  auto again = Connect();
  EXPECT_EQ(again->Command("USER dave"), "331 User name ok, need password\r\n");
  EXPECT_EQ(CommandAfterPause(*again, "PASS dave123"), "530 Login access denied\r\n");
  EXPECT_EQ(again->Command("USER dave"), "331 User name ok, need password\r\n");
  EXPECT_EQ(again->Command("PASS other12"), "230 User logged in\r\n");
}

TEST_F(FtpLoginTest, RefusedLogins) {
  AddUser("bob", "secret1", HomeDir("bob"), "11111111");
  AddUser("locked", "secret1", HomeDir("bob"), "01111111");
  SetSetting("FTP", "AnonAllowed", "0");
  struct Case {
    std::string user, password;
  } cases[] = {{"bob", "secret2"}, {"bob", "secret"},     {"bob", ""},          {"Bob", "secret1"},
               {"eve", "secret1"}, {"locked", "secret1"}, {"anonymous", "me@"}, {"", ""}};
  // A connection each, all at once: every refusal takes its pause, on every connection at the same time.
  // Each from an address of its own, so that no address fails often enough to be held back.
  std::vector<std::unique_ptr<SessionClient>> clients;
  for (const Case& c : cases) {
    clients.push_back(Connect("127.0.0." + std::to_string(clients.size() + 1)));
    clients.back()->Send("USER " + c.user + "\r\nPASS " + c.password + "\r\nNOOP\r\n");
  }
  Advance(std::chrono::seconds(1), std::size(cases));
  for (size_t i = 0; i < std::size(cases); ++i) {
    const Case& c = cases[i];
    EXPECT_EQ(clients[i]->Line(), "331 User name ok, need password\r\n") << c.user;
    EXPECT_EQ(clients[i]->Line(), "530 Login access denied\r\n") << c.user;
    EXPECT_TRUE(WaitForLog("FTP: User " + c.user + " attempted access. User profile denied access"))
        << c.user;
    EXPECT_EQ(clients[i]->Line(), "530 Not logged in\r\n") << c.user;
  }
  // After a refusal the right password still works on the same connection.
  EXPECT_EQ(clients.back()->Command("USER bob"), "331 User name ok, need password\r\n");
  EXPECT_EQ(clients.back()->Command("PASS secret1"), "230 User logged in\r\n");
}

TEST_F(FtpLoginTest, RefusalIsAnsweredAfterAPauseAndLaterCommandsWait) {
  AddUser("bob", "secret1", HomeDir("bob"), "11111111");
  auto client = Connect();
  EXPECT_EQ(client->Command("USER bob"), "331 User name ok, need password\r\n");
  client->Send("PASS wrong\r\nNOOP\r\n");
  EXPECT_TRUE(client->Silent());
  Advance(std::chrono::milliseconds(999));
  EXPECT_TRUE(client->Silent());
  Advance(std::chrono::milliseconds(1));
  EXPECT_EQ(client->Line(), "530 Login access denied\r\n");
  EXPECT_EQ(client->Line(), "530 Not logged in\r\n");  // the NOOP, taken in its turn after the pause
}

TEST_F(FtpLoginTest, OldStoredFormIsReplacedByItsHashAtTheFirstLogin) {
  const std::string old = EncodePassword("oldpw12");
  AddStoredProfile(m_dir.Dir(), "olga", old, HomeDir("bob"), "11100000");
  AddUser("bob", "secret1", HomeDir("bob"), "11111111");
  const std::filesystem::path file = m_dir.Path() / "Harbinex.pwd";
  const std::string before = ReadFile(file);
  const std::string oldLine = "olga||" + old + "||" + HomeDir("bob") + "||1||1||1||0||0||0||0||0\r\n";
  ASSERT_EQ(before.substr(0, oldLine.size()), oldLine);

  // A wrong password leaves the old form alone.
  auto client = Connect();
  EXPECT_EQ(client->Command("USER olga"), "331 User name ok, need password\r\n");
  EXPECT_EQ(CommandAfterPause(*client, "PASS oldpw13"), "530 Login access denied\r\n");
  EXPECT_EQ(ReadFile(file), before);

  // The right one logs in, and the line holds its hash from then on, every other byte as it was.
  EXPECT_EQ(client->Command("USER olga"), "331 User name ok, need password\r\n");
  EXPECT_EQ(client->Command("PASS oldpw12"), "230 User logged in\r\n");
  const std::string after = ReadFile(file);
  const std::string stored = ExtractField(after, "||", 1);
  EXPECT_EQ(stored.rfind("$y$", 0), 0u) << stored;
  EXPECT_TRUE(CheckPassword("oldpw12", stored));
  EXPECT_EQ(after, "olga||" + stored + before.substr(6 + old.size()));

  // The second login checks the hash; a further one rewrites nothing.
  auto again = Login("olga", "oldpw12");
  EXPECT_EQ(again->Command("SIZE bob.txt"), "213 5\r\n");
  EXPECT_EQ(ReadFile(file), after);
  EXPECT_EQ(again->Command("USER olga"), "331 User name ok, need password\r\n");
  EXPECT_EQ(CommandAfterPause(*again, "PASS oldpw13"), "530 Login access denied\r\n");
}

TEST_F(FtpLoginTest, StoredPasswordInNoKnownFormRefusesAndIsLoggedOnce) {
  int address = 10;  // one each, so that the failures of one address stay below those that slow its logins
  for (const char* stored : {"garbage!", "", "$y$j75$8eFdd3fziC1PbEz2P98B.."}) {
    const std::string name = std::string("u") + std::to_string(std::string(stored).size());
    AddStoredProfile(m_dir.Dir(), name, stored, HomeDir("bob"), "11111111");
    const std::string entry =
        "FTP: The stored password of user " + name + " is in no known form; the login is refused";
    auto client = Connect("127.0.0." + std::to_string(address++));
    for (int attempt = 0; attempt < 2; ++attempt) {
      EXPECT_EQ(client->Command("USER " + name), "331 User name ok, need password\r\n");
      EXPECT_EQ(CommandAfterPause(*client, std::string("PASS ") + stored), "530 Login access denied\r\n")
          << stored;
    }
    EXPECT_TRUE(WaitForLog("FTP: User " + name + " attempted access. User profile denied access"));
    std::vector<std::string> entries = LogEntries();
    EXPECT_EQ(std::count(entries.begin(), entries.end(), entry), 1) << stored;
  }
}

// Guesses spread over many connections count for their address: from the sixth on, every login from it
// waits a second more per failure, a right password too, while another address logs in at once; a success
// clears the count.
TEST_F(FtpLoginTest, FailuresOfOneAddressSlowItsLoginsOnEveryConnection) {
  AddUser("bob", "secret1", HomeDir("bob"), "11111111");
  std::vector<std::unique_ptr<SessionClient>> guessers;
  for (int i = 0; i < 5; ++i) {
    guessers.push_back(Connect());
    EXPECT_EQ(guessers.back()->Command("USER bob"), "331 User name ok, need password\r\n");
    EXPECT_EQ(CommandAfterPause(*guessers.back(), "PASS wrong"), "530 Login access denied\r\n");
  }
  EXPECT_TRUE(
      WaitForLog("FTP: 127.0.0.1 failed to log in 5 times within a minute; its logins wait longer with "
                 "every further failure"));
  auto other = Connect("127.0.0.2");
  EXPECT_EQ(other->Command("USER bob"), "331 User name ok, need password\r\n");
  EXPECT_EQ(other->Command("PASS secret1"), "230 User logged in\r\n");
  auto held = Connect();
  EXPECT_EQ(held->Command("USER bob"), "331 User name ok, need password\r\n");
  EXPECT_EQ(CommandAfterPause(*held, "PASS secret1"), "230 User logged in\r\n");
  auto after = Connect();
  EXPECT_EQ(after->Command("USER bob"), "331 User name ok, need password\r\n");
  EXPECT_EQ(after->Command("PASS secret1"), "230 User logged in\r\n");
}

TEST_F(FtpLoginTest, DirectoryWithoutSeparator) {
  AddUser("bob", "secret1", Home("bob").string(), "11111111");  // no final "/"
  auto client = Login("bob", "secret1");
  EXPECT_EQ(client->Command("PWD"), "257 \"/\" is current directory\r\n");
  EXPECT_EQ(client->Command("SIZE bob.txt"), "213 5\r\n");
  EXPECT_EQ(client->Command("CWD sub"), "250 CWD command successful\r\n");
  EXPECT_EQ(client->Command("PWD"), "257 \"/sub/\" is current directory\r\n");
  // A sibling whose name continues the home's is outside.
  std::filesystem::create_directories(m_dir.Path() / "homes" / "bobby");
  EXPECT_EQ(client->Command("CWD ../../bobby"), "250 CWD command successful\r\n");
  EXPECT_EQ(client->Command("PWD"), "257 \"/\" is current directory\r\n");
}

TEST_F(FtpLoginTest, AnonymousProfileOfThePasswordFile) {
  std::filesystem::create_directories(Home("anon"));
  WriteFile(Home("anon") / "pub.txt", "p");
  AddUser("anonymous", "whatever", HomeDir("anon"), "10100000");
  auto client = Login("ANONYMOUS", "any password at all");
  EXPECT_EQ(client->Command("SIZE pub.txt"), "213 1\r\n");  // its own directory, not FDLDir
  DataListener data;
  EXPECT_EQ(client->Command("PORT " + data.PortArgument()), "200 PORT command successful.\r\n");
  EXPECT_EQ(client->Command("STOR up.txt"), "532 Need account for storing files\r\n");
}

TEST_F(FtpLoginTest, AnonymousProfileWithoutLoginRightIsRefused) {
  AddUser("anonymous", "whatever", RootDir(), "01111111");
  auto client = Connect();
  EXPECT_EQ(client->Command("USER anonymous"), "331 User name ok, need password\r\n");
  EXPECT_EQ(CommandAfterPause(*client, "PASS x"), "530 Login access denied\r\n");
}

TEST_F(FtpLoginTest, SecurityOffAdmitsEveryone) {
  SetSetting("FTP", "UserSecurity", "0");
  auto client = Login("nobody", "nothing");
  EXPECT_EQ(client->Command("MKD made"), "257 MKD Command successful.\r\n");
  EXPECT_EQ(client->Command("RMD made"), "250 Requested file action OK, completed\r\n");
  EXPECT_TRUE(WaitForLog("FTP: Directory " + RootDir() + "made/ was removed by nobody"));
}

TEST_F(FtpLoginTest, ClientTextCannotForgeProfileFields) {
  // The made-up anonymous profile carries the password; bars in it must not move the root or add rights.
  auto client = Login("anonymous", "x||/||1||1||1||1||1||1||1||1");
  EXPECT_EQ(client->Command("PWD"), "257 \"/\" is current directory\r\n");
  EXPECT_EQ(client->Command("SIZE /etc/passwd"), "550 File unavailable\r\n");
  EXPECT_EQ(client->Command("MKD x"),
            "550 File unavailable. User profile not allowed to create directories\r\n");
}

TEST_F(FtpLoginTest, NewUserReplacesTheLogin) {
  AddUser("bob", "secret1", HomeDir("bob"), "11111111");
  auto client = Login();
  EXPECT_EQ(client->Command("USER bob"), "331 User name ok, need password\r\n");
  EXPECT_EQ(client->Command("PWD"), "530 Not logged in\r\n");
  EXPECT_EQ(client->Command("PASS secret1"), "230 User logged in\r\n");
  EXPECT_EQ(client->Command("SIZE bob.txt"), "213 5\r\n");  // bob's root now
  EXPECT_EQ(client->Command("STAT"), "211- System status:\r\n");
  EXPECT_EQ(client->Lines(5)[2], "Logged in as : bob\r\n");
}

}  // namespace
}  // namespace hx::test
