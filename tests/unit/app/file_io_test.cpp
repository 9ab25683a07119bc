#include "app/file_io.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <cerrno>
#include <string>
#include <thread>

#include "support/temp_dir.h"

namespace hx {
namespace {

// A pipe hands over at most what it holds per call: more than that goes through whole, both ways.
TEST(FileIoTest, WholeTransfersThroughShortCounts) {
  int ends[2];
  ASSERT_EQ(::pipe(ends), 0);
  std::string sent(300 * 1024, '\0');
  for (size_t i = 0; i < sent.size(); ++i) sent[i] = static_cast<char>(i * 7 % 251);
  bool written = false;
  std::thread writer([&] {
    written = WriteAll(ends[1], sent.data(), sent.size());
    ::close(ends[1]);
  });
  std::optional<std::string> received = ReadToEnd(ends[0]);
  writer.join();
  ::close(ends[0]);
  EXPECT_TRUE(written);
  ASSERT_TRUE(received);
  EXPECT_EQ(*received, sent);
}

TEST(FileIoTest, ReadsAtAnOffsetUpToTheEnd) {
  test::TempDir dir;
  test::WriteFile(dir.Path() / "f", "0123456789");
  int fd = ::open((dir.Path() / "f").c_str(), O_RDONLY | O_CLOEXEC);
  ASSERT_GE(fd, 0);
  struct Case {
    std::uint64_t offset;
    size_t size;
    const char* read;
  } cases[] = {{0, 4, "0123"}, {6, 10, "6789"}, {10, 4, ""}, {20, 4, ""}};
  for (const Case& c : cases) {
    std::string buffer(c.size, '-');
    long count = ReadAll(fd, buffer.data(), buffer.size(), c.offset);
    ASSERT_GE(count, 0) << c.offset;
    EXPECT_EQ(buffer.substr(0, static_cast<size_t>(count)), c.read) << c.offset;
  }
  EXPECT_EQ(ReadToEnd(fd), "0123456789");  // the offset reads left the file position at the start
  EXPECT_EQ(FileSize(fd), 10u);
  ::close(fd);

  // No descriptor at all: every call fails.
  char byte = 0;
  EXPECT_EQ(ReadAll(-1, &byte, 1), -1);
  EXPECT_EQ(errno, EBADF);
  EXPECT_FALSE(WriteAll(-1, &byte, 1));
  EXPECT_EQ(ReadToEnd(-1), std::nullopt);
  EXPECT_EQ(FileSize(-1), std::nullopt);
}

}  // namespace
}  // namespace hx
