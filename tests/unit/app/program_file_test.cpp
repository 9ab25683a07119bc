#include "app/program_file.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cerrno>
#include <filesystem>
#include <functional>

#include "app/atomic_file.h"
#include "app/config_store.h"
#include "app/text_lines.h"
#include "app/transfer_log.h"
#include "support/recording_frontend.h"
#include "support/temp_dir.h"

namespace hx {
namespace {

namespace fs = std::filesystem;

// Every way the program creates or opens one of its own files in the program directory.
struct ProgramFileUse {
  const char* name;
  mode_t mode;  // of a file it creates
  std::function<void(const fs::path& appDir, ConfigStore& config, Frontend& frontend)> use;
};

const ProgramFileUse kUses[] = {
    {"Harbinex.log", 0640,
     [](const fs::path& appDir, ConfigStore& config, Frontend& frontend) {
       TransferLog log(appDir, config, frontend);
       if (log.EnableLogging()) log.OnLogLine(1, "TFTP: line");
     }},
    {"Harbinex.dbg", 0600,
     [](const fs::path& appDir, ConfigStore& config, Frontend& frontend) {
       TransferLog log(appDir, config, frontend);
       if (log.EnableDebugging(1)) log.OnLogLine(1, "TFTP: line");
     }},
    {"Harbinex.ini", 0600,
     [](const fs::path&, ConfigStore& config, Frontend&) {
       config.WriteProfileInt("General", "Logging", 1);
     }},
    {"Harbinex.ini.lock", 0600,
     [](const fs::path& appDir, ConfigStore&, Frontend&) { WriterLock lock(appDir / "Harbinex.ini"); }},
    {"Harbinex.log", 0640,
     [](const fs::path& appDir, ConfigStore&, Frontend&) { ReadViewerLines(appDir / "Harbinex.log"); }},
};

// New files get their mode whatever the umask.
TEST(ProgramFileTest, CreatedWithTheirModeWhateverTheUmask) {
  mode_t saved = ::umask(0);
  for (const ProgramFileUse& use : kUses) {
    test::TempDir dir;
    ConfigStore config(dir.Path() / "Harbinex.ini");
    test::RecordingFrontend frontend;
    use.use(dir.Path(), config, frontend);
    struct stat st {};
    ASSERT_EQ(::lstat((dir.Path() / use.name).c_str(), &st), 0) << use.name;
    EXPECT_TRUE(S_ISREG(st.st_mode)) << use.name;
    EXPECT_EQ(st.st_mode & 07777, use.mode) << use.name;
  }
  ::umask(saved);
}

// A link planted under a file's name is refused, not followed: its target keeps its content, and a target
// that does not exist is not created.
TEST(ProgramFileTest, PlantedLinksAreNotFollowed) {
  for (const ProgramFileUse& use : kUses) {
    for (bool dangling : {false, true}) {
      test::TempDir dir;
      fs::path target = dir.Path() / "elsewhere" / "target";
      if (!dangling) test::WriteFile(target, "untouched");
      fs::create_directories(target.parent_path());
      fs::path appDir = dir.Path() / "program";
      fs::create_directories(appDir);
      fs::create_symlink(target, appDir / use.name);
      ConfigStore config(appDir / "Harbinex.ini");
      test::RecordingFrontend frontend;
      use.use(appDir, config, frontend);
      EXPECT_TRUE(fs::is_symlink(appDir / use.name)) << use.name;
      EXPECT_EQ(fs::exists(target), !dangling) << use.name;
      EXPECT_EQ(test::ReadFile(target), dangling ? "" : "untouched") << use.name;
    }
  }
}

TEST(ProgramFileTest, RefusesPipesWithoutWaiting) {
  test::TempDir dir;
  fs::path pipe = dir.Path() / "Harbinex.ini";
  ASSERT_EQ(::mkfifo(pipe.c_str(), 0600), 0);
  EXPECT_EQ(OpenProgramFile(pipe, O_RDONLY, 0600), -1);
  EXPECT_EQ(errno, EINVAL);
  EXPECT_FALSE(ReadWholeFile(pipe));
}

}  // namespace
}  // namespace hx
