#include "uMonitor.h"

#include <gtest/gtest.h>

#include <atomic>
#include <limits>

#include "LogCapture.h"
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

}  // namespace

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
  TLogCapture log;
  TMonitorSession m(s.Cfg, kWatch, 4000, s.Clock);
  ASSERT_TRUE(m.Prepare());
  ASSERT_TRUE(m.Start());
  ASSERT_TRUE(sessiontest::WaitFinished(m));
  m.WaitFor();
  EXPECT_EQ(m.LastError(), "");
  // Ended on the first block more than 4000 ms after its creation (2 ms of retune discard, then 4 ms
  // blocks): block 1000, at 4002 ms.
  EXPECT_EQ(s.Clock.NowMs() - kStart, 4002u);
  EXPECT_EQ(m.BlocksRead(), 1000);
  EXPECT_GE(log.Count("monitor: no viewer for 4000 ms - stopping"), 1u);
  EXPECT_GE(log.Count("monitor: watching 145.100000 MHz via centre 144.588000 MHz on Test"), 1u);
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
