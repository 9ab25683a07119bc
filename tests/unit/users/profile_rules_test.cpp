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
      {"a b|c~ ", nullptr},
      {std::string(128, 'x'), nullptr},
      {std::string(129, 'x'), "Password must be no more than 128 characters long!"},
      // A UTF-8 sequence is one character: five of two bytes are too few, 128 of three bytes are enough.
      {"\xc3\xa9\xc3\xa9\xc3\xa9\xc3\xa9\xc3\xa9", "Password must be at least 6 characters long!"},
      {"p\xc3\xa4ss w\xe2\x98\x83", nullptr},
      {[] {
         std::string s;
         for (int i = 0; i < 128; ++i) s += "\xe2\x98\x83";
         return s;
       }(),
       nullptr},
      {"\xf0\x9f\x94\x91 key!", nullptr},
      // 128 characters of four bytes are 512 bytes, one more than the crypt library takes.
      {[] {
         std::string s;
         for (int i = 0; i < 128; ++i) s += "\xf0\x9f\x94\x91";
         return s;
       }(),
       "Password must be no more than 128 characters long!"},
      {"abc\tdef", "Password may only hold printable characters"},
      {"abcdef\x7f", "Password may only hold printable characters"},
      {std::string("abc\0def", 7), "Password may only hold printable characters"},
      {"abc\xe9"
       "def",
       "Password may only hold printable characters"},                            // Latin-1, not UTF-8
      {"abcdef\xc3", "Password may only hold printable characters"},              // cut short
      {"abcdef\xc0\xaf", "Password may only hold printable characters"},          // overlong "/"
      {"abcdef\xed\xa0\x80", "Password may only hold printable characters"},      // a surrogate
      {"abcdef\xf4\x90\x80\x80", "Password may only hold printable characters"},  // beyond U+10FFFF
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
