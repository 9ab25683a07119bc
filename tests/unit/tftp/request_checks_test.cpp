#include "tftp/request_checks.h"

#include <gtest/gtest.h>

#include "engine_harness.h"

namespace hx::tftp {
namespace {

using test::Bytes;

// opcode, name, zero, mode, zero (each text optional so that malformed requests can be built)
Bytes Request(int opcode, std::string body) {
  Bytes out = {0, static_cast<std::uint8_t>(opcode)};
  out.insert(out.end(), body.begin(), body.end());
  return out;
}
std::string Z(const std::string& s) {
  return s + std::string(1, '\0');
}

struct Case {
  const char* label;
  Bytes datagram;
  std::string dir;
  std::string path;  // expected path, or empty when refused
  Rejection rejection;
};

const std::string kDir = "/srv/tftp/";
const Rejection kNone{};
const Rejection kMalformed{4, "Malformed name in PUT request", ""};
const Rejection kTooLong{0, "Filename exceeds maximum allowable path", ""};
const Rejection kDotDot{2, "Access denied for this directory", ""};
const Rejection kBadChars{0, "Bad characters in filename. Aborting transfer", ""};
const Rejection kIllegalName{0, "Illegal file name", ""};
const Rejection kNoDir{0, "Problem accessing upload/download directory",
                       "TFTP:Could not determine upload/download directory!\nAborting transfer!"};

std::vector<Case> Cases() {
  std::vector<Case> cases = {
      {"plain read", Request(1, Z("a.bin") + Z("octet")), kDir, "/srv/tftp/a.bin", kNone},
      {"plain write", Request(2, Z("a.bin") + Z("netascii")), kDir, "/srv/tftp/a.bin", kNone},
      {"mode in capitals", Request(1, Z("a") + Z("OCTET")), kDir, "/srv/tftp/a", kNone},
      {"mode mixed case", Request(1, Z("a") + Z("NetAscii")), kDir, "/srv/tftp/a", kNone},
      {"unknown mode", Request(1, Z("a") + Z("mail")), kDir, "", {4, "Unknown transfer mode : mail", ""}},
      {"unknown mode lower-cased",
       Request(2, Z("a") + Z("MaIL")),
       kDir,
       "",
       {4, "Unknown transfer mode : mail", ""}},
      {"empty mode", Request(1, Z("a") + Z("")), kDir, "", {4, "Unknown transfer mode : ", ""}},
      {"options after the mode are ignored", Request(1, Z("a") + Z("octet") + Z("tsize") + Z("0")), kDir,
       "/srv/tftp/a", kNone},
      {"name without zero", Request(1, "abc"), kDir, "", kMalformed},
      {"mode without zero", Request(2, Z("abc") + "octet"), kDir, "", kMalformed},
      {"opcode only", Request(1, ""), kDir, "", kMalformed},
      {"one byte", Bytes{0}, kDir, "", kMalformed},
      {"nothing", Bytes{}, kDir, "", kMalformed},
      {"no directory", Request(1, Z("a") + Z("octet")), "", "", kNoDir},
      {"mode checked before the directory",
       Request(1, Z("a") + Z("mail")),
       "",
       "",
       {4, "Unknown transfer mode : mail", ""}},
      {"directory without slash", Request(1, Z("a") + Z("octet")), "/srv/tftp", "/srv/tftp/a", kNone},
      {"subdirectories", Request(1, Z("boot/x86/image.bin") + Z("octet")), kDir,
       "/srv/tftp/boot/x86/image.bin", kNone},
      {"backslashes become slashes", Request(1, Z("boot\\x86\\image.bin") + Z("octet")), kDir,
       "/srv/tftp/boot/x86/image.bin", kNone},
      {"runs of separators collapse", Request(1, Z("/x//y.bin") + Z("octet")), kDir, "/srv/tftp/x/y.bin",
       kNone},
      {"mixed runs collapse", Request(1, Z("\\\\x\\/y") + Z("octet")), kDir, "/srv/tftp/x/y", kNone},
      {"absolute name stays inside", Request(1, Z("/etc/passwd") + Z("octet")), kDir, "/srv/tftp/etc/passwd",
       kNone},
      {"empty name is the directory", Request(1, Z("") + Z("octet")), kDir, "/srv/tftp/", kNone},
      {"parent", Request(1, Z("../secret") + Z("octet")), kDir, "", kDotDot},
      {"parent with backslash", Request(2, Z("..\\secret") + Z("octet")), kDir, "", kDotDot},
      {"dots inside a name", Request(1, Z("a..b") + Z("octet")), kDir, "", kDotDot},
      {"deep parent", Request(1, Z("x/y/../../../z") + Z("octet")), kDir, "", kDotDot},
      {"parent before bad characters", Request(1, Z("..*") + Z("octet")), kDir, "", kDotDot},
      // No new name may hold a line break; an existing one can still be read.
      {"write of CR LF", Request(2, Z("a\r\nb") + Z("octet")), kDir, "", kIllegalName},
      {"write of CR", Request(2, Z("a\rb") + Z("octet")), kDir, "", kIllegalName},
      {"write of LF in a subdirectory", Request(2, Z("d\n/b") + Z("octet")), kDir, "", kIllegalName},
      {"read of CR LF", Request(1, Z("a\r\nb") + Z("octet")), kDir, "/srv/tftp/a\r\nb", kNone},
  };
  for (char c : std::string("*?<>|\""))
    cases.push_back(
        {"bad character", Request(1, Z(std::string("a") + c + "b") + Z("octet")), kDir, "", kBadChars});

  // "/d/" becomes "/d//" (4 characters) before the length test: 256 more fit, 257 do not.
  cases.push_back({"longest name", Request(1, Z(std::string(256, 'n')) + Z("octet")), "/d/",
                   "/d/" + std::string(256, 'n'), kNone});
  cases.push_back(
      {"name one too long", Request(1, Z(std::string(257, 'n')) + Z("octet")), "/d/", "", kTooLong});
  cases.push_back(
      {"length before parent", Request(1, Z(".." + std::string(300, 'n')) + Z("octet")), kDir, "", kTooLong});
  return cases;
}

TEST(ParseRequest, TableOfRequests) {
  for (const Case& c : Cases()) {
    SCOPED_TRACE(c.label);
    auto result = ParseRequest(std::span(c.datagram.data(), c.datagram.size()), c.dir);
    if (c.path.empty()) {
      ASSERT_TRUE(std::holds_alternative<Rejection>(result));
      EXPECT_EQ(std::get<Rejection>(result), c.rejection);
    } else {
      ASSERT_TRUE(std::holds_alternative<hx::tftp::Request>(result));
      EXPECT_EQ(std::get<hx::tftp::Request>(result).path, c.path);
    }
  }
}

TEST(ParseRequest, NeverLooksBeyondTheReceivedLength) {
  // The buffer holds a complete request, but only the first bytes were received: the zero bytes that
  // follow in memory must not complete the name or the mode.
  Bytes whole = Request(1, Z("a.bin") + Z("octet"));
  for (size_t received = 0; received < whole.size(); ++received) {
    SCOPED_TRACE(received);
    auto result = ParseRequest(std::span(whole.data(), received), kDir);
    ASSERT_TRUE(std::holds_alternative<Rejection>(result));
    EXPECT_EQ(std::get<Rejection>(result), kMalformed);
  }
  EXPECT_TRUE(
      std::holds_alternative<hx::tftp::Request>(ParseRequest(std::span(whole.data(), whole.size()), kDir)));
  // The name the list shows is read within the same bounds: whole once its zero byte has come.
  const size_t nameEnd = 2 + 6;
  for (size_t received = 0; received <= whole.size(); ++received)
    EXPECT_EQ(RequestedName(std::span(whole.data(), received)), received < nameEnd ? "" : "a.bin")
        << received;
}

TEST(ParseRequest, RequestOfAFullPacketIsRead) {
  // A request whose last zero byte is the 516th: a name, the mode, and option bytes up to the end.
  std::string body = Z(std::string(250, 'n')) + Z("octet");
  body += Z(std::string(516 - 2 - body.size() - 1, 'o'));
  Bytes datagram = Request(2, body);
  ASSERT_EQ(datagram.size(), 516u);
  auto result = ParseRequest(std::span(datagram.data(), datagram.size()), "/");
  ASSERT_TRUE(std::holds_alternative<hx::tftp::Request>(result));
  EXPECT_EQ(std::get<hx::tftp::Request>(result).path, "/" + std::string(250, 'n'));
}

TEST(ParseRequest, GivesTheMode) {
  const std::pair<const char*, TransferMode> modes[] = {{"octet", TransferMode::Octet},
                                                        {"OCTET", TransferMode::Octet},
                                                        {"netascii", TransferMode::Netascii},
                                                        {"NetAscii", TransferMode::Netascii}};
  for (const auto& [text, mode] : modes) {
    SCOPED_TRACE(text);
    Bytes datagram = Request(1, Z("a") + Z(text));
    auto result = ParseRequest(std::span(datagram.data(), datagram.size()), kDir);
    ASSERT_TRUE(std::holds_alternative<hx::tftp::Request>(result));
    EXPECT_EQ(std::get<hx::tftp::Request>(result), (hx::tftp::Request{"/srv/tftp/a", mode, {}}));
  }
}

TEST(RequestOpcode, MissingBytesCountAsZero) {
  EXPECT_EQ(RequestOpcode({}), 0);
  Bytes one = {1};
  EXPECT_EQ(RequestOpcode(std::span(one.data(), 1)), 0x0100);
  Bytes rrq = {0, 1, 'x'};
  EXPECT_EQ(RequestOpcode(std::span(rrq.data(), rrq.size())), 1);
  Bytes error = {0, 5};
  EXPECT_EQ(RequestOpcode(std::span(error.data(), error.size())), 5);
}

}  // namespace
}  // namespace hx::tftp
