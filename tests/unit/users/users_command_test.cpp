#include "users/users_command.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include "support/recording_frontend.h"
#include "support/temp_dir.h"
#include "users/password_file.h"
#include "users/password_hash.h"
#include "users/profile_rules.h"

namespace hx {
namespace {

const std::string kArgumentWarning =
    "harbinex: warning: a password given on the command line shows in the process list; --password - reads "
    "it "
    "from standard input\n";

// Runs the command in this process and keeps what it printed.
struct Outcome {
  int status;
  std::string out;
  std::string err;
};

class UsersCommandTest : public ::testing::Test {
 protected:
  Outcome Run(std::vector<std::string> args) {
    CommandLine line;
    line.args = std::move(args);
    ::testing::internal::CaptureStdout();
    ::testing::internal::CaptureStderr();
    int status = RunUsersCommand(line, app.Dir());
    std::string out = ::testing::internal::GetCapturedStdout();
    std::string err = ::testing::internal::GetCapturedStderr();
    return {status, out, err};
  }
  std::string PasswordFileText() const { return test::ReadFile(app.Path() / "Harbinex.pwd"); }
  std::vector<std::string> Lines() const {
    test::RecordingFrontend frontend;
    return PasswordFile(app.Dir(), frontend).Lines();
  }
  UserProfile Profile(const std::string& name) const {
    test::RecordingFrontend frontend;
    return ParseUserProfile(PasswordFile(app.Dir(), frontend).Find(name));
  }

  test::TempDir app;
  test::TempDir home;
};

TEST_F(UsersCommandTest, AddStoresAProfileWithDefaultRightsAndHashedPassword) {
  Outcome r = Run({"add", "bob", "--password", "secret1", "--home", home.Path().string()});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.err, kArgumentWarning);
  auto lines = Lines();
  ASSERT_EQ(lines.size(), 1u);
  UserProfile p = ParseUserProfile(lines[0]);
  EXPECT_EQ(p.name, "bob");
  EXPECT_EQ(p.directory, home.Dir());
  EXPECT_EQ(p.password.rfind("$y$", 0), 0u) << p.password;
  EXPECT_TRUE(CheckPassword("secret1", p.password));
  EXPECT_EQ(lines[0].substr(lines[0].size() - 24), "||1||1||1||0||0||0||0||0");
  EXPECT_EQ(PasswordFileText(), lines[0] + "\r\n");
}

TEST_F(UsersCommandTest, AddWithRightsAndWithoutHomeTakesTheFtpDirectory) {
  test::WriteFile(app.Path() / "Harbinex.ini", "[FTP]\r\nFDLDir=" + home.Dir() + "\r\n");
  Outcome r = Run({"add", "eve", "--rights", "download,rmdir", "--password", "abcdef"});
  ASSERT_EQ(r.status, 0) << r.err;
  UserProfile p = Profile("eve");
  EXPECT_EQ(p.directory, home.Dir());
  EXPECT_EQ(FormatRightsList(p.rights), "download,rmdir");
}

TEST_F(UsersCommandTest, AddRefusals) {
  ASSERT_EQ(Run({"add", "bob", "--password", "secret1", "--home", home.Dir()}).status, 0);
  const std::string before = PasswordFileText();
  struct Case {
    std::vector<std::string> args;
    std::string message;
  };
  const std::string missingDir = (home.Path() / "missing").string();
  const Case cases[] = {
      {{"add", "bob", "--password", "secret2", "--home", home.Dir()},
       "The user bob already exists!\r\nPlease specify a NEW user name"},
      {{"add", "carl", "--home", home.Dir()}, "Password must be at least 6 characters long!"},
      {{"add", "carl", "--password", "12345", "--home", home.Dir()},
       "Password must be at least 6 characters long!"},
      {{"add", "carl", "--password", std::string(129, 'x'), "--home", home.Dir()},
       "Password must be no more than 128 characters long!"},
      {{"add", "abcdefghijklmnopqrst", "--password", "123456", "--home", home.Dir()},
       "User name must be no more than 19 characters long!"},
      {{"add", "a|b", "--password", "123456", "--home", home.Dir()},
       "User name may not contain \"|\" or control characters"},
      {{"add", "carl", "--password", "123456", "--home", missingDir},
       "The directory " + missingDir + "/ does not exist!\r\n\r\nPlease choose a valid directory"},
  };
  for (const auto& c : cases) {
    Outcome r = Run(c.args);
    EXPECT_EQ(r.status, 1) << c.message;
    bool passwordArgument = std::find(c.args.begin(), c.args.end(), "--password") != c.args.end();
    EXPECT_EQ(r.err, (passwordArgument ? kArgumentWarning : "") + "harbinex: " + c.message + "\n");
    EXPECT_EQ(PasswordFileText(), before) << c.message;
  }
}

TEST_F(UsersCommandTest, NamesAreCaseSensitive) {
  ASSERT_EQ(Run({"add", "bob", "--password", "secret1", "--home", home.Dir()}).status, 0);
  ASSERT_EQ(Run({"add", "Bob", "--password", "secret2", "--home", home.Dir()}).status, 0);
  Outcome list = Run({"list"});
  EXPECT_EQ(list.out, "bob\t" + home.Dir() + "\tlogin,upload,download\nBob\t" + home.Dir() +
                          "\tlogin,upload,download\n");
  EXPECT_TRUE(CheckPassword("secret2", Profile("Bob").password));
}

TEST_F(UsersCommandTest, EditKeepsWhatItIsNotGiven) {
  ASSERT_EQ(Run({"add", "bob", "--password", "secret1", "--home", home.Dir()}).status, 0);
  const std::string stored = Profile("bob").password;

  test::TempDir other;
  ASSERT_EQ(Run({"edit", "bob", "--home", other.Path().string()}).status, 0);
  UserProfile p = Profile("bob");
  EXPECT_EQ(p.password, stored);  // byte for byte
  EXPECT_EQ(p.directory, other.Dir());
  EXPECT_EQ(FormatRightsList(p.rights), "login,upload,download");

  ASSERT_EQ(Run({"edit", "bob", "--rights", "login,overwrite"}).status, 0);
  p = Profile("bob");
  EXPECT_EQ(p.password, stored);
  EXPECT_EQ(p.directory, other.Dir());
  EXPECT_EQ(FormatRightsList(p.rights), "login,overwrite");

  // The same password given again is hashed with a fresh salt.
  ASSERT_EQ(Run({"edit", "bob", "--password", "secret1"}).status, 0);
  p = Profile("bob");
  EXPECT_NE(p.password, stored);
  EXPECT_TRUE(CheckPassword("secret1", p.password));
  EXPECT_EQ(FormatRightsList(p.rights), "login,overwrite");

  Outcome r = Run({"edit", "bob", "--password", "short"});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err, kArgumentWarning + "harbinex: Password must be at least 6 characters long!\n");
}

TEST_F(UsersCommandTest, EditAndDeleteOfMissingNames) {
  ASSERT_EQ(Run({"add", "bobby", "--password", "secret1", "--home", home.Dir()}).status, 0);
  const std::string before = PasswordFileText();
  Outcome r = Run({"edit", "bob", "--rights", ""});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err,
            "harbinex: The user name bob was not found!\r\nEnter the name of an existing user in the \"User "
            "Name:\" box below\n");
  r = Run({"delete", "Bobby"});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err, "harbinex: The user Bobby was not found!\r\nPlease specify a existing user name\n");
  r = Run({"delete"});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(
      r.err,
      "harbinex: No user name specified!\r\nPlease specify a username in the \"User Name:\" box below\n");
  EXPECT_EQ(PasswordFileText(), before);
}

TEST_F(UsersCommandTest, DeleteRemovesOnlyThatName) {
  ASSERT_EQ(Run({"add", "bobby", "--password", "secret1", "--home", home.Dir()}).status, 0);
  ASSERT_EQ(Run({"add", "bob", "--password", "secret1", "--home", home.Dir()}).status, 0);
  ASSERT_EQ(Run({"delete", "bob"}).status, 0);
  auto lines = Lines();
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_EQ(ParseUserProfile(lines[0]).name, "bobby");
  EXPECT_EQ(Run({"list"}).out, "bobby\t" + home.Dir() + "\tlogin,upload,download\n");
}

TEST_F(UsersCommandTest, RelativeHomeIsStoredAbsoluteAndNormal) {
  const auto before = std::filesystem::current_path();
  std::filesystem::current_path(home.Path());
  test::WriteFile(home.Path() / "sub" / "keep", "");
  test::WriteFile(home.Path() / "x" / "keep", "");
  // The server would take "." and ".." parts literally, and then refuse every path beneath such a root.
  Outcome added = Run({"add", "rel", "--password", "secret1", "--home", "sub/../x"});
  std::string addedDir = Profile("rel").directory;
  Outcome edited = Run({"edit", "rel", "--home", (home.Path() / "x" / ".." / "." / "sub" / "").string()});
  std::filesystem::current_path(before);
  ASSERT_EQ(added.status, 0) << added.err;
  EXPECT_EQ(addedDir, (home.Path() / "x").string() + "/");
  ASSERT_EQ(edited.status, 0) << edited.err;
  EXPECT_EQ(Profile("rel").directory, (home.Path() / "sub").string() + "/");
}

TEST_F(UsersCommandTest, WrongUsage) {
  const std::vector<std::vector<std::string>> cases = {
      {},
      {"rename", "bob"},
      {"add", "bob", "--rights", "login,fly"},
      {"add", "bob", "extra"},
      {"add", "bob", "--password"},
      {"edit", "bob", "--bogus", "x"},
      {"list", "extra"},
      {"add", "bob", "--password", "secret1", "--home", ""},
  };
  for (const auto& args : cases) {
    Outcome r = Run(args);
    EXPECT_EQ(r.status, 2);
    EXPECT_NE(r.err.find("usage:"), std::string::npos);
  }
  EXPECT_TRUE(Lines().empty());
}

}  // namespace
}  // namespace hx
