#include "app/program_directory.h"

#include <sys/stat.h>

#include <gtest/gtest.h>

#include "support/temp_dir.h"

namespace hx {
namespace {

TEST(ProgramDirectoryTest, DirOptionThenExecutableFolderThenConfigurationFolder) {
  struct Case {
    std::optional<std::string> dirOption;
    bool installed;
    const char* xdgConfigHome;
    const char* home;
    std::optional<std::string> expected;
  };
  const std::string exe = "/opt/build/";
  const Case cases[] = {
      {"/srv/hx", true, "/x", "/home/a", "/srv/hx/"},
      {"/srv/hx/", false, nullptr, nullptr, "/srv/hx/"},
      {std::nullopt, false, "/x", "/home/a", "/opt/build/"},
      {std::nullopt, true, "/x", "/home/a", "/x/harbinex/"},
      {std::nullopt, true, "/x/", "/home/a", "/x/harbinex/"},
      {std::nullopt, true, nullptr, "/home/a", "/home/a/.config/harbinex/"},
      // A relative or empty XDG_CONFIG_HOME is ignored.
      {std::nullopt, true, "conf", "/home/a", "/home/a/.config/harbinex/"},
      {std::nullopt, true, "", "/home/a/", "/home/a/.config/harbinex/"},
      {std::nullopt, true, nullptr, nullptr, std::nullopt},
      {std::nullopt, true, "", "", std::nullopt},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(ChooseProgramDirectory(c.dirOption, exe, c.installed, c.xdgConfigHome, c.home), c.expected)
        << c.dirOption.value_or("-") << " " << c.installed << " "
        << (c.xdgConfigHome ? c.xdgConfigHome : "null") << " " << (c.home ? c.home : "null");
  }
}

TEST(ProgramDirectoryTest, SystemProgramFoldersCountAsInstalledEvenForRoot) {
  test::TempDir writable;
  EXPECT_TRUE(IsInstalledProgram("/usr/bin/"));
  EXPECT_TRUE(IsInstalledProgram("/usr/local/bin"));
  EXPECT_FALSE(IsInstalledProgram(writable.Dir()));
  EXPECT_TRUE(IsInstalledProgram(writable.Dir() + "missing/"));
}

TEST(ProgramDirectoryTest, ConfigurationFolderIsMadeWithMode0700) {
  test::TempDir home;
  std::string dir = home.Dir() + ".config/harbinex/";
  ASSERT_TRUE(CreatePrivateFolders(dir));
  for (const std::string& made : {home.Dir() + ".config", dir}) {
    struct stat st {};
    ASSERT_EQ(::stat(made.c_str(), &st), 0) << made;
    EXPECT_TRUE(S_ISDIR(st.st_mode)) << made;
    EXPECT_EQ(st.st_mode & 07777, 0700u) << made;
  }
  EXPECT_TRUE(CreatePrivateFolders(dir));  // a second start finds it
  test::WriteFile(home.Path() / "file", "x");
  EXPECT_FALSE(CreatePrivateFolders(home.Dir() + "file/harbinex/"));
}

}  // namespace
}  // namespace hx
