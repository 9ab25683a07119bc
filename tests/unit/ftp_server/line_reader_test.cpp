#include "ftp/server/line_reader.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace hx::ftpd {
namespace {

// Feeds the chunks one after the other and collects what the reader yields; "<too long>" marks a
// discarded line, "<end:...>" what Finish returns.
std::vector<std::string> Read(const std::vector<std::string>& chunks, bool finish = false) {
  LineReader reader;
  std::vector<std::string> out;
  for (const std::string& chunk : chunks) {
    reader.Append(chunk);
    for (;;) {
      LineReader::Event event = reader.Next();
      if (event.kind == LineReader::Kind::NeedMore) break;
      out.push_back(event.kind == LineReader::Kind::Line ? event.text : "<too long>");
    }
  }
  std::string rest;
  if (finish && reader.Finish(rest)) out.push_back("<end:" + rest + ">");
  return out;
}

TEST(LineReaderTest, Framing) {
  struct Case {
    std::vector<std::string> chunks;
    std::vector<std::string> lines;
  } cases[] = {
      {{"USER bob\r\n"}, {"USER bob"}},
      {{"USER bob\n"}, {"USER bob"}},
      {{"USER bob\r\nPASS x\r\n"}, {"USER bob", "PASS x"}},
      {{"US", "ER b", "ob\r", "\n"}, {"USER bob"}},
      {{"\r\n"}, {""}},
      {{"\n\n"}, {"", ""}},
      {{"NOOP"}, {}},    // incomplete: waits
      {{"NOOP\r"}, {}},  // a CR waits for its follower
      {{"NOOP\r", "\n"}, {"NOOP"}},
      {{"ABC\rXYZ\r\n"}, {"ABCX", "YZ"}},  // the follower of a CR ends the line and stays in it
      {{"A\r\r\n"}, {"A\r", ""}},
      {{"A\r\rB\n"}, {"A\r", "B"}},
      {{std::string("N\0P\r\n", 5)}, {std::string("N\0P", 3)}},
  };
  for (const auto& c : cases) EXPECT_EQ(Read(c.chunks), c.lines) << c.chunks.front();
}

TEST(LineReaderTest, TelnetCommandsLeaveTheStream) {
  struct Case {
    std::vector<std::string> chunks;
    std::vector<std::string> lines;
  } cases[] = {
      {{"\xff\xf4\xff\xf2"
        "ABOR\r\n"},
       {"ABOR"}},  // interrupt and synch before ABOR
      {{"\xff\xf4\xff"
        "ABOR\r\n"},
       {"\xff"
        "ABOR"}},  // synch taken out of band: IAC before data stays
      {{"RETR a\xff\xff"
        "b\r\n"},
       {"RETR a\xff"
        "b"}},                               // IAC IAC is one 0xFF
      {{"\xff\xfb\x01NOOP\r\n"}, {"NOOP"}},  // an option request with its option byte
      {{"\xff", "\xf4", "NO", "OP\r\n"}, {"NOOP"}},
      {{"\xff", "\xfd", "\x03", "NOOP\n"}, {"NOOP"}},
      {{"\xff", "\xff", "\n"}, {"\xff"}},
      {{"A\r\xff"
        "B\n"},
       {"A\xff", "B"}},                  // the 0xFF kept after IAC is a CR's follower
      {{"\xfe\xf4\r\n"}, {"\xfe\xf4"}},  // without IAC nothing is taken
  };
  for (const auto& c : cases) EXPECT_EQ(Read(c.chunks), c.lines) << c.chunks.front();
  EXPECT_EQ(Read({"X\xff"}, true), (std::vector<std::string>{"<end:X\xff>"}));
}

TEST(LineReaderTest, EndOfInputYieldsTheUnfinishedLine) {
  EXPECT_EQ(Read({"QUIT"}, true), (std::vector<std::string>{"<end:QUIT>"}));
  EXPECT_EQ(Read({"QUIT\r"}, true), (std::vector<std::string>{"<end:QUIT>"}));
  EXPECT_EQ(Read({"NOOP\r\n"}, true), (std::vector<std::string>{"NOOP"}));
  EXPECT_EQ(Read({}, true), (std::vector<std::string>{}));
}

TEST(LineReaderTest, LongestLineIsKeptLongerOneDiscardedWhole) {
  std::string longest(kMaxCommandLine, 'a');
  EXPECT_EQ(Read({longest + "\r\n"}), (std::vector<std::string>{longest}));

  std::string tooLong(kMaxCommandLine + 1, 'b');
  EXPECT_EQ(Read({tooLong + "\r\nNOOP\r\n"}), (std::vector<std::string>{"<too long>", "NOOP"}));
  // The follower of a CR that pushes the line over the limit counts too.
  EXPECT_EQ(Read({longest + "\rX\r\n"}), (std::vector<std::string>{"<too long>", ""}));
  // Reported once, however long it grows and however it arrives.
  std::vector<std::string> chunks(100, std::string(1000, 'c'));
  chunks.push_back("\nNOOP\n");
  EXPECT_EQ(Read(chunks), (std::vector<std::string>{"<too long>", "NOOP"}));
  // A discarded line never comes back at the end of input.
  EXPECT_EQ(Read({tooLong}, true), (std::vector<std::string>{"<too long>"}));
}

}  // namespace
}  // namespace hx::ftpd
