#include "ftp/server/file_times.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>

namespace hx::ftpd {
namespace {

TEST(FileTimesTest, TimesInUtcWithOptionalFractions) {
  struct Case {
    std::string text;
    std::optional<std::timespec> time;
  } cases[] = {
      {"19700101000000", std::timespec{0, 0}},
      {"20200615120007", std::timespec{1592222407, 0}},
      {"20200615120007.5", std::timespec{1592222407, 500000000}},
      {"20200615120007.123456789123", std::timespec{1592222407, 123456789}},  // beyond nanoseconds: cut
      {"20240229235959", std::timespec{1709251199, 0}},                       // a leap day
      {"20230229000000", std::nullopt},                                       // no leap day that year
      {"20200631000000", std::nullopt},
      {"20201301000000", std::nullopt},
      {"20200615240000", std::nullopt},
      {"20200615126000", std::nullopt},
      {"2020061512000", std::nullopt},
      {"202006151200071", std::nullopt},
      {"20200615120007.", std::nullopt},
      {"20200615120007.5x", std::nullopt},
      {"2020-6-15120007", std::nullopt},
      {"", std::nullopt},
  };
  for (const Case& c : cases) {
    std::optional<std::timespec> time = ParseFileTime(c.text);
    ASSERT_EQ(time.has_value(), c.time.has_value()) << c.text;
    if (!time) continue;
    EXPECT_EQ(time->tv_sec, c.time->tv_sec) << c.text;
    EXPECT_EQ(time->tv_nsec, c.time->tv_nsec) << c.text;
  }
}

TEST(FileTimesTest, MfmtAndBothFormsOfSiteUtime) {
  constexpr std::time_t k2019 = 1546300800;  // 2019-01-01 00:00:00 UTC
  constexpr std::time_t k2020 = 1577836800;  // 2020-01-01 00:00:00 UTC
  struct Case {
    bool utime;
    std::string argument;
    std::optional<std::string> path;
    std::time_t modified;
    std::optional<std::time_t> accessed;
  } cases[] = {
      {false, "20200101000000 a.txt", "a.txt", k2020, std::nullopt},
      {false, "20200101000000 name with  blanks", "name with  blanks", k2020, std::nullopt},
      {false, "20200101000000", std::nullopt, 0, std::nullopt},
      {false, "20200101000000 ", std::nullopt, 0, std::nullopt},
      {false, "2020 a.txt", std::nullopt, 0, std::nullopt},
      {true, "a b.txt 20190101000000 20200101000000 20200101000000 UTC", "a b.txt", k2020, k2019},
      {true, "20200101000000 a.txt", "a.txt", k2020, k2020},
      // Not the long form after all: read as the short one.
      {true, "20200101000000 a 1 2 UTC", "a 1 2 UTC", k2020, k2020},
      {true, "20190101000000 20200101000000 20200101000000 UTC", "20200101000000 20200101000000 UTC", k2019,
       k2019},
      {true, "a.txt 20190101000000 20200101000000 UTC", std::nullopt, 0, std::nullopt},
      {true, "", std::nullopt, 0, std::nullopt},
  };
  for (const Case& c : cases) {
    std::optional<TimeChange> change =
        c.utime ? ParseUtimeArgument(c.argument) : ParseMfmtArgument(c.argument);
    ASSERT_EQ(change.has_value(), c.path.has_value()) << c.argument;
    if (!change) continue;
    EXPECT_EQ(change->path, *c.path) << c.argument;
    EXPECT_EQ(change->modified.tv_sec, c.modified) << c.argument;
    ASSERT_EQ(change->accessed.has_value(), c.accessed.has_value()) << c.argument;
    if (c.accessed) {
      EXPECT_EQ(change->accessed->tv_sec, *c.accessed) << c.argument;
    }
  }
  EXPECT_EQ(ParseMfmtArgument("20200101000000.25 a.txt")->modifiedText, "20200101000000.25");
}

}  // namespace
}  // namespace hx::ftpd
