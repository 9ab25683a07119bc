// Mirror and sync tools against the server: lftp keeps modification times both ways, rclone copies and
// checks a tree of old files with their dates, and a client checks a large file by its digest instead of
// downloading it again.
#include <fcntl.h>
#include <sys/stat.h>

#include "ftp_test_support.h"

namespace hx::test {
namespace {

class FtpMirrorClientsTest : public FtpServerTest {
 protected:
  void SetUp() override {
    StartServer({"FTP/UserSecurity=0"});
    std::filesystem::create_directories(Local());
  }
  std::filesystem::path Local() const { return m_dir.Path() / "local"; }
  static void SetModified(const std::filesystem::path& path, std::timespec modified) {
    const std::timespec times[2] = {{0, UTIME_OMIT}, modified};
    ASSERT_EQ(::utimensat(AT_FDCWD, path.c_str(), times, 0), 0) << path;
  }
  static double Modified(const std::filesystem::path& path) {
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0) return -1;
    return static_cast<double>(st.st_mtim.tv_sec) + static_cast<double>(st.st_mtim.tv_nsec) / 1e9;
  }
};

TEST_F(FtpMirrorClientsTest, LftpMirrorKeepsModificationTimesBothWays) {
  struct File {
    std::string name;
    std::timespec modified;
  } files[] = {
      {"one.txt", {1592222407, 0}},                // 2020-06-15 12:00:07
      {"a/two.txt", {1546398245, 0}},              // 2019-01-02 03:04:05
      {"a/b/three.bin", {1614834367, 500000000}},  // 2021-03-04 05:06:07.5
  };
  for (const File& f : files) {
    WriteFile(Local() / "up" / f.name, RandomBytes(20000, static_cast<unsigned>(f.name.size())));
    SetModified(Local() / "up" / f.name, f.modified);
  }
  // lftp encrypts a named user's session, with the certificate the server made for itself.
  const std::string commands =
      "set net:max-retries 1; set net:timeout 10; set cmd:fail-exit yes; set ssl:verify-certificate no; "
      "open -u bob,x "
      "ftp://127.0.0.1:" +
      std::to_string(Port()) + "; mirror -R up tree; mirror tree back";
  std::string output;
  ASSERT_EQ(RunCommand({"lftp", "-c", commands}, output, 60s, {}, Local()), 0) << output;
  for (const File& f : files) {
    double original = static_cast<double>(f.modified.tv_sec) + static_cast<double>(f.modified.tv_nsec) / 1e9;
    EXPECT_NEAR(Modified(Root() / "tree" / f.name), original, 1.0) << f.name;
    EXPECT_NEAR(Modified(Local() / "back" / f.name), original, 1.0) << f.name;
    EXPECT_EQ(ReadFile(Local() / "back" / f.name), ReadFile(Local() / "up" / f.name)) << f.name;
  }
}

TEST_F(FtpMirrorClientsTest, RcloneCopiesATreeOf2020WithItsDatesAndChecksIt) {
  const std::pair<std::string, std::timespec> files[] = {
      {"old.txt", {1592222407, 0}},      // 2020-06-15 12:00:07
      {"a/older.bin", {1577934245, 0}},  // 2020-01-02 03:04:05
  };
  for (const auto& [name, modified] : files) {
    WriteFile(Root() / "tree" / name, RandomBytes(3000, static_cast<unsigned>(name.size())));
    SetModified(Root() / "tree" / name, modified);
  }
  std::string password;
  ASSERT_EQ(RunCommand({"rclone", "obscure", "me@"}, password), 0) << password;
  password.erase(password.find_last_not_of("\r\n") + 1);
  const std::vector<std::string> remote = {"--config",     (m_dir.Path() / "rclone.conf").string(),
                                           "--ftp-host",   "127.0.0.1",
                                           "--ftp-port",   std::to_string(Port()),
                                           "--ftp-user",   "anonymous",
                                           "--ftp-pass",   password,
                                           "--contimeout", "10s",
                                           "--timeout",    "10s",
                                           "--retries",    "1"};
  auto rclone = [&](const std::string& verb) {
    std::vector<std::string> argv = {"rclone", verb, ":ftp:tree", (Local() / "copy").string()};
    argv.insert(argv.end(), remote.begin(), remote.end());
    std::string output;
    EXPECT_EQ(RunCommand(argv, output, 60s), 0) << verb << ": " << output;
  };
  rclone("copy");
  rclone("check");
  for (const auto& [name, modified] : files) {
    EXPECT_NEAR(Modified(Local() / "copy" / name), static_cast<double>(modified.tv_sec), 1.0) << name;
    EXPECT_EQ(ReadFile(Local() / "copy" / name), ReadFile(Root() / "tree" / name)) << name;
  }
}

TEST_F(FtpMirrorClientsTest, PythonFtplibHashMatchesSha256sum) {
  WriteFile(Root() / "image.bin", RandomBytes(64u << 20, 9));
  std::string expected;
  ASSERT_EQ(RunCommand({"sha256sum", (Root() / "image.bin").string()}, expected), 0) << expected;
  expected = expected.substr(0, expected.find(' '));
  ASSERT_EQ(expected.size(), 64u) << expected;
  const std::string script = R"PY(
import ftplib, sys
ftp = ftplib.FTP()
ftp.connect('127.0.0.1', int(sys.argv[1]), timeout=60)
ftp.login()
print(ftp.sendcmd('HASH image.bin'))
ftp.quit()
)PY";
  std::string output;
  ASSERT_EQ(RunCommand({"python3", "-c", script, std::to_string(Port())}, output, 90s), 0) << output;
  EXPECT_EQ(output, "213 SHA-256 0-67108864 " + expected + " image.bin\n");
}

}  // namespace
}  // namespace hx::test
