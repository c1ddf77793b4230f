#include "uSquelch.h"

#include <gtest/gtest.h>

#include <vector>

#include "pClock.h"

TEST(Squelch, OpensOnTriggerAndClosesAfterTheHoldTime) {
  plat::TManualClock clock;
  TSquelch sq(300, false, clock);
  EXPECT_FALSE(sq.IsOpen());
  EXPECT_FALSE(sq.Update());  // no trigger yet: stays closed
  clock.Advance(1000);
  sq.Trigger(17.5);
  EXPECT_TRUE(sq.Update());
  EXPECT_TRUE(sq.IsOpen());
  EXPECT_EQ(sq.LastSnr(), 17.5);
  clock.Advance(300);  // exactly the hold time: still open
  EXPECT_FALSE(sq.Update());
  EXPECT_TRUE(sq.IsOpen());
  clock.Advance(1);
  EXPECT_TRUE(sq.Update());
  EXPECT_FALSE(sq.IsOpen());
  EXPECT_FALSE(sq.Update());
}

TEST(Squelch, RetriggersKeepItOpenThroughPauses) {
  plat::TManualClock clock;
  TSquelch sq(500, false, clock);
  sq.Trigger(10);
  sq.Update();
  for (int i = 0; i < 20; ++i) {  // a trigger every 200 ms, as the dwell detects
    clock.Advance(200);
    EXPECT_FALSE(sq.Update());
    EXPECT_TRUE(sq.IsOpen());
    sq.Trigger(10);
  }
}

TEST(Squelch, HoldBelow100CountsAs100) {
  for (int hold : {0, 50, 99, -20}) {
    plat::TManualClock clock;
    TSquelch sq(hold, false, clock);
    EXPECT_EQ(sq.HoldMs(), 100) << hold;
    sq.Trigger(5);
    clock.Advance(100);
    sq.Update();
    EXPECT_TRUE(sq.IsOpen()) << hold;
    clock.Advance(1);
    sq.Update();
    EXPECT_FALSE(sq.IsOpen()) << hold;
  }
}

TEST(Squelch, StartOpenHoldsUntilHoldAfterCreation) {
  plat::TManualClock clock;
  TSquelch sq(2000, true, clock);
  EXPECT_TRUE(sq.IsOpen());
  clock.Advance(2000);
  EXPECT_FALSE(sq.Update());
  EXPECT_TRUE(sq.IsOpen());
  clock.Advance(1);
  EXPECT_TRUE(sq.Update());
  EXPECT_FALSE(sq.IsOpen());
}

TEST(Squelch, GateGivesZerosWhenClosedAndLeavesInputAlone) {
  plat::TManualClock clock;
  TSquelch sq(100, false, clock);
  std::vector<float> audio(5000, 0.7f);
  const float* out = sq.Gate(audio.data(), 5000);
  ASSERT_NE(out, audio.data());
  for (int i = 0; i < 5000; ++i) ASSERT_EQ(out[i], 0.0f);
  for (float v : audio) ASSERT_EQ(v, 0.7f);
  EXPECT_EQ(sq.Gate(audio.data(), 0), audio.data());

  sq.Trigger(3);
  sq.Update();
  EXPECT_EQ(sq.Gate(audio.data(), 5000), audio.data());
  // Closing again after growth: a longer block still gets enough zeros.
  clock.Advance(101);
  sq.Update();
  std::vector<float> longer(20000, -0.3f);
  out = sq.Gate(longer.data(), 20000);
  for (int i = 0; i < 20000; ++i) ASSERT_EQ(out[i], 0.0f);
}
