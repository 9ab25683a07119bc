#include "app/notice_folder.h"

#include <gtest/gtest.h>

#include <optional>
#include <ostream>

#include "app/console_frontend.h"

namespace hx {

void PrintTo(const NoticeFolder::Line& line, std::ostream* out) {
  *out << FoldedText(line);
}

namespace {

using Lines = std::vector<NoticeFolder::Line>;
using Ms = std::chrono::milliseconds;

// One step on a manual clock: a notice taken `times` times, a millisecond apart (text), the due lines asked
// for (no text), or, with `flush`, everything counted handed over. `out`: the lines the step gave.
struct Step {
  int atMs;
  std::optional<std::string> notice;
  Lines out;
  bool flush = false;
  int times = 1;
};

struct Case {
  const char* name;
  std::vector<Step> steps;
};

TEST(NoticeFolderTest, RepeatsFoldToOneLinePerSecond) {
  const std::string a = "Could not connect to peer. Aborting transfer.";
  const std::string b = "Error setting up FTP connection";
  const Case cases[] = {
      {"lone notices go out at once",
       {{0, a, {{a, 1}}}, {2000, a, {{a, 1}}}, {2500, b, {{b, 1}}}, {2600, a, {{a, 1}}}}},
      {"repeats within the second are counted and due when it is over",
       {{0, a, {{a, 1}}},
        {10, a, {}},
        {999, a, {}},
        {999, std::nullopt, {}},
        {1000, std::nullopt, {{a, 2}}},
        {5000, std::nullopt, {}}}},
      {"a different notice brings the count out first",
       {{0, a, {{a, 1}}}, {1, a, {}}, {2, a, {}}, {3, b, {{a, 2}, {b, 1}}}, {4, a, {{a, 1}}}}},
      {"66 failures and then the flush at exit",
       {{0, a, {{a, 1}}, false, 66}, {900, std::nullopt, {}}, {950, std::nullopt, {{a, 65}}, true}}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    NoticeFolder folder;
    NoticeFolder::Clock::time_point start{};
    for (const Step& step : c.steps) {
      SCOPED_TRACE(step.atMs);
      auto now = start + Ms(step.atMs);
      Lines out;
      if (step.notice) {
        for (int i = 0; i < step.times; ++i) {
          Lines some = folder.Add(*step.notice, now + Ms(i));
          out.insert(out.end(), some.begin(), some.end());
        }
      } else {
        out = step.flush ? folder.Flush() : folder.Due(now);
      }
      EXPECT_EQ(out, step.out);
    }
    EXPECT_EQ(folder.Flush(), Lines{});
    EXPECT_EQ(folder.Deadline(), std::nullopt);
  }
}

TEST(NoticeFolderTest, DeadlineIsTheEndOfTheSecondWhileRepeatsAreCounted) {
  NoticeFolder folder;
  NoticeFolder::Clock::time_point start{};
  folder.Add("x", start);
  EXPECT_EQ(folder.Deadline(), std::nullopt);
  folder.Add("x", start + Ms(200));
  EXPECT_EQ(folder.Deadline(), start + Ms(1000));
  folder.Due(start + Ms(1300));
  EXPECT_EQ(folder.Deadline(), std::nullopt);
  folder.Add("x", start + Ms(1400));
  EXPECT_EQ(folder.Deadline(), start + Ms(2300));
}

TEST(NoticeFolderTest, ConsolePrintsTheFoldAndFlushesItWhenDestroyed) {
  NoticeFolder::Clock::time_point now{};
  testing::internal::CaptureStderr();
  {
    ConsoleFrontend console(/*echoLog=*/false, [&now] { return now; });
    for (int i = 0; i < 3; ++i) console.MessageBox("A");
    now += Ms(1500);
    console.PrintDueNotices();
    for (int i = 0; i < 4; ++i) console.MessageBox("B\nlast line");
  }
  // A different notice comes at once, and the count of a text of several lines follows its last line.
  EXPECT_EQ(testing::internal::GetCapturedStderr(),
            "harbinex: A\nharbinex: A (x 2)\nharbinex: B\nlast line\nharbinex: B\nlast line (x 3)\n");
}

}  // namespace
}  // namespace hx
