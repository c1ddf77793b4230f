#include "uMonitor.h"

#include <gtest/gtest.h>

#include <atomic>
#include <limits>

#include "SessionTestSim.h"
#include "TestSupport.h"
#include "uLog.h"
#include "uSpecTap.h"

using sessiontest::TOverride;
using sessiontest::TPacedSim;
using testsupport::ReadWholeFile;
using testsupport::TTempDir;

namespace {

constexpr int64_t kWatch = 145100000;
constexpr int64_t kCentre = kWatch - 512000;
constexpr uint64_t kStart = 1000;  // the manual clock's start

// A monitor scene: default settings (FFT 4096 x 2 averages: blocks of 8192 samples, 4 ms at
// 2.048 MS/s), fixed gain, a carrier at the watched frequency.
struct TMonitorScene {
  plat::TManualClock Clock{kStart};
  std::shared_ptr<TPacedSim> Sim = std::make_shared<TPacedSim>(Clock);
  TTalvConfig Cfg;
  TOverride Override{Sim};

  TMonitorScene() {
    ConfigDefaults(Cfg);
    Cfg.GainDb = 0;
    Cfg.SnrDb = 20;
    Cfg.SettleMs = 30;
    Sim->NoiseDb = -40;  // about one step of the 8-bit samples: dithers away quantisation spurs
    Sim->AddCarrier(kWatch + 3000, -30);
  }
};

TSdrLimits Limits(int64_t lo, int64_t hi) {
  TSdrLimits l;
  l.MinHz = lo;
  l.MaxHz = hi;
  return l;
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

// ---------------------------------------------------------------------------------------------
// Preparing

TEST(MonitorSession, PrepareTunesBesideTheWatchedFrequency) {
  TMonitorScene s;
  TMonitorSession m(s.Cfg, kWatch, 4000, s.Clock);
  EXPECT_EQ(m.WantedHz(), kWatch);
  EXPECT_EQ(m.LastPollTick(), kStart);
  ASSERT_TRUE(m.Prepare()) << m.LastError();
  EXPECT_EQ(m.WantedHz(), kWatch);
  EXPECT_EQ(m.CentreHz(), kCentre);
  EXPECT_EQ(s.Sim->CenterHz, kCentre);
  EXPECT_DOUBLE_EQ(m.SampleRate(), 2048000.0);
  EXPECT_EQ(m.DeviceName(), "Test");
  EXPECT_EQ(m.ViewerTimeoutMs(), 4000);
}

TEST(MonitorSession, PrepareClampsTheWatchedFrequencyToTheTuner) {
  TMonitorScene s;
  TMonitorSession low(s.Cfg, 500000, 0, s.Clock);
  ASSERT_TRUE(low.Prepare());
  EXPECT_EQ(low.WantedHz(), 1000000);
  EXPECT_EQ(low.CentreHz(), 1512000);
  TMonitorSession high(s.Cfg, 7000000000LL, 0, s.Clock);
  ASSERT_TRUE(high.Prepare());
  EXPECT_EQ(high.WantedHz(), 6000000000LL);
  EXPECT_EQ(high.CentreHz(), 6000000000LL - 512000);
}

TEST(MonitorSession, RefusedRateFailsPrepareWithTheReceiversText) {
  TMonitorScene s;
  s.Sim->RateError = "invalid sample rate 2048000";
  TMonitorSession m(s.Cfg, kWatch, 4000, s.Clock);
  EXPECT_FALSE(m.Prepare());
  EXPECT_EQ(m.LastError(), "invalid sample rate 2048000");
}

TEST(MonitorSession, ReceiverThatCannotOpenFailsPrepareWithItsText) {
  TMonitorScene s;
  s.Sim->OpenError = "no device at index 0";
  TMonitorSession m(s.Cfg, kWatch, 4000, s.Clock);
  EXPECT_FALSE(m.Prepare());
  EXPECT_EQ(m.LastError(), "no device at index 0");
}

// ---------------------------------------------------------------------------------------------
// Frames

TEST(MonitorSession, PublishesAFrameAtMostEvery40Ms) {
  TMonitorScene s;
  TMonitorSession m(s.Cfg, kWatch, 0, s.Clock);
  ASSERT_TRUE(m.Prepare());
  const int64_t seqBefore = SpecFrameSequence();
  s.Sim->OnRead = [&](int64_t read) {
    if (read == 501) m.Stop();  // 500 blocks of 4 ms: 2 s
  };
  ASSERT_TRUE(m.Start());
  m.WaitFor();
  EXPECT_EQ(m.LastError(), "");
  EXPECT_EQ(m.BlocksRead(), 500);
  // The first block, then every tenth: blocks read in between are not analysed.
  EXPECT_EQ(m.Frames(), 50);
  EXPECT_EQ(SpecFrameSequence() - seqBefore, 50);

  TSpecFrame frame;
  ASSERT_TRUE(GetSpecFrame(frame, 0, 0, 0));
  EXPECT_EQ(frame.Label, "monitor");
  EXPECT_EQ(frame.CenterHz, kCentre);
  EXPECT_EQ(static_cast<int32_t>(frame.Bins.size()), 4096);
  // The frame carries the hits of its own block only: the carrier, once.
  ASSERT_EQ(frame.Hits.size(), 1u);
  EXPECT_EQ(frame.Hits[0].ChannelHz, kWatch);
}

// ---------------------------------------------------------------------------------------------
// Viewer time-out

TEST(MonitorSession, StopsItselfAfterTheViewerTimeOut) {
  TMonitorScene s;
  TTempDir logDir;
  SetLogPathForTest(logDir.File("monitor.log"));
  SetLogEnabled(true);
  TMonitorSession m(s.Cfg, kWatch, 4000, s.Clock);
  ASSERT_TRUE(m.Prepare());
  ASSERT_TRUE(m.Start());
  ASSERT_TRUE(sessiontest::WaitFinished(m));
  m.WaitFor();
  SetLogEnabled(false);
  SetLogPathForTest("");
  EXPECT_EQ(m.LastError(), "");
  // Ended on the first block more than 4000 ms after its creation (2 ms of retune discard, then 4 ms
  // blocks): block 1000, at 4002 ms.
  EXPECT_EQ(s.Clock.NowMs() - kStart, 4002u);
  EXPECT_EQ(m.BlocksRead(), 1000);
  const std::string log = ReadWholeFile(logDir.File("monitor.log"));
  EXPECT_NE(log.find("monitor: no viewer for 4000 ms - stopping"), std::string::npos) << log;
  EXPECT_NE(log.find("monitor: watching 145.100000 MHz via centre 144.588000 MHz on Test"), std::string::npos)
      << log;
}

TEST(MonitorSession, EachPollKeepsItAliveForAnotherTimeOut) {
  TMonitorScene s;
  TMonitorSession m(s.Cfg, kWatch, 4000, s.Clock);
  ASSERT_TRUE(m.Prepare());
  uint64_t lastPoll = 0;
  s.Sim->OnRead = [&](int64_t read) {
    // Polls every 1.2 s of samples for 4.8 s (past the first time-out), then none.
    if (read % 300 == 0 && read <= 1200) {
      m.Poll(0);
      lastPoll = s.Clock.NowMs();
    }
  };
  ASSERT_TRUE(m.Start());
  ASSERT_TRUE(sessiontest::WaitFinished(m));
  m.WaitFor();
  EXPECT_EQ(m.LastPollTick(), lastPoll);
  EXPECT_GT(s.Clock.NowMs() - lastPoll, 4000u);
  EXPECT_LE(s.Clock.NowMs() - lastPoll, 4008u);
  EXPECT_EQ(s.Sim->Tunes, 1);  // polls without a new frequency never retune
}

TEST(MonitorSession, WithoutTimeOutItRunsUntilStopped) {
  TMonitorScene s;
  TMonitorSession m(s.Cfg, kWatch, 0, s.Clock);
  ASSERT_TRUE(m.Prepare());
  s.Sim->OnRead = [&](int64_t read) {
    if (read == 1201) m.Stop();  // 4.8 s without a poll
  };
  ASSERT_TRUE(m.Start());
  m.WaitFor();
  EXPECT_EQ(m.BlocksRead(), 1200);
}

// ---------------------------------------------------------------------------------------------
// Retune by poll

TEST(MonitorSession, PollWithANewFrequencyRetunesOnTheSessionsThread) {
  TMonitorScene s;
  TMonitorSession m(s.Cfg, kWatch, 0, s.Clock);
  ASSERT_TRUE(m.Prepare());
  const uint64_t t0 = s.Clock.NowMs();
  int32_t tunesBefore = -1;
  uint64_t clockBefore = 0;
  s.Sim->OnRead = [&](int64_t read) {
    if (read == 10) m.Poll(kWatch);  // the same frequency: nothing queued
    if (read == 20) {
      tunesBefore = s.Sim->Tunes;
      clockBefore = s.Clock.NowMs();
      m.Poll(146000000);
      m.Poll(147000000);  // a later poll overwrites one not yet taken
    }
    if (read == 60) m.Stop();
  };
  ASSERT_TRUE(m.Start());
  m.WaitFor();
  EXPECT_EQ(m.LastError(), "");
  EXPECT_EQ(tunesBefore, 1);
  EXPECT_EQ(s.Sim->Tunes, 2);
  EXPECT_EQ(m.WantedHz(), 147000000);
  EXPECT_EQ(m.CentreHz(), 147000000 - 512000);
  EXPECT_EQ(s.Sim->CenterHz, 147000000 - 512000);
  // Reads 2 .. 60 less the retune's discard (read 21) are 58 blocks of 4 ms; the retune waited the
  // settle time (30 ms) on the session's clock and discarded 2 ms.
  EXPECT_EQ(s.Clock.NowMs() - t0, 58u * 4u + 30u + 2u);
  EXPECT_GT(clockBefore, t0);
  TSpecFrame frame;
  ASSERT_TRUE(GetSpecFrame(frame, 0, 0, 0));
  EXPECT_EQ(frame.CenterHz, 147000000 - 512000);
}

TEST(MonitorSession, PollsFromAnotherThreadWhileItRuns) {
  TMonitorScene s;
  TMonitorSession m(s.Cfg, kWatch, 4000, s.Clock);
  ASSERT_TRUE(m.Prepare());
  ASSERT_TRUE(m.Start());
  // A viewer polling as the service's connection threads do, then asking for another frequency.
  for (int i = 0; i < 20 && !m.Finished(); ++i) m.Poll(kWatch);
  m.Poll(145500000);
  ASSERT_TRUE(sessiontest::WaitUntil([&] { return m.CentreHz() == 145500000 - 512000 || m.Finished(); }));
  m.Stop();
  m.WaitFor();
  EXPECT_EQ(m.WantedHz(), 145500000);
  EXPECT_EQ(m.CentreHz(), 145500000 - 512000);
  EXPECT_EQ(m.LastError(), "");
}

// ---------------------------------------------------------------------------------------------
// Failures

TEST(MonitorSession, TheFiftyFirstFailedReadEndsItWithTheReceiversText) {
  TMonitorScene s;
  TMonitorSession m(s.Cfg, kWatch, 4000, s.Clock);
  ASSERT_TRUE(m.Prepare());
  s.Sim->OnRead = [&](int64_t read) {
    if (read == 10) s.Sim->FailReads = 50;
    if (read == 80) s.Sim->FailReads = 51;
  };
  ASSERT_TRUE(m.Start());
  ASSERT_TRUE(sessiontest::WaitFinished(m));
  m.WaitFor();
  EXPECT_EQ(m.LastError(), "usb transfer failed (-5)");
  EXPECT_EQ(s.Sim->FailedReads, 101);
  EXPECT_EQ(s.Sim->Reads, 130);
  EXPECT_EQ(m.BlocksRead(), 8 + 20);
}

TEST(MonitorSession, FailedReadsDoNotCountAsViewerTime) {
  // While reads fail the viewer check is skipped: the thread ends by the failures, not the time-out.
  TMonitorScene s;
  TMonitorSession m(s.Cfg, kWatch, 10, s.Clock);
  ASSERT_TRUE(m.Prepare());
  s.Sim->FailReads = 1000;
  s.Sim->OnRead = [&](int64_t) { s.Clock.Advance(100); };  // each failed read takes 100 ms
  ASSERT_TRUE(m.Start());
  m.WaitFor();
  EXPECT_EQ(m.LastError(), "usb transfer failed (-5)");
  EXPECT_EQ(m.BlocksRead(), 0);
  EXPECT_EQ(m.Frames(), 0);
}
