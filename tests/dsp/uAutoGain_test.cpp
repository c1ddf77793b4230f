#include "uAutoGain.h"

#include <gtest/gtest.h>

#include <cmath>
#include <memory>
#include <string>
#include <vector>

#include "LogCapture.h"

namespace {

// A block whose RMS and peak are as given: one sample carries the peak, the rest share the remainder.
std::vector<TComplexF> Block(double rms, double peak, int n = 1024) {
  std::vector<TComplexF> b(n);
  double rest = std::sqrt((n * rms * rms - peak * peak) / (n - 1));
  for (auto& s : b) s = {static_cast<float>(rest), 0.0f};
  b[0] = {static_cast<float>(peak), 0.0f};
  return b;
}
std::vector<TComplexF> Level(double v) {
  return Block(v, v);
}

// All the automatic gain sees of a receiver: whether it has gain control of its own, and every gain
// it is set to.
struct TFakeGainStage : IGainStage {
  bool HardwareAgc = false;
  std::vector<double> GainCalls;
  bool HasHardwareAgc() override { return HardwareAgc; }
  bool SetGain(double db) override {
    GainCalls.push_back(db);
    return true;
  }
};

struct AgcFixture : ::testing::Test {
  std::shared_ptr<TFakeGainStage> Dev = std::make_shared<TFakeGainStage>();
  plat::TManualClock Clock{5000};
  bool Feed(TAutoGain& agc, const std::vector<TComplexF>& b) {
    return agc.Update(b.data(), static_cast<int32_t>(b.size()));
  }
};

}  // namespace

// ---- Inactive objects only measure ------------------------------------------------------------------

TEST_F(AgcFixture, HardwareGainControlOrFixedGainGiveAnInactiveObject) {
  Dev->HardwareAgc = true;
  TAutoGain hw(Dev, -1, Clock);
  Dev->HardwareAgc = false;
  TAutoGain fixed(Dev, 0, Clock);
  TAutoGain none(nullptr, -1, Clock);
  EXPECT_TRUE(Dev->GainCalls.empty());
  for (TAutoGain* agc : {&hw, &fixed, &none}) {
    EXPECT_FALSE(agc->Active());
    EXPECT_EQ(agc->LevelClass(), lsUnknown);
    EXPECT_TRUE(agc->IsSettled());
    EXPECT_FALSE(Feed(*agc, Level(0.001)));
    EXPECT_EQ(agc->LevelClass(), lsQuiet);
    EXPECT_FALSE(Feed(*agc, Block(0.3, 0.9)));
    EXPECT_EQ(agc->LevelClass(), lsClipping);
    EXPECT_TRUE(agc->IsSettled());
  }
  EXPECT_TRUE(Dev->GainCalls.empty());
}

TEST_F(AgcFixture, ClassesFollowTheThresholdsInOrder) {
  TAutoGain agc(Dev, 10, Clock);
  struct {
    double rms, peak;
    TLevelClass want;
  } cases[] = {{0.0399, 0.05, lsQuiet}, {0.04, 0.05, lsGood},    {0.16, 0.5, lsGood},    {0.161, 0.5, lsLoud},
               {0.5, 0.8499, lsLoud},   {0.1, 0.85, lsClipping}, {0.01, 0.9, lsClipping}};
  for (const auto& c : cases) {
    Feed(agc, Block(c.rms, c.peak));
    EXPECT_EQ(agc.LevelClass(), c.want) << c.rms << " " << c.peak;
  }
}

TEST_F(AgcFixture, MissingOrEmptyBlockIsIgnored) {
  TAutoGain agc(Dev, -1, Clock);
  TComplexF one{0.001f, 0};
  EXPECT_FALSE(agc.Update(nullptr, 10));
  EXPECT_FALSE(agc.Update(&one, 0));
  EXPECT_FALSE(agc.Measured());
  EXPECT_EQ(agc.LevelClass(), lsUnknown);
}

TEST_F(AgcFixture, PeakIsOfSingleComponentsNotOfTheComplexSample) {
  TAutoGain agc(Dev, 10, Clock);
  std::vector<TComplexF> b(100, TComplexF{0.7f, -0.7f});  // magnitude 0.99, components 0.7
  Feed(agc, b);
  EXPECT_NEAR(agc.Peak(), 0.7, 1e-6);
  EXPECT_NEAR(agc.Rms(), std::sqrt(0.98), 1e-6);
  EXPECT_EQ(agc.LevelClass(), lsLoud);
}

TEST_F(AgcFixture, EverySampleCountsWhereverItStandsAndWhateverTheLength) {
  // The peak sits in I or in Q of each position of blocks of odd and even lengths, so a sample left
  // out of the measurement (the last one of an odd block, say) shows.
  TAutoGain agc(Dev, 10, Clock);
  for (int n : {1, 2, 3, 4, 5, 7, 8, 33}) {
    for (int at = 0; at < n; ++at) {
      for (bool inQ : {false, true}) {
        std::vector<TComplexF> b(n, TComplexF{0.25f, -0.25f});
        if (inQ)
          b[at].Im = -0.75f;
        else
          b[at].Re = 0.75f;
        Feed(agc, b);
        EXPECT_EQ(agc.Peak(), 0.75) << n << " " << at << " " << inQ;
        const double want = std::sqrt(((n - 1) * 0.125 + 0.625) / n);
        EXPECT_NEAR(agc.Rms(), want, 1e-12) << n << " " << at << " " << inQ;
      }
    }
  }
}

// ---- Level lines ------------------------------------------------------------------------------------------

TEST_F(AgcFixture, LevelLinesOnClassChangesWithFixedGainAdvice) {
  TLogCapture log;
  TAutoGain agc(Dev, 20, Clock);
  Feed(agc, Level(0.1));   // first good: no line
  Feed(agc, Level(0.1));   // unchanged: no line
  Feed(agc, Level(0.01));  // quiet
  Feed(agc, Level(0.1));   // back
  Feed(agc, Level(0.3));   // loud
  Feed(agc, Block(0.3, 0.9));
  std::vector<std::string> want = {
      "level: rms 0.0100 peak 0.010 - below one quantisation step, watch for a mirror image about the tuner "
      "centre (fixed gain - raise it)",
      "level: rms 0.1000 peak 0.100 - back to a healthy level",
      "level: rms 0.3000 peak 0.300 - close to full scale, watch for intermodulation spurs (fixed gain - "
      "lower it)",
      "level: rms 0.3000 peak 0.900 - converter is clipping (fixed gain - lower it)",
  };
  EXPECT_EQ(log.Messages(), want);
}

TEST_F(AgcFixture, ActiveObjectAnnouncesItselfAndGivesNoAdvice) {
  TLogCapture log;
  TAutoGain agc(Dev, -1, Clock);
  EXPECT_TRUE(agc.Active());
  ASSERT_EQ(Dev->GainCalls, std::vector<double>{40});
  Feed(agc, Level(0.01));
  std::vector<std::string> want = {
      "agc: software gain control active, starting at 40 dB",
      "level: rms 0.0100 peak 0.010 - below one quantisation step, watch for a mirror image about the tuner "
      "centre",
      "agc: rms 0.0100 peak 0.010 -> gain 52 dB (was 40)",
  };
  EXPECT_EQ(log.Messages(), want);
}

// ---- Step sizes -------------------------------------------------------------------------------------------

TEST_F(AgcFixture, QuietBlockStepsUpByAtMost12Db) {
  TAutoGain agc(Dev, -1, Clock);
  EXPECT_TRUE(Feed(agc, Level(0.01)));  // unlimited step would be 18 dB
  EXPECT_EQ(agc.GainDb(), 52);
  EXPECT_EQ(agc.PrevGainDb(), 40);
  EXPECT_EQ(Dev->GainCalls.back(), 52);
  EXPECT_FALSE(agc.IsSettled());
}

TEST_F(AgcFixture, ClippingWithModerateRmsStepsDownByThePeak) {
  TAutoGain agc(Dev, -1, Clock);
  EXPECT_TRUE(Feed(agc, Block(0.3, 0.9)));  // -max(round(20 log10 1.8), 3) = -5
  EXPECT_EQ(agc.GainDb(), 35);
}

TEST_F(AgcFixture, ClippingWithQuietRmsStillStepsDown) {
  TAutoGain agc(Dev, -1, Clock);
  EXPECT_TRUE(Feed(agc, Block(0.01, 0.85)));  // a lone spike: round(20 log10 1.7) = 5 down, not up
  EXPECT_EQ(agc.GainDb(), 35);
}

TEST_F(AgcFixture, HeavyClippingStepsByTheRmsLimitedTo12) {
  TAutoGain agc(Dev, -1, Clock);
  EXPECT_TRUE(Feed(agc, Block(0.6, 0.95)));  // -max(round(20 log10 7.5), 6) = -18, limited to -12
  EXPECT_EQ(agc.GainDb(), 28);
}

TEST_F(AgcFixture, LoudBlockStepsDown) {
  TAutoGain agc(Dev, -1, Clock);
  EXPECT_TRUE(Feed(agc, Level(0.2)));  // round(20 log10 0.4) = -8
  EXPECT_EQ(agc.GainDb(), 32);
}

// ---- Pacing and settling ----------------------------------------------------------------------------------

TEST_F(AgcFixture, NoSecondStepWithin300Ms) {
  TAutoGain agc(Dev, -1, Clock);
  EXPECT_TRUE(Feed(agc, Level(0.01)));
  Clock.Advance(299);
  EXPECT_FALSE(Feed(agc, Level(0.01)));
  EXPECT_EQ(agc.GainDb(), 52);
  Clock.Advance(1);
  EXPECT_TRUE(Feed(agc, Level(0.01)));
  EXPECT_EQ(agc.GainDb(), 64);
}

TEST_F(AgcFixture, InBandSettlesOnlyAfterThePause) {
  TAutoGain agc(Dev, -1, Clock);
  EXPECT_FALSE(agc.IsSettled());  // nothing measured yet
  EXPECT_TRUE(Feed(agc, Level(0.01)));
  EXPECT_EQ(agc.Steps(), 1);
  Clock.Advance(300);
  EXPECT_FALSE(Feed(agc, Level(0.08)));
  EXPECT_EQ(agc.Steps(), 0);
  EXPECT_TRUE(agc.IsSettled());
  // Leaving the band starts stepping again.
  EXPECT_TRUE(Feed(agc, Level(0.5)));
  EXPECT_FALSE(agc.IsSettled());
}

// ---- Give-ups
// ----------------------------------------------------------------------------------------------

TEST_F(AgcFixture, SteppingBackIsReplacedByHalfTheStep) {
  TAutoGain agc(Dev, -1, Clock);
  EXPECT_TRUE(Feed(agc, Level(0.01)));  // 40 -> 52
  Clock.Advance(300);
  EXPECT_TRUE(Feed(agc, Level(0.4)));  // -12 would return to 40: -6 instead
  EXPECT_EQ(agc.GainDb(), 46);
  EXPECT_EQ(agc.PrevGainDb(), 52);
}

TEST_F(AgcFixture, HuntingGivesUpAfterEightSteps) {
  TLogCapture log;
  TAutoGain agc(Dev, -1, Clock);
  std::vector<int32_t> gains;
  for (int k = 0; k < 12; ++k) {
    bool changed = Feed(agc, Level(k % 2 == 0 ? 0.01 : 0.4));
    if (changed) gains.push_back(agc.GainDb());
    Clock.Advance(300);
  }
  EXPECT_EQ(gains, (std::vector<int32_t>{52, 46, 58, 52, 64, 58, 70, 64}));
  EXPECT_TRUE(agc.IsSettled());
  EXPECT_EQ(agc.Steps(), 12);  // later blocks count on without writing again
  std::vector<std::string> agcLines = log.MessagesStarting("agc: 9");
  ASSERT_EQ(agcLines.size(), 1u);
  EXPECT_EQ(agcLines[0],
            "agc: 9 adjustments without settling at rms 0.010 peak 0.010 - stopping here rather than hunting "
            "indefinitely");
  EXPECT_TRUE(log.MessagesStarting("agc: 10").empty());
}

TEST_F(AgcFixture, StageAtItsLimitSaysSoOnceAndSettles) {
  TLogCapture log;
  TAutoGain agc(Dev, -1, Clock);
  std::vector<int32_t> gains;
  for (int k = 0; k < 10; ++k) {
    if (Feed(agc, Level(0.0001))) gains.push_back(agc.GainDb());
    Clock.Advance(300);
  }
  EXPECT_EQ(gains, (std::vector<int32_t>{52, 64, 76, 80}));
  EXPECT_TRUE(agc.IsSettled());
  std::vector<std::string> lines = log.MessagesStarting("agc: at");
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_EQ(
      lines[0],
      "agc: at 80 dB the level is still rms 0.000 peak 0.000 - the stages cannot correct this, check the "
      "aerial or set a fixed gain");
  // One flag serves both messages: the later ninth step writes nothing.
  EXPECT_TRUE(log.MessagesStarting("agc: 9").empty());
  EXPECT_EQ(agc.Steps(), 10);
}

TEST_F(AgcFixture, LowerLimitAlsoStops) {
  TAutoGain agc(Dev, -1, Clock);
  for (int k = 0; k < 6; ++k) {
    Feed(agc, Block(0.9, 1.0));
    Clock.Advance(300);
  }
  EXPECT_EQ(agc.GainDb(), 0);
  EXPECT_TRUE(agc.IsSettled());
}

TEST_F(AgcFixture, ReapplyGainSetsTheChosenGainOnlyWhenActive) {
  TAutoGain agc(Dev, -1, Clock);
  Feed(agc, Level(0.01));
  Dev->GainCalls.clear();
  agc.ReapplyGain();
  EXPECT_EQ(Dev->GainCalls, std::vector<double>{52});
  TAutoGain fixed(Dev, 10, Clock);
  fixed.ReapplyGain();
  EXPECT_EQ(Dev->GainCalls.size(), 1u);
}
