#include "users/profile_rules.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "support/temp_dir.h"
#include "users/directory_rule.h"

namespace hx {
namespace {

TEST(ProfileRules, UserNames) {
  struct Case {
    std::string name;
    const char* refusal;  // nullptr: accepted
  };
  const Case cases[] = {
      {"bob", nullptr},
      {"Bob", nullptr},
      {"a", nullptr},
      {std::string(19, 'x'), nullptr},
      {"with blank", nullptr},
      {"", "No user name specified!\r\nPlease specify a username in the \"User Name:\" box below"},
      {std::string(20, 'x'), "User name must be no more than 19 characters long!"},
      {"a|b", "User name may not contain \"|\" or control characters"},
      {"ab||", "User name may not contain \"|\" or control characters"},
      {"line\r\nbreak", "User name may not contain \"|\" or control characters"},
      {std::string("nul\0x", 5), "User name may not contain \"|\" or control characters"},
  };
  for (const auto& c : cases) {
    auto refusal = CheckNewUserName(c.name);
    if (c.refusal == nullptr) {
      EXPECT_FALSE(refusal.has_value()) << c.name;
    } else {
      EXPECT_EQ(refusal.value_or("<accepted>"), c.refusal) << c.name;
    }
  }
}

TEST(ProfileRules, Passwords) {
  struct Case {
    std::string password;
    const char* refusal;
  };
  const Case cases[] = {
      {"", "Password must be at least 6 characters long!"},
      {" ", "Password must be at least 6 characters long!"},
      {"12345", "Password must be at least 6 characters long!"},
      {"123456", nullptr},
      {"1234567", nullptr},
      {"12345678", nullptr},
      {"a b|c~ ", nullptr},
      {"123456789", "Password must be no more than 8 characters long!"},
      {"abc\tdef", "Password may only hold printable ASCII characters"},
      {"abc\xe9"
       "def",
       "Password may only hold printable ASCII characters"},
  };
  for (const auto& c : cases) {
    auto refusal = CheckNewPassword(c.password);
    if (c.refusal == nullptr) {
      EXPECT_FALSE(refusal.has_value()) << c.password;
    } else {
      EXPECT_EQ(refusal.value_or("<accepted>"), c.refusal) << c.password;
    }
  }
}

TEST(ProfileRules, RightsLists) {
  struct Case {
    const char* list;
    const char* formatted;  // nullptr: refused
    const char* unknown;
  };
  const Case cases[] = {
      {"login,upload,download", "login,upload,download", ""},
      {"rmdir,login", "login,rmdir", ""},
      {" Login , MKDIR ", "login,mkdir", ""},
      {"login,login", "login", ""},
      {"", "-", ""},
      {"login,upload,download,overwrite,rename,delete,mkdir,rmdir",
       "login,upload,download,overwrite,rename,delete,mkdir,rmdir", ""},
      {"login,write", nullptr, "write"},
      {"login,", nullptr, ""},
      {"all", nullptr, "all"},
  };
  for (const auto& c : cases) {
    std::string unknown = "<unset>";
    auto rights = ParseRightsList(c.list, unknown);
    if (c.formatted == nullptr) {
      EXPECT_FALSE(rights.has_value()) << c.list;
      EXPECT_EQ(unknown, c.unknown) << c.list;
    } else {
      ASSERT_TRUE(rights.has_value()) << c.list;
      EXPECT_EQ(FormatRightsList(*rights), c.formatted) << c.list;
    }
  }
  EXPECT_EQ(FormatRightsList(DefaultNewUserRights()), "login,upload,download");
}

TEST(ProfileRules, DialogMessages) {
  EXPECT_EQ(UserExistsMessage("bob"), "The user bob already exists!\r\nPlease specify a NEW user name");
  EXPECT_EQ(EditUserNotFoundMessage("bob"),
            "The user name bob was not found!\r\nEnter the name of an existing user in the \"User Name:\" "
            "box below");
  EXPECT_EQ(DeleteUserNotFoundMessage("bob"),
            "The user bob was not found!\r\nPlease specify a existing user name");
}

TEST(DirectoryRule, AcceptsWritableDirectoriesAndAddsTheSeparator) {
  test::TempDir dir;
  std::string path = dir.Path().string();
  EXPECT_FALSE(CheckProfileDirectory(path).has_value());
  EXPECT_EQ(path, dir.Path().string() + "/");
  std::string again = path;
  EXPECT_FALSE(CheckProfileDirectory(again).has_value());
  EXPECT_EQ(again, path);
  // The probe file is gone again.
  EXPECT_TRUE(std::filesystem::is_empty(dir.Path()));
}

TEST(DirectoryRule, RefusesMissingPathsAndFiles) {
  test::TempDir dir;
  const std::string missingShown = (dir.Path() / "nope").string() + "/";
  std::string missing = (dir.Path() / "nope").string();
  auto refusal = CheckProfileDirectory(missing);
  EXPECT_EQ(refusal.value_or(""),
            "The directory " + missingShown + " does not exist!\r\rPlease choose a valid directory");
  EXPECT_EQ(missing, missingShown);

  test::WriteFile(dir.Path() / "file", "x");
  const std::string fileShown = (dir.Path() / "file").string() + "/";
  std::string file = (dir.Path() / "file").string();
  refusal = CheckProfileDirectory(file);
  EXPECT_EQ(refusal.value_or(""),
            fileShown + " exists, but is not a directory!\r\rPlease choose a valid directory name\r");
}

}  // namespace
}  // namespace hx
