#include "ftp/server/listing.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/time.h>

#include "support/temp_dir.h"

namespace hx::ftpd {
namespace {

std::tm Time(int month, int day, int hour, int minute) {
  std::tm t{};
  t.tm_year = 98;
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
  };
  for (const auto& c : cases)
    EXPECT_EQ(FormatListLineAt(c.entry, c.time, c.namesOnly), c.line) << c.entry.name;
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
  RootedFileSystem files(dir.Dir());

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

}  // namespace
}  // namespace hx::ftpd
