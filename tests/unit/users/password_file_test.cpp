#include "users/password_file.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <set>
#include <string>
#include <vector>

#include "support/recording_frontend.h"
#include "support/temp_dir.h"
#include "users/password_hash.h"

namespace hx {
namespace {

class PasswordFileTest : public ::testing::Test {
 protected:
  std::filesystem::path File() const { return dir.Path() / "Harbinex.pwd"; }
  std::set<std::string> Entries() const {
    std::set<std::string> names;
    for (const auto& e : std::filesystem::directory_iterator(dir.Path())) names.insert(e.path().filename());
    return names;
  }
  test::TempDir dir;
  test::RecordingFrontend frontend;
};

// A link planted as the password file is neither read nor written through, and a dangling one creates
// nothing; a new file is 0600 whatever the umask.
TEST_F(PasswordFileTest, PlantedLinkIsNotFollowed) {
  for (bool dangling : {false, true}) {
    std::filesystem::path target = dir.Path() / (dangling ? "absent" : "target");
    if (!dangling) test::WriteFile(target, "bob||x||/srv||1||1||1||0||0||0||0||0\r\n");
    std::filesystem::create_symlink(target, File());
    PasswordFile store(dir.Dir(), frontend);
    EXPECT_EQ(store.Find("bob"), "");
    EXPECT_FALSE(store.Add("eve||x||/srv||1||1||1||0||0||0||0||0"));
    EXPECT_TRUE(std::filesystem::is_symlink(File()));
    EXPECT_EQ(std::filesystem::exists(target), !dangling);
    EXPECT_EQ(test::ReadFile(target), dangling ? "" : "bob||x||/srv||1||1||1||0||0||0||0||0\r\n");
    std::filesystem::remove(File());
  }
  mode_t saved = ::umask(0);
  PasswordFile store(dir.Dir(), frontend);
  ::umask(saved);
  struct stat st {};
  ASSERT_EQ(::lstat(File().c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 07777, 0600u);
}

TEST_F(PasswordFileTest, MissingFileIsCreatedEmpty) {
  PasswordFile store(dir.Dir(), frontend);
  struct stat st {};
  ASSERT_EQ(::stat(File().c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 07777, 0600u);
  EXPECT_EQ(test::ReadFile(File()), "");
  std::vector<std::string> names;
  EXPECT_FALSE(store.GetUserNames(names));
  EXPECT_TRUE(names.empty());
  EXPECT_EQ(store.Find("bob"), "");
  EXPECT_TRUE(frontend.Messages().empty());
}

TEST_F(PasswordFileTest, AppDirWithoutTrailingSeparatorWorks) {
  PasswordFile store(dir.Path().string(), frontend);
  store.Add("x||A||/||1");
  EXPECT_EQ(test::ReadFile(File()), "x||A||/||1\r\n");
}

TEST_F(PasswordFileTest, AddAppendsWithCrLfAndEveryChangeIsOnDisk) {
  {
    PasswordFile store(dir.Dir(), frontend);
    store.Add("bobby||pw1||/a/||1||1||1||0||0||0||0||0");
    store.Add("bob||pw2||/b/||1||0||0||0||0||0||0||0");
  }
  EXPECT_EQ(test::ReadFile(File()),
            "bobby||pw1||/a/||1||1||1||0||0||0||0||0\r\nbob||pw2||/b/||1||0||0||0||0||0||0||0\r\n");
  PasswordFile store(dir.Dir(), frontend);
  std::vector<std::string> names{"kept"};
  EXPECT_TRUE(store.GetUserNames(names));
  EXPECT_EQ(names, (std::vector<std::string>{"kept", "bobby", "bob"}));
}

TEST_F(PasswordFileTest, FindMatchesWholeNameCaseSensitively) {
  test::WriteFile(File(), "bobby||p1||/a/||1\r\nbob||p2||/b/||1\r\nbob||p3||/c/||1\r\n");
  PasswordFile store(dir.Dir(), frontend);
  EXPECT_EQ(store.Find("bob"), "bob||p2||/b/||1");  // the first of two, never the prefix match
  EXPECT_EQ(store.Find("bobby"), "bobby||p1||/a/||1");
  EXPECT_EQ(store.Find("Bob"), "");
  EXPECT_EQ(store.Find("bo"), "");
  EXPECT_EQ(store.Find(""), "");
}

TEST_F(PasswordFileTest, ReadsLfAndCrLfAndDropsEmptyLinesAtTheNextSave) {
  test::WriteFile(File(), "\r\na||1\n\n\r\nb||2\r\n\r\nc||3");
  PasswordFile store(dir.Dir(), frontend);
  EXPECT_EQ(store.Lines(), (std::vector<std::string>{"a||1", "b||2", "c||3"}));
  ASSERT_TRUE(store.Save());
  EXPECT_EQ(test::ReadFile(File()), "a||1\r\nb||2\r\nc||3\r\n");
}

TEST_F(PasswordFileTest, RemoveTakesOnlyTheExactName) {
  test::WriteFile(File(), "bobby||p1\r\nbob||p2\r\ncarol||p3\r\n");
  PasswordFile store(dir.Dir(), frontend);
  EXPECT_TRUE(store.Remove("bob"));
  EXPECT_EQ(test::ReadFile(File()), "bobby||p1\r\ncarol||p3\r\n");
  EXPECT_FALSE(store.Remove("bob"));
  EXPECT_FALSE(store.Remove("Carol"));
  EXPECT_EQ(test::ReadFile(File()), "bobby||p1\r\ncarol||p3\r\n");
}

TEST_F(PasswordFileTest, ReplaceKeepsOrderAndOtherLines) {
  test::WriteFile(File(), "a||1\r\nb||2\r\nc||3\r\n");
  PasswordFile store(dir.Dir(), frontend);
  EXPECT_TRUE(store.Replace("b", "b||22||/new/"));
  EXPECT_EQ(test::ReadFile(File()), "a||1\r\nb||22||/new/\r\nc||3\r\n");
  EXPECT_FALSE(store.Replace("d", "d||4"));
  EXPECT_EQ(test::ReadFile(File()), "a||1\r\nb||22||/new/\r\nc||3\r\n");
}

TEST_F(PasswordFileTest, ReplacePasswordOnlyWhileTheCheckedFormIsThere) {
  test::WriteFile(File(), "bob||old||/h/||1||0\r\nann||old||/a||b/||1\r\n");
  PasswordFile store(dir.Dir(), frontend);
  struct Case {
    const char* name;
    const char* expected;
    bool replaced;
  };
  const Case cases[] = {
      {"bob", "other", false},  // changed by another writer since it was checked
      {"carl", "old", false},   // no such line
      {"ann", "old", true},     // the rest of the line, "||" in the directory too, stays byte for byte
      {"bob", "old", true},
  };
  for (const auto& c : cases)
    EXPECT_EQ(store.ReplacePassword(c.name, c.expected, "$y$new"), c.replaced) << c.name;
  EXPECT_EQ(test::ReadFile(File()), "bob||$y$new||/h/||1||0\r\nann||$y$new||/a||b/||1\r\n");
  EXPECT_TRUE(frontend.Messages().empty());
}

TEST_F(PasswordFileTest, NotSavingLeavesTheFileAsItWas) {
  // Lookups and refused changes never rewrite the file, not even to drop its blank lines.
  test::WriteFile(File(), "a||1\n\nb||2\n");
  PasswordFile store(dir.Dir(), frontend);
  store.Find("a");
  store.Remove("zz");
  store.Replace("zz", "zz||1");
  EXPECT_EQ(test::ReadFile(File()), "a||1\n\nb||2\n");
}

TEST_F(PasswordFileTest, SaveReplacesTheFileWholeAndLeavesNoTemporaryFile) {
  test::WriteFile(File(), "a||1\r\nb||2\r\n");
  PasswordFile store(dir.Dir(), frontend);
  struct stat before {};
  ASSERT_EQ(::stat(File().c_str(), &before), 0);
  store.Add("c||3");
  struct stat after {};
  ASSERT_EQ(::stat(File().c_str(), &after), 0);
  // A new inode: the file was renamed into place, never truncated and rewritten in place.
  EXPECT_NE(before.st_ino, after.st_ino);
  EXPECT_EQ(test::ReadFile(File()), "a||1\r\nb||2\r\nc||3\r\n");
  EXPECT_EQ(Entries(), (std::set<std::string>{"Harbinex.pwd", "Harbinex.pwd.lock"}));
}

TEST_F(PasswordFileTest, ChangesApplyToTheFileAsItIsNow) {
  // Two stores read the same file; neither change may drop the other's profile.
  PasswordFile first(dir.Dir(), frontend);
  PasswordFile second(dir.Dir(), frontend);
  EXPECT_TRUE(first.Add("ann||pw1||/a/||1"));
  EXPECT_TRUE(second.Add("bob||pw2||/b/||1"));
  EXPECT_EQ(test::ReadFile(File()), "ann||pw1||/a/||1\r\nbob||pw2||/b/||1\r\n");
  // A name that another store added meanwhile is not added twice.
  EXPECT_FALSE(first.Add("bob||pw3||/c/||1"));
  EXPECT_EQ(first.Find("bob"), "bob||pw2||/b/||1");
  EXPECT_TRUE(first.Remove("ann"));
  EXPECT_EQ(test::ReadFile(File()), "bob||pw2||/b/||1\r\n");
  EXPECT_TRUE(frontend.Messages().empty());
}

TEST_F(PasswordFileTest, UnreadableFileIsReportedAndTheStoreIsEmpty) {
  // A directory in the file's place cannot be opened as a file, whoever runs the test.
  std::filesystem::create_directory(File());
  PasswordFile store(dir.Dir(), frontend);
  EXPECT_EQ(frontend.Messages(), (std::vector<std::string>{"Error opening password file for reading"}));
  EXPECT_EQ(store.Find("a"), "");
  std::vector<std::string> names;
  EXPECT_FALSE(store.GetUserNames(names));
}

TEST_F(PasswordFileTest, FailedSaveIsReportedAndLeavesWhatIsOnDisk) {
  test::WriteFile(File(), "a||1\r\n");
  PasswordFile store(dir.Dir(), frontend);
  // The file is replaced by a non-empty directory, which the rename cannot replace.
  std::filesystem::remove(File());
  test::WriteFile(File() / "keep", "k");
  store.Add("b||2");
  EXPECT_EQ(frontend.Messages(), (std::vector<std::string>{"Error opening password file for writing"}));
  EXPECT_EQ(test::ReadFile(File() / "keep"), "k");
  EXPECT_EQ(Entries(), (std::set<std::string>{"Harbinex.pwd", "Harbinex.pwd.lock"}))
      << "the temporary file must not stay behind";
}

TEST_F(PasswordFileTest, StoredPasswordsRoundTripThroughTheFile) {
  {
    PasswordFile store(dir.Dir(), frontend);
    UserProfile p;
    p.name = "dave";
    p.password = HashPassword("p|a||ss").value();
    p.directory = "/x/";
    p.Set(Right::Login, true);
    store.Add(FormatUserProfile(p));
  }
  PasswordFile store(dir.Dir(), frontend);
  UserProfile back = ParseUserProfile(store.Find("dave"));
  EXPECT_TRUE(CheckPassword("p|a||ss", back.password));
  EXPECT_EQ(back.directory, "/x/");
  EXPECT_TRUE(back.Has(Right::Login));
}

}  // namespace
}  // namespace hx
