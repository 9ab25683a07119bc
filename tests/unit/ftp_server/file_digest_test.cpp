#include "ftp/server/file_digest.h"

#include <gtest/gtest.h>

#include <string>

#include "support/temp_dir.h"

namespace hx::ftpd {
namespace {

// The well-known digests of "abc" and of an empty file, read from files of the table of open files.
TEST(FileDigestTest, DigestsOfFiles) {
  test::TempDir dir;
  FileShareTable shares;
  struct Case {
    std::string content;
    HashAlgorithm algorithm;
    std::string digest;
  } cases[] = {
      {"abc", HashAlgorithm::Sha256, "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad"},
      {"abc", HashAlgorithm::Sha1, "a9993e364706816aba3e25717850c26c9cd0d89d"},
      {"abc", HashAlgorithm::Md5, "900150983cd24fb0d6963f7d28e17f72"},
      {"", HashAlgorithm::Sha256, "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855"},
  };
  std::atomic<bool> stop{false};
  for (const Case& c : cases) {
    test::WriteFile(dir.Path() / "f", c.content);
    int error = 0;
    SharedFile file = SharedFile::Open(shares, dir.Path() / "f", FileAccess::Read, ShareMode::DenyWrite,
                                       Disposition::OpenExisting, error);
    ASSERT_TRUE(file.IsOpen());
    std::optional<FileDigestResult> result = FileDigest(std::move(file), c.algorithm, stop);
    ASSERT_TRUE(result) << HashName(c.algorithm);
    EXPECT_EQ(result->digest, c.digest) << HashName(c.algorithm);
    EXPECT_EQ(result->bytes, c.content.size());
  }
  // A session that ends stops the work: no digest.
  stop = true;
  int error = 0;
  EXPECT_FALSE(FileDigest(SharedFile::Open(shares, dir.Path() / "f", FileAccess::Read, ShareMode::DenyWrite,
                                           Disposition::OpenExisting, error),
                          HashAlgorithm::Sha256, stop));
}

}  // namespace
}  // namespace hx::ftpd
