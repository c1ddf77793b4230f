#include "uSessionKit.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <memory>
#include <string>
#include <vector>

#include "LogCapture.h"
#include "SessionTestSim.h"

using sessiontest::TOverride;
using sessiontest::TPacedSim;

namespace {

TSdrLimits Limits(int64_t lo, int64_t hi) {
  TSdrLimits l;
  l.MinHz = lo;
  l.MaxHz = hi;
  return l;
}

// The settings of a session on the simulated receiver (its range 1 MHz .. 6 GHz): fixed gain.
TTalvConfig SimConfig() {
  TTalvConfig cfg;
  ConfigDefaults(cfg);
  cfg.GainDb = 0;
  cfg.SampleRate = 2048000;
  return cfg;
}

}  // namespace

// ---------------------------------------------------------------------------------------------
// Tuner placement

TEST(OffsetCentre, AQuarterOfTheRateBelowTheWatchedFrequency) {
  EXPECT_EQ(OffsetCentre(100000000, 2048000, Limits(24000000, 1766000000)), 99488000);
  EXPECT_EQ(OffsetCentre(100000000, 2400000, Limits(24000000, 1766000000)), 99400000);
}

TEST(OffsetCentre, AboveWhenBelowWouldLeaveTheRange) {
  EXPECT_EQ(OffsetCentre(24100000, 2048000, Limits(24000000, 1766000000)), 24612000);
  // Exactly on the lowest frequency still fits below.
  EXPECT_EQ(OffsetCentre(24512000, 2048000, Limits(24000000, 1766000000)), 24000000);
}

TEST(OffsetCentre, TheFrequencyItselfWhenNeitherSideFits) {
  EXPECT_EQ(OffsetCentre(1000000, 2048000, Limits(900000, 1100000)), 1000000);
}

TEST(OffsetCentre, QuarterRateIsRoundedHalfToEven) {
  // 1000002 / 4 = 250000.5 -> 250000; 1000006 / 4 = 250001.5 -> 250002.
  EXPECT_EQ(OffsetCentre(10000000, 1000002, Limits(0, 20000000)), 9750000);
  EXPECT_EQ(OffsetCentre(10000000, 1000006, Limits(0, 20000000)), 9749998);
}

TEST(OutsideTunerRangeText, NamesTheFrequencyAndTheRange) {
  EXPECT_EQ(OutsideTunerRangeText(20000000, Limits(24000000, 1766000000)),
            "20.000000 MHz is outside the tuner range (24.000000 MHz .. 1766.000000 MHz)");
}

TEST(SetSessionRate, TakesTheReportedRateOrTheSettingsRate) {
  plat::TManualClock clock;
  TPacedSim sim(clock);
  TTalvConfig cfg;
  cfg.SampleRate = 2400000;
  double rate = 0;
  std::string error;
  ASSERT_TRUE(SetSessionRate(sim, cfg, rate, error));
  EXPECT_EQ(rate, 2400000.0);
  sim.ReportNoRate = true;
  cfg.SampleRate = 1024000;
  ASSERT_TRUE(SetSessionRate(sim, cfg, rate, error));
  EXPECT_EQ(rate, 1024000.0);
  sim.RateError = "invalid sample rate";
  EXPECT_FALSE(SetSessionRate(sim, cfg, rate, error));
  EXPECT_EQ(error, "invalid sample rate");
}

// ---------------------------------------------------------------------------------------------
// Pacing, detection buffer, reading

TEST(SessionPace, FirstTimeAlwaysThenAtMostOnceEveryPeriod) {
  TPace pace(100);
  EXPECT_TRUE(pace.Due(0));  // even at tick 0
  EXPECT_FALSE(pace.Due(99));
  EXPECT_TRUE(pace.Due(100));
  EXPECT_FALSE(pace.Due(150));
  EXPECT_TRUE(pace.Due(260));
  EXPECT_FALSE(pace.Due(359));  // counted from the last time it was due, not from a grid
  pace.Reset();
  EXPECT_TRUE(pace.Due(360));
}

TEST(DetectBuffer, FillsAcrossBlocksAndDropsWhatDoesNotFit) {
  std::vector<TComplexF> buffer(5);
  int32_t count = 0;
  TComplexF block[4];
  for (int i = 0; i < 4; ++i) block[i] = TComplexF{static_cast<float>(i + 1), 0.0f};
  EXPECT_FALSE(FillDetectBuffer(buffer, count, block, 3));
  EXPECT_EQ(count, 3);
  EXPECT_TRUE(FillDetectBuffer(buffer, count, block, 4));  // two fit, two are dropped
  EXPECT_EQ(count, 0);
  EXPECT_EQ(buffer[2].Re, 3.0f);
  EXPECT_EQ(buffer[3].Re, 1.0f);
  EXPECT_EQ(buffer[4].Re, 2.0f);
  // A block longer than the buffer fills it at once.
  std::vector<TComplexF> small(2);
  EXPECT_TRUE(FillDetectBuffer(small, count, block, 4));
  EXPECT_EQ(small[1].Re, 2.0f);
  EXPECT_FALSE(FillDetectBuffer(small, count, block, 0));
}

TEST(SessionReader, RidesOutFiftyFailuresInARowAndGivesUpOnTheFiftyFirst) {
  plat::TManualClock clock;
  auto sim = std::make_shared<TPacedSim>(clock);
  sim->Open(0);
  TReceiver rx(sim, clock);
  ASSERT_TRUE(rx.Configure(2048000, 0, 0, 1024));
  TSessionReader reader("test");
  TComplexF* block = nullptr;
  int32_t n = 0;
  EXPECT_EQ(reader.Read(rx, block, n), TSessionReader::rrBlock);
  EXPECT_EQ(n, 1024);
  sim->FailReads = 50;
  for (int i = 0; i < 50; ++i) EXPECT_EQ(reader.Read(rx, block, n), TSessionReader::rrRetry) << i;
  EXPECT_EQ(reader.Read(rx, block, n), TSessionReader::rrBlock);  // a success starts the count again
  sim->FailReads = 51;
  for (int i = 0; i < 50; ++i) EXPECT_EQ(reader.Read(rx, block, n), TSessionReader::rrRetry) << i;
  EXPECT_EQ(reader.Read(rx, block, n), TSessionReader::rrGiveUp);
  EXPECT_EQ(rx.LastError(), "usb transfer failed (-5)");
}

TEST(SessionPace, StartAtCountsAsDoneThen) {
  TPace pace(200);
  pace.StartAt(1000);
  EXPECT_FALSE(pace.Due(1000));
  EXPECT_FALSE(pace.Due(1199));
  EXPECT_TRUE(pace.Due(1200));
  EXPECT_FALSE(pace.Due(1300));
}

TEST(DetectBuffer, ResetGivesAnEmptyBufferOfTheDetectorsSizeAndNeverNone) {
  std::vector<TComplexF> buffer(3, TComplexF{1.0f, 1.0f});
  int32_t count = 2;
  ResetDetectBuffer(buffer, count, 8192);
  EXPECT_EQ(buffer.size(), 8192u);
  EXPECT_EQ(count, 0);
  ResetDetectBuffer(buffer, count, 0);
  EXPECT_EQ(buffer.size(), 1u);
  TComplexF block[1] = {{5.0f, 0.0f}};
  EXPECT_TRUE(FillDetectBuffer(buffer, count, block, 1));  // one sample fills it
}

// ---------------------------------------------------------------------------------------------
// The read loop

struct TLoopScene {
  plat::TManualClock Clock;
  std::shared_ptr<TPacedSim> Sim = std::make_shared<TPacedSim>(Clock);
  TReceiver Rx{Sim, Clock};
  int GoOnCalls = 0;
  int Blocks = 0;
  TLoopScene() {
    Sim->Open(0);
    EXPECT_TRUE(Rx.Configure(2048000, 0, 0, 1024));
  }
};

TEST(ReadLoop, AskedBeforeEveryReadAndEndsAsStoppedOrDone) {
  TLoopScene s;
  // Stopped before the first read: nothing is read.
  EXPECT_EQ(RunReadLoop(
                s.Rx, "test", [&] { return false; }, [&](TComplexF*, int32_t) { return true; }),
            leStopped);
  EXPECT_EQ(s.Sim->Reads, 0);
  // Done on the third block.
  const TReadLoopEnd end = RunReadLoop(
      s.Rx, "test",
      [&] {
        ++s.GoOnCalls;
        return true;
      },
      [&](TComplexF* block, int32_t n) {
        EXPECT_NE(block, nullptr);
        EXPECT_EQ(n, 1024);
        return ++s.Blocks < 3;
      });
  EXPECT_EQ(end, leDone);
  EXPECT_EQ(s.Blocks, 3);
  EXPECT_EQ(s.GoOnCalls, 3);
  EXPECT_EQ(s.Sim->Reads, 3);
}

TEST(ReadLoop, FiftyFailuresAreRiddenOutAndAskedAboutTheFiftyFirstFailsWithALogLine) {
  TLoopScene s;
  TLogCapture log;
  s.Sim->FailReads = 50;
  EXPECT_EQ(RunReadLoop(
                s.Rx, "test",
                [&] {
                  ++s.GoOnCalls;
                  return s.Blocks == 0;
                },
                [&](TComplexF*, int32_t) {
                  ++s.Blocks;
                  return true;
                }),
            leStopped);
  EXPECT_EQ(s.Blocks, 1);          // failed reads never reach the block step
  EXPECT_EQ(s.GoOnCalls, 50 + 2);  // asked before every retry too
  EXPECT_TRUE(log.MessagesStarting("test: read failed").empty());

  s.Sim->FailReads = 51;
  s.Blocks = 0;
  EXPECT_EQ(RunReadLoop(
                s.Rx, "test", [] { return true; },
                [&](TComplexF*, int32_t) {
                  ++s.Blocks;
                  return true;
                }),
            leFailed);
  EXPECT_EQ(s.Blocks, 0);
  EXPECT_EQ(s.Rx.LastError(), "usb transfer failed (-5)");
  EXPECT_EQ(log.MessagesStarting("test: read failed"),
            std::vector<std::string>{"test: read failed: usb transfer failed (-5)"});
}

TEST(ReadLoop, EveryLoopCountsItsOwnFailuresAndANullComponentLogsNothing) {
  TLoopScene s;
  TLogCapture log;
  // 30 failures end the first loop (stopped); 30 more in the second loop do not add up to 51.
  s.Sim->FailReads = 30;
  int asked = 0;
  EXPECT_EQ(RunReadLoop(
                s.Rx, nullptr, [&] { return ++asked <= 30; }, [](TComplexF*, int32_t) { return true; }),
            leStopped);
  s.Sim->FailReads = 30;
  EXPECT_EQ(RunReadLoop(
                s.Rx, nullptr, [] { return true; }, [](TComplexF*, int32_t) { return false; }),
            leDone);
  s.Sim->FailReads = 51;
  EXPECT_EQ(RunReadLoop(
                s.Rx, nullptr, [] { return true; }, [](TComplexF*, int32_t) { return true; }),
            leFailed);
  const std::vector<std::string> lines = log.Messages();
  EXPECT_EQ(std::count_if(lines.begin(), lines.end(),
                          [](const std::string& m) { return m.find("read failed") != std::string::npos; }),
            0);  // nothing named, nothing written
}

// ---------------------------------------------------------------------------------------------
// Opening and tuning from the settings record

TEST(SessionRadio, OpensTheNamedReceiverSetsTheRateAndTunesTheWrapper) {
  plat::TManualClock clock;
  auto sim = std::make_shared<TPacedSim>(clock);
  TOverride hold(sim);
  TTalvConfig cfg = SimConfig();
  cfg.SampleRate = 2400000;
  cfg.GainDb = 12.5;
  TSessionRadio radio(clock);
  ASSERT_TRUE(radio.Open(cfg)) << radio.LastError();
  EXPECT_EQ(radio.DeviceName(), "Test");
  EXPECT_EQ(radio.Device(), sim);
  EXPECT_EQ(radio.Limits().MinHz, 1000000);
  EXPECT_EQ(radio.Limits().MaxHz, 6000000000LL);
  EXPECT_EQ(radio.Receiver(), nullptr);
  ASSERT_TRUE(radio.SetRate(cfg));
  EXPECT_EQ(radio.Rate(), 2400000.0);
  std::atomic<bool> stop{false};
  ASSERT_TRUE(radio.Tune(cfg, 145000000, 4096, &stop)) << radio.LastError();
  ASSERT_NE(radio.Receiver(), nullptr);
  EXPECT_EQ(sim->CenterHz, 145000000);
  EXPECT_EQ(radio.Receiver()->BlockSize(), 4096);
  EXPECT_EQ(radio.Receiver()->SampleRate(), 2400000.0);
  EXPECT_EQ(radio.Receiver()->GainDb(), 12.5);
  EXPECT_EQ(sim->Reads, 1);  // the retune's discard, without a settle pause
  // The stop flag given to Tune ends a later retune's settle pause at once.
  const uint64_t before = clock.NowMs();
  ASSERT_TRUE(radio.Receiver()->Retune(146000000, 400));
  EXPECT_GE(clock.NowMs() - before, 400u);  // the manual clock stands for the pause
  stop = true;
  const uint64_t stopped = clock.NowMs();
  ASSERT_TRUE(radio.Receiver()->Retune(145000000, 400));
  EXPECT_LT(clock.NowMs() - stopped, 400u);

  radio.Release();
  EXPECT_EQ(radio.Receiver(), nullptr);
  EXPECT_EQ(radio.Device(), nullptr);
  EXPECT_EQ(radio.DeviceName(), "Test");  // what STATUS showed stays
  EXPECT_EQ(sim.use_count(), 2);          // this test's and the override's
}

TEST(SessionRadio, EachStepFailsWithItsOwnText) {
  plat::TManualClock clock;
  auto sim = std::make_shared<TPacedSim>(clock);
  TOverride hold(sim);
  const TTalvConfig cfg = SimConfig();
  TSessionRadio radio(clock);

  sim->OpenError = "usb_claim_interface error -6";
  EXPECT_FALSE(radio.Open(cfg));
  EXPECT_EQ(radio.LastError(), "usb_claim_interface error -6");
  EXPECT_EQ(radio.Device(), nullptr);
  EXPECT_FALSE(radio.SetRate(cfg));  // nothing open: no step goes on
  EXPECT_FALSE(radio.Tune(cfg, 145000000, 1024));

  sim->OpenError.clear();
  ASSERT_TRUE(radio.Open(cfg));
  EXPECT_TRUE(radio.LastError().empty());  // a fresh open forgets the old text
  EXPECT_TRUE(radio.Covers(1000000));
  EXPECT_TRUE(radio.Covers(6000000000LL));
  EXPECT_FALSE(radio.Covers(999999));
  EXPECT_EQ(radio.LastError(), OutsideTunerRangeText(999999, radio.Limits()));
  EXPECT_EQ(radio.Clamp(500000), 1000000);
  EXPECT_EQ(radio.Clamp(7000000000LL), 6000000000LL);
  EXPECT_EQ(radio.Clamp(145000000), 145000000);

  sim->RateError = "invalid sample rate";
  EXPECT_FALSE(radio.SetRate(cfg));
  EXPECT_EQ(radio.LastError(), "invalid sample rate");
  sim->RateError.clear();
  sim->ReportNoRate = true;
  ASSERT_TRUE(radio.SetRate(cfg));
  EXPECT_EQ(radio.Rate(), 2048000.0);

  sim->Close();  // a receiver that went away: the wrapper says so
  EXPECT_FALSE(radio.Tune(cfg, 145000000, 1024));
  EXPECT_EQ(radio.LastError(), "device not open");
}
