#include "app/transfer_log.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "app/config_store.h"
#include "app/text_lines.h"
#include "support/recording_frontend.h"
#include "support/temp_dir.h"

namespace hx {
namespace {

TEST(LogFormatTest, EnglishMonthAndTwoDigitFields) {
  std::tm t{};
  t.tm_year = 98;
  t.tm_mon = 0;
  t.tm_mday = 2;
  t.tm_hour = 9;
  t.tm_min = 5;
  t.tm_sec = 7;
  EXPECT_EQ(FormatLogTimeStamp(t), "January 02, 1998 09:05:07");
  t.tm_mon = 11;
  t.tm_mday = 31;
  t.tm_hour = 23;
  EXPECT_EQ(FormatLogLine(t, "TFTP: x"), "December 31, 1998 23:05:07 TFTP: x\r\n");
}

class TransferLogTest : public ::testing::Test {
 protected:
  test::TempDir dir;
  ConfigStore config{dir.Path() / "Harbinex.ini"};
  test::RecordingFrontend frontend;

  std::vector<std::string> Lines(const char* name) {
    return SplitViewerLines(test::ReadFile(dir.Path() / name));
  }
};

TEST_F(TransferLogTest, LogAndDebugFilesFollowTheMask) {
  config.WriteProfileInt("General", "Logging", 1);
  config.WriteProfileInt("General", "Debugging", 3);
  {
    TransferLog log(dir.Path(), config, frontend);
    log.Start();
    EXPECT_TRUE(log.Logging());
    EXPECT_EQ(log.DebugMask(), 0);
    EXPECT_EQ(config.GetProfileInt("General", "Debugging", -1), 0);

    ASSERT_TRUE(log.EnableDebugging(2));
    EXPECT_EQ(config.GetProfileInt("General", "Debugging", -1), 2);
    log.OnLogLine(1, "TFTP: Connection from address 127.0.0.1");  // log only
    log.OnDebugLine(1, "TFTP: dropped");                          // TFTP not in the mask
    log.OnLogLine(2, "FTP: Connection from address 127.0.0.1");   // log and trace
    log.OnDebugLine(2, "FTP: Thread 1 Command Received: NOOP");
    log.DisableDebugging();
    EXPECT_EQ(config.GetProfileInt("General", "Debugging", -1), 0);
    log.OnDebugLine(2, "FTP: after");  // trace closed: dropped
  }
  auto logLines = Lines("Harbinex.log");
  ASSERT_EQ(logLines.size(), 2u);
  EXPECT_NE(logLines[0].find(" TFTP: Connection from address 127.0.0.1"), std::string::npos);
  EXPECT_EQ(test::ReadFile(dir.Path() / "Harbinex.log")
                .substr(test::ReadFile(dir.Path() / "Harbinex.log").size() - 2),
            "\r\n");
  auto debugLines = Lines("Harbinex.dbg");
  ASSERT_EQ(debugLines.size(), 2u);
  EXPECT_NE(debugLines[0].find("FTP: Connection from address"), std::string::npos);
  EXPECT_NE(debugLines[1].find("Command Received: NOOP"), std::string::npos);
  // Every entry reached the front end, logging on or off.
  EXPECT_EQ(frontend.LogEntries().size(), 2u);

  // A second run appends; nothing is truncated.
  TransferLog again(dir.Path(), config, frontend);
  again.Start();
  again.OnLogLine(1, "TFTP: second run");
  EXPECT_EQ(Lines("Harbinex.log").size(), 3u);
  again.DisableLogging();
  EXPECT_EQ(config.GetProfileInt("General", "Logging", -1), 0);
  again.OnLogLine(1, "TFTP: dropped");
  EXPECT_EQ(Lines("Harbinex.log").size(), 3u);
}

TEST_F(TransferLogTest, FilesThatCannotBeOpenedSwitchTheFeatureOff) {
  std::filesystem::create_directory(dir.Path() / "Harbinex.log");
  std::filesystem::create_directory(dir.Path() / "Harbinex.dbg");
  config.WriteProfileInt("General", "Logging", 1);
  TransferLog log(dir.Path(), config, frontend);
  log.Start();
  EXPECT_FALSE(log.Logging());
  EXPECT_EQ(config.GetProfileInt("General", "Logging", -1), 0);
  EXPECT_FALSE(log.EnableDebugging(3));
  EXPECT_EQ(log.DebugMask(), 0);
  EXPECT_EQ(frontend.Messages(),
            (std::vector<std::string>{"Error opening log file", "Error opening debug file"}));
}

TEST_F(TransferLogTest, PeerTextCannotBreakALine) {
  config.WriteProfileInt("General", "Logging", 1);
  TransferLog log(dir.Path(), config, frontend);
  log.Start();
  ASSERT_TRUE(log.EnableDebugging(3));
  log.OnLogLine(1, "TFTP: GET a\nSTARTING fake\x1b[2J");
  // A debug line that quotes a reply with its CR LF keeps that end as it always did.
  log.OnDebugLine(2, "FTP: Thread 7 Reply: 226 ok\r\n");
  log.Close();

  std::string logFile = test::ReadFile(dir.Path() / "Harbinex.log");
  ASSERT_EQ(Lines("Harbinex.log").size(), 1u) << logFile;
  EXPECT_TRUE(logFile.ends_with(" TFTP: GET a\\x0aSTARTING fake\\x1b[2J\r\n")) << logFile;
  std::string trace = test::ReadFile(dir.Path() / "Harbinex.dbg");
  EXPECT_NE(trace.find(" TFTP: GET a\\x0aSTARTING fake\\x1b[2J\r\n"), std::string::npos) << trace;
  EXPECT_TRUE(trace.ends_with(" FTP: Thread 7 Reply: 226 ok\r\n\r\n")) << trace;
  // The console echo of the entry is the file's line without its end.
  auto entries = frontend.LogEntries();
  ASSERT_EQ(entries.size(), 1u);
  EXPECT_EQ(entries[0].source, 1);
  EXPECT_TRUE(entries[0].line.ends_with(" TFTP: GET a\\x0aSTARTING fake\\x1b[2J"));
}

TEST(ViewerLinesTest, SplitsOnLfAndCrLf) {
  EXPECT_EQ(SplitViewerLines("a\r\nb\nc"), (std::vector<std::string>{"a", "b", "c"}));
  EXPECT_EQ(SplitViewerLines("a\n\nb\n"), (std::vector<std::string>{"a", "", "b"}));
  EXPECT_EQ(SplitViewerLines(""), std::vector<std::string>{});
  EXPECT_EQ(SplitViewerLines("x\r"), std::vector<std::string>{"x\r"});  // a lone CR ends no line

  test::TempDir dir;
  auto missing = ReadViewerLines(dir.Path() / "Harbinex.log");
  ASSERT_TRUE(missing);
  EXPECT_TRUE(missing->empty());
  EXPECT_TRUE(std::filesystem::exists(dir.Path() / "Harbinex.log"));
  EXPECT_FALSE(ReadViewerLines(dir.Path() / "no" / "such.log"));
}

}  // namespace
}  // namespace hx
