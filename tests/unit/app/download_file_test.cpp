#include "app/download_file.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cerrno>
#include <filesystem>
#include <set>
#include <string>

#include "support/temp_dir.h"

namespace hx {
namespace {

namespace fs = std::filesystem;
using Temporary = DownloadFile::Temporary;
using Placement = DownloadFile::Placement;

std::set<std::string> Names(const fs::path& dir) {
  std::set<std::string> names;
  for (const auto& entry : fs::directory_iterator(dir)) names.insert(entry.path().filename().string());
  return names;
}

mode_t ModeOf(const fs::path& path) {
  struct stat st {};
  ::stat(path.c_str(), &st);
  return st.st_mode & 07777;
}

// Both kinds of temporary: the unnamed one of most file systems and the named one of the others.
class DownloadFileTest : public ::testing::TestWithParam<Temporary> {
 protected:
  DownloadFile Create(const fs::path& target, bool keepMode) {
    struct stat existing {};
    bool exists = ::stat(target.c_str(), &existing) == 0;
    int error = 0;
    DownloadFile file =
        DownloadFile::Create(target, exists && keepMode ? &existing : nullptr, error, GetParam());
    EXPECT_TRUE(file.IsOpen()) << error;
    return file;
  }
  test::TempDir dir;
};

TEST_P(DownloadFileTest, ReplacesTheTargetOnlyAtCommitAndKeepsItsMode) {
  const fs::path target = dir.Path() / "image.bin";
  test::WriteFile(target, "old content");
  ::chmod(target.c_str(), 0604);
  DownloadFile file = Create(target, true);
  ASSERT_TRUE(file.Write("new", 3));
  EXPECT_EQ(test::ReadFile(target), "old content");

  int error = 0;
  ASSERT_TRUE(file.Commit(Placement::Replace, error)) << error;
  EXPECT_FALSE(file.IsOpen());
  EXPECT_EQ(test::ReadFile(target), "new");
  EXPECT_EQ(ModeOf(target), 0604u);
  EXPECT_EQ(Names(dir.Path()), std::set<std::string>{"image.bin"});
}

TEST_P(DownloadFileTest, DiscardLeavesTheFolderAsItWas) {
  const fs::path kept = dir.Path() / "kept.bin";
  test::WriteFile(kept, "old content");
  DownloadFile over = Create(kept, true);
  DownloadFile fresh = Create(dir.Path() / "fresh.bin", true);
  ASSERT_TRUE(over.Write("new", 3) && fresh.Write("new", 3));
  over.Discard();
  { DownloadFile gone = std::move(fresh); }  // dropped without a commit
  EXPECT_EQ(test::ReadFile(kept), "old content");
  EXPECT_EQ(Names(dir.Path()), std::set<std::string>{"kept.bin"});
}

TEST_P(DownloadFileTest, KeepExistingPlacesANewFileButNeverReplacesOne) {
  const fs::path target = dir.Path() / "new.bin";
  DownloadFile first = Create(target, false);
  DownloadFile second = Create(target, false);
  ASSERT_TRUE(first.Write("first", 5) && second.Write("second", 6));
  int error = 0;
  ASSERT_TRUE(first.Commit(Placement::KeepExisting, error)) << error;
  const mode_t mask = ::umask(0);
  ::umask(mask);
  EXPECT_EQ(ModeOf(target), 0644u & ~mask);

  EXPECT_FALSE(second.Commit(Placement::KeepExisting, error));
  EXPECT_EQ(error, EEXIST);
  EXPECT_EQ(test::ReadFile(target), "first");
  EXPECT_EQ(Names(dir.Path()), std::set<std::string>{"new.bin"});
}

INSTANTIATE_TEST_SUITE_P(Temporaries, DownloadFileTest,
                         ::testing::Values(Temporary::PreferUnnamed, Temporary::Named), [](const auto& info) {
                           return info.param == Temporary::Named ? std::string("Named")
                                                                 : std::string("Unnamed");
                         });

}  // namespace
}  // namespace hx
