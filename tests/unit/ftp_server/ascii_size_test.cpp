#include "ftp/server/ascii_size.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <string>

#include "support/temp_dir.h"

namespace hx::ftpd {
namespace {

std::optional<std::uint64_t> Count(FileShareTable& shares, const std::filesystem::path& path,
                                   TextSizeCache& cache, bool stopped = false) {
  int error = 0;
  SharedFile file = SharedFile::Open(shares, path, FileAccess::Read, ShareMode::Exclusive,
                                     Disposition::OpenExisting, error);
  std::atomic<bool> stop{stopped};
  return AsciiSizeOf(std::move(file), cache, stop);
}

// The modification time of a file set to a fixed value, so that a rewrite can keep it.
void SetModified(const std::filesystem::path& path, std::int64_t seconds) {
  timespec times[2] = {{seconds, 0}, {seconds, 0}};
  ASSERT_EQ(::utimensat(AT_FDCWD, path.c_str(), times, 0), 0);
}

// A version of a file counted once is answered from the cache; a changed file (other size, other
// modification time) is counted again.
TEST(AsciiSizeTest, ChangedFilesAreCountedAgain) {
  test::TempDir dir;
  FileShareTable shares;
  TextSizeCache cache;
  auto path = dir.Path() / "text.txt";
  test::WriteFile(path, "a\nb\n");
  SetModified(path, 1000000000);
  EXPECT_EQ(Count(shares, path, cache), 6u);

  // The same version: the cache answers (a planted answer shows that it does).
  int fd = ::open(path.c_str(), O_RDONLY);
  ASSERT_GE(fd, 0);
  std::optional<FileVersionKey> key = FileVersionOf(fd);
  ::close(fd);
  ASSERT_TRUE(key);
  EXPECT_EQ(cache.Find(*key), 6u);
  cache.Store(*key, 99);
  EXPECT_EQ(Count(shares, path, cache), 99u);

  struct Change {
    const char* label;
    std::string content;
    std::int64_t modified;
    std::uint64_t expected;
  } changes[] = {
      {"other size", "a\nb\nc\n", 1000000000, 9},
      {"same size, other time", "\n\n\n\n\n\n", 1000000100, 12},
  };
  for (const Change& c : changes) {
    SCOPED_TRACE(c.label);
    test::WriteFile(path, c.content);
    SetModified(path, c.modified);
    EXPECT_EQ(Count(shares, path, cache), c.expected);
    EXPECT_EQ(Count(shares, path, cache), c.expected);
  }
  // A stopped count gives nothing and closes the file: its claim is free again.
  test::WriteFile(path, "a\n");
  EXPECT_EQ(Count(shares, path, cache, /*stopped=*/true), std::nullopt);
  EXPECT_EQ(Count(shares, path, cache), 3u);
}

}  // namespace
}  // namespace hx::ftpd
