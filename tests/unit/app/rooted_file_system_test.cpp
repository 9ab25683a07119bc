#include "app/beneath_root_file_system.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>
#include <optional>

#include "support/temp_dir.h"

namespace hx {
namespace {

namespace fs = std::filesystem;

// Every kind of call against links planted inside the root that lead out of it, once with the kernel's
// resolution and once with the component walk of older kernels.
class RootedFileSystemTest : public testing::TestWithParam<bool> {
 protected:
  static constexpr std::timespec kYear2000{946684800, 0};
  static std::int64_t ModifiedSeconds(const fs::path& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 ? st.st_mtim.tv_sec : -1;
  }

  void SetUp() override {
    BeneathRootFileSystem::ForceComponentWalk(GetParam());
    fs::create_directories(dir.Path() / "root" / "sub");
    fs::create_directories(dir.Path() / "outside");
    test::WriteFile(dir.Path() / "outside" / "secret", "secret");
    test::WriteFile(dir.Path() / "root" / "sub" / "inner", "inner");
    fs::create_symlink(dir.Path() / "outside" / "secret", Root() + "file-out");
    fs::create_symlink(dir.Path() / "outside", Root() + "dir-out");
    fs::create_symlink("../outside/secret", Root() + "relative-out");
    fs::create_symlink(dir.Path() / "outside" / "new", Root() + "dangling-out");
  }
  void TearDown() override { BeneathRootFileSystem::ForceComponentWalk(false); }
  std::string Root() const { return (dir.Path() / "root").string() + "/"; }

  test::TempDir dir;
  FileShareTable shares;
};

TEST_P(RootedFileSystemTest, NothingOutsideTheRootIsReachable) {
  BeneathRootFileSystem files(Root());
  struct stat st {};
  for (const char* name : {"file-out", "relative-out", "dir-out/secret", "dangling-out"}) {
    std::string path = Root() + name;
    EXPECT_FALSE(files.Stat(path, st)) << name;
    int fd = files.Open(path, O_WRONLY | O_CREAT | O_TRUNC);
    EXPECT_LT(fd, 0) << name;
    if (fd >= 0) ::close(fd);
    int error = 0;
    EXPECT_FALSE(
        files
            .OpenShared(shares, path, FileAccess::Read, ShareMode::DenyNone, Disposition::OpenExisting, error)
            .IsOpen())
        << name;
    EXPECT_FALSE(files.SetTimes(path, kYear2000, kYear2000)) << name;
  }
  EXPECT_FALSE(files.ReadDirectory(Root() + "dir-out"));
  EXPECT_FALSE(files.MakeDirectory(Root() + "dir-out/made"));
  EXPECT_FALSE(files.Rename(Root() + "dir-out/secret", Root() + "taken"));
  EXPECT_FALSE(files.Rename(Root() + "sub/inner", Root() + "dir-out/inner"));
  EXPECT_FALSE(files.Unlink(Root() + "dir-out/secret"));
  EXPECT_FALSE(files.Stat((dir.Path() / "outside" / "secret").string(), st));  // not beneath the root at all
  EXPECT_FALSE(files.Stat(Root() + "../outside/secret", st));

  EXPECT_EQ(test::ReadFile(dir.Path() / "outside" / "secret"), "secret");
  EXPECT_NE(ModifiedSeconds(dir.Path() / "outside" / "secret"), kYear2000.tv_sec);
  EXPECT_FALSE(fs::exists(dir.Path() / "outside" / "new"));
  EXPECT_FALSE(fs::exists(dir.Path() / "outside" / "made"));
  EXPECT_TRUE(fs::exists(dir.Path() / "root" / "sub" / "inner"));

  // The link itself lies in the root: it can be described and removed, and its target stays.
  EXPECT_TRUE(files.LinkStat(Root() + "file-out", st));
  EXPECT_TRUE(S_ISLNK(st.st_mode));
  EXPECT_TRUE(files.Unlink(Root() + "file-out"));
  EXPECT_TRUE(fs::exists(dir.Path() / "outside" / "secret"));
}

TEST_P(RootedFileSystemTest, WorksInsideTheRoot) {
  BeneathRootFileSystem files(Root());
  struct stat st {};
  EXPECT_TRUE(files.Stat(Root(), st) && S_ISDIR(st.st_mode));
  EXPECT_TRUE(files.MakeDirectory(Root() + "sub/new"));
  EXPECT_TRUE(files.Rename(Root() + "sub/inner", Root() + "sub/new/moved"));
  EXPECT_FALSE(files.Rename(Root() + "sub/new/moved", Root() + "sub/new"));  // never replaces
  int error = 0;
  SharedFile file = files.OpenShared(shares, Root() + "sub/new/moved", FileAccess::Read, ShareMode::DenyNone,
                                     Disposition::OpenExisting, error);
  ASSERT_TRUE(file.IsOpen());
  EXPECT_EQ(file.Size(), 5u);
  auto names = files.ReadDirectory(Root() + "sub/new/");
  ASSERT_TRUE(names);
  EXPECT_EQ(names->size(), 3u);  // ".", ".." and "moved"
  EXPECT_TRUE(files.SetTimes(Root() + "sub/new/moved", kYear2000, kYear2000));
  EXPECT_EQ(ModifiedSeconds(Root() + "sub/new/moved"), kYear2000.tv_sec);
  // A link that stays inside the root is followed where the kernel resolves beneath the root.
  fs::create_symlink("sub/new/moved", Root() + "inside");
  EXPECT_EQ(files.Stat(Root() + "inside", st), !GetParam());
}

TEST_P(RootedFileSystemTest, OpensNeitherPipesNorDirectoriesAsFiles) {
  BeneathRootFileSystem files(Root());
  ASSERT_EQ(::mkfifo((Root() + "pipe").c_str(), 0600), 0);
  int error = 0;
  // Would wait for a writer forever if the open were a plain one.
  EXPECT_FALSE(files
                   .OpenShared(shares, Root() + "pipe", FileAccess::Read, ShareMode::DenyNone,
                               Disposition::OpenExisting, error)
                   .IsOpen());
  EXPECT_EQ(error, EINVAL);
  EXPECT_FALSE(files
                   .OpenShared(shares, Root() + "sub", FileAccess::Read, ShareMode::DenyNone,
                               Disposition::OpenExisting, error)
                   .IsOpen());
}

// A hard link beneath the root to another user's file outside it is no way out: it is refused (and left
// as it was) unless hard links are followed; the program's own files with more than one name are served.
TEST_P(RootedFileSystemTest, HardLinksToOtherUsersFilesAreRefused) {
  test::WriteFile(dir.Path() / "outside" / "theirs", "theirs");
  test::GiveToNobody(dir.Path() / "outside" / "theirs");
  fs::create_hard_link(dir.Path() / "outside" / "theirs", Root() + "theirs");
  test::WriteFile(dir.Path() / "outside" / "own", "own");
  fs::create_hard_link(dir.Path() / "outside" / "own", Root() + "own");
  struct Case {
    const char* name;
    bool follow;
    bool served;
  } cases[] = {{"theirs", false, false}, {"theirs", true, true}, {"own", false, true}};
  for (const Case& c : cases) {
    BeneathRootFileSystem files(Root(), nullptr, c.follow);
    std::string path = Root() + c.name;
    int error = 0;
    SharedFile read = files.OpenShared(shares, path, FileAccess::Read, ShareMode::DenyNone,
                                       Disposition::OpenExisting, error);
    EXPECT_EQ(read.IsOpen(), c.served) << c.name << c.follow;
    EXPECT_EQ(error, c.served ? 0 : EACCES);
    read = SharedFile();
    int fd = files.Open(path, O_WRONLY | O_TRUNC);
    EXPECT_EQ(fd >= 0, c.served) << c.name << c.follow;
    if (fd >= 0) ::close(fd);
    EXPECT_EQ(files.SetTimes(path, kYear2000, kYear2000), c.served) << c.name << c.follow;
    // Emptied through the link where it is served; untouched where it is refused.
    EXPECT_EQ(test::ReadFile(dir.Path() / "outside" / c.name), c.served ? "" : c.name);
    EXPECT_EQ(ModifiedSeconds(dir.Path() / "outside" / c.name) == kYear2000.tv_sec, c.served);
  }
}

// Sizes of regular files only, and the room left for the program's own writes (not the blocks kept for the
// system's administrator), both only beneath the root.
TEST_P(RootedFileSystemTest, SizeAndFreeSpaceBeneathTheRoot) {
  BeneathRootFileSystem files(Root());
  ASSERT_EQ(::mkfifo((Root() + "pipe").c_str(), 0600), 0);
  struct Case {
    const char* name;
    std::optional<std::uint64_t> size;
    int error;  // 0: whichever error the resolution gives
  } cases[] = {{"sub/inner", 5, 0},
               {"sub", std::nullopt, EISDIR},
               {"pipe", std::nullopt, EINVAL},
               {"none", std::nullopt, ENOENT},
               {"file-out", std::nullopt, 0},
               {"dir-out/secret", std::nullopt, 0}};
  for (const Case& c : cases) {
    errno = 0;
    EXPECT_EQ(files.Size(Root() + c.name), c.size) << c.name;
    if (c.error != 0) {
      EXPECT_EQ(errno, c.error) << c.name;
    }
  }
  EXPECT_EQ(files.Size((dir.Path() / "outside" / "secret").string()), std::nullopt);
  EXPECT_EQ(RootedFileSystem::Unconfined()->Size((dir.Path() / "outside" / "secret").string()), 6u);

  struct statvfs fs {};
  ASSERT_EQ(::statvfs(Root().c_str(), &fs), 0);
  double available = static_cast<double>(fs.f_bavail) * static_cast<double>(fs.f_frsize);
  for (const std::string& path : {Root(), Root() + "sub"}) {
    std::optional<std::uint64_t> free = files.FreeSpace(path);
    ASSERT_TRUE(free) << path;
    // Other writers share the disk: the figure is compared loosely.
    EXPECT_NEAR(static_cast<double>(*free), available, available / 100 + 1e6) << path;
  }
  EXPECT_EQ(files.FreeSpace(Root() + "dir-out"), std::nullopt);
  EXPECT_EQ(files.FreeSpace((dir.Path() / "outside").string()), std::nullopt);
  EXPECT_TRUE(RootedFileSystem::Unconfined()->FreeSpace((dir.Path() / "outside").string()));
}

INSTANTIATE_TEST_SUITE_P(Resolution, RootedFileSystemTest, testing::Values(false, true),
                         [](const testing::TestParamInfo<bool>& info) {
                           return info.param ? "ComponentWalk" : "Openat2";
                         });

}  // namespace
}  // namespace hx
