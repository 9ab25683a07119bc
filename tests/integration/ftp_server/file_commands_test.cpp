// The file-system commands inside the root: directories, deletion, renaming, sizes, times, and every way of
// trying to leave the root.
#include <sys/stat.h>
#include <sys/time.h>
#include <unistd.h>

#include <algorithm>
#include <fstream>

#include "ftp_test_support.h"
#include "support/ftp_session/ftp_session_fixture.h"

namespace hx::test {
namespace {

class FtpFileCommandsTest : public FtpSessionTest {
 protected:
  void SetUp() override {
    StartServer({"FTP/UserSecurity=0"});  // every right, so that the commands themselves are tested
    std::filesystem::create_directories(Root() / "sub" / "deeper");
    WriteFile(Root() / "a.txt", "hello\n");
    WriteFile(m_dir.Path() / "outside.txt", "secret");
  }
};

TEST_F(FtpFileCommandsTest, CurrentDirectory) {
  auto client = Login();
  EXPECT_EQ(client->Command("PWD"), "257 \"/\" is current directory\r\n");
  EXPECT_EQ(client->Command("CWD sub"), "250 CWD command successful\r\n");
  EXPECT_EQ(client->Command("XPWD"), "257 \"/sub/\" is current directory\r\n");
  EXPECT_EQ(client->Command("XCWD deeper"), "250 CWD command successful\r\n");
  EXPECT_EQ(client->Command("PWD"), "257 \"/sub/deeper/\" is current directory\r\n");
  EXPECT_EQ(client->Command("CDUP"), "250 CWD command successful\r\n");
  EXPECT_EQ(client->Command("PWD"), "257 \"/sub/\" is current directory\r\n");
  EXPECT_EQ(client->Command("XCUP"), "250 CWD command successful\r\n");
  EXPECT_EQ(client->Command("CDUP"), "250 CWD command successful\r\n");  // at the root it stays there
  EXPECT_EQ(client->Command("PWD"), "257 \"/\" is current directory\r\n");
  EXPECT_EQ(client->Command("CWD /sub//./deeper"), "250 CWD command successful\r\n");
  EXPECT_EQ(client->Command("CWD \\sub"), "250 CWD command successful\r\n");
  EXPECT_EQ(client->Command("PWD"), "257 \"/sub/\" is current directory\r\n");
  EXPECT_EQ(client->Command("CWD ../../.."), "250 CWD command successful\r\n");
  EXPECT_EQ(client->Command("PWD"), "257 \"/\" is current directory\r\n");
  EXPECT_EQ(client->Command("CWD docs"), "550 docs : No such file or directory.\r\n");
  EXPECT_EQ(client->Command("PWD"), "257 \"/\" is current directory\r\n");
  // A final "." is the directory it stands in.
  EXPECT_EQ(client->Command("CWD sub"), "250 CWD command successful\r\n");
  for (const char* here : {"CWD ./.", "CWD .", "CWD deeper/..", "CWD ./deeper/../."}) {
    EXPECT_EQ(client->Command(here), "250 CWD command successful\r\n") << here;
    EXPECT_EQ(client->Command("PWD"), "257 \"/sub/\" is current directory\r\n") << here;
  }
}

// A reply names a file as the session sees it, from its root; where the root lies stays the server's own.
TEST_F(FtpFileCommandsTest, RepliesNameNoLocalPath) {
  auto client = Login();
  ASSERT_EQ(client->Command("CWD sub"), "250 CWD command successful\r\n");
  WriteFile(Root() / "sub" / "f.txt", "f");
  EXPECT_EQ(client->Command("CWD ../a.txt"), "550 ../a.txt : /a.txt is not a directory!\r\n");
  EXPECT_EQ(client->Command("CWD ./f.txt"), "550 ./f.txt : /sub/f.txt is not a directory!\r\n");
  EXPECT_EQ(client->Command("XRMD /sub/f.txt"), "550 /sub/f.txt is not a directory!\r\n");
  EXPECT_EQ(client->Command("CDUP"), "250 CWD command successful\r\n");
  EXPECT_EQ(client->Command("RMD a.txt"), "550 /a.txt is not a directory!\r\n");
}

TEST_F(FtpFileCommandsTest, MakeAndRemoveDirectories) {
  auto client = Login("maker", "pw");
  EXPECT_EQ(client->Command("MKD new"), "257 MKD Command successful.\r\n");
  EXPECT_TRUE(std::filesystem::is_directory(Root() / "new"));
  EXPECT_TRUE(WaitForLog("FTP: Directory " + RootDir() + "new was created by maker"));
  EXPECT_EQ(client->Command("XMKD sub/x"), "257 MKD Command successful.\r\n");
  EXPECT_EQ(client->Command("MKD new"), "550 Could not create directory\r\n");
  EXPECT_EQ(client->Command("MKD no/such/parent"), "550 Could not create directory\r\n");
  EXPECT_EQ(client->Command("MKD ../x"), "550 Access to directory denied\r\n");
  EXPECT_FALSE(std::filesystem::exists(m_dir.Path() / "x"));
  EXPECT_EQ(client->Command("RMD new"), "250 Requested file action OK, completed\r\n");
  EXPECT_FALSE(std::filesystem::exists(Root() / "new"));
  EXPECT_TRUE(WaitForLog("FTP: Directory " + RootDir() + "new/ was removed by maker"));
  EXPECT_EQ(client->Command("XRMD sub/x"), "250 Requested file action OK, completed\r\n");
  EXPECT_EQ(client->Command("RMD sub"), "550 Could not remove directory\r\n");  // not empty
  EXPECT_EQ(client->Command("RMD gone"), "550 No such file or directory.\r\n");
  // A path that leaves the root names the root, which is never removed.
  std::filesystem::remove_all(Root() / "sub");
  std::filesystem::remove(Root() / "a.txt");
  EXPECT_EQ(client->Command("RMD .."), "550 Could not remove directory\r\n");
  EXPECT_EQ(client->Command("RMD /"), "550 Could not remove directory\r\n");
  EXPECT_TRUE(std::filesystem::is_directory(Root()));
}

TEST_F(FtpFileCommandsTest, DeleteAndRename) {
  auto client = Login("joe", "pw");
  WriteFile(Root() / "b.txt", "bbb");
  EXPECT_EQ(client->Command("DELE b.txt"), "250 Requested file action OK, completed\r\n");
  EXPECT_FALSE(std::filesystem::exists(Root() / "b.txt"));
  EXPECT_TRUE(WaitForLog("FTP: File " + RootDir() + "b.txt was deleted by joe"));
  EXPECT_EQ(client->Command("DELE b.txt"), "550 Could not remove file\r\n");
  EXPECT_EQ(client->Command("DELE sub"), "550 Could not remove file\r\n");
  EXPECT_EQ(client->Command("DELE ../outside.txt"), "550 Access to directory denied not found\r\n");
  EXPECT_EQ(client->Command("DELE a..b"), "550 Access to directory denied not found\r\n");
  EXPECT_TRUE(std::filesystem::exists(m_dir.Path() / "outside.txt"));

  EXPECT_EQ(client->Command("RNFR a.txt"), "350 Requested file action pending further information\r\n");
  EXPECT_EQ(client->Command("NOOP"), "200 Command OK\r\n");  // the pending source survives other commands
  EXPECT_EQ(client->Command("RNTO sub/c.txt"), "250 Requested file action OK, completed\r\n");
  EXPECT_EQ(ReadFile(Root() / "sub" / "c.txt"), "hello\n");
  EXPECT_TRUE(WaitForLog("FTP: joe renamed file " + RootDir() + "a.txt to " + RootDir() + "sub/c.txt"));
  EXPECT_EQ(client->Command("RNTO again.txt"), "553 Could not rename file\r\n");  // nothing pending
  EXPECT_EQ(client->Command("RNFR missing"), "450 Filename does not exist\r\n");
  EXPECT_EQ(client->Command("RNFR ../outside.txt"), "450 Access to directory denied\r\n");
  WriteFile(Root() / "d.txt", "d");
  EXPECT_EQ(client->Command("RNFR d.txt"), "350 Requested file action pending further information\r\n");
  EXPECT_EQ(client->Command("RNTO sub/c.txt"), "553 Could not rename file\r\n");  // target exists
  EXPECT_EQ(client->Command("RNFR d.txt"), "350 Requested file action pending further information\r\n");
  EXPECT_EQ(client->Command("RNTO ../moved.txt"), "553 Access to directory denied\r\n");
  EXPECT_FALSE(std::filesystem::exists(m_dir.Path() / "moved.txt"));
  EXPECT_EQ(client->Command("RNFR sub"), "350 Requested file action pending further information\r\n");
  EXPECT_EQ(client->Command("RNTO renamed"), "250 Requested file action OK, completed\r\n");
  EXPECT_TRUE(std::filesystem::is_directory(Root() / "renamed" / "deeper"));
}

TEST_F(FtpFileCommandsTest, PendingRenameForgottenByANewLogin) {
  auto client = Login();
  for (std::string login : {"USER", "REIN"}) {
    EXPECT_EQ(client->Command("RNFR a.txt"), "350 Requested file action pending further information\r\n");
    if (login == "REIN") client->Send("REIN\r\n");
    EXPECT_EQ(client->Command("USER anonymous"), "331 User name ok, need password\r\n");
    EXPECT_EQ(client->Command("PASS x"), "230 User logged in\r\n");
    EXPECT_EQ(client->Command("RNTO b.txt"), "553 Could not rename file\r\n") << login;
    EXPECT_TRUE(std::filesystem::exists(Root() / "a.txt")) << login;
  }
}

TEST_F(FtpFileCommandsTest, SizeTimeAndRestart) {
  auto client = Login();
  WriteFile(Root() / "text.txt", "123456789\n123456789\n123456789\n");
  EXPECT_EQ(client->Command("SIZE text.txt"), "213 33\r\n");  // type A: every LF counts as CR LF
  EXPECT_EQ(client->Command("TYPE I"), "200 Type set to I.\r\n");
  EXPECT_EQ(client->Command("SIZE text.txt"), "213 30\r\n");
  EXPECT_EQ(client->Command("SIZE sub"), "213 0\r\n");
  EXPECT_EQ(client->Command("SIZE missing"), "213 Error accessing file\r\n");
  EXPECT_EQ(client->Command("SIZE ../outside.txt"), "213 Access to directory denied\r\n");
  // A sparse file of 5 GiB: sizes are 64-bit.
  { std::ofstream big(Root() / "big.bin", std::ios::binary); }
  std::filesystem::resize_file(Root() / "big.bin", 5368709120ULL);
  EXPECT_EQ(client->Command("SIZE big.bin"), "213 5368709120\r\n");

  struct timeval times[2] = {{1000000000, 0}, {1000000000, 0}};
  ASSERT_EQ(::utimes((Root() / "text.txt").c_str(), times), 0);
  EXPECT_EQ(client->Command("MDTM text.txt"), "213 20010909014640\r\n");  // UTC
  EXPECT_EQ(client->Command("MDTM missing"), "213 File status unavailable\r\n");
  EXPECT_EQ(client->Command("MDTM ../outside.txt"), "550 Access to directory denied\r\n");

  EXPECT_EQ(client->Command("REST 100"), "350 Requested file action pending further information\r\n");
  EXPECT_EQ(client->Command("REST 6442450944"), "350 Requested file action pending further information\r\n");
  EXPECT_EQ(client->Command("REST abc"), "501 Syntax error in parameters\r\n");
  EXPECT_EQ(client->Command("REST"), "501 Syntax error in parameters\r\n");
  EXPECT_EQ(client->Command("REST -1"), "350 Requested file action pending further information\r\n");
}

TEST_F(FtpFileCommandsTest, FileStatusOverTheControlConnection) {
  auto client = Login();
  EXPECT_EQ(client->Command("STAT sub"), "213- File status\r\n");
  std::vector<std::string> lines = client->Lines(4);
  EXPECT_EQ(lines[0].substr(0, 35), ListModeText(Root() / "sub") + " 1 owner group         0 ");
  EXPECT_EQ(lines[0].substr(lines[0].size() - 4), " .\r\n");
  EXPECT_EQ(lines[1].substr(lines[1].size() - 5), " ..\r\n");
  EXPECT_EQ(lines[2].substr(lines[2].size() - 9), " deeper\r\n");
  EXPECT_EQ(lines[3], "213 File status complete\r\n");
  EXPECT_EQ(client->Command("STAT a.txt"), "213- File status\r\n");
  std::string line = client->Line();
  EXPECT_EQ(line.substr(0, 35), ListModeText(Root() / "a.txt") + " 1 owner group         6 ");
  EXPECT_EQ(client->Line(), "213 File status complete\r\n");
  EXPECT_EQ(client->Command("STAT missing"), "213 File not found\r\n");
  EXPECT_EQ(client->Command("STAT ../outside.txt"), "213 File not found\r\n");
}

TEST_F(FtpFileCommandsTest, HostilePathsNeverReachOutside) {
  auto client = Login();
  const std::string attempts[] = {"../outside.txt",
                                  "..\\outside.txt",
                                  "/../outside.txt",
                                  "sub/../../outside.txt",
                                  "sub/deeper/../../../outside.txt",
                                  "....//outside.txt",
                                  "..%2foutside.txt",
                                  "a..b/../outside.txt"};
  for (const std::string& path : attempts) {
    EXPECT_EQ(client->Command("DELE " + path).substr(0, 4), "550 ") << path;
    EXPECT_EQ(client->Command("MDTM " + path).substr(0, 4), "550 ") << path;
    EXPECT_EQ(client->Command("RNFR " + path).substr(0, 4), "450 ") << path;
  }
  // Absolute paths name the root's tree.
  EXPECT_EQ(client->Command("SIZE " + (m_dir.Path() / "outside.txt").string()),
            "213 Error accessing file\r\n");
  // A NUL byte inside a path is refused outright.
  EXPECT_EQ(client->Command(std::string("DELE a.txt\0../x", 15)),
            "550 Access to directory denied not found\r\n");
  EXPECT_EQ(ReadFile(m_dir.Path() / "outside.txt"), "secret");
  EXPECT_TRUE(std::filesystem::exists(Root() / "a.txt"));
}

TEST_F(FtpFileCommandsTest, LinksOutOfTheRootLeadNowhere) {
  WriteFile(m_dir.Path() / "outdir" / "secret", "secret");
  std::filesystem::create_symlink(m_dir.Path() / "outside.txt", Root() / "file-out");
  std::filesystem::create_symlink(m_dir.Path() / "outdir", Root() / "dir-out");
  auto client = Login("user", "pw");
  EXPECT_EQ(client->Command("TYPE I"), "200 Type set to I.\r\n");
  DataListener data;
  EXPECT_EQ(client->Command("PORT " + data.PortArgument()), "200 PORT command successful.\r\n");
  EXPECT_EQ(client->Command("RETR file-out"), "550 File unavailable\r\n");
  EXPECT_EQ(client->Command("RETR dir-out/secret"), "550 File unavailable\r\n");
  EXPECT_EQ(client->Command("STOR file-out"), "550 File unavailable\r\n");
  EXPECT_EQ(client->Command("APPE dir-out/secret"), "550 File unavailable\r\n");
  EXPECT_EQ(client->Command("STOR dir-out/new"), "550 File unavailable\r\n");
  EXPECT_EQ(client->Command("LIST dir-out/"), "550 File unavailable\r\n");
  EXPECT_EQ(client->Command("STAT dir-out/*.*"), "213 File not found\r\n");
  EXPECT_EQ(client->Command("SIZE file-out"), "213 Error accessing file\r\n");
  EXPECT_EQ(client->Command("MDTM file-out"), "213 File status unavailable\r\n");
  EXPECT_EQ(client->Command("CWD dir-out"), "550 dir-out : No such file or directory.\r\n");
  EXPECT_EQ(client->Command("MKD dir-out/made"), "550 Could not create directory\r\n");
  EXPECT_EQ(client->Command("DELE dir-out/secret"), "550 Could not remove file\r\n");
  EXPECT_EQ(client->Command("RNFR dir-out/secret"), "450 Filename does not exist\r\n");
  EXPECT_EQ(client->Command("RNFR a.txt"), "350 Requested file action pending further information\r\n");
  EXPECT_EQ(client->Command("RNTO dir-out/moved"), "553 Could not rename file\r\n");
  EXPECT_EQ(ReadFile(m_dir.Path() / "outside.txt"), "secret");
  EXPECT_EQ(ReadFile(m_dir.Path() / "outdir" / "secret"), "secret");
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(m_dir.Path() / "outdir"), {}), 1);
  EXPECT_TRUE(std::filesystem::exists(Root() / "a.txt"));
  EXPECT_FALSE(data.Accept(std::chrono::milliseconds(0)));  // no data connection was ever opened
}

// The default private folder removed and its name taken by another user's link: every command beneath it
// is refused with a clear reply, none reaches the link's target, and the log says so once.
TEST_F(FtpFileCommandsTest, SwappedPrivateFolderIsNeverFollowed) {
  std::string folder = (m_dir.Path() / ("harbinex-" + std::to_string(::geteuid()))).string();
  SetSetting("FTP", "FDLDir", folder + "/");
  auto client = Login("user", "pw");
  EXPECT_EQ(client->Command("MKD made"), "257 MKD Command successful.\r\n");  // made when first used
  EXPECT_TRUE(std::filesystem::is_directory(folder + "/made"));

  std::filesystem::remove_all(folder);
  WriteFile(m_dir.Path() / "outdir" / "secret", "secret");
  std::filesystem::create_directory_symlink(m_dir.Path() / "outdir", folder);
  GiveToNobody(folder);
  DataListener data;
  EXPECT_EQ(client->Command("PORT " + data.PortArgument()), "200 PORT command successful.\r\n");
  for (const char* command :
       {"RETR secret", "STOR new", "APPE secret", "LIST", "NLST", "SIZE secret", "MDTM secret", "CWD made",
        "MKD made", "DELE secret", "RNFR secret", "STAT secret"})
    EXPECT_EQ(client->Command(command), "550 Transfer folder is missing\r\n") << command;
  EXPECT_EQ(client->Command("PWD"), "257 \"/\" is current directory\r\n");
  EXPECT_EQ(ReadFile(m_dir.Path() / "outdir" / "secret"), "secret");
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(m_dir.Path() / "outdir"), {}), 1);
  EXPECT_FALSE(data.Accept(std::chrono::milliseconds(0)));
  std::string entry = "FTP: Transfer folder is missing: " + folder;
  ASSERT_TRUE(WaitForLog(entry));
  std::vector<std::string> entries = LogEntries();
  EXPECT_EQ(std::count(entries.begin(), entries.end(), entry), 1);
}

}  // namespace
}  // namespace hx::test
