#include "ftp/client/reply_reader.h"

#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <vector>

namespace hx::ftpc {
namespace {

std::vector<std::string> AllLines(ReplyLineBuffer& buffer) {
  std::vector<std::string> lines;
  std::string line;
  while (buffer.NextLine(line)) lines.push_back(line);
  return lines;
}

struct FramingCase {
  const char* name;
  std::string bytes;
  std::vector<std::string> lines;  // complete lines
  std::string rest;                // what TakeRest yields at the end of input ("" and no rest: none)
  bool hasRest;
};

TEST(ReplyLineBuffer, FramesLinesLikeTheCommandReader) {
  const FramingCase cases[] = {
      {"crlf", "220 Hello\r\n", {"220 Hello"}, "", false},
      {"lf alone", "220 Hello\n331 Pw\n", {"220 Hello", "331 Pw"}, "", false},
      // A CR ends the line together with its follower, which stays at the line's end.
      {"cr keeps its follower", "220 A\rB331 C\r\n", {"220 AB", "331 C"}, "", false},
      {"cr then crlf", "220 A\rB\r\n", {"220 AB", ""}, "", false},
      {"cr cr", "220 A\r\r\n", {"220 A\r", ""}, "", false},
      {"empty line", "\r\n220 x\r\n", {"", "220 x"}, "", false},
      {"unfinished", "220 Hel", {}, "220 Hel", true},
      {"cr without follower waits", "220 A\r", {}, "220 A", true},
      {"two replies in one receive", "150 Opening\r\n226 Done\r\n", {"150 Opening", "226 Done"}, "", false},
      {"binary bytes pass",
       std::string("200 \x01\xff ok\r\n", 11),
       {std::string("200 \x01\xff ok", 9)},
       "",
       false},
  };
  for (const auto& c : cases) {
    ReplyLineBuffer buffer;
    buffer.Append(c.bytes);
    EXPECT_EQ(AllLines(buffer), c.lines) << c.name;
    std::string rest;
    EXPECT_EQ(buffer.TakeRest(rest), c.hasRest) << c.name;
    EXPECT_EQ(rest, c.rest) << c.name;
    EXPECT_FALSE(buffer.TakeRest(rest)) << c.name;
  }
}

TEST(ReplyLineBuffer, KeepsBytesBeyondOneReplyForTheNextRead) {
  // The 1xx line and an early final reply arrive together; the second must wait for its reader.
  ReplyLineBuffer buffer;
  buffer.Append("150 Opening data connection\r\n226 Tran");
  std::string line;
  ASSERT_TRUE(buffer.NextLine(line));
  EXPECT_EQ(line, "150 Opening data connection");
  EXPECT_FALSE(buffer.HasLine());
  EXPECT_FALSE(buffer.NextLine(line));
  buffer.Append("sfer complete\r\n");
  std::string peeked;
  ASSERT_TRUE(buffer.PeekLine(peeked));
  EXPECT_EQ(peeked, "226 Transfer complete");
  ASSERT_TRUE(buffer.NextLine(line));
  EXPECT_EQ(line, peeked);
}

TEST(ReplyLineBuffer, LinesSplitAcrossReceivesOneByteAtATime) {
  const std::string bytes = "220-Welcome\r\n220-to\rX220 end\r\n";
  ReplyLineBuffer buffer;
  std::vector<std::string> lines;
  std::string line;
  for (char c : bytes) {
    buffer.Append(std::string(1, c));
    while (buffer.NextLine(line)) lines.push_back(line);
  }
  EXPECT_EQ(lines, (std::vector<std::string>{"220-Welcome", "220-toX", "220 end"}));
}

TEST(ReplyLineBuffer, AnEndlessLineIsOverlong) {
  ReplyLineBuffer buffer;
  buffer.Append(std::string(kMaxReplyLine, 'x'));
  EXPECT_FALSE(buffer.Overlong());
  buffer.Append("y");
  EXPECT_TRUE(buffer.Overlong());
  buffer.Append("\n");
  EXPECT_FALSE(buffer.Overlong());  // ended after all: a line to read
  EXPECT_TRUE(buffer.HasLine());
}

TEST(ReplyLineBuffer, MemoryIsReclaimedAsLinesAreTaken) {
  ReplyLineBuffer buffer;
  std::string line;
  for (int i = 0; i < 100000; ++i) {
    buffer.Append("200 NOOP ok\r\n");
    ASSERT_TRUE(buffer.NextLine(line));
  }
  EXPECT_FALSE(buffer.HasLine());
  EXPECT_FALSE(buffer.Overlong());
}

// ExpectReply, line by line: a reply beginning with the digit, continued while the fourth character is "-".
struct ReplyCase {
  const char* name;
  char digit;
  std::vector<std::string> lines;
  std::vector<ReplyStep> steps;
};

TEST(ClassifyReplyLine, SingleAndMultiLineReplies) {
  using S = ReplyStep;
  const ReplyCase cases[] = {
      {"greeting", '2', {"220 Vantrel FTP Server Version 1.1"}, {S::Accepted}},
      {"any 2xx satisfies 2", '2', {"257 \"/\" created"}, {S::Accepted}},
      {"any 1xx satisfies 1", '1', {"125 Data connection already open"}, {S::Accepted}},
      {"password wanted", '3', {"331 Password required"}, {S::Accepted}},
      {"230 is no 3xx", '3', {"230 Logged in"}, {S::Refused}},
      {"550 to RETR", '1', {"550 No such file"}, {S::Refused}},
      {"empty line", '2', {""}, {S::Refused}},
      {"blank first", '2', {" 220 x"}, {S::Refused}},
      {"just the code", '2', {"220"}, {S::Accepted}},
      {"short line", '2', {"2"}, {S::Accepted}},
      {"multi-line greeting",
       '2',
       {"220-Welcome", "220-Second line", "220 Ready"},
       {S::Continue, S::Continue, S::Accepted}},
      {"continuation with other text fails",
       '2',
       {"220-Welcome", "This line has no code", "220 Ready"},
       {S::Continue, S::Refused}},
      {"continuation of another class fails", '2', {"220-Welcome", "530-No"}, {S::Continue, S::Refused}},
      {"code only continuation", '2', {"220-", "220 "}, {S::Continue, S::Accepted}},
      {"continuation ends at first line without hyphen",
       '2',
       {"211-Features", "2xx anything"},
       {S::Continue, S::Accepted}},
      {"hyphen elsewhere", '2', {"22-0 x"}, {S::Accepted}},
  };
  for (const auto& c : cases) {
    ASSERT_LE(c.steps.size(), c.lines.size()) << c.name;
    for (size_t i = 0; i < c.steps.size(); ++i) {
      EXPECT_EQ(ClassifyReplyLine(c.digit, c.lines[i]), c.steps[i]) << c.name << " line " << i;
    }
  }
}

TEST(ReplyLimit, TenThousandLinesWithoutAnEndAreTooLong) {
  const ReplyLimit::TimePoint t0{};
  ReplyLimit limit;
  EXPECT_FALSE(limit.Deadline().has_value());
  for (size_t line = 1; line < kMaxReplyLines; ++line) ASSERT_TRUE(limit.Continue(t0)) << line;
  EXPECT_FALSE(limit.Continue(t0));
}

TEST(ReplyLimit, AReplyEndsSixtySecondsAfterItsFirstLine) {
  using namespace std::chrono_literals;
  const ReplyLimit::TimePoint t0 = ReplyLimit::TimePoint{} + 1h;
  ReplyLimit limit;
  ASSERT_TRUE(limit.Continue(t0));
  EXPECT_EQ(limit.Deadline(), t0 + 60s);
  // A line every half second: the one at 59.5 s may still continue the reply, the one at 60 s may not.
  for (auto at = t0 + 500ms; at < t0 + 60s; at += 500ms) ASSERT_TRUE(limit.Continue(at));
  EXPECT_FALSE(limit.Continue(t0 + 60s));
  EXPECT_EQ(limit.Deadline(), t0 + 60s);
}

}  // namespace
}  // namespace hx::ftpc
