#include "app/login_throttle.h"

#include <gtest/gtest.h>

namespace hx {
namespace {

using std::chrono::seconds;

TEST(LoginThrottleTest, PausesGrowPerFailureBeyondTheFreeOnesAndEndWithSuccessOrTime) {
  LoginThrottle throttle;
  Clock::TimePoint now{};
  auto guesser = asio::ip::make_address("10.0.0.7");
  auto other = asio::ip::make_address("10.0.0.8");
  std::vector<bool> noted;
  for (int i = 0; i < 70; ++i) {
    EXPECT_EQ(throttle.Pause(guesser, now), seconds(std::clamp(i - 4, 0, 30))) << i;
    noted.push_back(throttle.Failed(guesser, now));
    now += seconds(1);
  }
  // Said when the pauses begin, and again a minute later.
  std::vector<bool> expected(70, false);
  expected[4] = expected[64] = true;
  EXPECT_EQ(noted, expected);
  EXPECT_EQ(throttle.Pause(other, now), seconds(0));
  // The same peer over a dual-stack socket.
  EXPECT_EQ(throttle.Pause(asio::ip::make_address("::ffff:10.0.0.7"), now), seconds(30));
  throttle.Succeeded(guesser);
  EXPECT_EQ(throttle.Pause(guesser, now), seconds(0));

  for (int i = 0; i < 6; ++i) throttle.Failed(other, now);
  EXPECT_EQ(throttle.Pause(other, now + seconds(59)), seconds(2));
  EXPECT_EQ(throttle.Pause(other, now + seconds(60)), seconds(0));
}

TEST(LoginThrottleTest, KeepsABoundedNumberOfAddresses) {
  LoginThrottle throttle;
  Clock::TimePoint now{};
  auto first = asio::ip::make_address("192.168.0.1");
  for (int i = 0; i < 5; ++i) throttle.Failed(first, now);
  for (unsigned i = 0; i < LoginThrottle::kCapacity; ++i)
    throttle.Failed(asio::ip::address_v6({0xfd, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0,
                                          static_cast<unsigned char>(i >> 8), static_cast<unsigned char>(i)}),
                    now + std::chrono::milliseconds(1));
  EXPECT_EQ(throttle.Pause(first, now), seconds(0));
}

}  // namespace
}  // namespace hx
