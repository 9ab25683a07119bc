#include "app/server_app.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <functional>

#include "app/private_directory.h"

#include "support/recording_frontend.h"
#include "support/temp_dir.h"

namespace hx {
namespace {

// A listener that opens as it is told, so that start-up can be checked without sockets.
class FakeListener : public Listener {
 public:
  explicit FakeListener(bool opens) : m_opens(opens) {}
  bool Open() override { return m_opens; }
  std::uint16_t Port() const override { return 4242; }

 private:
  bool m_opens;
};

ServerApp::Services FakeServices(bool tftpOpens, bool ftpOpens) {
  return {[=](AppContext&, asio::io_context&) { return std::make_unique<FakeListener>(tftpOpens); },
          [=](AppContext&, asio::io_context&) { return std::make_unique<FakeListener>(ftpOpens); },
          {}};
}

TEST(ServerAppTest, FirstStartWritesEveryDefault) {
  test::TempDir dir;
  test::RecordingFrontend frontend;
  ServerApp app(dir.Path(), frontend, FakeServices(true, true));
  ASSERT_TRUE(app.InitInstance());
  ConfigStore& c = app.Config();
  struct Expect {
    const char* section;
    const char* key;
    int value;
  } ints[] = {{"General", "SystemTray", 0}, {"General", "Quorin", 0},       {"General", "Logging", 1},
              {"General", "Debugging", 0},  {"TFTP", "TFTPServer", 1},      {"FTP", "FTPServer", 1},
              {"TFTP", "TMakeNewDirs", 1},  {"TFTP", "TOverWriteFiles", 0}, {"TFTP", "TRetries", 5},
              {"TFTP", "TTimeout", 5},      {"TFTP", "TPort", 69},          {"FTP", "FPort", 21},
              {"FTP", "FDataPort", 20},     {"FTP", "FAllowUpload", 1},     {"FTP", "FAllowDownload", 1},
              {"FTP", "FOverwrite", 0},     {"FTP", "AnonAllowed", 1},      {"FTP", "UserSecurity", 1},
              {"FTP", "FPassive", 1}};
  for (const auto& e : ints) EXPECT_EQ(c.GetProfileInt(e.section, e.key, -99), e.value) << e.key;
  std::string temp = *PrivateTransferDirectory();
  EXPECT_EQ(temp.back(), '/');
  EXPECT_EQ(c.GetProfileString("TFTP", "TDLDir"), temp);
  EXPECT_EQ(c.GetProfileString("FTP", "FDLDir"), temp);
  EXPECT_EQ(c.GetProfileString("FTP", "FPassivePorts", "missing"), "0");
  EXPECT_EQ(c.GetProfileString("FTP", "FPassiveAddress", "missing"), "");
  // Logging was read with its read default (off) before the defaults were written: off during a first run.
  EXPECT_FALSE(app.Log().Logging());
  EXPECT_TRUE(app.TftpServiceOn());
  EXPECT_EQ(app.TftpPort(), 4242);
  auto rows = app.Registry().Rows();
  ASSERT_EQ(rows.size(), 1u);
  EXPECT_EQ(rows[0].cells[kColStatus], "Harbinex V1.1.007.");
  EXPECT_EQ(app.ExitInstance(), 0);
}

// The TFTP option keys join the TFTP section at the first start; a later start keeps what the file says.
TEST(ServerAppTest, FirstStartWritesTheTftpOptionKeys) {
  test::TempDir dir;
  test::RecordingFrontend frontend;
  {
    ServerApp app(dir.Path(), frontend, FakeServices(true, true));
    ASSERT_TRUE(app.InitInstance());
    EXPECT_EQ(app.Config().GetProfileInt("TFTP", "TOptions", -1), 1);
    EXPECT_EQ(app.Config().GetProfileInt("TFTP", "TMaxBlockSize", -1), 65464);
    EXPECT_EQ(app.Config().GetProfileInt("TFTP", "TMaxWindowSize", -1), 64);
    app.Config().WriteProfileInt("TFTP", "TOptions", 0);
    app.ExitInstance();
  }
  ServerApp again(dir.Path(), frontend, FakeServices(true, true));
  ASSERT_TRUE(again.InitInstance());
  EXPECT_EQ(again.Config().GetProfileInt("TFTP", "TOptions", -1), 0);
  again.ExitInstance();
}

TEST(ServerAppTest, StartKeepsHandEditsAndResetsDebugging) {
  test::TempDir dir;
  test::WriteFile(
      dir.Path() / "Harbinex.ini",
      "[General]\nDebugging=3\nLogging=0\nQuorin=1\n[TFTP]\nTRetries=abc\nTTimeout=30\nTDLDir=/srv/tftp/\n");
  test::RecordingFrontend frontend;
  ServerApp app(dir.Path(), frontend, FakeServices(false, true));
  ASSERT_TRUE(app.InitInstance());
  ConfigStore& c = app.Config();
  EXPECT_EQ(c.GetProfileInt("General", "Debugging", -1), 0);
  EXPECT_EQ(c.GetProfileInt("General", "Quorin", -1), 1);  // off only at a first start
  EXPECT_EQ(c.GetProfileString("TFTP", "TRetries"), "0");
  EXPECT_EQ(c.GetProfileInt("TFTP", "TTimeout", -1), 30);
  EXPECT_EQ(c.GetProfileString("TFTP", "TDLDir"), "/srv/tftp/");
  // A service whose listener cannot open is left off, and its setting says so.
  EXPECT_FALSE(app.TftpServiceOn());
  EXPECT_EQ(c.GetProfileInt("TFTP", "TFTPServer", -1), 0);
  EXPECT_TRUE(app.FtpServiceOn());
  EXPECT_FALSE(app.SetFtpService(false));
  EXPECT_EQ(c.GetProfileInt("FTP", "FTPServer", -1), 0);
  app.ExitInstance();
}

TEST(ServerAppTest, HeadlessStartKeepsTheSettingOfAServiceThatCannotOpen) {
  test::TempDir dir;
  test::WriteFile(dir.Path() / "Harbinex.ini", "[FTP]\nFTPServer=0\n");
  test::RecordingFrontend frontend;
  ServerApp app(dir.Path(), frontend, FakeServices(false, true), ServerApp::Mode::Headless);
  ASSERT_TRUE(app.InitInstance());
  EXPECT_FALSE(app.TftpServiceOn());
  EXPECT_EQ(app.Config().GetProfileInt("TFTP", "TFTPServer", -1), 1);
  EXPECT_FALSE(app.FtpServiceOn());
  EXPECT_EQ(app.Config().GetProfileInt("FTP", "FTPServer", -1), 0);
  app.ExitInstance();
}

// A start without a window that makes the file switches off what would let strangers in; a window's first
// start and a headless start of an existing file keep the usual defaults.
TEST(ServerAppTest, HeadlessFirstStartWritesSafeDefaults) {
  struct Case {
    const char* what;
    ServerApp::Mode mode;
    bool fileExists;
    int expected;  // AnonAllowed, FAllowUpload and TAllowWrite
  };
  const Case cases[] = {{"headless, no file", ServerApp::Mode::Headless, false, 0},
                        {"window, no file", ServerApp::Mode::Window, false, 1},
                        {"headless, a file", ServerApp::Mode::Headless, true, 1}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    test::TempDir dir;
    if (c.fileExists) test::WriteFile(dir.Path() / "Harbinex.ini", "[General]\nSystemTray=0\n");
    test::RecordingFrontend frontend;
    ServerApp app(dir.Path(), frontend, FakeServices(true, true), c.mode);
    ASSERT_TRUE(app.InitInstance());
    EXPECT_EQ(app.SafeFirstStart(), c.expected == 0);
    ConfigStore& config = app.Config();
    EXPECT_EQ(config.GetProfileInt("FTP", "AnonAllowed", -1), c.expected);
    EXPECT_EQ(config.GetProfileInt("FTP", "FAllowUpload", -1), c.expected);
    EXPECT_EQ(config.GetProfileInt("TFTP", "TAllowWrite", -1), c.expected);
    EXPECT_EQ(config.GetProfileString("TFTP", "TAllow", "missing"), "");
    EXPECT_EQ(config.GetProfileString("FTP", "FAllow", "missing"), "");
    EXPECT_EQ(config.GetProfileInt("FTP", "FAllowDownload", -1), 1);
    app.ExitInstance();
  }
  EXPECT_EQ(
      SafeFirstStartLine("/srv/Harbinex.ini"),
      "First start without a window: anonymous FTP login, anonymous FTP upload and TFTP writes are off; "
      "FTP/AnonAllowed=1, FTP/FAllowUpload=1, TFTP/TAllowWrite=1 in /srv/Harbinex.ini turn them on");
}

// A list longer than the usual limit of a value stays whole through a start: a cut would be another list.
TEST(ServerAppTest, StartKeepsALongAllowListWhole) {
  test::TempDir dir;
  std::string list;
  for (int i = 0; i < 1000; ++i)
    list += (i ? ", 10.0." : "10.0.") + std::to_string(i / 250) + "." + std::to_string(i % 250);
  ASSERT_GT(list.size(), 4095u);
  test::WriteFile(dir.Path() / "Harbinex.ini", "[FTP]\nFAllow=" + list + "\n");
  test::RecordingFrontend frontend;
  ServerApp app(dir.Path(), frontend, FakeServices(true, true));
  ASSERT_TRUE(app.InitInstance());
  EXPECT_EQ(cfg::ReadWhole(app.Config(), cfg::kFAllow), list);
  EXPECT_EQ(app.Config().GetProfileString("FTP", "FAllow").size(), 4095u);
  app.ExitInstance();
}

// The default transfer folder is the user's own, never the shared temporary directory.
TEST(ServerAppTest, DefaultTransferFolderIsPrivate) {
  test::TempDir dir;
  const char* saved = std::getenv("TMPDIR");
  std::string savedValue = saved ? saved : "";
  std::string own = (dir.Path() / ("harbinex-" + std::to_string(::geteuid()))).string();

  ::setenv("TMPDIR", dir.Path().c_str(), 1);
  std::filesystem::create_directory(dir.Path() / "elsewhere");
  std::filesystem::create_directory_symlink(dir.Path() / "elsewhere", own);
  EXPECT_EQ(PrivateTransferDirectory(), own + "-1/");  // a planted link is never followed
  EXPECT_TRUE(std::filesystem::is_empty(dir.Path() / "elsewhere"));
  std::filesystem::remove(own);
  EXPECT_EQ(PrivateTransferDirectory(), own + "/");
  struct stat st {};
  ASSERT_EQ(::lstat(own.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0700u);

  // A TMPDIR that does not exist falls back to /tmp instead of failing the start.
  ::setenv("TMPDIR", (dir.Path() / "missing").c_str(), 1);
  std::optional<std::string> fallback = PrivateTransferDirectory();
  EXPECT_EQ(fallback, "/tmp/harbinex-" + std::to_string(::geteuid()) + "/");

  if (saved)
    ::setenv("TMPDIR", savedValue.c_str(), 1);
  else
    ::unsetenv("TMPDIR");
}

// Another user holds the private folder's name at the start: the program says so once and uses the first
// "harbinex-UID-N" that is free or its own.
TEST(ServerAppTest, PrivateFolderNameHeldByAnotherUser) {
  test::TempDir dir;
  std::string own = (dir.Path() / ("harbinex-" + std::to_string(::geteuid()))).string();
  struct Case {
    const char* what;
    std::function<void()> plant;
  } cases[] = {{"a directory of nobody",
                [&] {
                  std::filesystem::create_directory(own);
                  test::GiveToNobody(own);
                }},
               {"a link of nobody", [&] {
                  std::filesystem::create_directory_symlink(dir.Path() / "target", own);
                  test::GiveToNobody(own);
                }}};
  std::filesystem::create_directory(dir.Path() / "target");
  for (const Case& c : cases) {
    test::TempDir program;
    c.plant();
    // "-1" is taken too (someone else's file), "-2" is free.
    test::WriteFile(own + "-1", "");
    test::GiveToNobody(own + "-1");
    test::WriteFile(program.Path() / "Harbinex.ini",
                    "[TFTP]\nTDLDir=" + own + "/\n[FTP]\nFDLDir=" + own + "\n");
    test::RecordingFrontend frontend;
    ServerApp app(program.Path(), frontend, FakeServices(true, true));
    ASSERT_TRUE(app.InitInstance()) << c.what;
    EXPECT_EQ(app.Config().GetProfileString("TFTP", "TDLDir"), own + "-2/") << c.what;
    EXPECT_EQ(app.Config().GetProfileString("FTP", "FDLDir"), own + "-2/") << c.what;
    struct stat st {};
    ASSERT_EQ(::lstat((own + "-2").c_str(), &st), 0);
    EXPECT_TRUE(S_ISDIR(st.st_mode) && (st.st_mode & 0777) == 0700 && st.st_uid == ::geteuid());
    std::vector<std::string> messages = frontend.Messages();
    ASSERT_EQ(messages.size(), 1u) << c.what;
    EXPECT_NE(messages[0].find(own), std::string::npos);
    EXPECT_TRUE(std::filesystem::is_empty(dir.Path() / "target"));
    app.ExitInstance();
    std::filesystem::remove(own);
    std::filesystem::remove(own + "-1");
    std::filesystem::remove(own + "-2");
  }
}

}  // namespace
}  // namespace hx
