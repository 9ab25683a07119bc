#include "app/served_root.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>

#include "app/beneath_root_file_system.h"
#include "support/temp_dir.h"

namespace hx {
namespace {

namespace fs = std::filesystem;
using State = ServedRoot::State;

std::string PrivateName(const test::TempDir& dir) {
  return (dir.Path() / ("harbinex-" + std::to_string(::geteuid()))).string();
}

// A file written beneath the folder through the descriptor it holds; false when the call is refused.
bool WriteBeneath(const ServedRootLookup& lookup, const std::string& text, const std::string& name) {
  BeneathRootFileSystem files(text, lookup.root, false);
  int fd = files.Open(text + (text.ends_with('/') ? "" : "/") + name, O_WRONLY | O_CREAT | O_EXCL, 0644);
  if (fd < 0) return false;
  ::close(fd);
  return true;
}

// The private folder: made when missing, held while it stays, made again (safely) after a cleaner removed
// it, and never followed once another user's link holds its name.
TEST(ServedRootTest, PrivateFolderIsHeldAndNeverFollowed) {
  test::TempDir dir;
  std::string text = PrivateName(dir) + "/";
  ServedRoots roots;
  ServedRootLookup first = roots.Get(text);
  ASSERT_EQ(first.root->GetState(), State::Open);
  struct stat st {};
  ASSERT_EQ(::lstat(PrivateName(dir).c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0700u);
  EXPECT_EQ(roots.Get(text).root, first.root);  // held, not opened again

  // Removed (a temporary cleaner): made again on the next lookup.
  fs::remove_all(PrivateName(dir));
  ServedRootLookup again = roots.Get(text);
  EXPECT_EQ(again.root->GetState(), State::Open);
  EXPECT_FALSE(again.newlyRefused);
  EXPECT_TRUE(WriteBeneath(again, text, "made"));
  EXPECT_TRUE(fs::exists(PrivateName(dir) + "/made"));

  // Removed and replaced by another user's link: nothing reaches its target, and the refusal is reported
  // once.
  fs::create_directory(dir.Path() / "target");
  fs::remove_all(PrivateName(dir));
  fs::create_directory_symlink(dir.Path() / "target", PrivateName(dir));
  test::GiveToNobody(PrivateName(dir));
  ServedRootLookup missing = roots.Get(text);
  EXPECT_EQ(missing.root->GetState(), State::Missing);
  EXPECT_TRUE(missing.newlyRefused);
  EXPECT_NE(missing.root->RefusalText().find("Transfer folder is missing"), std::string::npos);
  EXPECT_FALSE(WriteBeneath(missing, text, "planted"));
  EXPECT_FALSE(WriteBeneath(again, text, "planted"));  // the removed folder, still held by a session
  EXPECT_FALSE(roots.Get(text).newlyRefused);
  EXPECT_TRUE(fs::is_empty(dir.Path() / "target"));

  // The link gone, the folder is made again.
  fs::remove(PrivateName(dir));
  EXPECT_EQ(roots.Get(text).root->GetState(), State::Open);
}

// An operator's folder: served unless it is no directory or is another user's folder that everyone may
// write to; a link is followed only when root or the program's user made it.
TEST(ServedRootTest, OperatorFolderIsCheckedWhenOpened) {
  test::TempDir dir;
  fs::create_directory(dir.Path() / "plain");
  fs::create_directory(dir.Path() / "open-to-all");
  fs::permissions(dir.Path() / "open-to-all", fs::perms::all);
  fs::create_directory(dir.Path() / "nobody-private");
  test::GiveToNobody(dir.Path() / "nobody-private");
  fs::create_directory(dir.Path() / "nobody-open");
  fs::permissions(dir.Path() / "nobody-open", fs::perms::all);
  test::GiveToNobody(dir.Path() / "nobody-open");
  test::WriteFile(dir.Path() / "file", "");
  fs::create_directory_symlink(dir.Path() / "plain", dir.Path() / "own-link");
  fs::create_directory_symlink(dir.Path() / "plain", dir.Path() / "nobody-link");
  test::GiveToNobody(dir.Path() / "nobody-link");
  struct Case {
    const char* name;
    State state;
    int error;
  } cases[] = {
      {"plain/", State::Open, 0},          {"open-to-all", State::Open, 0},
      {"nobody-private/", State::Open, 0}, {"nobody-open/", State::Refused, EACCES},
      {"file/", State::Absent, ENOTDIR},   {"missing/", State::Absent, ENOENT},
      {"own-link/", State::Open, 0},       {"nobody-link/", State::Refused, EACCES},
  };
  ServedRoots roots;
  int made = 0;
  for (const Case& c : cases) {
    std::string text = (dir.Path() / c.name).string();
    ServedRootLookup lookup = roots.Get(text);
    EXPECT_EQ(lookup.root->GetState(), c.state) << c.name;
    EXPECT_EQ(lookup.newlyRefused, c.state == State::Refused) << c.name;
    EXPECT_EQ(lookup.root->Error(), c.error) << c.name;
    EXPECT_EQ(WriteBeneath(lookup, text, "made-" + std::to_string(++made)), c.state == State::Open) << c.name;
  }
  // An operator's folder that appears later is served from then on.
  fs::create_directory(dir.Path() / "missing");
  EXPECT_EQ(roots.Get((dir.Path() / "missing/").string()).root->GetState(), State::Open);
}

}  // namespace
}  // namespace hx
