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
#include "support/temp_dir.h"

namespace hx::test {
namespace {

// An independent reading of a stored password (length letter, then key/cipher pairs), so that this test does
// not take the program's own decoder on trust.
std::string Decode(const std::string& stored) {
  std::string plain;
  size_t n = static_cast<size_t>(stored.at(0) - 'A');
  for (size_t i = 0; i < n; ++i) {
    int k = static_cast<unsigned char>(stored.at(2 * i + 1));
    int c = static_cast<unsigned char>(stored.at(2 * i + 2));
    plain += static_cast<char>(c > k ? c - k + 31 : c - k + 126);
  }
  return plain;
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
  ASSERT_GE(text.size(), 2u);
  EXPECT_EQ(text.substr(text.size() - 2), "\r\n");
  const std::string prefix = "bob||";
  ASSERT_EQ(text.substr(0, prefix.size()), prefix);
  const std::string stored = text.substr(prefix.size(), 20);
  EXPECT_EQ(stored.find('|'), std::string::npos);
  EXPECT_EQ(Decode(stored), "pass12");
  EXPECT_EQ(text.substr(prefix.size() + 20), "||" + home.Dir() + "||1||0||1||0||0||0||0||0\r\n");

  ToolRun list = RunHarbinex({"users", "list", "--dir", app.Path().string()});
  EXPECT_EQ(list.status, 0);
  EXPECT_EQ(list.out, "bob\t" + home.Dir() + "\tlogin,download\n");

  ToolRun again = RunHarbinex(
      {"users", "add", "bob", "--password", "secret9", "--home", home.Dir(), "--dir", app.Path().string()});
  EXPECT_EQ(again.status, 1);
  EXPECT_EQ(again.out, "");
  EXPECT_EQ(again.err, "harbinex: The user bob already exists!\r\nPlease specify a NEW user name\n");

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
