#include "uLive.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <regex>

#include "SessionTestSim.h"
#include "TestSupport.h"
#include "pFile.h"
#include "pFs.h"
#include "uAudioOut.h"
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

constexpr int64_t kChannel = 145100000;
constexpr int64_t kCentre = kChannel - 512000;  // a quarter of 2.048 MS/s below
constexpr double kBlockMs = 16.0;               // 32768 samples at 2.048 MS/s

// One live scene: settings with the recordings in a temporary folder, a paced simulated receiver
// held as the device override, and null audio.
struct TLiveScene {
  plat::TManualClock Clock;
  std::shared_ptr<TPacedSim> Sim = std::make_shared<TPacedSim>(Clock);
  TTempDir Dir;
  TTalvConfig Cfg;
  TOverride Override{Sim};
  std::mutex HitsLock;
  std::vector<TChannelHitArray> HitCalls;

  TLiveScene() {
    ConfigDefaults(Cfg);
    Cfg.GainDb = 0;  // fixed gain: no gain steps
    Cfg.SnrDb = 20;
    Cfg.HangTimeMs = 500;
    Cfg.MinRecordMs = 500;
    Cfg.RecordDir = Dir.Path();
    Sim->NoiseDb = -45;  // dithers the 8-bit samples
    SetNullAudio(true);
    ClearLevelLanes();
  }
  ~TLiveScene() {
    ClearLevelLanes();
    SetNullAudio(false);
  }

  static void OnHits(const TChannelHitArray& hits, void* p) {
    auto* s = static_cast<TLiveScene*>(p);
    std::lock_guard<std::mutex> guard(s->HitsLock);
    s->HitCalls.push_back(hits);
  }
};

// The 16-bit samples of a mono WAV take.
std::vector<int16_t> WavSamples(const std::string& path) {
  const std::string b = ReadWholeFile(path);
  std::vector<int16_t> s;
  if (b.size() < 44) return s;
  uint32_t dataBytes = 0;
  std::memcpy(&dataBytes, b.data() + 40, 4);
  const size_t n = std::min<size_t>(dataBytes, b.size() - 44) / 2;
  s.resize(n);
  if (n > 0) std::memcpy(s.data(), b.data() + 44, n * 2);
  return s;
}

}  // namespace

// ---------------------------------------------------------------------------------------------
// Playing and recording

TEST(LiveSession, PlaysAndRecordsAToneWithTakeAndExtraFile) {
  TLiveScene s;
  s.Sim->AddFmTone(kChannel, -20, 1000, 2500);
  const std::string extra = s.Dir.File("extra.wav");
  const int64_t seqBefore = SpecFrameSequence();
  std::string takeWhileRunning;
  {
    TLiveSession live(s.Cfg, kChannel, modNFM, s.Clock);
    live.WavPath = extra;
    live.OnHits = &TLiveScene::OnHits;
    live.OnHitsData = &s;
    ASSERT_TRUE(live.Prepare()) << live.ErrorText();
    EXPECT_EQ(live.LiveHz(), kChannel);
    EXPECT_EQ(live.RecordHz(), kChannel);
    EXPECT_EQ(live.CentreHz(), kCentre);
    EXPECT_EQ(live.Mode(), modNFM);
    EXPECT_EQ(live.DeviceName(), "Test");
    EXPECT_DOUBLE_EQ(live.SampleRate(), 2048000.0);
    EXPECT_EQ(s.Sim->CenterHz, kCentre);

    StopAt(*s.Sim, live, 201, [&](int64_t read) {
      if (read == 200 && live.Recorder() != nullptr) takeWhileRunning = live.Recorder()->CurrentFile();
    });
    ASSERT_TRUE(live.Start());
    ASSERT_TRUE(sessiontest::WaitFinished(live));
    live.WaitFor();
    EXPECT_EQ(live.ErrorText(), "");
    EXPECT_EQ(live.BlocksRead(), 200);
    EXPECT_TRUE(live.SquelchOpen());
    EXPECT_FALSE(live.Demod()->HoldAgc);  // the squelch was open after the last block
    ASSERT_NE(live.WaveOut(), nullptr);
    EXPECT_TRUE(live.WaveOut()->NullMode());
    EXPECT_GT(live.WaveOut()->NullBlocks(), 0);
    // At most one detection per 100 ms of samples: with 16 ms blocks, on blocks 1, 8, 15 .. 197.
    EXPECT_EQ(live.Detections(), 29);

    // The spectrum went out as the live session's, tuned beside the channel.
    EXPECT_GT(SpecFrameSequence(), seqBefore);
    TSpecFrame frame;
    ASSERT_TRUE(GetSpecFrame(frame, 0, 0, 0));
    EXPECT_EQ(frame.Label, "live");
    EXPECT_EQ(frame.CenterHz, kCentre);

    // Levels went into the single live lane.
    TLevelLaneInfoArray lanes;
    GetLevelLanes(0, 4096, lanes);
    ASSERT_EQ(lanes.size(), 1u);
    EXPECT_EQ(lanes[0].Key, 0);
    EXPECT_EQ(lanes[0].Count, 200);
    for (const TLevelSample& l : lanes[0].Samples) EXPECT_LE(l.Peak, 0.98f);
    EXPECT_GT(lanes[0].Samples.back().Peak, 0.05f);
  }
  // Every detection found the channel, each call with its own list of exactly that channel.
  ASSERT_GE(s.HitCalls.size(), 25u);
  for (const auto& hits : s.HitCalls) {
    ASSERT_EQ(hits.size(), 1u);
    EXPECT_EQ(hits[0].ChannelHz, kChannel);
  }

  // The take was open under its start name and is kept, end-stamped, when the session is freed.
  EXPECT_TRUE(
      std::regex_search(takeWhileRunning, std::regex("145\\.100000MHz_[0-9]{8}_[0-9]{6}_12\\.5kHz\\.wav$")))
      << takeWhileRunning;
  const std::string folder = ChannelFolder(s.Dir.Path(), kChannel);
  auto files = FilesIn(folder);
  ASSERT_EQ(files.size(), 1u);
  EXPECT_TRUE(std::regex_match(
      files[0], std::regex("145\\.100000MHz_[0-9]{8}_[0-9]{6}_12\\.5kHz_[0-9]{8}_[0-9]{6}\\.wav")))
      << files[0];
  const auto take = WavSamples(JoinPath(folder, files[0]));
  EXPECT_GT(take.size(), 48000u * 2);  // most of the 3.2 s

  // The extra file holds everything played: 3.2 s of audio, never silent while the channel spoke.
  const auto played = WavSamples(extra);
  EXPECT_NEAR(static_cast<double>(played.size()) / 48000.0, 200 * kBlockMs / 1000.0, 0.05);
  int32_t peak = 0;
  for (size_t i = played.size() / 2; i < played.size(); ++i)
    peak = std::max(peak, std::abs(int32_t{played[i]}));
  EXPECT_GT(peak, 1000);
  EXPECT_LE(peak, 32113);  // 0.98 of full scale
}

TEST(LiveSession, TakeIsNamedWithTheModulationPlayedNotTheSettings) {
  TLiveScene s;
  s.Cfg.Modulation = modNFM;  // what the settings say
  s.Sim->AddAmTone(kChannel, -20, 1000, 0.5);
  {
    TLiveSession live(s.Cfg, kChannel, modAM, s.Clock);
    ASSERT_TRUE(live.Prepare()) << live.ErrorText();
    ASSERT_NE(live.Recorder(), nullptr);
    EXPECT_EQ(live.Recorder()->Mode(), modAM);
    StopAt(*s.Sim, live, 101);
    ASSERT_TRUE(live.Start());
    live.WaitFor();
    EXPECT_EQ(live.BlocksRead(), 100);
  }
  auto files = FilesIn(ChannelFolder(s.Dir.Path(), kChannel));
  ASSERT_EQ(files.size(), 1u);
  EXPECT_TRUE(std::regex_match(files[0],
                               std::regex("145\\.100000MHz_[0-9]{8}_[0-9]{6}_8kHz_[0-9]{8}_[0-9]{6}\\.wav")))
      << files[0];
}

TEST(LiveSession, NoRecordingWithoutRecordAudio) {
  TLiveScene s;
  s.Cfg.RecordAudio = false;
  s.Sim->AddFmTone(kChannel, -20, 1000, 2500);
  {
    TLiveSession live(s.Cfg, kChannel, modNFM, s.Clock);
    ASSERT_TRUE(live.Prepare());
    EXPECT_EQ(live.Recorder(), nullptr);
    StopAt(*s.Sim, live, 80);
    ASSERT_TRUE(live.Start());
    live.WaitFor();
  }
  EXPECT_FALSE(plat::DirectoryExists(ChannelFolder(s.Dir.Path(), kChannel)));
}

TEST(LiveSession, ARecordingFolderThatCannotBeMadeIsTheSessionsErrorAndItPlaysOn) {
  TLiveScene s;
  const std::string blocked = s.Dir.File("not a folder");
  ASSERT_TRUE(testsupport::WriteWholeFile(blocked, "x"));
  s.Cfg.RecordDir = blocked;
  s.Sim->AddFmTone(kChannel, -20, 1000, 2500);
  TLiveSession live(s.Cfg, kChannel, modNFM, s.Clock);
  ASSERT_TRUE(live.Prepare());
  StopAt(*s.Sim, live, 80);
  ASSERT_TRUE(live.Start());
  live.WaitFor();
  EXPECT_EQ(live.ErrorText().rfind("recording: cannot create ", 0), 0u) << live.ErrorText();
  EXPECT_GE(live.BlocksRead(), 79) << "the session played on";
}

// ---------------------------------------------------------------------------------------------
// Squelch

TEST(LiveSession, SquelchClosesOnSilenceAndPlaysZeros) {
  TLiveScene s;  // noise only
  s.Cfg.HangTimeMs = 200;
  const std::string extra = s.Dir.File("extra.wav");
  {
    TLiveSession live(s.Cfg, kChannel, modNFM, s.Clock);
    live.WavPath = extra;
    live.OnHits = &TLiveScene::OnHits;
    live.OnHitsData = &s;
    ASSERT_TRUE(live.Prepare());
    StopAt(*s.Sim, live, 101);
    ASSERT_TRUE(live.Start());
    live.WaitFor();
    EXPECT_FALSE(live.SquelchOpen());
    EXPECT_TRUE(live.Demod()->HoldAgc);  // held while closed
    EXPECT_GE(live.Detections(), 10);

    // Open (noise) for the first hold time, then zeros in the lane.
    TLevelLaneInfoArray lanes;
    GetLevelLanes(0, 4096, lanes);
    ASSERT_EQ(lanes.size(), 1u);
    ASSERT_EQ(lanes[0].Samples.size(), 100u);
    EXPECT_GT(lanes[0].Samples[0].Peak, 0.0f);
    for (size_t i = 20; i < lanes[0].Samples.size(); ++i) {
      EXPECT_EQ(lanes[0].Samples[i].Peak, 0.0f) << i;
      EXPECT_EQ(lanes[0].Samples[i].Rms, 0.0f) << i;
    }
  }
  EXPECT_TRUE(s.HitCalls.empty());  // nothing near the frequency, so nobody was told

  // The extra file goes silent about 200 ms after the start.
  const auto played = WavSamples(extra);
  ASSERT_GT(played.size(), 48000u);
  size_t lastSound = 0;
  for (size_t i = 0; i < played.size(); ++i)
    if (played[i] != 0) lastSound = i;
  EXPECT_GT(lastSound, 0u);
  EXPECT_NEAR(static_cast<double>(lastSound) / 48000.0, 0.2, 0.05);
  // The recorder's take of noise alone was shorter than the minimum and is gone.
  EXPECT_TRUE(FilesIn(ChannelFolder(s.Dir.Path(), kChannel)).empty());
}

TEST(LiveSession, SquelchClosesAHangTimeAfterTheChannelStops) {
  TLiveScene s;
  s.Sim->AddFmTone(kChannel, -20, 1000, 2500);
  const std::string extra = s.Dir.File("extra.wav");
  {
    TLiveSession live(s.Cfg, kChannel, modNFM, s.Clock);
    live.WavPath = extra;
    ASSERT_TRUE(live.Prepare());
    // 100 blocks (1.6 s) of the channel, then 150 blocks of noise.
    StopAt(*s.Sim, live, 251, [&](int64_t read) {
      if (read == 102) s.Sim->ClearTones();
    });
    ASSERT_TRUE(live.Start());
    live.WaitFor();
    EXPECT_FALSE(live.SquelchOpen());
  }
  const auto played = WavSamples(extra);
  size_t lastSound = 0;
  for (size_t i = 0; i < played.size(); ++i)
    if (played[i] != 0) lastSound = i;
  // Last hit at most 100 ms before 1.6 s, closed HangTimeMs (500 ms) after it, to a block.
  EXPECT_GT(static_cast<double>(lastSound) / 48000.0, 1.6 + 0.5 - 0.1 - 0.02);
  EXPECT_LT(static_cast<double>(lastSound) / 48000.0, 1.6 + 0.5 + 0.02);
  // The take keeps the transmission, ending where the activity ended.
  auto files = FilesIn(ChannelFolder(s.Dir.Path(), kChannel));
  ASSERT_EQ(files.size(), 1u);
  const double seconds =
      static_cast<double>(WavSamples(JoinPath(ChannelFolder(s.Dir.Path(), kChannel), files[0])).size()) /
      48000.0;
  EXPECT_GT(seconds, 1.4);
  EXPECT_LT(seconds, 2.2);
}

// ---------------------------------------------------------------------------------------------
// Failures

TEST(LiveSession, FiftyFailedReadsAreBorneTheFiftyFirstEndsWithTheReceiversText) {
  TLiveScene s;
  TTempDir logDir;
  SetLogPathForTest(logDir.File("live.log"));
  SetLogEnabled(true);
  TLiveSession live(s.Cfg, kChannel, modNFM, s.Clock);
  ASSERT_TRUE(live.Prepare());
  s.Sim->OnRead = [&](int64_t read) {
    if (read == 20) s.Sim->FailReads = 50;     // reads 20 .. 69 fail: the session goes on
    if (read == 100) s.Sim->FailReads = 1000;  // from read 100 on every read fails
  };
  ASSERT_TRUE(live.Start());
  ASSERT_TRUE(sessiontest::WaitFinished(live));
  live.WaitFor();
  SetLogEnabled(false);
  SetLogPathForTest("");
  EXPECT_EQ(live.ErrorText(), "usb transfer failed (-5)");
  EXPECT_EQ(live.LastError(), "usb transfer failed (-5)");
  EXPECT_EQ(s.Sim->FailedReads, 50 + 51);
  EXPECT_EQ(s.Sim->Reads, 150);
  EXPECT_EQ(live.BlocksRead(), 18 + 30);  // reads 2..19 and 70..99
  const std::string log = ReadWholeFile(logDir.File("live.log"));
  EXPECT_NE(log.find("live: read failed: usb transfer failed (-5)"), std::string::npos) << log;
  EXPECT_NE(log.find("live: stopped after 48 blocks, 0 dropped audio buffer(s)"), std::string::npos) << log;
}

TEST(LiveSession, FrequencyOutsideTheTunerRangeFailsPrepare) {
  TLiveScene s;
  TLiveSession live(s.Cfg, 500000, modAM, s.Clock);
  EXPECT_FALSE(live.Prepare());
  EXPECT_EQ(live.ErrorText(), "0.500000 MHz is outside the tuner range (1.000000 MHz .. 6000.000000 MHz)");
  EXPECT_EQ(live.WaveOut(), nullptr);
  TLiveSession high(s.Cfg, 6000000001LL, modNFM, s.Clock);
  EXPECT_FALSE(high.Prepare());
  EXPECT_EQ(high.ErrorText(), "6000.000001 MHz is outside the tuner range (1.000000 MHz .. 6000.000000 MHz)");
}

TEST(LiveSession, ReceiverThatCannotOpenFailsPrepareWithItsText) {
  TLiveScene s;
  s.Sim->OpenError = "usb_claim_interface error -6";
  TLiveSession live(s.Cfg, kChannel, modNFM, s.Clock);
  EXPECT_FALSE(live.Prepare());
  EXPECT_EQ(live.ErrorText(), "usb_claim_interface error -6");
  EXPECT_FALSE(live.Finished() && live.Started());
}

TEST(LiveSession, RefusedRateFailsPrepareWithTheReceiversText) {
  TLiveScene s;
  s.Sim->RateError = "invalid sample rate 2048000";
  TLiveSession live(s.Cfg, kChannel, modNFM, s.Clock);
  EXPECT_FALSE(live.Prepare());
  EXPECT_EQ(live.ErrorText(), "invalid sample rate 2048000");
}

TEST(LiveSession, FrequencyNearTheTunersLowEndIsTunedFromAbove) {
  TLiveScene s;
  TLiveSession live(s.Cfg, 1200000, modAM, s.Clock);
  ASSERT_TRUE(live.Prepare()) << live.ErrorText();
  EXPECT_EQ(live.CentreHz(), 1200000 + 512000);
  EXPECT_EQ(s.Sim->CenterHz, 1712000);
}

// ---------------------------------------------------------------------------------------------
// Stopping

TEST(LiveSession, StopFromTheOwnerEndsTheThreadWithoutError) {
  TLiveScene s;
  s.Sim->AddFmTone(kChannel, -20, 1000, 2500);
  TLiveSession live(s.Cfg, kChannel, modNFM);  // the system clock: a session as the service runs it
  ASSERT_TRUE(live.Prepare());
  ASSERT_TRUE(live.Start());
  ASSERT_TRUE(sessiontest::WaitUntil([&] { return live.BlocksRead() >= 3; }));
  EXPECT_EQ(live.CentreHz(), kCentre);  // read while the thread runs
  EXPECT_EQ(live.ErrorText(), "");
  live.Stop();
  live.WaitFor();
  EXPECT_TRUE(live.Finished());
  EXPECT_EQ(live.ErrorText(), "");
}

TEST(LiveSession, FreeingARunningSessionStopsIt) {
  TLiveScene s;
  auto live = std::make_unique<TLiveSession>(s.Cfg, kChannel, modNFM, s.Clock);
  ASSERT_TRUE(live->Prepare());
  ASSERT_TRUE(live->Start());
  ASSERT_TRUE(sessiontest::WaitUntil([&] { return live->BlocksRead() >= 2; }));
  live.reset();  // must neither hang nor touch freed parts
  SUCCEED();
}
