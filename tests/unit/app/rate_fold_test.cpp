#include "app/rate_fold.h"

#include <gtest/gtest.h>

namespace hx {
namespace {

using namespace std::chrono_literals;

TEST(RateFoldTest, FirstEventOfEachSecondPassesAndTheRestAreCounted) {
  RateFold fold;
  const RateFold::Clock::time_point start{};
  struct Step {
    std::chrono::milliseconds at;
    bool admitted;
  } steps[] = {{0ms, true}, {1ms, false}, {999ms, false}, {1000ms, true}, {1500ms, false}, {5000ms, true}};
  std::uint64_t folded = 0;
  for (const Step& step : steps) {
    SCOPED_TRACE(step.at.count());
    EXPECT_EQ(fold.Admit(start + step.at), step.admitted);
    if (!step.admitted) ++folded;
  }
  EXPECT_EQ(fold.WindowEnd(), start + 6000ms);
  EXPECT_EQ(fold.TakeFolded(), folded);
  EXPECT_EQ(fold.TakeFolded(), 0u);
}

}  // namespace
}  // namespace hx
