#include "uDwell.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <functional>
#include <regex>

#include "LogCapture.h"
#include "TestSupport.h"
#include "pClock.h"
#include "pFile.h"
#include "pFs.h"
#include "pProcess.h"
#include "pSystem.h"
#include "pWaveOut.h"
#include "uAudioOut.h"
#include "uLevelTap.h"
#include "uLog.h"
#include "uSdrSim.h"

using testsupport::FilesIn;
using testsupport::ReadWholeFile;
using testsupport::TTempDir;

namespace {

constexpr int64_t kCentre = 145000000;
constexpr int64_t kLo = kCentre - 870400;
constexpr int64_t kHi = kCentre + 870400;
constexpr int64_t kChannel = 145100000;
constexpr uint64_t kBlockMs = 16;  // 32768 samples at 2.048 MS/s

// A hop on the simulated receiver, with time that moves one block's worth per read: the abort hook,
// polled before every read, advances the manual clock and runs the scene's per-block action.
struct TScene {
  plat::TManualClock Clock;
  std::shared_ptr<TSimDevice> Sim = std::make_shared<TSimDevice>();
  TTempDir Dir;
  TTalvConfig Cfg;
  TScanSettings Scan;
  int Polls = 0;
  int SafetyPolls = 4000;  // ends a run that would go on for ever (as drAborted)
  std::function<void(TScene&)> EachPoll;
  std::vector<TChannelHitArray> Detections;
  std::vector<int32_t> RecorderCounts;
  TDwellRunner* Runner = nullptr;

  TScene() {
    ConfigDefaults(Cfg);
    Cfg.HangTimeMs = 1000;
    Cfg.MinRecordMs = 500;
    Cfg.AudioRate = 48000;
    Cfg.SnrDb = 20;  // the tone stands 60 dB above the noise; nothing near the threshold
    Scan = ScanSettingsFromConfig(Cfg);
    Scan.GainDb = 0;  // a fixed gain: no gain steps in these scenes
    Sim->Open(0);
    Sim->AddFmTone(kChannel, -20, 1000, 2500);
    ClearLevelLanes();
  }
  ~TScene() {
    ClearLevelLanes();
    SetNullAudio(false);
    plat::SetWaveOutHidden(false);
  }

  static bool Abort(void* p) {
    auto* s = static_cast<TScene*>(p);
    if (s->Polls > 0) s->Clock.Advance(kBlockMs);
    ++s->Polls;
    if (s->Runner) s->RecorderCounts.push_back(s->Runner->RecorderCount());
    if (s->EachPoll) s->EachPoll(*s);
    return s->Polls > s->SafetyPolls;
  }
  static void OnHits(const TChannelHitArray& hits, void* p) {
    static_cast<TScene*>(p)->Detections.push_back(hits);
  }

  TDwellResult Run(TDwellRunner& r, const TChannelHitArray& hits, int32_t maxDwellMs) {
    Runner = &r;
    return r.Run(kCentre, kLo, kHi, hits, maxDwellMs, &TScene::OnHits, &TScene::Abort, this);
  }

  std::string ChannelDir(int64_t hz = kChannel) const { return ChannelFolder(Dir.Path(), hz); }
};

TChannelHit Hit(int64_t hz, double snr = 30) {
  TChannelHit h;
  h.ChannelHz = hz;
  h.PeakHz = hz;
  h.SnrDb = snr;
  h.HopCenterHz = kCentre;
  return h;
}

uint32_t U32At(const std::string& b, size_t pos) {
  uint32_t v = 0;
  if (b.size() >= pos + 4) std::memcpy(&v, b.data() + pos, 4);
  return v;
}

// soxi on the PATH (empty when there is none; never on Windows, where the tests run under Wine).
std::string SoxiPath() {
#ifdef _WIN32
  return "";
#else
  const std::string path = plat::GetEnv("PATH");
  size_t start = 0;
  while (start <= path.size()) {
    size_t end = path.find(':', start);
    if (end == std::string::npos) end = path.size();
    const std::string candidate = path.substr(start, end - start) + "/soxi";
    if (end > start && plat::FileExists(candidate)) return candidate;
    start = end + 1;
  }
  return "";
#endif
}

// sox's own reading of a file ("soxi -r", "-c", "-s"): a third-party check of what we wrote.
std::string Soxi(const std::string& flag, const std::string& file) {
  auto r = plat::RunProcess(SoxiPath(), {flag, file});
  if (!r.Started || r.ExitCode != 0) return "";
  auto lines = testsupport::SplitLines(r.Output);
  return lines.empty() ? "" : lines[0];
}

bool HaveSox() {
  return !SoxiPath().empty();
}

}  // namespace

TEST(Dwell, SteadyChannelEndsOnMaxDwellWithATake) {
  TScene s;
  TLogCapture log;
  TDwellRunner r(s.Sim, s.Cfg, s.Scan, s.Dir.Path(), s.Clock);
  const TDwellResult res = s.Run(r, {Hit(kChannel)}, 3000);
  EXPECT_EQ(res, drMaxDwell);
  EXPECT_TRUE(r.ErrorText().empty());
  // A little over 3 s of blocks.
  EXPECT_GE(r.BlocksRead(), 3000 / static_cast<int64_t>(kBlockMs));
  EXPECT_LE(r.BlocksRead(), 3000 / static_cast<int64_t>(kBlockMs) + 3);
  EXPECT_EQ(r.SamplesRead(), r.BlocksRead() * 32768);
  EXPECT_EQ(r.RecorderCount(), 0);  // all closed at the end
  EXPECT_EQ(log.Count("dwell: opened 145.100000 MHz (snr 30.0 dB)"), 1u);
  EXPECT_EQ(log.Count("dwell: real time ok - "), 1u);  // samples came as fast as the clock ran
  // The detector saw the channel every 200 ms and kept the recorder going.
  ASSERT_GE(s.Detections.size(), 10u);
  for (const auto& hits : s.Detections) {
    ASSERT_EQ(hits.size(), 1u);
    EXPECT_EQ(hits[0].ChannelHz, kChannel);
  }
  auto files = FilesIn(s.ChannelDir());
  ASSERT_EQ(files.size(), 1u);
  EXPECT_TRUE(std::regex_match(
      files[0], std::regex("145\\.100000MHz_[0-9]{8}_[0-9]{6}_12\\.5kHz_[0-9]{8}_[0-9]{6}\\.wav")))
      << files[0];
  const std::string path = JoinPath(s.ChannelDir(), files[0]);
  const std::string bytes = ReadWholeFile(path);
  const double seconds = U32At(bytes, 40) / 2.0 / 48000.0;
  EXPECT_NEAR(seconds, 3.0, 0.1);  // the whole dwell: the take was never quiet, its tail was written
  if (HaveSox()) {
    EXPECT_EQ(Soxi("-r", path), "48000");
    EXPECT_EQ(Soxi("-c", path), "1");
    EXPECT_EQ(Soxi("-b", path), "16");
    EXPECT_EQ(Soxi("-s", path), std::to_string(U32At(bytes, 40) / 2));
  } else if (testsupport::InCI()) {
#ifndef _WIN32
    ADD_FAILURE() << "sox is needed in CI";
#endif
  }
}

TEST(Dwell, ChannelThatStopsEndsAsQuiet) {
  TScene s;
  s.EachPoll = [](TScene& sc) {
    if (sc.Polls == 63) sc.Sim->ClearTones();  // about 1 s of transmission
  };
  TDwellRunner r(s.Sim, s.Cfg, s.Scan, s.Dir.Path(), s.Clock);
  const TDwellResult res = s.Run(r, {Hit(kChannel)}, 20000);
  EXPECT_EQ(res, drQuiet);
  // Quiet: last trigger ~1 s, hang 1 s, then max(hang, 500) ms of nothing.
  const double ran = static_cast<double>(r.BlocksRead()) * kBlockMs / 1000.0;
  EXPECT_GT(ran, 2.6);
  EXPECT_LT(ran, 3.6);
  auto files = FilesIn(s.ChannelDir());
  ASSERT_EQ(files.size(), 1u);
  const std::string bytes = ReadWholeFile(JoinPath(s.ChannelDir(), files[0]));
  const double seconds = U32At(bytes, 40) / 2.0 / 48000.0;
  EXPECT_GT(seconds, 0.8);  // the transmission, without the quiet hang time
  EXPECT_LT(seconds, 1.3);
}

// Detections come every 208 ms here (13 blocks); a hang time shorter than that must not drop a
// channel that stays on between two of them.
TEST(Dwell, HangTimeShorterThanTheDetectionGapStillKeepsTheWholeTransmission) {
  for (int32_t hangMs : {0, 100, 2000}) {
    TScene s;
    s.Cfg.HangTimeMs = hangMs;
    s.Cfg.MinRecordMs = 300;
    s.EachPoll = [](TScene& sc) {
      if (sc.Polls == 126) sc.Sim->ClearTones();  // 2 s of transmission, then silence
    };
    TDwellRunner r(s.Sim, s.Cfg, s.Scan, s.Dir.Path(), s.Clock);
    EXPECT_EQ(s.Run(r, {Hit(kChannel)}, 10000), drQuiet) << hangMs;
    auto files = FilesIn(s.ChannelDir());
    ASSERT_EQ(files.size(), 1u) << hangMs;
    const std::string bytes = ReadWholeFile(JoinPath(s.ChannelDir(), files[0]));
    const double seconds = U32At(bytes, 40) / 2.0 / 48000.0;
    // From the first audio to the last trigger, which came at most one detection before the end.
    EXPECT_GT(seconds, 2.0 - 0.25) << hangMs;
    EXPECT_LT(seconds, 2.05) << hangMs;
  }
}

TEST(Dwell, NoHitsNoPlaybackEndsQuietSoon) {
  TScene s;
  s.Sim->ClearTones();
  s.Cfg.HangTimeMs = 200;  // max(200, 500): 500 ms
  TDwellRunner r(s.Sim, s.Cfg, s.Scan, s.Dir.Path(), s.Clock);
  EXPECT_EQ(s.Run(r, {}, 0), drQuiet);
  const double ran = static_cast<double>(r.BlocksRead()) * kBlockMs;
  EXPECT_GT(ran, 500);
  EXPECT_LT(ran, 600);
  EXPECT_FALSE(plat::PathExists(s.ChannelDir()));
}

TEST(Dwell, AbortEndsTheRunAndClosesTakes) {
  TScene s;
  s.SafetyPolls = 100;
  TDwellRunner r(s.Sim, s.Cfg, s.Scan, s.Dir.Path(), s.Clock);
  EXPECT_EQ(s.Run(r, {Hit(kChannel)}, 0), drAborted);
  EXPECT_EQ(r.BlocksRead(), 100);
  EXPECT_EQ(FilesIn(s.ChannelDir()).size(), 1u);  // 1.6 s: kept
}

TEST(Dwell, MaxParallelLimitsRecordersAndMatchingIsExact) {
  TScene s;
  TLogCapture log;
  s.Cfg.MaxParallel = 2;
  s.SafetyPolls = 3;
  TDwellRunner r(s.Sim, s.Cfg, s.Scan, s.Dir.Path(), s.Clock);
  s.Run(r, {Hit(kChannel), Hit(kChannel + 1), Hit(kChannel + 25000)}, 0);
  ASSERT_FALSE(s.RecorderCounts.empty());
  EXPECT_EQ(s.RecorderCounts[0], 2);  // the third hit is ignored; 1 Hz away is another channel
  EXPECT_EQ(log.Count("dwell: opened"), 2u);
  EXPECT_EQ(log.Count("dwell: real time"), 0u);  // a run shorter than 0.5 s is not judged
  EXPECT_EQ(log.Count("dwell: NOT keeping up"), 0u);
}

TEST(Dwell, ReadFailuresUpToFiftyAreRiddenOutAndTheFiftyFirstFails) {
  TScene s;
  int failedPolls = 0;
  s.EachPoll = [&](TScene& sc) {
    if (sc.Polls == 5) sc.Sim->Close();  // the reads from here on fail
    if (!sc.Sim->IsOpen()) ++failedPolls;
    if (failedPolls == 51 && sc.Polls < 100) sc.Sim->Open(0);  // after exactly 50 failed reads
    if (sc.Polls == 120) sc.Sim->Close();                      // and now for good
  };
  TDwellRunner r(s.Sim, s.Cfg, s.Scan, s.Dir.Path(), s.Clock);
  EXPECT_EQ(s.Run(r, {Hit(kChannel)}, 0), drFailed);
  EXPECT_EQ(r.ErrorText(), "not open");
  EXPECT_GT(r.BlocksRead(), 60);  // it went on after the 50 failures
  EXPECT_EQ(s.Polls, 120 + 50);   // polls 120..170: the 51st consecutive failure ends the run
}

TEST(Dwell, StoppingPlayAllEndsAOneHopDwellAndLevelsFlowWithoutADevice) {
  TScene s;
  plat::SetWaveOutHidden(true);  // no sound device on any system
  std::atomic<bool> playAll{true};
  std::atomic<int64_t> playHz{0};
  SetLevelLanes({kChannel});  // the owner sets the lanes from the sweep's hits
  s.EachPoll = [&](TScene& sc) {
    if (sc.Polls == 150) {
      playAll = false;  // LIVESTOP while the dwell runs
      sc.Sim->ClearTones();
    }
  };
  TDwellRunner r(s.Sim, s.Cfg, s.Scan, s.Dir.Path(), s.Clock);
  r.PlayAllRef = &playAll;
  r.PlayHzRef = &playHz;
  int64_t playedWhilePlaying = -1;
  TLevelLaneInfoArray lanes;
  int64_t levelsWhilePlaying = 0;
  auto before = s.EachPoll;
  s.EachPoll = [&](TScene& sc) {
    if (sc.Polls == 149) {
      playedWhilePlaying = r.PlayedBlocks();
      EXPECT_TRUE(r.PlayAll());
      EXPECT_EQ(r.WaveOut(), nullptr);  // the device could not open
      GetLevelLanes(0, 0, lanes);
      levelsWhilePlaying = lanes.empty() ? 0 : lanes[0].Count;
    }
    before(sc);
  };
  const TDwellResult res = s.Run(r, {Hit(kChannel)}, 0);  // one-hop plan: no maximum
  EXPECT_EQ(res, drQuiet);
  EXPECT_GT(playedWhilePlaying, 100);
  EXPECT_GT(levelsWhilePlaying, 100);  // the mix published the channel's levels
  GetLevelLanes(0, 0, lanes);
  ASSERT_EQ(lanes.size(), 1u);
  EXPECT_EQ(lanes[0].Key, kChannel);
  bool sawSignal = false;
  for (auto& l : lanes[0].Samples) sawSignal = sawSignal || l.Peak > 0.1f;
  EXPECT_TRUE(sawSignal);
}

TEST(Dwell, SingleChannelPlaybackHoldsTheRunAndFollowsTheOwner) {
  TScene s;
  SetNullAudio(true);
  std::atomic<int64_t> playHz{kChannel};
  s.EachPoll = [&](TScene& sc) {
    if (sc.Polls == 40) sc.Sim->ClearTones();
    if (sc.Polls == 300) playHz = 0;  // the owner stops playing: the quiet rule applies again
  };
  TDwellRunner r(s.Sim, s.Cfg, s.Scan, s.Dir.Path(), s.Clock);
  r.PlayHzRef = &playHz;
  r.PlayMode = modNFM;
  bool nullOut = false;
  int64_t played = 0;
  auto before = s.EachPoll;
  s.EachPoll = [&](TScene& sc) {
    if (sc.Polls == 299) {
      nullOut = r.WaveOut() != nullptr && r.WaveOut()->NullMode() && r.WaveOut()->NullBlocks() > 0;
      played = r.PlayedBlocks();
      EXPECT_EQ(r.PlayHz(), kChannel);
    }
    before(sc);
  };
  EXPECT_EQ(s.Run(r, {Hit(kChannel)}, 0), drQuiet);
  EXPECT_TRUE(nullOut);
  EXPECT_EQ(played, 298);  // every block while playing gave audio
  EXPECT_GT(r.BlocksRead(), 300);
  TLevelLaneInfoArray lanes;
  GetLevelLanes(0, 0, lanes);
  ASSERT_EQ(lanes.size(), 1u);  // playback set its own lane
  EXPECT_EQ(lanes[0].Key, kChannel);
  EXPECT_EQ(lanes[0].Count, played + 1);  // and the block read before the owner's change
  // The squelch was open while the channel was heard and closed (silence) after the hang time.
  EXPECT_GT(lanes[0].Samples[10].Peak, 0.1f);
  EXPECT_EQ(lanes[0].Samples[250].Peak, 0.0f);
}

TEST(Dwell, ChannelOutsideTheHopIsNotPlayed) {
  TScene s;
  SetNullAudio(true);
  s.Sim->ClearTones();
  std::atomic<int64_t> playHz{150000000};
  TDwellRunner r(s.Sim, s.Cfg, s.Scan, s.Dir.Path(), s.Clock);
  r.PlayHzRef = &playHz;
  EXPECT_EQ(s.Run(r, {}, 0), drQuiet);
  EXPECT_EQ(r.PlayedBlocks(), 0);
  EXPECT_LT(s.Polls, 100);  // quiet after about 1 s, not restarting playback every block
}

TEST(Dwell, IfRecordingWritesAnEndStampedIqFile) {
  TScene s;
  s.Cfg.IfRecording = true;
  s.SafetyPolls = 20;
  TDwellRunner r(s.Sim, s.Cfg, s.Scan, s.Dir.Path(), s.Clock);
  EXPECT_EQ(s.Run(r, {}, 0), drAborted);
  const std::string folder = JoinPath(s.Dir.Path(), "IF");
  auto files = FilesIn(folder);
  ASSERT_EQ(files.size(), 1u);
  EXPECT_TRUE(std::regex_match(
      files[0], std::regex("IF_145\\.000000MHz_[0-9]{8}_[0-9]{6}_2\\.048MHz_[0-9]{8}_[0-9]{6}\\.wav")))
      << files[0];
  const std::string path = JoinPath(folder, files[0]);
  const std::string bytes = ReadWholeFile(path);
  ASSERT_EQ(bytes.size(), 112u + 4u * static_cast<size_t>(r.SamplesRead()));
  EXPECT_EQ(bytes.substr(36, 4), "auxi");
  EXPECT_EQ(U32At(bytes, 44 + 32), static_cast<uint32_t>(kCentre));
  EXPECT_EQ(U32At(bytes, 108), 4u * r.SamplesRead());
  if (HaveSox()) {
    const std::string rate = Soxi("-r", path);  // sox writes this rate as 2.048e+06
    EXPECT_EQ(rate.empty() ? 0.0 : std::stod(rate), 2048000.0) << rate;
    EXPECT_EQ(Soxi("-c", path), "2");
    EXPECT_EQ(Soxi("-s", path), std::to_string(r.SamplesRead()));
  }
}

TEST(Dwell, RecordingFailuresAreToldToTheOwnerAndTheRunGoesOn) {
  TScene s;
  const std::string blocked = s.Dir.File("blocked");
  ASSERT_TRUE(testsupport::WriteWholeFile(blocked, "a file where the recordings folder should be"));
  s.Cfg.IfRecording = true;
  s.SafetyPolls = 20;
  static std::vector<std::string> told;
  told.clear();
  TDwellRunner r(s.Sim, s.Cfg, s.Scan, blocked, s.Clock);
  r.OnRecordError = [](const std::string& text, void*) { told.push_back(text); };
  EXPECT_EQ(s.Run(r, {Hit(kChannel)}, 0), drAborted);
  EXPECT_EQ(r.BlocksRead(), 20);
  ASSERT_EQ(told.size(), 2u);  // the I/Q file at the start, the channel's take at its first audio
  EXPECT_EQ(told[0].rfind("IF file: cannot create ", 0), 0u) << told[0];
  EXPECT_EQ(told[1].rfind("cannot create ", 0), 0u) << told[1];
}

#if !defined(_WIN32)
TEST(Dwell, OnADiskThatTakesNoByteNoEmptyFileIsLeftBehind) {
  TScene s;
  s.Cfg.IfRecording = true;
  s.Cfg.MinRecordMs = 0;  // a take of any length is kept
  s.SafetyPolls = 20;
  static std::vector<std::string> told;
  told.clear();
  TDwellRunner r(s.Sim, s.Cfg, s.Scan, s.Dir.Path(), s.Clock);
  r.OnRecordError = [](const std::string& text, void*) { told.push_back(text); };
  {
    testsupport::TFileSizeLimit full(0);  // files can be made, but not a byte written into them
    ASSERT_TRUE(full.Active);
    EXPECT_EQ(s.Run(r, {Hit(kChannel)}, 0), drAborted);
  }
  EXPECT_EQ(r.BlocksRead(), 20);  // the run went on
  EXPECT_TRUE(FilesIn(JoinPath(s.Dir.Path(), "IF")).empty());
  EXPECT_TRUE(FilesIn(s.ChannelDir()).empty());
  ASSERT_EQ(told.size(), 2u);  // the I/Q file and the take, each once
  EXPECT_NE(told[0].find("cannot write "), std::string::npos) << told[0];
  EXPECT_NE(told[1].find("cannot write "), std::string::npos) << told[1];
}
#endif

TEST(Dwell, ConfigureFailureReportsTheReceiverError) {
  TScene s;
  s.Sim->Close();
  s.Sim->LastError.clear();
  TDwellRunner r(s.Sim, s.Cfg, s.Scan, s.Dir.Path(), s.Clock);
  const TDwellResult res = s.Run(r, {Hit(kChannel)}, 0);
  EXPECT_EQ(res, drFailed);
  EXPECT_FALSE(r.ErrorText().empty());
  EXPECT_FALSE(plat::PathExists(s.ChannelDir()));  // nothing was opened
}
