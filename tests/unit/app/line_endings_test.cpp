#include "app/line_endings.h"

#include <gtest/gtest.h>

#include <string>

namespace hx {
namespace {

using namespace std::string_literals;

std::string Encode(const std::string& local, LineEndRules rules) {
  std::string out;
  EncodeLineEnds(local, rules, out);
  return out;
}

// Decodes `wire` cut into two pieces at `cut`, as two receives would deliver it.
std::string DecodeCut(const std::string& wire, size_t cut, LineEndRules rules) {
  LineEndDecoder decoder(rules);
  std::string out;
  decoder.Decode(std::string_view(wire).substr(0, cut), out);
  decoder.Decode(std::string_view(wire).substr(cut), out);
  decoder.Finish(out);
  return out;
}

struct Case {
  const char* label;
  std::string local;
  std::string wire;
};

TEST(LineEndings, FtpEncodesEveryLf) {
  const Case cases[] = {
      {"empty", "", ""},
      {"no line end", "abc", "abc"},
      {"lines", "a\nb\n", "a\r\nb\r\n"},
      {"empty lines", "\n\n", "\r\n\r\n"},
      {"a CR stays", "a\rb", "a\rb"},
      {"a CR LF in the file gains a CR", "a\r\n", "a\r\r\n"},
      {"NUL stays", "a\0b"s, "a\0b"s},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.label);
    EXPECT_EQ(Encode(c.local, LineEndRules::Ftp), c.wire);
  }
}

TEST(LineEndings, NetasciiEncodesLfAndCr) {
  const Case cases[] = {
      {"empty", "", ""},
      {"lines", "a\nb\n", "a\r\nb\r\n"},
      {"a bare CR", "a\rb", "a\r\0b"s},
      {"a CR LF in the file", "a\r\n", "a\r\0\r\n"s},
      {"CR at the end", "a\r", "a\r\0"s},
      {"NUL stays", "\0"s, "\0"s},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.label);
    EXPECT_EQ(Encode(c.local, LineEndRules::Netascii), c.wire);
  }
}

TEST(LineEndings, FtpDecodesAtEveryCut) {
  const Case cases[] = {
      {"empty", "", ""},
      {"lines", "a\nb\n", "a\r\nb\r\n"},
      {"a bare CR is kept", "a\rb", "a\rb"},
      {"CR CR LF keeps the first CR", "\r\n", "\r\r\n"},
      {"a bare LF stays", "a\nb", "a\nb"},
      {"a CR at the very end is kept", "a\r", "a\r"},
      {"CR NUL is no pair in FTP", "\r\0"s, "\r\0"s},
  };
  for (const Case& c : cases) {
    for (size_t cut = 0; cut <= c.wire.size(); ++cut) {
      SCOPED_TRACE(std::string(c.label) + ", cut at " + std::to_string(cut));
      EXPECT_EQ(DecodeCut(c.wire, cut, LineEndRules::Ftp), c.local);
    }
  }
}

TEST(LineEndings, NetasciiDecodesAtEveryCut) {
  const Case cases[] = {
      {"lines", "a\nb\n", "a\r\nb\r\n"},
      {"CR NUL is a CR", "a\rb", "a\r\0b"s},
      {"CR NUL then CR LF", "\r\n", "\r\0\r\n"s},
      {"a CR before another byte is kept", "a\rb", "a\rb"},
      {"a CR at the very end is kept", "a\r", "a\r"},
      {"a NUL alone stays", "a\0b"s, "a\0b"s},
  };
  for (const Case& c : cases) {
    for (size_t cut = 0; cut <= c.wire.size(); ++cut) {
      SCOPED_TRACE(std::string(c.label) + ", cut at " + std::to_string(cut));
      EXPECT_EQ(DecodeCut(c.wire, cut, LineEndRules::Netascii), c.local);
    }
  }
}

TEST(LineEndings, HeldCrWaitsForTheNextPiece) {
  LineEndDecoder decoder(LineEndRules::Ftp);
  std::string out;
  decoder.Decode("x\r", out);
  EXPECT_EQ(out, "x");
  EXPECT_TRUE(decoder.HoldsCr());
  decoder.Decode("\ny", out);
  EXPECT_EQ(out, "x\ny");
  EXPECT_FALSE(decoder.HoldsCr());
}

TEST(LineEndings, EveryByteRoundTrips) {
  std::string local;
  for (int i = 0; i < 3; ++i)
    for (int b = 0; b < 256; ++b) local.push_back(static_cast<char>(b));
  local += "\r\r\n\n\r";
  for (LineEndRules rules : {LineEndRules::Ftp, LineEndRules::Netascii}) {
    std::string wire = Encode(local, rules);
    for (size_t cut : {size_t{0}, size_t{13}, size_t{14}, wire.size() - 1, wire.size()}) {
      SCOPED_TRACE(cut);
      EXPECT_EQ(DecodeCut(wire, cut, rules), local);
    }
  }
}

}  // namespace
}  // namespace hx
