// The commands of mirror and sync tools inside the process: MFMT and SITE UTIME set a file's times with the
// rights of an upload that replaces it, HASH gives a file's digest with the right of a download.
#include <sys/stat.h>

#include <cerrno>

#include "ftp_test_support.h"
#include "support/ftp_session/ftp_session_fixture.h"

namespace hx::test {
namespace {

class FtpSyncCommandsTest : public FtpSessionTest {
 protected:
  void SetUp() override {
    StartServer();
    std::filesystem::create_directories(Root() / "sub");
    WriteFile(Root() / "a b.txt", "abc");
    WriteFile(m_dir.Path() / "outside.txt", "secret");
  }
  // Every right but the ones that are '0' in `rights` (login, upload, download, overwrite, ...).
  std::unique_ptr<SessionClient> LoginWith(const std::string& rights) {
    AddUser("u" + rights, "pw", RootDir(), rights);
    return Login("u" + rights, "pw");
  }
  static struct stat Stat(const std::filesystem::path& path) {
    struct stat st {};
    EXPECT_EQ(::stat(path.c_str(), &st), 0) << path;
    return st;
  }
};

TEST_F(FtpSyncCommandsTest, MfmtAndSiteUtimeSetTimes) {
  auto client = LoginWith("11111111");
  struct Case {
    std::string command;
    std::string reply;
    std::time_t modified;  // 0: unchanged
    std::time_t accessed;  // 0: unchanged
  } cases[] = {
      {"MFMT 20200615120007 a b.txt", "213 Modify=20200615120007; a b.txt\r\n", 1592222407, 0},
      {"SITE UTIME a b.txt 20190101000000 20200101000000 20200101000000 UTC",
       "200 SITE UTIME command successful\r\n", 1577836800, 1546300800},
      {"site utime 20180101000000 a b.txt", "200 SITE UTIME command successful\r\n", 1514764800, 1514764800},
      {"MFMT 20201301000000 a b.txt", "501 Syntax error in parameters\r\n", 0, 0},
      {"MFMT 20200615120007", "501 Syntax error in parameters\r\n", 0, 0},
      {"SITE UTIME", "501 Syntax error in parameters\r\n", 0, 0},
      {"MFMT 20200615120007 missing.txt", "550 File unavailable\r\n", 0, 0},
      {"MFMT 20200615120007 ../outside.txt", "550 File unavailable\r\n", 0, 0},
      {"SITE UTIME 20200615120007 ../outside.txt", "550 File unavailable\r\n", 0, 0},
      // A folder's time can be set as well.
      {"MFMT 20000101000000 sub", "213 Modify=20000101000000; sub\r\n", 0, 0},
      // Every other SITE command keeps its answer.
      {"SITE CHMOD 644 a b.txt", "502 Command SITE CHMOD 644 a b.txt not implemented\r\n", 0, 0},
  };
  for (const Case& c : cases) {
    struct stat before = Stat(Root() / "a b.txt");
    EXPECT_EQ(client->Command(c.command), c.reply);
    struct stat after = Stat(Root() / "a b.txt");
    EXPECT_EQ(after.st_mtim.tv_sec, c.modified ? c.modified : before.st_mtim.tv_sec) << c.command;
    EXPECT_EQ(after.st_atim.tv_sec, c.accessed ? c.accessed : before.st_atim.tv_sec) << c.command;
  }
  EXPECT_EQ(Stat(Root() / "sub").st_mtim.tv_sec, 946684800);
  EXPECT_NE(Stat(m_dir.Path() / "outside.txt").st_mtim.tv_sec, 1592222407);
  EXPECT_EQ(ReadFile(Root() / "a b.txt"), "abc");
}

TEST_F(FtpSyncCommandsTest, RightsOfEachCommand) {
  struct Case {
    std::string rights;
    std::string command;
    std::string reply;
  } cases[] = {
      {"10111111", "MFMT 20200615120007 a b.txt", "532 Need account for storing files\r\n"},
      {"11101111", "MFMT 20200615120007 a b.txt",
       "550 File unavailable. Overwrite not allowed by user profile\r\n"},
      {"10111111", "SITE UTIME 20200615120007 a b.txt", "532 Need account for storing files\r\n"},
      {"11101111", "SITE UTIME 20200615120007 a b.txt",
       "550 File unavailable. Overwrite not allowed by user profile\r\n"},
      {"11011111", "HASH a b.txt", "550 Requested action not taken. No access rights.\r\n"},
      {"11010000", "MFMT 20200615120007 a b.txt", "213 Modify=20200615120007; a b.txt\r\n"},
      {"10100000", "HASH a b.txt",
       "213 SHA-256 0-3 ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad a b.txt\r\n"},
  };
  for (const Case& c : cases) EXPECT_EQ(LoginWith(c.rights)->Command(c.command), c.reply) << c.rights;
}

TEST_F(FtpSyncCommandsTest, HashOfEachAlgorithmAndItsRefusals) {
  auto client = LoginWith("11111111");
  const std::pair<std::string, std::string> cases[] = {
      {"OPTS HASH", "200 SHA-256\r\n"},
      {"HASH a b.txt",
       "213 SHA-256 0-3 ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad a b.txt\r\n"},
      {"OPTS HASH sha-1", "200 SHA-1\r\n"},
      {"HASH /a b.txt", "213 SHA-1 0-3 a9993e364706816aba3e25717850c26c9cd0d89d /a b.txt\r\n"},
      {"OPTS HASH SHA-512", "501 Unknown algorithm, current selection not changed\r\n"},
      {"OPTS HASH MD5", "200 MD5\r\n"},
      {"HASH a b.txt", "213 MD5 0-3 900150983cd24fb0d6963f7d28e17f72 a b.txt\r\n"},
      {"HASH", "501 Syntax error in parameters\r\n"},
      {"HASH missing", "550 File unavailable\r\n"},
      {"HASH sub", "550 File unavailable\r\n"},
      {"HASH ../outside.txt", "550 File unavailable\r\n"},
  };
  for (const auto& [command, reply] : cases) EXPECT_EQ(client->Command(command), reply);
  EXPECT_EQ(client->Command("FEAT"), "211- Feature listing\r\n");
  std::vector<std::string> features = client->Lines(11);
  EXPECT_NE(std::find(features.begin(), features.end(), " HASH SHA-256;SHA-1;MD5*\r\n"), features.end());

  // Another session writes the file: no digest until it is done. Readers do not stand in the way.
  int error = 0;
  SharedFile writer = SharedFile::Open(m_shares, Root() / "a b.txt", FileAccess::Write, ShareMode::Exclusive,
                                       Disposition::OpenExisting, error);
  ASSERT_TRUE(writer.IsOpen());
  EXPECT_EQ(client->Command("HASH a b.txt"), "450 Requested file action not taken. File busy\r\n");
  writer.Close();
  SharedFile reader = SharedFile::Open(m_shares, Root() / "a b.txt", FileAccess::Read, ShareMode::DenyWrite,
                                       Disposition::OpenExisting, error);
  EXPECT_EQ(client->Command("HASH a b.txt"), "213 MD5 0-3 900150983cd24fb0d6963f7d28e17f72 a b.txt\r\n");
  // A file the system refuses to open is unavailable, not busy.
  m_files.Fail("OpenShared", "a b.txt", EACCES);
  m_files.Fail("Open", "a b.txt", EACCES);
  EXPECT_EQ(client->Command("HASH a b.txt"), "550 File unavailable\r\n");
}

}  // namespace
}  // namespace hx::test
