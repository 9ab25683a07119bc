#include "app/shown_text.h"

#include <gtest/gtest.h>

#include "app/console_frontend.h"

namespace hx {
namespace {

TEST(ShownTextTest, ControlBytesBecomeHexEscapes) {
  EXPECT_EQ(EscapeControlChars("a\nSTARTING fake"), "a\\x0aSTARTING fake");
  EXPECT_EQ(EscapeControlChars("226 ok\x1b[2J\r"), "226 ok\\x1b[2J\\x0d");
  EXPECT_EQ(EscapeControlChars(std::string_view("\x00\x1f\x7f\t", 4)), "\\x00\\x1f\\x7f\\x09");
  // Backslashes, printable ASCII and UTF-8 stay; escaping twice changes nothing.
  EXPECT_EQ(EscapeControlChars("C:\\dir\\n \xc3\xa9t\xc3\xa9 ~"), "C:\\dir\\n \xc3\xa9t\xc3\xa9 ~");
  EXPECT_EQ(EscapeControlChars(EscapeControlChars("x\ny")), "x\\x0ay");
  // A message box keeps the line breaks of the program's own texts, and nothing else.
  EXPECT_EQ(EscapeControlCharsKeepingLines("Could not!\nAborting\r\x1b"), "Could not!\nAborting\\x0d\\x1b");
}

TEST(ShownTextTest, PasswordOfAPassLineIsHidden) {
  EXPECT_EQ(HidePassword("PASS secret"), "PASS ****");
  EXPECT_EQ(HidePassword("pass two words"), "PASS ****");
  EXPECT_EQ(HidePassword("PASS"), "PASS ****");
  EXPECT_EQ(HidePassword("PASS secret\r\n"), "PASS ****");
  EXPECT_EQ(HidePassword("PASSWORD x"), "PASSWORD x");
  EXPECT_EQ(HidePassword("USER bob"), "USER bob");
}

TEST(ShownTextTest, ConsoleMessageBoxIsEscapedOnTheTerminal) {
  ConsoleFrontend console(/*echoLog=*/false);
  testing::internal::CaptureStderr();
  console.MessageBox("530 Login\x1b]0;owned\x07 denied");
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "harbinex: 530 Login\\x1b]0;owned\\x07 denied\n");
}

}  // namespace
}  // namespace hx
