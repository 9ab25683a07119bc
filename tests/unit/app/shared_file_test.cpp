#include "app/shared_file.h"

#include <gtest/gtest.h>

#include <cerrno>

#include "support/temp_dir.h"

namespace hx {
namespace {

TEST(SharedFileTest, ShareModesDecideWhoMayOpen) {
  test::TempDir dir;
  FileShareTable table;
  auto path = dir.Path() / "image.bin";
  test::WriteFile(path, "old content");
  int error = 0;

  // Two readers that share everything coexist.
  SharedFile r1 =
      SharedFile::Open(table, path, FileAccess::Read, ShareMode::DenyNone, Disposition::OpenExisting, error);
  SharedFile r2 =
      SharedFile::Open(table, path, FileAccess::Read, ShareMode::DenyNone, Disposition::OpenExisting, error);
  ASSERT_TRUE(r1.IsOpen() && r2.IsOpen());

  // An exclusive writer is refused while they read, and its refusal truncates nothing.
  SharedFile w = SharedFile::Open(table, path, FileAccess::Write, ShareMode::Exclusive,
                                  Disposition::CreateAlways, error);
  EXPECT_FALSE(w.IsOpen());
  EXPECT_EQ(error, EACCES);
  EXPECT_EQ(test::ReadFile(path), "old content");

  r1.Close();
  r2.Close();
  w = SharedFile::Open(table, path, FileAccess::Write, ShareMode::Exclusive, Disposition::CreateAlways,
                       error);
  ASSERT_TRUE(w.IsOpen());
  EXPECT_EQ(test::ReadFile(path), "");
  // While it writes, neither a reader nor a second writer gets in.
  EXPECT_FALSE(
      SharedFile::Open(table, path, FileAccess::Read, ShareMode::DenyNone, Disposition::OpenExisting, error)
          .IsOpen());
  EXPECT_FALSE(
      SharedFile::Open(table, path, FileAccess::Write, ShareMode::DenyWrite, Disposition::OpenAlways, error)
          .IsOpen());
  ASSERT_TRUE(w.Write("new", 3));
  w.Close();

  // A deny-write reader lets other readers in, but no writer.
  SharedFile dw =
      SharedFile::Open(table, path, FileAccess::Read, ShareMode::DenyWrite, Disposition::OpenExisting, error);
  ASSERT_TRUE(dw.IsOpen());
  EXPECT_TRUE(
      SharedFile::Open(table, path, FileAccess::Read, ShareMode::DenyNone, Disposition::OpenExisting, error)
          .IsOpen());
  EXPECT_FALSE(
      SharedFile::Open(table, path, FileAccess::Write, ShareMode::DenyNone, Disposition::OpenAlways, error)
          .IsOpen());
  char buffer[8];
  EXPECT_EQ(dw.Read(buffer, sizeof buffer), 3);
  EXPECT_EQ(dw.Size(), 3u);
}

TEST(SharedFileTest, DispositionsAndDirectories) {
  test::TempDir dir;
  FileShareTable table;
  int error = 0;
  EXPECT_FALSE(SharedFile::Open(table, dir.Path() / "missing", FileAccess::Read, ShareMode::DenyNone,
                                Disposition::OpenExisting, error)
                   .IsOpen());
  EXPECT_EQ(error, ENOENT);
  SharedFile created = SharedFile::Open(table, dir.Path() / "new", FileAccess::Write, ShareMode::Exclusive,
                                        Disposition::CreateNew, error);
  ASSERT_TRUE(created.IsOpen());
  created.Close();
  EXPECT_FALSE(SharedFile::Open(table, dir.Path() / "new", FileAccess::Write, ShareMode::Exclusive,
                                Disposition::CreateNew, error)
                   .IsOpen());
  EXPECT_EQ(error, EEXIST);
  EXPECT_FALSE(SharedFile::Open(table, dir.Path(), FileAccess::Read, ShareMode::DenyNone,
                                Disposition::OpenExisting, error)
                   .IsOpen());
  EXPECT_EQ(error, EISDIR);
}

}  // namespace
}  // namespace hx
