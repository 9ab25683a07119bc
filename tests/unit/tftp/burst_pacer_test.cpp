#include "tftp/burst_pacer.h"

#include <gtest/gtest.h>

namespace hx::tftp {
namespace {

TEST(BurstPacer, BurstsAsLongAsWhatGotThroughGrowingBackWithWholeWindows) {
  BurstPacer pacer;
  EXPECT_EQ(pacer.Burst(64), 64u);
  pacer.OnAck(3, 64, true, 64);  // three datagrams fit the receiver's buffer
  EXPECT_EQ(pacer.Burst(64), 3u);
  pacer.OnAck(7, 64, true, 64);  // the third burst lost its second block
  EXPECT_EQ(pacer.Burst(64), 1u);
  pacer.OnAck(64, 64, true, 64);
  EXPECT_EQ(pacer.Burst(64), 2u);
  pacer.OnAck(2, 2, false, 64);  // an ACK of everything sent so far is no loss
  EXPECT_EQ(pacer.Burst(64), 2u);
  for (int i = 0; i < 5; ++i) pacer.OnAck(64, 64, true, 64);
  EXPECT_EQ(pacer.Burst(64), 64u);
  pacer.OnSilence(64);
  EXPECT_EQ(pacer.Burst(64), 32u);
  EXPECT_EQ(pacer.Burst(5), 5u);
}

}  // namespace
}  // namespace hx::tftp
