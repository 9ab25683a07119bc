#include "ftp/server/info_replies.h"

#include <gtest/gtest.h>

namespace hx::ftpd {
namespace {

TEST(InfoRepliesTest, HelpHas31LinesFirstAndLastNumbered) {
  ASSERT_EQ(kHelpLines.size(), 31u);
  EXPECT_STREQ(kHelpLines[0], "214-USER\tEnter user name\r\n");
  EXPECT_STREQ(kHelpLines[1], "PASS\tSend Password\r\n");
  EXPECT_STREQ(kHelpLines[16], "ABOR\tAbort transfer\r\n");
  EXPECT_STREQ(kHelpLines[25], "HELP\tYou are looking at it\r\n");
  EXPECT_STREQ(kHelpLines[29], "FEAT\tFeature list\r\n");
  EXPECT_STREQ(kHelpLines[30], "214 Help command successful\r\n");
  for (const char* line : kHelpLines) {
    std::string text(line);
    EXPECT_EQ(text.substr(text.size() - 2), "\r\n") << text;
    EXPECT_EQ(text.find("\r\n"), text.size() - 2) << text;
  }
}

TEST(InfoRepliesTest, FeatureList) {
  EXPECT_EQ(
      FeatLines(true, "type*;size;"),
      (std::vector<std::string>{"211- Feature listing\r\n", " MDTM\r\n", " SIZE\r\n", " REST STREAM\r\n",
                                " EPRT\r\n", " EPSV\r\n", " PASV\r\n", " MLST type*;size;\r\n", " UTF8\r\n",
                                " MFMT\r\n", " HASH SHA-256*;SHA-1;MD5\r\n", "211 End\r\n"}));
  // Without passive mode PASV is not offered; HASH marks the session's choice.
  EXPECT_EQ(
      FeatLines(false, "type*;size;", HashAlgorithm::Sha1),
      (std::vector<std::string>{"211- Feature listing\r\n", " MDTM\r\n", " SIZE\r\n", " REST STREAM\r\n",
                                " EPRT\r\n", " EPSV\r\n", " MLST type*;size;\r\n", " UTF8\r\n", " MFMT\r\n",
                                " HASH SHA-256;SHA-1*;MD5\r\n", "211 End\r\n"}));
}

TEST(InfoRepliesTest, StatusLines) {
  auto lines = StatusLines("127.0.0.1", "AnonYmous", 'I');
  EXPECT_EQ(lines[0], "211- System status:\r\n");
  EXPECT_EQ(lines[1], "Harbinex version 1.1\r\n");
  EXPECT_EQ(lines[2], "Connected to : 127.0.0.1\r\n");
  EXPECT_EQ(lines[3], "Logged in as : AnonYmous\r\n");
  EXPECT_EQ(lines[4], "Type: BINARY, STRUcture: FILE, MODE: STREAM\r\n");
  EXPECT_EQ(lines[5], "211 End of status\r\n");
  EXPECT_EQ(StatusLines("", "", 'A')[4], "Type: ASCII, STRUcture: FILE, MODE: STREAM\r\n");
}

TEST(InfoRepliesTest, TypeModeStru) {
  struct Case {
    std::string argument;
    char before, after;
    std::string reply;
  } types[] = {
      {"A", 'I', 'A', "200 Type set to A.\r\n"},
      {"A N", 'I', 'A', "200 Type set to A.\r\n"},
      {"I", 'A', 'I', "200 Type set to I.\r\n"},
      {"E", 'A', 'A', "504 Type EBCDIC not supported\r\n"},
      {"a", 'I', 'I', "504 Command not implemented for that parameter\r\n"},
      {"L 8", 'A', 'A', "504 Command not implemented for that parameter\r\n"},
      {"", 'I', 'I', "504 Command not implemented for that parameter\r\n"},
  };
  for (const auto& c : types) {
    char type = c.before;
    EXPECT_EQ(TypeReply(c.argument, type), c.reply) << c.argument;
    EXPECT_EQ(type, c.after) << c.argument;
  }
  EXPECT_EQ(ModeReply("S"), "200 Command OK. Current mode is stream\r\n");
  EXPECT_EQ(ModeReply("s"), "504 Only stream mode is supported\r\n");
  EXPECT_EQ(ModeReply(""), "504 Only stream mode is supported\r\n");
  EXPECT_EQ(ModeReply("B"), "504 Only stream mode is supported\r\n");
  EXPECT_EQ(StruReply("F"), "200 Command OK. Current mode is File\r\n");
  EXPECT_EQ(StruReply("R"), "504 FILE is only structure type supported\r\n");
  EXPECT_EQ(StruReply(""), "504 FILE is only structure type supported\r\n");
  EXPECT_EQ(SystemReply(), "215 UNIX Type: L8\r\n");
}

TEST(InfoRepliesTest, MdtmIsUtc) {
  EXPECT_EQ(FormatMdtmTime(0), "19700101000000");
  EXPECT_EQ(FormatMdtmTime(1000000000), "20010909014640");
  EXPECT_EQ(FormatMdtmTime(4102444799), "20991231235959");
}

TEST(InfoRepliesTest, AsciiSizeCountsEveryLfTwice) {
  EXPECT_EQ(CountAsciiBytes("123456789\n123456789\n123456789\n"), 33u);  // 30 bytes, 3 lines
  EXPECT_EQ(CountAsciiBytes("a\r\nb"), 5u);                              // a CR LF pair counts 3
  EXPECT_EQ(CountAsciiBytes(""), 0u);
  EXPECT_EQ(CountAsciiBytes("\n\n"), 4u);
  // Every byte value at every position of a word: only LF counts.
  std::string all;
  for (int round = 0; round < 9; ++round)
    for (int value = 0; value < 256; ++value) all += static_cast<char>((value + round) % 256);
  all += "\n\n\n";
  EXPECT_EQ(CountAsciiBytes(all), all.size() + 12u);
  EXPECT_EQ(CountAsciiBytes(std::string(4099, '\n')), 8198u);
}

TEST(InfoRepliesTest, FormatReply) {
  EXPECT_EQ(FormatReply("550 %s\r\n", "docs : No such file or directory."),
            "550 docs : No such file or directory.\r\n");
  EXPECT_EQ(FormatReply("502 Command %s not implemented\r\n", "SITE CHMOD 1 x"),
            "502 Command SITE CHMOD 1 x not implemented\r\n");
  EXPECT_EQ(FormatReply("200 Command OK\r\n", "x"), "200 Command OK\r\n");
  EXPECT_EQ(FormatReply("550 %s\r\n", "100%s done"), "550 100%s done\r\n");
}

}  // namespace
}  // namespace hx::ftpd
