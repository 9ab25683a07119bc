// The program's own command line: --help, --version and a usage error, each with its exit status and stream.
#include <string>

#include <gtest/gtest.h>

#include "app/version.h"
#include "support/harbinex_process.h"
#include "support/temp_dir.h"

namespace hx {
namespace {

struct Outcome {
  int status;
  std::string out;
  std::string err;
};

// Runs the program with `args`, keeping its stdout and stderr apart.
Outcome RunProgram(const std::string& args) {
  test::TempDir streams;
  std::string out = (streams.Path() / "out").string();
  std::string err = (streams.Path() / "err").string();
  std::string output;
  int status = test::RunCommand(
      {"sh", "-c", "exec \"$0\" " + args + " >" + out + " 2>" + err, test::HarbinexBinary()}, output);
  return {status, test::ReadFile(out), test::ReadFile(err)};
}

TEST(CommandLineTest, HelpNamesEveryCommandOptionFileAndTheFolderInUse) {
  test::TempDir dir;
  for (std::string help : {"--help", "-h"}) {
    Outcome r = RunProgram(help + " --dir " + dir.Path().string());
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.err, "");
    for (const char* named :
         {"--headless",   "tftp get|put", "ftp  get|put",    "users list", "users add",    "users edit",
          "users delete", "--version",    "--dir DIR",       "--blksize",  "--windowsize", "--timeout",
          "--passive",    "--password",   "--home",          "--rights",   "Harbinex.ini", "Harbinex.log",
          "Harbinex.dbg", "Harbinex.pwd", ".config/harbinex"})
      EXPECT_NE(r.out.find(named), std::string::npos) << named;
    EXPECT_NE(r.out.find("program directory: " + dir.Dir() + "\n"), std::string::npos) << r.out;
  }
}

TEST(CommandLineTest, HelpWithoutDirNamesTheExecutablesFolderOfABuild) {
  Outcome r = RunProgram("--help");
  std::string binary = test::HarbinexBinary();
  EXPECT_EQ(r.status, 0);
  EXPECT_NE(r.out.find("program directory: " + binary.substr(0, binary.rfind('/') + 1) + "\n"),
            std::string::npos)
      << r.out;
}

TEST(CommandLineTest, VersionIsTheAboutBoxText) {
  Outcome r = RunProgram("--version");
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out, std::string(kAboutVersionText) + "\n");
  EXPECT_EQ(r.err, "");
}

TEST(CommandLineTest, UnknownOptionPrintsTheUsageToStderrWithStatus2) {
  for (std::string wrong : {"--bogus", "--headless --bogus", "--help extra", "--version extra"}) {
    Outcome r = RunProgram(wrong);
    EXPECT_EQ(r.status, 2) << wrong;
    EXPECT_EQ(r.out, "") << wrong;
    EXPECT_EQ(r.err.rfind("usage:\n  harbinex [--dir DIR]\n", 0), 0u) << wrong << ": " << r.err;
  }
}

}  // namespace
}  // namespace hx
