#include "app/atomic_file.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <set>
#include <string>

#include "support/temp_dir.h"

namespace hx {
namespace {

std::set<std::string> Entries(const std::filesystem::path& dir) {
  std::set<std::string> names;
  for (const auto& e : std::filesystem::directory_iterator(dir)) names.insert(e.path().filename().string());
  return names;
}

// Rewrites `file` with content far beyond a file-size limit that only a child process gets, so that the
// write fails half-way. With `killed`, the limit's signal ends the child there, as a kill would; otherwise
// the signal is ignored and the rewrite reports the failure. Returns the child's wait status.
int RewriteBeyondSizeLimit(const std::filesystem::path& file, bool killed) {
  pid_t child = ::fork();
  if (child < 0) return -1;
  if (child == 0) {
    if (!killed) ::signal(SIGXFSZ, SIG_IGN);
    rlimit limit{};
    ::getrlimit(RLIMIT_FSIZE, &limit);
    limit.rlim_cur = 100;
    ::setrlimit(RLIMIT_FSIZE, &limit);
    bool ok = RewriteFileAtomically(
        file, [](const std::string&) { return std::string(65536, 'x'); }, 0600);
    ::_exit(ok ? 0 : 1);
  }
  int status = 0;
  return ::waitpid(child, &status, 0) == child ? status : -1;
}

TEST(AtomicFileTest, FailedWriteLeavesNoTemporary) {
  test::TempDir dir;
  const std::filesystem::path file = dir.Path() / "Harbinex.pwd";
  test::WriteFile(file, "old\r\n");
  int status = RewriteBeyondSizeLimit(file, false);
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 1) << "the rewrite must report the failed write";
  EXPECT_EQ(test::ReadFile(file), "old\r\n");
  EXPECT_EQ(Entries(dir.Path()), std::set<std::string>{"Harbinex.pwd"});
}

TEST(AtomicFileTest, ProcessKilledWhileWritingLeavesNoTemporary) {
  test::TempDir dir;
  const std::filesystem::path file = dir.Path() / "Harbinex.pwd";
  test::WriteFile(file, "old\r\n");
  int status = RewriteBeyondSizeLimit(file, true);
  ASSERT_TRUE(WIFSIGNALED(status));
  EXPECT_EQ(WTERMSIG(status), SIGXFSZ);
  EXPECT_EQ(test::ReadFile(file), "old\r\n");
  EXPECT_EQ(Entries(dir.Path()), std::set<std::string>{"Harbinex.pwd"});
}

}  // namespace
}  // namespace hx
