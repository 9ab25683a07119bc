// `harbinex users ...` through the built program: exit statuses, what goes to stdout and stderr, the password
// read from standard input.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <latch>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "integration/clients/ftp_client_tool.h"
#include "support/harbinex_process.h"
#include "support/temp_dir.h"

namespace hx::test {
namespace {

// An independent check of a stored hash: Python's binding of the system's crypt(3), so that this test does
// not take the program's own check on trust.
bool SystemCryptMatches(const std::string& plain, const std::string& stored) {
  std::string output;
  int status = RunCommand({"python3", "-W", "ignore", "-c",
                           "import crypt, sys; sys.exit(0 if crypt.crypt(sys.stdin.readline().rstrip('\\n'), "
                           "sys.argv[1]) == sys.argv[1] else 1)",
                           stored},
                          output, std::chrono::seconds(30), plain + "\n");
  EXPECT_TRUE(status == 0 || status == 1) << output;
  return status == 0;
}

// The stored password of the first profile line.
std::string StoredPassword(const std::string& fileText, const std::string& name) {
  const std::string prefix = name + "||";
  EXPECT_EQ(fileText.substr(0, prefix.size()), prefix);
  return fileText.substr(prefix.size(), fileText.find("||", prefix.size()) - prefix.size());
}

TEST(UsersCommandBinary, AddFromStandardInputListAndDelete) {
  TempDir app;
  TempDir home;
  ToolRun add = RunHarbinex({"users", "add", "bob", "--password", "-", "--home", home.Path().string(),
                             "--rights", "login,download", "--dir", app.Path().string()},
                            "pass12\r\nignored\n");
  ASSERT_EQ(add.status, 0) << add.err;
  EXPECT_EQ(add.out, "");
  EXPECT_EQ(add.err, "");

  const std::string text = ReadFile(app.Path() / "Harbinex.pwd");
  const std::string stored = StoredPassword(text, "bob");
  EXPECT_EQ(stored.rfind("$y$", 0), 0u) << stored;
  EXPECT_TRUE(SystemCryptMatches("pass12", stored));
  EXPECT_FALSE(SystemCryptMatches("pass13", stored));
  EXPECT_EQ(text, "bob||" + stored + "||" + home.Dir() + "||1||0||1||0||0||0||0||0\r\n");

  ToolRun list = RunHarbinex({"users", "list", "--dir", app.Path().string()});
  EXPECT_EQ(list.status, 0);
  EXPECT_EQ(list.out, "bob\t" + home.Dir() + "\tlogin,download\n");

  ToolRun again = RunHarbinex(
      {"users", "add", "bob", "--password", "secret9", "--home", home.Dir(), "--dir", app.Path().string()});
  EXPECT_EQ(again.status, 1);
  EXPECT_EQ(again.out, "");
  EXPECT_EQ(
      again.err,
      "harbinex: warning: a password given on the command line shows in the process list; --password - "
      "reads it from standard input\nharbinex: The user bob already exists!\r\nPlease specify a NEW user "
      "name\n");

  ToolRun del = RunHarbinex({"users", "delete", "bob", "--dir", app.Path().string()});
  EXPECT_EQ(del.status, 0) << del.err;
  EXPECT_EQ(ReadFile(app.Path() / "Harbinex.pwd"), "");
  EXPECT_EQ(RunHarbinex({"users", "list", "--dir", app.Path().string()}).out, "");
}

TEST(UsersCommandBinary, ConcurrentAddsKeepEveryProfileInAPrivateFile) {
  TempDir app;
  TempDir home;
  constexpr int kWriters = 10;
  std::vector<ToolRun> runs(kWriters);
  std::latch start(kWriters);
  std::vector<std::thread> writers;
  for (int i = 0; i < kWriters; ++i) {
    writers.emplace_back([&, i] {
      start.arrive_and_wait();
      runs[i] = RunHarbinex({"users", "add", "user" + std::to_string(i), "--password", "secret1", "--home",
                             home.Dir(), "--dir", app.Path().string()});
    });
  }
  for (auto& w : writers) w.join();
  std::set<std::string> expected;
  for (int i = 0; i < kWriters; ++i) {
    EXPECT_EQ(runs[i].status, 0) << runs[i].err;
    expected.insert("user" + std::to_string(i) + "\t" + home.Dir() + "\tlogin,upload,download");
  }

  ToolRun list = RunHarbinex({"users", "list", "--dir", app.Path().string()});
  ASSERT_EQ(list.status, 0) << list.err;
  std::set<std::string> listed;
  for (size_t from = 0, end; (end = list.out.find('\n', from)) != std::string::npos; from = end + 1)
    listed.insert(list.out.substr(from, end - from));
  EXPECT_EQ(listed, expected);

  struct stat st {};
  ASSERT_EQ(::stat((app.Path() / "Harbinex.pwd").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 07777, 0600u);
  std::set<std::string> entries;
  for (const auto& e : std::filesystem::directory_iterator(app.Path())) entries.insert(e.path().filename());
  EXPECT_EQ(entries, (std::set<std::string>{"Harbinex.pwd", "Harbinex.pwd.lock"}))
      << "no temporary stays behind";
}

TEST(UsersCommandBinary, FortyCharacterPasswordFromStandardInputLogsInOverFtpAndFtps) {
  TempDir app;
  TempDir home;
  const std::string password = "Forty characters: p\xc3\xa4ss w\xc3\xb6rd | ~ @ 012345";
  ASSERT_EQ(password.size(), 42u);  // two of them of two bytes
  ToolRun add = RunHarbinex({"users", "add", "carol", "--password", "-", "--home", home.Dir(), "--rights",
                             "login,download", "--dir", app.Path().string()},
                            password + "\n");
  ASSERT_EQ(add.status, 0) << add.err;
  EXPECT_EQ(add.err, "");
  WriteFile(home.Path() / "mine.txt", "carol's file");
  // FTLS 1: TLS offered, with a certificate the server makes for itself.
  WriteIni(app.Path(), {"TFTP/TFTPServer=0", "FTP/FPort=0", "FTP/FDataPort=0", "FTP/FTLS=1"});
  HarbinexProcess server(app.Path(), /*expectTftp=*/false, /*expectFtp=*/true);
  const std::string url = "ftp://127.0.0.1:" + std::to_string(server.FtpPort()) + "/mine.txt";
  struct Case {
    std::vector<std::string> tls;
    std::string password;
    bool loggedIn;
  };
  const Case cases[] = {
      {{}, password, true},
      {{"--ssl-reqd", "-k"}, password, true},
      {{}, password.substr(0, 39), false},
      {{"--ssl-reqd", "-k"}, password + "x", false},
  };
  for (const auto& c : cases) {
    std::vector<std::string> argv = {"curl", "-sS", "--max-time", "30", "-u", "carol:" + c.password};
    argv.insert(argv.end(), c.tls.begin(), c.tls.end());
    argv.push_back(url);
    std::string output;
    int status = RunCommand(argv, output, std::chrono::seconds(60));
    if (c.loggedIn) {
      EXPECT_EQ(status, 0) << output;
      EXPECT_EQ(output, "carol's file");
    } else {
      EXPECT_EQ(status, 67) << output;  // curl: the login was refused
    }
  }
  EXPECT_EQ(StoredPassword(ReadFile(app.Path() / "Harbinex.pwd"), "carol").rfind("$y$", 0), 0u);
}

TEST(UsersCommandBinary, PasswordTypedAtATerminalIsNotEchoed) {
  TempDir app;
  // The program on a pseudo-terminal: the password is typed once the prompt shows, and what the terminal
  // shows afterwards must not hold it.
  const char* script = R"(
import os, pty, select, sys, time
pid, fd = pty.fork()
if pid == 0:
    os.execv(sys.argv[1], sys.argv[1:])
def read_until(marker):
    seen, deadline = b"", time.time() + 20
    while marker not in seen and time.time() < deadline:
        if select.select([fd], [], [], 0.5)[0]:
            try:
                chunk = os.read(fd, 4096)
            except OSError:
                break
            if not chunk:
                break
            seen += chunk
    return seen
shown = read_until(b"Password: ")
os.write(fd, b"unseen-pw-123\n")
shown += read_until(b"never shown")
_, status = os.waitpid(pid, 0)
sys.stdout.write(shown.decode(errors="replace"))
sys.exit(os.waitstatus_to_exitcode(status))
)";
  std::string output;
  int status = RunCommand({"python3", "-c", script, HarbinexBinary(), "users", "add", "bob", "--password",
                           "-", "--home", app.Dir(), "--dir", app.Path().string()},
                          output, std::chrono::seconds(60));
  EXPECT_EQ(status, 0) << output;
  EXPECT_NE(output.find("Password: "), std::string::npos) << output;
  EXPECT_EQ(output.find("unseen-pw-123"), std::string::npos) << output;
  const std::string stored = StoredPassword(ReadFile(app.Path() / "Harbinex.pwd"), "bob");
  EXPECT_TRUE(SystemCryptMatches("unseen-pw-123", stored)) << stored;
}

TEST(UsersCommandBinary, EmptyStandardInputIsTooShortAPassword) {
  TempDir app;
  ToolRun add = RunHarbinex(
      {"users", "add", "bob", "--password", "-", "--home", app.Dir(), "--dir", app.Path().string()});
  EXPECT_EQ(add.status, 1);
  EXPECT_EQ(add.err, "harbinex: Password must be at least 6 characters long!\n");
}

TEST(UsersCommandBinary, WrongUsageExitsTwo) {
  TempDir app;
  ToolRun run = RunHarbinex({"users", "--dir", app.Path().string()});
  EXPECT_EQ(run.status, 2);
  EXPECT_NE(run.err.find("harbinex users add NAME"), std::string::npos);
}

}  // namespace
}  // namespace hx::test
