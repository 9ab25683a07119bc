#include "ftp/server/listing.h"

#include <dirent.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/time.h>

#include <algorithm>
#include <set>

#include "app/beneath_root_file_system.h"
#include "ftp/server/listing_reader.h"
#include "support/temp_dir.h"

namespace hx::ftpd {
namespace {

using namespace std::string_literals;

std::vector<std::string> DirectoryOrder(const std::filesystem::path& path) {
  std::vector<std::string> names;
  DIR* dir = ::opendir(path.c_str());
  if (!dir) return names;
  while (const dirent* item = ::readdir(dir)) names.emplace_back(item->d_name);
  ::closedir(dir);
  return names;
}

std::tm Time(int month, int day, int hour, int minute, int year = 1998) {
  std::tm t{};
  t.tm_year = year - 1900;
  t.tm_mon = month;
  t.tm_mday = day;
  t.tm_hour = hour;
  t.tm_min = minute;
  return t;
}

TEST(ListingTest, LineFormat) {
  struct Case {
    ListEntry entry;
    std::tm time;
    bool namesOnly;
    std::string line;
    bool timeOfDay = true;
  } cases[] = {
      {{"a.txt", false, 1234, 0, 0644},
       Time(11, 7, 0, 18),
       false,
       "-rw-r--r-- 1 owner group      1234 Dec 07 00:18 a.txt\r\n"},
      {{"sub", true, 0, 0, 0751},
       Time(11, 7, 0, 18),
       false,
       "drwxr-x--x 1 owner group         0 Dec 07 00:18 sub\r\n"},
      {{"jan", false, 0, 0},
       Time(0, 31, 23, 59),
       false,
       "---------- 1 owner group         0 Jan 31 23:59 jan\r\n"},
      // 64-bit sizes: 3 GiB and 5 GiB keep every digit and never go negative.
      {{"big", false, 3221225472LL, 0},
       Time(5, 1, 9, 5),
       false,
       "---------- 1 owner group 3221225472 Jun 01 09:05 big\r\n"},
      {{"huge", false, 5368709120LL, 0},
       Time(5, 1, 9, 5),
       false,
       "---------- 1 owner group 5368709120 Jun 01 09:05 huge\r\n"},
      {{"with blank.txt", false, 1, 0}, Time(2, 3, 4, 5), true, "with blank.txt\r\n"},
      {{"sub", true, 0, 0}, Time(2, 3, 4, 5), true, "sub\r\n"},
      // A name's own line breaks cannot end the line: CR is sent as CR NUL, LF as "?".
      {{"a\r\n226 x", false, 1, 0},
       Time(2, 3, 4, 5),
       false,
       "---------- 1 owner group         1 Mar 03 04:05 a\r\0?226 x\r\n"s},
      {{"a\r\n226 x", false, 1, 0}, Time(2, 3, 4, 5), true, "a\r\0?226 x\r\n"s},
      // Older than six months, or ahead: the year in place of the time of day, as ls -l shows it.
      {{"old", false, 7, 0, 0644},
       Time(5, 15, 12, 0, 2020),
       false,
       "-rw-r--r-- 1 owner group         7 Jun 15  2020 old\r\n",
       false},
      {{"y2k", true, 0, 0, 0755},
       Time(0, 1, 0, 0, 2000),
       false,
       "drwxr-xr-x 1 owner group         0 Jan 01  2000 y2k\r\n",
       false},
      {{"old", false, 7, 0}, Time(5, 15, 12, 0, 2020), true, "old\r\n", false},
  };
  for (const auto& c : cases)
    EXPECT_EQ(FormatListLineAt(c.entry, c.time, c.timeOfDay, c.namesOnly), c.line) << c.entry.name;
}

TEST(ListingTest, TimeOfDayWithinTheLastSixMonthsAndUpToAnHourAhead) {
  const std::time_t now = 1700000000;
  const std::time_t sixMonths = 31556952 / 2;
  struct Case {
    std::time_t modified;
    bool timeOfDay;
  } cases[] = {
      {now, true},
      {now - 60, true},
      {now - sixMonths + 1, true},
      {now - sixMonths, false},
      {now - 400 * 86400, false},
      {now + 3600, true},
      {now + 3601, false},
      {now + 86400 * 30, false},
      {0, false},
  };
  for (const auto& c : cases) EXPECT_EQ(ShowsTimeOfDay(c.modified, now), c.timeOfDay) << now - c.modified;
  // The line takes its choice from `now`: a year in the past and a minute ago.
  ListEntry entry{"f", false, 1, now - 366 * 86400, 0644};
  std::tm local{};
  localtime_r(&entry.modified, &local);
  EXPECT_NE(FormatListLine(entry, now, false).find("  " + std::to_string(local.tm_year + 1900) + " f\r\n"),
            std::string::npos);
  entry.modified = now - 60;
  localtime_r(&entry.modified, &local);
  char clock[8];
  std::snprintf(clock, sizeof clock, "%02d:%02d", local.tm_hour, local.tm_min);
  EXPECT_NE(FormatListLine(entry, now, false).find(std::string(" ") + clock + " f\r\n"), std::string::npos);
}

TEST(ListingTest, OptionsAreDroppedFromTheArgument) {
  struct Case {
    std::string argument, result;
  } cases[] = {
      {"", ""},       {"-l", ""},           {"-la", ""}, {"-l sub", "sub"}, {"-la sub dir", "sub dir"},
      {"sub", "sub"}, {"sub -l", "sub -l"}, {"-", ""},
  };
  for (const auto& c : cases) EXPECT_EQ(ListArgument(c.argument), c.result) << c.argument;
}

TEST(ListingTest, DotEntriesOnlyForOptionA) {
  struct Case {
    std::string argument;
    bool dots;
  } cases[] = {
      {"", false},       {"-l", false},       {"-a", true},   {"-la", true}, {"-al", true},
      {"-la sub", true}, {"-l a-dir", false}, {"sub", false}, {"a", false},  {"-A", false},
  };
  for (const auto& c : cases) EXPECT_EQ(ListsDotEntries(c.argument), c.dots) << c.argument;
}

TEST(ListingTest, Wildcards) {
  struct Case {
    std::string pattern, name;
    bool match;
  } cases[] = {
      {"*.*", "a.txt", true},    {"*.*", "noext", true},      {"*.*", ".", true},
      {"*", "anything", true},   {"*.txt", "a.txt", true},    {"*.txt", "a.txt.gz", false},
      {"a?c", "abc", true},      {"a?c", "ac", false},        {"a*c", "ac", true},
      {"a*c", "abbbc", true},    {"a*c", "abbbd", false},     {"exact", "exact", true},
      {"exact", "Exact", false}, {"*a*b*", "xxaxxbxx", true}, {"*a*b", "xxaxxbxxc", false},
  };
  for (const auto& c : cases)
    EXPECT_EQ(MatchWildcard(c.pattern, c.name), c.match) << c.pattern << " " << c.name;
}

TEST(ListingTest, NameListPrefix) {
  EXPECT_EQ(NameListPrefix("", true), "");
  EXPECT_EQ(NameListPrefix("sub", true), "sub/");
  EXPECT_EQ(NameListPrefix("sub/", true), "sub/");
  EXPECT_EQ(NameListPrefix("sub/*.txt", false), "sub/");
  EXPECT_EQ(NameListPrefix("/a/b/c.txt", false), "/a/b/");
  EXPECT_EQ(NameListPrefix("*.txt", false), "");
}

TEST(ListingTest, DirectorySearch) {
  test::TempDir dir;
  test::WriteFile(dir.Path() / "b.txt", "12345");
  test::WriteFile(dir.Path() / "a.bin", "");
  std::filesystem::create_directory(dir.Path() / "sub");
  // A known modification time, to see that the listing shows it.
  struct timeval times[2] = {{1000000000, 0}, {1000000000, 0}};
  ASSERT_EQ(::utimes((dir.Path() / "b.txt").c_str(), times), 0);
  // A pipe is no file a client could fetch: it is left out.
  ASSERT_EQ(::mkfifo((dir.Path() / "c.fifo").c_str(), 0600), 0);
  auto files = std::make_shared<const BeneathRootFileSystem>(dir.Dir());

  std::vector<ListEntry> all = FindEntries(files, dir.Dir() + "*.*");
  ASSERT_EQ(all.size(), 5u);
  EXPECT_EQ(all[0].name, ".");
  EXPECT_EQ(all[1].name, "..");
  EXPECT_EQ(all[2].name, "a.bin");
  EXPECT_EQ(all[3].name, "b.txt");
  EXPECT_EQ(all[4].name, "sub");
  EXPECT_TRUE(all[0].isDirectory);
  EXPECT_TRUE(all[4].isDirectory);
  EXPECT_EQ(all[4].size, 0);
  EXPECT_EQ(all[3].size, 5);
  EXPECT_EQ(all[3].modified, 1000000000);

  std::vector<ListEntry> txt = FindEntries(files, dir.Dir() + "*.txt");
  ASSERT_EQ(txt.size(), 1u);
  EXPECT_EQ(txt[0].name, "b.txt");

  std::vector<ListEntry> one = FindEntries(files, dir.Dir() + "b.txt");
  ASSERT_EQ(one.size(), 1u);
  EXPECT_EQ(one[0].name, "b.txt");

  EXPECT_TRUE(FindEntries(files, dir.Dir() + "missing").empty());
  EXPECT_TRUE(FindEntries(files, dir.Dir() + "*.none").empty());
  EXPECT_TRUE(FindEntries(files, dir.Dir() + "nodir/*.*").empty());
}

// Without "." and "..": a folder that holds nothing else is still found, a pattern that matches nothing
// is not.
TEST(ListingTest, DotsLeftOut) {
  test::TempDir dir;
  test::WriteFile(dir.Path() / "full" / "b.txt", "1");
  std::filesystem::create_directory(dir.Path() / "empty");
  auto files = std::make_shared<const BeneathRootFileSystem>(dir.Dir());
  struct Case {
    std::string pattern;
    std::string names;
    bool found;
  } cases[] = {
      {"full/*.*", "b.txt\r\n", true}, {"empty/*.*", "", true},    {"empty/*", "", true},
      {"full/*.none", "", false},      {"missing/*.*", "", false}, {"full/b.txt", "b.txt\r\n", true},
      {"full/c.txt", "", false},
  };
  for (const Case& c : cases) {
    ListingReader reader(files, dir.Dir() + c.pattern);
    reader.HideDots();
    ListingStyle style;
    style.kind = ListingStyle::Kind::NamesOnly;
    ListingPart part = NextListingPart(reader, style);
    EXPECT_EQ(part.text, c.names) << c.pattern;
    EXPECT_EQ(part.found, c.found) << c.pattern;
    EXPECT_TRUE(part.last) << c.pattern;
  }
}

// A folder listed a part at a time: sorted as a whole up to the sort limit, in the directory's order beyond
// it; either way every entry comes once, no part is larger than the part size, and only the last one is
// marked last.
TEST(ListingTest, PartWiseListing) {
  test::TempDir dir;
  for (int i = 0; i < 25; ++i) test::WriteFile(dir.Path() / ("f" + std::to_string(100 + i)), "x");
  auto files = std::make_shared<const BeneathRootFileSystem>(dir.Dir());
  struct Case {
    size_t sortLimit;
    bool sorted;
  } cases[] = {{100, true}, {27, true}, {26, false}, {5, false}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.sortLimit);
    ListingReader reader(files, dir.Dir() + "*.*", 10, c.sortLimit);
    std::vector<std::string> names;
    std::vector<size_t> sizes;
    std::string text;
    while (!reader.Done()) {
      std::vector<ListEntry> part = reader.NextEntries();
      sizes.push_back(part.size());
      for (const ListEntry& entry : part) names.push_back(entry.name);
    }
    EXPECT_EQ(sizes, (std::vector<size_t>{10, 10, 7}));
    EXPECT_EQ(std::set<std::string>(names.begin(), names.end()).size(), 27u);
    std::vector<std::string> inOrder = names;
    std::sort(inOrder.begin() + 2, inOrder.end());
    EXPECT_EQ(names, c.sorted ? inOrder : DirectoryOrder(dir.Path()));
    if (c.sorted) {
      EXPECT_EQ(names[0] + names[1], "...");
    }
  }
  // The text of the parts is the lines of the whole listing, in the same order.
  std::vector<ListEntry> all = FindEntries(files, dir.Dir() + "*.*");
  std::string whole;
  for (const ListEntry& entry : all) whole += "sub/" + FormatListLine(entry, 0, true);
  ListingReader reader(files, dir.Dir() + "*.*", 4);
  ListingStyle style;
  style.kind = ListingStyle::Kind::NamesOnly;
  style.prefix = "sub/";
  std::string joined;
  for (;;) {
    ListingPart part = NextListingPart(reader, style);
    joined += part.text;
    if (part.last) break;
    EXPECT_FALSE(part.text.empty());
  }
  EXPECT_EQ(joined, whole);
}

}  // namespace
}  // namespace hx::ftpd
