#include "app/config_store.h"

#include <gtest/gtest.h>

#include <thread>
#include <vector>

#include "support/temp_dir.h"

namespace hx {
namespace {

TEST(ProfileIntTest, LeadingNumberOrZero) {
  struct Case {
    const char* text;
    int value;
  } cases[] = {{"5", 5},
               {"  42abc", 42},
               {"-7", -7},
               {"+3", 3},
               {"abc", 0},
               {"", 0},
               {"0x10", 0},
               {"99999999999", 2147483647},
               {"-99999999999", -2147483647 - 1},
               {"\t12 ", 12},
               {"- 4", 0}};
  for (const auto& c : cases) EXPECT_EQ(ParseProfileInt(c.text), c.value) << '"' << c.text << '"';
}

TEST(ProfileWriteTest, KeepsLayoutAndFindsNamesCaseInsensitively) {
  EXPECT_EQ(SetProfileValue("", "TFTP", "TRetries", "5"), "[TFTP]\nTRetries=5\n");
  // An existing key keeps its spelling and place; other lines stay as they were.
  EXPECT_EQ(SetProfileValue("[tftp]\ntretries=9\nTTimeout=5\n", "TFTP", "TRetries", "5"),
            "[tftp]\ntretries=5\nTTimeout=5\n");
  // A new key goes after the last entry of its section, before the blank line that ends it.
  EXPECT_EQ(SetProfileValue("[A]\nx=1\n\n[B]\ny=2\n", "a", "z", "3"), "[A]\nx=1\nz=3\n\n[B]\ny=2\n");
  // A key of the same name in another section is not touched.
  EXPECT_EQ(SetProfileValue("[A]\nk=1\n[B]\nk=2\n", "B", "K", "7"), "[A]\nk=1\n[B]\nk=7\n");
}

TEST(ProfileWriteTest, CrLfFileKeepsCrLf) {
  EXPECT_EQ(SetProfileValue("[A]\r\nk=1\r\n", "A", "k", "2"), "[A]\r\nk=2\r\n");
  EXPECT_EQ(SetProfileValue("[A]\r\nk=1\r\n", "B", "n", "3"), "[A]\r\nk=1\r\n[B]\r\nn=3\r\n");
}

TEST(ConfigStoreTest, ByteOrderMarkHidesNoSection) {
  test::TempDir dir;
  const std::string bom = "\xEF\xBB\xBF";
  test::WriteFile(dir.Path() / "Harbinex.ini", bom + "[General]\r\nLogging=1\r\n[TFTP]\r\nTRetries=3\r\n");
  ConfigStore store(dir.Path() / "Harbinex.ini");
  EXPECT_EQ(store.GetProfileInt("General", "Logging", 0), 1);
  store.WriteProfileInt("General", "Logging", 0);
  EXPECT_EQ(test::ReadFile(dir.Path() / "Harbinex.ini"),
            bom + "[General]\r\nLogging=0\r\n[TFTP]\r\nTRetries=3\r\n");
}

TEST(ConfigStoreTest, ReadsDefaultsValuesAndLaterChanges) {
  test::TempDir dir;
  ConfigStore store(dir.Path() / "Harbinex.ini");
  EXPECT_EQ(store.GetProfileInt("TFTP", "TRetries", 5), 5);
  EXPECT_EQ(store.GetProfileString("TFTP", "TDLDir", "/tmp/"), "/tmp/");
  EXPECT_EQ(store.GetProfileString("TFTP", "TDLDir"), "");

  test::WriteFile(dir.Path() / "Harbinex.ini",
                  "[General]\nLogging = 1 \n[tftp]\nTRETRIES=abc\nTTimeout=30\nTDLDir=\"/srv/tftp/\"\n");
  EXPECT_EQ(store.GetProfileInt("general", "logging", 0), 1);
  EXPECT_EQ(store.GetProfileInt("TFTP", "TRetries", 5), 0);
  EXPECT_EQ(store.GetProfileInt("TFTP", "TTimeout", 5), 30);
  EXPECT_EQ(store.GetProfileString("TFTP", "TDLDir"), "/srv/tftp/");

  // A change made behind the store's back is seen by the next read.
  test::WriteFile(dir.Path() / "Harbinex.ini", "[TFTP]\nTTimeout=7\n");
  EXPECT_EQ(store.GetProfileInt("TFTP", "TTimeout", 5), 7);
  EXPECT_EQ(store.GetProfileInt("General", "Logging", 0), 0);

  store.WriteProfileString("FTP", "FDLDir", std::string(5000, 'x'));
  EXPECT_EQ(store.GetProfileString("FTP", "FDLDir").size(), 4095u);
  // A value never breaks into a second line.
  store.WriteProfileString("FTP", "Banner", "one\r\n[General]\nLogging=1");
  EXPECT_EQ(store.GetProfileString("FTP", "Banner"), "one");
  EXPECT_EQ(store.GetProfileInt("General", "Logging", 0), 0);
}

TEST(ConfigStoreTest, ConcurrentWritersLoseNothing) {
  test::TempDir dir;
  ConfigStore a(dir.Path() / "Harbinex.ini");
  ConfigStore b(dir.Path() / "Harbinex.ini");
  std::vector<std::thread> writers;
  for (int t = 0; t < 4; ++t) {
    writers.emplace_back([&, t] {
      ConfigStore& store = (t % 2) ? a : b;
      for (int i = 0; i < 25; ++i) store.WriteProfileInt("S" + std::to_string(t), "K" + std::to_string(i), i);
    });
  }
  for (auto& w : writers) w.join();
  for (int t = 0; t < 4; ++t)
    for (int i = 0; i < 25; ++i)
      EXPECT_EQ(a.GetProfileInt("S" + std::to_string(t), "K" + std::to_string(i), -1), i);
}

}  // namespace
}  // namespace hx
