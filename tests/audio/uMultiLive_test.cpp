#include "uMultiLive.h"

#include <gtest/gtest.h>

#include <mutex>
#include <regex>

#include "LogCapture.h"
#include "SessionTestSim.h"
#include "TestSupport.h"
#include "pFile.h"
#include "pFs.h"
#include "uAudioOut.h"
#include "uFreqText.h"
#include "uLevelTap.h"
#include "uLog.h"
#include "uSpecTap.h"

using sessiontest::FilesIn;
using sessiontest::StopAt;
using sessiontest::TOverride;
using sessiontest::TPacedSim;
using testsupport::ReadWholeFile;
using testsupport::TTempDir;

namespace {

constexpr int64_t kA = 144700000;
constexpr int64_t kB = 145100000;
constexpr int64_t kC = 145300000;

// A multi scene: the range 144.5 .. 145.5 MHz fits one tuning; FFT 4096 x 8 averages is exactly one
// 32768-sample block (16 ms at 2.048 MS/s), so every 13th block is analysed (208 ms apart).
struct TMultiScene : sessiontest::TSessionScene {
  TMultiScene() {
    Cfg.StartHz = 144500000;
    Cfg.StopHz = 145500000;
  }
};

std::vector<int64_t> LaneKeys() {
  TLevelLaneInfoArray lanes;
  GetLevelLanes(0, 16, lanes);
  std::vector<int64_t> keys;
  for (auto& l : lanes) keys.push_back(l.Key);
  return keys;
}

}  // namespace

// ---------------------------------------------------------------------------------------------
// Mixing

TEST(AudioMix, ChannelsOfDifferentLengthMixOverTheShorter) {
  TAudioMix mix;
  const float a[6] = {0.1f, 0.2f, 0.3f, 0.4f, 0.5f, 0.6f};
  const float b[4] = {0.01f, 0.02f, 0.03f, 0.04f};
  mix.Begin();
  mix.Add(a, 6);
  mix.Add(b, 4);
  ASSERT_EQ(mix.Finish(), 4);
  EXPECT_FLOAT_EQ(mix.Data()[0], 0.11f);
  EXPECT_FLOAT_EQ(mix.Data()[3], 0.44f);
  // A longer channel after a shorter one adds only the shorter length.
  mix.Begin();
  mix.Add(b, 4);
  mix.Add(a, 6);
  ASSERT_EQ(mix.Finish(), 4);
  EXPECT_FLOAT_EQ(mix.Data()[1], 0.22f);
}

TEST(AudioMix, SumIsClippedTo098) {
  TAudioMix mix;
  const float loud[3] = {0.9f, -0.9f, 0.5f};
  mix.Begin();
  mix.Add(loud, 3);
  mix.Add(loud, 3);
  mix.Add(loud, 3);
  ASSERT_EQ(mix.Finish(), 3);
  EXPECT_EQ(mix.Data()[0], 0.98f);
  EXPECT_EQ(mix.Data()[1], -0.98f);
  EXPECT_EQ(mix.Data()[2], 0.98f);
}

TEST(AudioMix, NothingAddedMixesNothingAndEmptyChannelsAreSkipped) {
  TAudioMix mix;
  const float a[2] = {0.5f, 0.5f};
  mix.Begin();
  mix.Add(nullptr, 5);
  mix.Add(a, 0);
  EXPECT_EQ(mix.Finish(), 0);
  mix.Add(a, 2);  // an empty channel first does not fix the length at 0
  EXPECT_EQ(mix.Finish(), 2);
  // A new block starts from zero, not from the last sum.
  mix.Begin();
  mix.Add(a, 2);
  ASSERT_EQ(mix.Finish(), 2);
  EXPECT_EQ(mix.Data()[0], 0.5f);
}

// ---------------------------------------------------------------------------------------------
// Following channels

TEST(MultiLiveSession, OneLevelLanePerChannelInTheTuning) {
  TMultiScene s;
  s.Sim->AddFmTone(kA, -25, 800, 2500);
  s.Sim->AddFmTone(kB, -25, 1000, 2500);
  s.Sim->AddFmTone(kC, -25, 1200, 2500);
  TScanHopArray hops;
  BuildHops(hops, s.Cfg.StartHz, s.Cfg.StopHz, 2048000, 0.075);
  ASSERT_EQ(hops.size(), 1u);
  std::vector<int64_t> lanesMidway;
  {
    TMultiLiveSession multi(s.Cfg, s.Clock);
    s.Listen(multi);
    ASSERT_TRUE(multi.Prepare()) << multi.ErrorText();
    EXPECT_EQ(multi.CentreHz(), hops[0].CenterHz);
    EXPECT_EQ(multi.LoHz(), hops[0].LoHz);
    EXPECT_EQ(multi.HiHz(), hops[0].HiHz);
    EXPECT_EQ(s.Sim->CenterHz, hops[0].CenterHz);
    EXPECT_EQ(multi.DeviceName(), "Test");
    StopAt(*s.Sim, multi, 151, [&](int64_t read) {
      if (read == 100) lanesMidway = LaneKeys();
    });
    ASSERT_TRUE(multi.Start());
    ASSERT_TRUE(sessiontest::WaitFinished(multi));
    multi.WaitFor();
    EXPECT_EQ(multi.ErrorText(), "");
    EXPECT_EQ(multi.BlocksRead(), 150);
    EXPECT_EQ(multi.ChannelCount(), 3);
    ASSERT_EQ(multi.Channels().size(), 3u);
    for (const TMultiChannel& ch : multi.Channels()) {
      EXPECT_TRUE(ch.Squelch->IsOpen());
      EXPECT_FALSE(ch.Demod->HoldAgc);
      EXPECT_EQ(ch.Demod->Mode(), modNFM);
    }
    EXPECT_GT(multi.WaveOut()->NullBlocks(), 0);

    // Lanes keyed by the channels' frequencies, ascending, each with its own levels.
    TLevelLaneInfoArray lanes;
    GetLevelLanes(0, 4096, lanes);
    ASSERT_EQ(lanes.size(), 3u);
    EXPECT_EQ(lanes[0].Key, kA);
    EXPECT_EQ(lanes[1].Key, kB);
    EXPECT_EQ(lanes[2].Key, kC);
    for (const auto& lane : lanes) {
      EXPECT_EQ(lane.Count, 149);  // found on the first block, a level every block after it
      EXPECT_GT(lane.Samples.back().Peak, 0.05f);
      EXPECT_LE(lane.Samples.back().Peak, 0.98f);
    }
    TSpecFrame frame;
    ASSERT_TRUE(GetSpecFrame(frame, 0, 0, 0));
    EXPECT_EQ(frame.Label, "multi");
  }
  EXPECT_EQ(lanesMidway, (std::vector<int64_t>{kA, kB, kC}));

  // The hit callback: on the first detection, then at least 1000 ms apart (blocks 1, 66, 131), each
  // with the hits of that one detection.
  ASSERT_EQ(s.HitCalls.size(), 3u);
  for (size_t i = 1; i < s.HitCallTimes.size(); ++i)
    EXPECT_GE(s.HitCallTimes[i] - s.HitCallTimes[i - 1], 1000u);
  for (const auto& hits : s.HitCalls) {
    ASSERT_EQ(hits.size(), 3u);
    EXPECT_EQ(hits[0].ChannelHz, kA);
    EXPECT_EQ(hits[1].ChannelHz, kB);
    EXPECT_EQ(hits[2].ChannelHz, kC);
  }
  // One take per channel, named with its frequency and the settings' modulation.
  for (int64_t hz : {kA, kB, kC}) {
    auto files = FilesIn(ChannelFolder(s.Dir.Path(), hz));
    ASSERT_EQ(files.size(), 1u) << hz;
    const std::string pattern =
        StripBlanks(FormatMHz(hz)).insert(3, "\\") + "_[0-9]{8}_[0-9]{6}_12\\.5kHz_[0-9]{8}_[0-9]{6}\\.wav";
    EXPECT_TRUE(std::regex_match(files[0], std::regex(pattern))) << files[0] << " " << pattern;
  }
}

TEST(MultiLiveSession, MaxParallelLimitsTheChannelsFollowed) {
  TMultiScene s;
  s.Cfg.MaxParallel = 2;
  s.Cfg.RecordAudio = false;
  s.Sim->AddFmTone(kA, -25, 800, 2500);
  s.Sim->AddFmTone(kB, -25, 1000, 2500);
  s.Sim->AddFmTone(kC, -25, 1200, 2500);
  {
    TMultiLiveSession multi(s.Cfg, s.Clock);
    ASSERT_TRUE(multi.Prepare());
    StopAt(*s.Sim, multi, 60);
    ASSERT_TRUE(multi.Start());
    multi.WaitFor();
    EXPECT_EQ(multi.ChannelCount(), 2);
    EXPECT_EQ(multi.MostChannels(), 2);
    EXPECT_EQ(LaneKeys(), (std::vector<int64_t>{kA, kB}));
    for (const TMultiChannel& ch : multi.Channels()) EXPECT_EQ(ch.Recorder, nullptr);
  }
  EXPECT_FALSE(plat::DirectoryExists(ChannelFolder(s.Dir.Path(), kA)));
}

TEST(MultiLiveSession, MaxParallelOutsideOneToSixteenFollowsSixteen) {
  for (int32_t maxParallel : {0, 40}) {
    TMultiScene s;
    s.Cfg.MaxParallel = maxParallel;
    s.Cfg.RecordAudio = false;
    s.Cfg.StartHz = 144130000;  // the whole usable span of one tuning
    s.Cfg.StopHz = 145870000;
    TScanHopArray hops;
    BuildHops(hops, s.Cfg.StartHz, s.Cfg.StopHz, 2048000, 0.075);
    ASSERT_EQ(hops.size(), 1u);
    for (int i = 0; i < 17; ++i) s.Sim->AddFmTone(hops[0].LoHz + 50000 + 100000LL * i, -32, 1000, 2500);
    TMultiLiveSession multi(s.Cfg, s.Clock);
    ASSERT_TRUE(multi.Prepare());
    StopAt(*s.Sim, multi, 4);
    ASSERT_TRUE(multi.Start());
    multi.WaitFor();
    EXPECT_EQ(multi.ChannelCount(), 16) << maxParallel;
    EXPECT_EQ(LaneKeys().size(), 16u) << maxParallel;
  }
}

TEST(MultiLiveSession, ChannelStaysFollowedForFourHangTimesAfterItStops) {
  TMultiScene s;
  s.Cfg.HangTimeMs = 300;
  s.Sim->AddFmTone(kB, -25, 1000, 2500);
  std::vector<int32_t> counts;
  std::vector<bool> squelchOpen;
  std::vector<size_t> laneCounts;
  TMultiLiveSession multi(s.Cfg, s.Clock);
  ASSERT_TRUE(multi.Prepare());
  // The channel speaks for blocks 1 .. 62 (about 1 s): last detected on block 53. Its squelch closes
  // 300 ms later; it is dropped on the first detection more than 1200 ms after block 53 (block 131).
  StopAt(*s.Sim, multi, 151, [&](int64_t read) {
    if (read == 64) s.Sim->ClearTones();
    if (read == 100 || read == 131 || read == 133) {
      counts.push_back(multi.ChannelCount());
      squelchOpen.push_back(!multi.Channels().empty() && multi.Channels()[0].Squelch->IsOpen());
      laneCounts.push_back(LaneKeys().size());
    }
  });
  ASSERT_TRUE(multi.Start());
  multi.WaitFor();
  EXPECT_EQ(counts, (std::vector<int32_t>{1, 1, 0}));
  EXPECT_EQ(squelchOpen, (std::vector<bool>{false, false, false}));
  EXPECT_EQ(laneCounts, (std::vector<size_t>{1, 1, 0}));
  EXPECT_EQ(multi.ChannelCount(), 0);
  EXPECT_TRUE(LaneKeys().empty());
  // The take was closed when the channel was dropped, not when the session ends.
  auto files = FilesIn(ChannelFolder(s.Dir.Path(), kB));
  ASSERT_EQ(files.size(), 1u);
  EXPECT_TRUE(std::regex_match(files[0], std::regex(".*_12\\.5kHz_[0-9]{8}_[0-9]{6}\\.wav"))) << files[0];
}

TEST(MultiLiveSession, ChannelThatComesBackIsFollowedAgain) {
  TMultiScene s;
  s.Cfg.HangTimeMs = 100;
  s.Cfg.RecordAudio = false;
  s.Sim->AddFmTone(kB, -25, 1000, 2500);
  std::vector<int32_t> counts;
  TMultiLiveSession multi(s.Cfg, s.Clock);
  ASSERT_TRUE(multi.Prepare());
  StopAt(*s.Sim, multi, 160, [&](int64_t read) {
    if (read == 20) s.Sim->ClearTones();
    if (read == 80) counts.push_back(multi.ChannelCount());
    if (read == 90) s.Sim->AddFmTone(kB, -25, 1000, 2500);
  });
  ASSERT_TRUE(multi.Start());
  multi.WaitFor();
  EXPECT_EQ(counts, (std::vector<int32_t>{0}));
  EXPECT_EQ(multi.ChannelCount(), 1);
  EXPECT_EQ(LaneKeys(), (std::vector<int64_t>{kB}));
}

// ---------------------------------------------------------------------------------------------
// Preparing

TEST(MultiLiveSession, WideRangeIsServedFromItsMiddleHop) {
  TMultiScene s;
  s.Cfg.StartHz = 144000000;
  s.Cfg.StopHz = 150000000;
  TScanHopArray hops;
  BuildHops(hops, s.Cfg.StartHz, s.Cfg.StopHz, 2048000, 0.075);
  ASSERT_GT(hops.size(), 2u);
  const TScanHop& mid = hops[hops.size() / 2];
  TLogCapture log;
  TMultiLiveSession multi(s.Cfg, s.Clock);
  ASSERT_TRUE(multi.Prepare()) << multi.ErrorText();
  EXPECT_EQ(multi.CentreHz(), mid.CenterHz);
  EXPECT_EQ(multi.LoHz(), mid.LoHz);
  EXPECT_EQ(multi.HiHz(), mid.HiHz);
  const std::string line = "multi: listening to " + FormatMHz(mid.LoHz) + " .. " + FormatMHz(mid.HiHz) +
                           " via centre " + FormatMHz(mid.CenterHz) + " on Test";
  EXPECT_GE(log.Count(line), 1u);
}

TEST(MultiLiveSession, EmptyRangeFailsPrepare) {
  TMultiScene s;
  s.Cfg.StartHz = 146000000;
  s.Cfg.StopHz = 145000000;
  TMultiLiveSession multi(s.Cfg, s.Clock);
  EXPECT_FALSE(multi.Prepare());
  EXPECT_EQ(multi.ErrorText(), "the configured range is empty");
}

TEST(MultiLiveSession, TuningOutsideTheTunerRangeFailsPrepare) {
  TMultiScene s;
  s.Cfg.StartHz = 100000;
  s.Cfg.StopHz = 600000;
  TScanHopArray hops;
  BuildHops(hops, s.Cfg.StartHz, s.Cfg.StopHz, 2048000, 0.075);
  ASSERT_EQ(hops.size(), 1u);
  TMultiLiveSession multi(s.Cfg, s.Clock);
  EXPECT_FALSE(multi.Prepare());
  EXPECT_EQ(multi.ErrorText(),
            FormatMHz(hops[0].CenterHz) + " is outside the tuner range (1.000000 MHz .. 6000.000000 MHz)");
}

TEST(MultiLiveSession, ReceiverThatCannotOpenFailsPrepareWithItsText) {
  TMultiScene s;
  s.Sim->OpenError = "device busy";
  TMultiLiveSession multi(s.Cfg, s.Clock);
  EXPECT_FALSE(multi.Prepare());
  EXPECT_EQ(multi.ErrorText(), "device busy");
}

// ---------------------------------------------------------------------------------------------
// Failures and stopping

TEST(MultiLiveSession, TheFiftyFirstFailedReadEndsItWithTheReceiversText) {
  TMultiScene s;
  s.Sim->AddFmTone(kB, -25, 1000, 2500);
  TMultiLiveSession multi(s.Cfg, s.Clock);
  ASSERT_TRUE(multi.Prepare());
  s.Sim->OnRead = [&](int64_t read) {
    if (read == 5) s.Sim->FailReads = 50;
    if (read == 60) s.Sim->FailReads = 1000;
  };
  ASSERT_TRUE(multi.Start());
  ASSERT_TRUE(sessiontest::WaitFinished(multi));
  multi.WaitFor();
  EXPECT_EQ(multi.ErrorText(), "usb transfer failed (-5)");
  EXPECT_EQ(s.Sim->FailedReads, 101);
  EXPECT_EQ(s.Sim->Reads, 110);
  EXPECT_EQ(multi.BlocksRead(), 3 + 5);
}

TEST(MultiLiveSession, StopFromTheOwnerWhileItPlays) {
  TMultiScene s;
  s.Sim->AddFmTone(kA, -25, 800, 2500);
  s.Sim->AddFmTone(kB, -25, 1000, 2500);
  TScanHopArray hops;
  BuildHops(hops, s.Cfg.StartHz, s.Cfg.StopHz, 2048000, 0.075);
  ASSERT_EQ(hops.size(), 1u);
  auto multi = std::make_unique<TMultiLiveSession>(s.Cfg);  // the system clock, as the service runs it
  ASSERT_TRUE(multi->Prepare());
  ASSERT_TRUE(multi->Start());
  ASSERT_TRUE(sessiontest::WaitUntil([&] { return multi->ChannelCount() == 2 || multi->Finished(); }));
  EXPECT_EQ(multi->CentreHz(), hops[0].CenterHz);  // read while the thread runs
  EXPECT_EQ(multi->ErrorText(), "");
  multi->Stop();
  multi->WaitFor();
  EXPECT_TRUE(multi->Finished());
  EXPECT_EQ(multi->ErrorText(), "");
  multi.reset();  // closes both takes
}

TEST(MultiLiveSession, FreeingARunningSessionStopsIt) {
  TMultiScene s;
  s.Sim->AddFmTone(kB, -25, 1000, 2500);
  auto multi = std::make_unique<TMultiLiveSession>(s.Cfg, s.Clock);
  ASSERT_TRUE(multi->Prepare());
  ASSERT_TRUE(multi->Start());
  ASSERT_TRUE(sessiontest::WaitUntil([&] { return multi->BlocksRead() >= 2; }));
  multi.reset();  // must neither hang nor touch freed parts
  SUCCEED();
}
