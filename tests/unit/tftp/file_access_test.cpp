#include "tftp/file_access.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>

#include "app/beneath_root_file_system.h"
#include "support/temp_dir.h"

namespace hx::tftp {
namespace {

namespace fs = std::filesystem;
using hx::test::ReadFile;
using hx::test::TempDir;
using hx::test::WriteFile;

const Rejection kUnable{2, "Unable to access file. Aborting", ""};
const Rejection kProtected{0, "User asked for a volume, directory, system or read-only file! Access denied!",
                           ""};
// Code 6, "File already exists": clients give it their own message.
const Rejection kNoOverwrite{6, "User asked to overwrite an existing file! Access denied!", ""};

std::vector<Rejection> RejectionsOf(const OpenResult& result) {
  auto* list = std::get_if<std::vector<Rejection>>(&result);
  return list ? *list : std::vector<Rejection>{};
}

std::unique_ptr<TransferFile> FileOf(OpenResult& result) {
  auto* file = std::get_if<std::unique_ptr<TransferFile>>(&result);
  return file ? std::move(*file) : nullptr;
}

std::string ReadAll(TransferFile& file) {
  std::string out;
  std::uint8_t buffer[512];
  for (;;) {
    long n = file.Read(buffer, sizeof buffer);
    if (n <= 0) break;
    out.append(reinterpret_cast<char*>(buffer), static_cast<size_t>(n));
  }
  return out;
}

class FileAccess : public testing::Test {
 protected:
  std::string PathOf(const std::string& name) const { return dir.Dir() + name; }
  TempDir dir;
  FileShareTable shares;
};

TEST_F(FileAccess, SendOpensAnExistingFileForReading) {
  WriteFile(PathOf("a.bin"), std::string(1300, 'q'));
  OpenResult result = OpenForSend(shares, PathOf("a.bin"));
  auto file = FileOf(result);
  ASSERT_TRUE(file);
  std::uint8_t buffer[512];
  EXPECT_EQ(file->Read(buffer, 512), 512);
  EXPECT_EQ(file->Read(buffer, 512), 512);
  EXPECT_EQ(file->Read(buffer, 512), 276);  // short only at the end
  EXPECT_EQ(file->Read(buffer, 512), 0);
}

TEST_F(FileAccess, SendReadsLargeFilesWholeAndInOrder) {
  // Longer than the read-ahead buffer several times over, and not a multiple of it or of a block.
  std::string content;
  for (size_t i = 0; i < 100'003; ++i) content += static_cast<char>((i * 7919) >> 5);
  WriteFile(PathOf("large.bin"), content);
  OpenResult result = OpenForSend(shares, PathOf("large.bin"));
  auto file = FileOf(result);
  ASSERT_TRUE(file);
  std::string read;
  std::uint8_t buffer[512];
  for (;;) {
    long n = file->Read(buffer, sizeof buffer);
    ASSERT_GE(n, 0);
    read.append(reinterpret_cast<char*>(buffer), static_cast<size_t>(n));
    if (n < 512) break;
  }
  EXPECT_EQ(read.size(), content.size());
  EXPECT_TRUE(read == content);
  EXPECT_EQ(file->Read(buffer, sizeof buffer), 0);
}

TEST_F(FileAccess, SendRefusals) {
  fs::create_directory(dir.Path() / "sub");
  WriteFile(PathOf("plain"), "x");
  ASSERT_EQ(::mkfifo(PathOf("pipe").c_str(), 0644), 0);
  struct Case {
    std::string name;
    Rejection rejection;
  };
  const Case cases[] = {
      {"missing.bin", {1, "File was not found. Aborting transfer", ""}},
      {"plain/below", {1, "File was not found. Aborting transfer", ""}},
      {"sub", {0, "Cannot GET a directory!", ""}},
      {"sub/", {0, "Cannot GET a directory!", ""}},
      {"pipe", {2, "File access error", ""}},  // would block the session for ever
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(RejectionsOf(OpenForSend(shares, PathOf(c.name))), std::vector<Rejection>{c.rejection});
  }
}

TEST_F(FileAccess, ReadersShareAFileButNotWithAWriter) {
  WriteFile(PathOf("shared.bin"), "content");
  OpenResult first = OpenForSend(shares, PathOf("shared.bin"));
  OpenResult second = OpenForSend(shares, PathOf("shared.bin"));
  auto firstFile = FileOf(first);
  auto secondFile = FileOf(second);
  ASSERT_TRUE(firstFile);
  ASSERT_TRUE(secondFile);

  // A write request for a file being sent is refused, and the file is left whole.
  EXPECT_EQ(RejectionsOf(OpenForReceive(shares, PathOf("shared.bin"), {true, true})),
            (std::vector<Rejection>{{2, "Failed to open file for receiving. Aborting.", ""}}));
  EXPECT_EQ(ReadAll(*secondFile), "content");
}

TEST_F(FileAccess, AFileBeingReceivedIsNeitherReadNorWrittenByOthers) {
  OpenResult receiving = OpenForReceive(shares, PathOf("incoming.bin"), {false, false});
  auto writer = FileOf(receiving);
  ASSERT_TRUE(writer);
  const std::uint8_t part[] = {'p', 'a', 'r', 't'};
  ASSERT_TRUE(writer->Write(part, sizeof part));

  EXPECT_EQ(RejectionsOf(OpenForSend(shares, PathOf("incoming.bin"))),
            (std::vector<Rejection>{{2, "File access error", ""}}));
  EXPECT_EQ(RejectionsOf(OpenForReceive(shares, PathOf("incoming.bin"), {true, true})),
            (std::vector<Rejection>{{2, "Failed to open file for receiving. Aborting.", ""}}));
  EXPECT_EQ(RejectionsOf(OpenForReceive(shares, PathOf("incoming.bin"), {true, false})),
            std::vector<Rejection>{kNoOverwrite});
  EXPECT_EQ(ReadFile(PathOf("incoming.bin")), "part");

  writer.reset();  // closed: the claim goes with it
  OpenResult after = OpenForSend(shares, PathOf("incoming.bin"));
  auto reader = FileOf(after);
  ASSERT_TRUE(reader);
  EXPECT_EQ(ReadAll(*reader), "part");
}

TEST_F(FileAccess, ReceiveCreatesANewFile) {
  OpenResult result = OpenForReceive(shares, PathOf("new.bin"), {false, false});
  auto file = FileOf(result);
  ASSERT_TRUE(file);
  const std::uint8_t data[] = {1, 2, 3};
  EXPECT_TRUE(file->Write(data, 3));
  file.reset();
  EXPECT_EQ(ReadFile(PathOf("new.bin")), std::string("\x01\x02\x03"));
}

TEST_F(FileAccess, ReceiveOverwritesOnlyWhenAllowedAndWritable) {
  WriteFile(PathOf("old.bin"), "old content");
  EXPECT_EQ(RejectionsOf(OpenForReceive(shares, PathOf("old.bin"), {true, false})),
            std::vector<Rejection>{kNoOverwrite});
  EXPECT_EQ(ReadFile(PathOf("old.bin")), "old content");

  // The new content replaces the old whole, and only once the transfer completes; the mode stays.
  fs::permissions(PathOf("old.bin"), fs::perms::owner_read | fs::perms::owner_write | fs::perms::others_read);
  const std::uint8_t data[] = {'n'};
  for (bool complete : {false, true}) {
    SCOPED_TRACE(complete);
    OpenResult result = OpenForReceive(shares, PathOf("old.bin"), {false, true});
    auto file = FileOf(result);
    ASSERT_TRUE(file);
    EXPECT_TRUE(file->Write(data, 1));
    EXPECT_EQ(ReadFile(PathOf("old.bin")), "old content");
    // Nobody else reads or writes it meanwhile.
    EXPECT_EQ(RejectionsOf(OpenForSend(shares, PathOf("old.bin"))),
              (std::vector<Rejection>{{2, "File access error", ""}}));
    if (complete) {
      EXPECT_TRUE(file->Complete());
    }
    file.reset();
    EXPECT_EQ(ReadFile(PathOf("old.bin")), complete ? "n" : "old content");
    EXPECT_EQ(fs::status(PathOf("old.bin")).permissions(),
              fs::perms::owner_read | fs::perms::owner_write | fs::perms::others_read);
    EXPECT_EQ(std::distance(fs::directory_iterator(dir.Path()), fs::directory_iterator()), 1);
  }

  // Read-only (owner write bit clear) is protected even with overwriting on; so are directories and pipes.
  WriteFile(PathOf("ro.bin"), "keep");
  fs::permissions(PathOf("ro.bin"), fs::perms::owner_read | fs::perms::group_read);
  fs::create_directory(dir.Path() / "adir");
  ASSERT_EQ(::mkfifo(PathOf("pipe").c_str(), 0644), 0);
  for (const char* name : {"ro.bin", "adir", "pipe"}) {
    SCOPED_TRACE(name);
    EXPECT_EQ(RejectionsOf(OpenForReceive(shares, PathOf(name), {true, true})),
              std::vector<Rejection>{kProtected});
  }
  EXPECT_EQ(ReadFile(PathOf("ro.bin")), "keep");
}

TEST_F(FileAccess, ReceiveCreatesDirectoriesOnlyWhenAllowed) {
  EXPECT_EQ(RejectionsOf(OpenForReceive(shares, PathOf("new/sub/f.bin"), {false, false})),
            (std::vector<Rejection>{{0, "Not allowed to create directories!", ""}, kUnable}));
  EXPECT_FALSE(fs::exists(dir.Path() / "new"));

  OpenResult result = OpenForReceive(shares, PathOf("new/sub/f.bin"), {true, false});
  EXPECT_TRUE(FileOf(result));
  EXPECT_TRUE(fs::is_directory(dir.Path() / "new" / "sub"));
  EXPECT_TRUE(fs::is_regular_file(dir.Path() / "new" / "sub" / "f.bin"));
}

TEST_F(FileAccess, ReceiveRefusesAFileInThePlaceOfADirectory) {
  WriteFile(PathOf("plain"), "x");
  std::string built = dir.Dir() + "plain";
  EXPECT_EQ(RejectionsOf(OpenForReceive(shares, PathOf("plain/sub/f.bin"), {true, false})),
            (std::vector<Rejection>{{0, built + " is not a directory!", ""}, kUnable}));
}

TEST_F(FileAccess, ReceiveReportsADirectoryThatCannotBeCreated) {
  // A component longer than any file name allows cannot be created, whoever runs the test.
  std::string tooLong(300, 'd');
  std::string built = dir.Dir() + "ok/" + tooLong;
  EXPECT_EQ(RejectionsOf(OpenForReceive(shares, PathOf("ok/" + tooLong + "/f.bin"), {true, false})),
            (std::vector<Rejection>{{0, "Could not create the directory " + built, ""}, kUnable}));
  EXPECT_TRUE(fs::is_directory(dir.Path() / "ok"));  // what was created before the failure stays
}

TEST(MakeDirectories, PathsWithoutDirectoriesOrWithExistingOnes) {
  std::shared_ptr<const RootedFileSystem> anywhere = RootedFileSystem::Unconfined();
  EXPECT_EQ(MakeDirectories(*anywhere, "file.bin", false), std::nullopt);
  EXPECT_EQ(MakeDirectories(*anywhere, "/f.bin", false), std::nullopt);
  TempDir dir;
  fs::create_directories(dir.Path() / "a" / "b");
  BeneathRootFileSystem files(dir.Dir());
  EXPECT_EQ(MakeDirectories(files, dir.Dir() + "a//b/f.bin", false), std::nullopt);
  EXPECT_EQ(MakeDirectories(files, dir.Dir() + "a/b/c/f.bin", true), std::nullopt);
  EXPECT_TRUE(fs::is_directory(dir.Path() / "a" / "b" / "c"));
}

}  // namespace
}  // namespace hx::tftp
