// Scanner: configuration (hop plan, limits, failure texts), the sweep on the simulated receiver with
// the three carriers of the scan chain's own check (exactly those channels, peaks within a bin, no
// mirror images, nothing leaking from the samples of the previous hop), alias rejection across hops,
// abort, the gain control's unsettled blocks, and the "scanner:" and "dcprobe:" log lines.
#include "uScanner.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "LogCapture.h"
#include "ScanTestChild.h"
#include "TestSupport.h"
#include "ThreeTones.h"
#include "pClock.h"
#include "uDspKernels.h"
#include "uFreqText.h"
#include "uLog.h"
#include "uSdrSim.h"
#include "uSpecTap.h"

namespace {

// The simulated receiver, counting the reads of whole blocks and able to refuse a rate.
class TTestSim : public TSimDevice {
 public:
  bool SetSampleRate(double rate) override {
    if (RefuseRate) {
      LastError = "rate refused";
      return false;
    }
    return TSimDevice::SetSampleRate(MaxRate > 0 ? std::min(rate, MaxRate) : rate);
  }
  bool ReadSync(uint8_t* buffer, int32_t count, int32_t& bytesRead) override {
    if (count >= BlockBytes) ++BlockReads;
    return TSimDevice::ReadSync(buffer, count, bytesRead);
  }
  bool RefuseRate = false;
  double MaxRate = 0;
  int32_t BlockBytes = 2 * 4096 * 8;
  int BlockReads = 0;
};

std::shared_ptr<TTestSim> OpenSim(double noiseDb) {
  auto sim = std::make_shared<TTestSim>();
  sim->NoiseDb = noiseDb;
  sim->Open(0);
  return sim;
}

using testsupport::kTones;

std::shared_ptr<TTestSim> ThreeToneSim() {
  auto sim = OpenSim(testsupport::kThreeToneNoiseDb);
  testsupport::AddThreeTones(*sim);  // the scan chain check's scene
  return sim;
}

TScanSettings ThreeToneSettings() {
  TScanSettings s;
  DefaultScanSettings(s);
  s.StartHz = 144000000;
  s.StopHz = 146000000;
  s.SampleRate = 2048000;
  s.FftSize = 4096;
  s.Averages = 8;
  s.ThresholdDb = 12;
  s.GridHz = 12500;
  s.GainDb = 0;
  s.SettleMs = 0;
  return s;
}

std::vector<int64_t> Channels(const TChannelHitArray& hits) {
  std::vector<int64_t> c;
  for (const TChannelHit& h : hits) c.push_back(h.ChannelHz);
  std::sort(c.begin(), c.end());
  return c;
}

std::string Describe(const TChannelHitArray& hits) {
  std::string s;
  for (const TChannelHit& h : hits) s += FormatMHz(h.ChannelHz) + " snr " + std::to_string(h.SnrDb) + "; ";
  return s;
}

// ---------------------------------------------------------------------------------------------
// Configuration

TEST(ScannerConfigure, DefaultRangeGivesTwoOverlappingHops) {
  auto sim = ThreeToneSim();
  TScanner scanner(sim);
  TLogCapture log;
  ASSERT_TRUE(scanner.Configure(ThreeToneSettings())) << scanner.LastError();
  ASSERT_EQ(scanner.HopCount(), 2);
  const TScanHop h0 = scanner.GetHop(0), h1 = scanner.GetHop(1);
  EXPECT_EQ(h0.CenterHz, 144500000);
  EXPECT_EQ(h0.LoHz, 144000000);
  EXPECT_EQ(h0.HiHz, 145370400);
  EXPECT_EQ(h1.CenterHz, 145500000);
  EXPECT_EQ(h1.LoHz, 144629600);
  EXPECT_EQ(h1.HiHz, 146000000);
  EXPECT_EQ(scanner.BinWidth(), 500.0);
  EXPECT_EQ(scanner.UsableSpan(), 1740800.0);
  EXPECT_TRUE(scanner.Configured());
  const std::vector<std::string> lines = log.MessagesStarting("scanner:");
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_EQ(lines[0],
            "scanner: 2 hops, rate=2048000, nfft=4096, avg=8, bin=500.0 Hz, simd=" + KernelDescription());
}

TEST(ScannerConfigure, PlanIsPublishedToThePanorama) {
  auto sim = ThreeToneSim();
  TScanner scanner(sim);
  ASSERT_TRUE(scanner.Configure(ThreeToneSettings()));
  TSingleArray bins;
  TPanoHopArray hops;
  double noise = 0;
  ASSERT_TRUE(GetPanorama(bins, hops, noise, 64, 0, 0));
  ASSERT_EQ(hops.size(), 2u);
  EXPECT_EQ(hops[0].CenterHz, 144500000);
  EXPECT_EQ(hops[1].HiHz, 146000000);
  EXPECT_FALSE(AnyPanoSlotValid());
}

TEST(ScannerConfigure, NarrowRangeGivesOneHopInTheMiddle) {
  auto sim = OpenSim(-70);
  TScanner scanner(sim);
  TScanSettings s = ThreeToneSettings();
  s.StartHz = 100000000;
  s.StopHz = 100500000;
  ASSERT_TRUE(scanner.Configure(s));
  ASSERT_EQ(scanner.HopCount(), 1);
  EXPECT_EQ(scanner.GetHop(0).CenterHz, 100250000);
  EXPECT_EQ(scanner.GetHop(0).LoHz, 100000000);
  EXPECT_EQ(scanner.GetHop(0).HiHz, 100500000);
}

TEST(ScannerConfigure, CentresArePinnedToTheTuningLimitsButHopsKeepTheirSpan) {
  auto sim = OpenSim(-70);  // tunes 1 MHz .. 6 GHz
  TScanner scanner(sim);
  TScanSettings s = ThreeToneSettings();
  s.SampleRate = 250000;  // usable 212500 Hz: five hops over 0 .. 1 MHz, all below the lowest tuning
  s.StartHz = 0;
  s.StopHz = 1000000;
  ASSERT_TRUE(scanner.Configure(s));
  ASSERT_EQ(scanner.HopCount(), 5);
  for (int i = 0; i < 5; ++i) {
    EXPECT_EQ(scanner.GetHop(i).CenterHz, 1000000) << i;
    EXPECT_EQ(scanner.GetHop(i).WidthHz, scanner.GetHop(i).HiHz - scanner.GetHop(i).LoHz);
  }
  EXPECT_EQ(scanner.GetHop(0).LoHz, 0);
  EXPECT_EQ(scanner.GetHop(4).HiHz, 1000000);
  EXPECT_EQ(scanner.GetHop(2).LoHz, 500000 - 106250);

  s.SampleRate = 2048000;
  s.StartHz = 5999000000;
  s.StopHz = 6001000000;
  ASSERT_TRUE(scanner.Configure(s));
  ASSERT_EQ(scanner.HopCount(), 2);
  EXPECT_EQ(scanner.GetHop(0).CenterHz, 5999500000);
  EXPECT_EQ(scanner.GetHop(1).CenterHz, 6000000000);
  EXPECT_EQ(scanner.GetHop(1).HiHz, 6001000000);
}

TEST(ScannerConfigure, TheDeviceRateAndTheCorrectedFftSizeWin) {
  auto sim = OpenSim(-70);
  sim->MaxRate = 1024000;
  TScanner scanner(sim);
  TScanSettings s = ThreeToneSettings();
  s.FftSize = 1000;
  ASSERT_TRUE(scanner.Configure(s));
  EXPECT_EQ(scanner.Settings().SampleRate, 1024000.0);
  EXPECT_EQ(scanner.Settings().FftSize, 1024);
  EXPECT_EQ(scanner.BinWidth(), 1000.0);
  EXPECT_EQ(scanner.HopCount(), 3);  // 2 MHz over a usable 870400 Hz
}

TEST(ScannerConfigure, FailuresNameTheirCause) {
  TScanSettings s = ThreeToneSettings();
  {
    TScanner scanner(nullptr);
    EXPECT_FALSE(scanner.Configure(s));
    EXPECT_EQ(scanner.LastError(), "no device");
  }
  auto sim = OpenSim(-70);
  TScanner scanner(sim);
  sim->Close();
  EXPECT_FALSE(scanner.Configure(s));
  EXPECT_EQ(scanner.LastError(), "device not open");
  sim->Open(0);
  TScanSettings bad = s;
  bad.StopHz = bad.StartHz;
  EXPECT_FALSE(scanner.Configure(bad));
  EXPECT_EQ(scanner.LastError(), "stop frequency must be above start frequency");
  sim->RefuseRate = true;
  EXPECT_FALSE(scanner.Configure(s));
  EXPECT_EQ(scanner.LastError(), "rate refused");
  sim->RefuseRate = false;
  bad = s;
  bad.SampleRate = 100000;  // 1 MHz .. 6 GHz in 85 kHz hops: more hops than a plan may hold
  bad.StartHz = 1000000;
  bad.StopHz = 6000000000;
  EXPECT_FALSE(scanner.Configure(bad));
  EXPECT_EQ(scanner.LastError(), "empty hop plan");
  EXPECT_FALSE(scanner.Configured());
}

TEST(ScannerConfigure, HopsOutsideThePlanAreZero) {
  auto sim = ThreeToneSim();
  TScanner scanner(sim);
  const TScanHop before = scanner.GetHop(0);
  EXPECT_EQ(before.CenterHz, 0);
  EXPECT_EQ(scanner.BinWidth(), 0.0);
  ASSERT_TRUE(scanner.Configure(ThreeToneSettings()));
  for (int32_t i : {-1, 2, 1000}) {
    const TScanHop h = scanner.GetHop(i);
    EXPECT_EQ(h.CenterHz, 0);
    EXPECT_EQ(h.LoHz, 0);
    EXPECT_EQ(h.HiHz, 0);
    EXPECT_EQ(h.WidthHz, 0);
  }
}

TEST(ScannerConfigure, SweepNeedsASuccessfulConfiguration) {
  auto sim = ThreeToneSim();
  TScanner scanner(sim);
  TChannelHitArray hits(1);
  EXPECT_FALSE(scanner.Sweep(hits, nullptr, nullptr));
  EXPECT_EQ(scanner.LastError(), "scanner not configured");
  EXPECT_TRUE(hits.empty());
  // A failed reconfiguration leaves no half-made set-up to sweep with.
  ASSERT_TRUE(scanner.Configure(ThreeToneSettings()));
  TScanSettings bad = ThreeToneSettings();
  bad.StopHz = 0;
  EXPECT_FALSE(scanner.Configure(bad));
  EXPECT_FALSE(scanner.Sweep(hits, nullptr, nullptr));
  EXPECT_EQ(scanner.LastError(), "scanner not configured");
}

// ---------------------------------------------------------------------------------------------
// The three-tone sweep

void ExpectThreeTones(const TScanner& scanner, const TChannelHitArray& hits) {
  const std::vector<int64_t> want = {144312500, 145187500, 145737500};
  ASSERT_EQ(Channels(hits), want) << Describe(hits);
  for (int64_t tone : kTones) {
    const int64_t channel = RoundToStep(tone, 12500);
    const auto it =
        std::find_if(hits.begin(), hits.end(), [&](const TChannelHit& h) { return h.ChannelHz == channel; });
    ASSERT_NE(it, hits.end());
    EXPECT_LE(std::llabs(it->PeakHz - tone), static_cast<long long>(scanner.BinWidth())) << FormatMHz(tone);
    EXPECT_GT(it->SnrDb, 25.0) << FormatMHz(tone);
    EXPECT_TRUE(it->HopCenterHz == 144500000 || it->HopCenterHz == 145500000);
  }
}

TEST(ScannerThreeTones, SweepFindsExactlyTheThreeChannels) {
  auto sim = ThreeToneSim();
  TScanner scanner(sim);
  ASSERT_TRUE(scanner.Configure(ThreeToneSettings())) << scanner.LastError();
  TChannelHitArray hits;
  ASSERT_TRUE(scanner.Sweep(hits, nullptr, nullptr)) << scanner.LastError();
  ExpectThreeTones(scanner, hits);
  // Again on the same scanner: the plan and the receiver are reused, the result is the same.
  ASSERT_TRUE(scanner.Sweep(hits, nullptr, nullptr)) << scanner.LastError();
  ExpectThreeTones(scanner, hits);
}

TEST(ScannerThreeTones, SameHitsOnEveryBuild) {
  // The simulator and the chain compute bit for bit the same on native, Win64 and Win32 builds: the
  // engines of both widths report the same channels with the same values.
  auto sim = ThreeToneSim();
  TScanner scanner(sim);
  ASSERT_TRUE(scanner.Configure(ThreeToneSettings()));
  TChannelHitArray hits;
  ASSERT_TRUE(scanner.Sweep(hits, nullptr, nullptr));
  const TChannelHit want[3] = {
      {144312500, 144312500, 59.084903717041016, 0, -85.843887329101562, 144500000},
      {145187500, 145187500, 59.110506057739258, 0, -85.843887329101562, 144500000},
      {145737500, 145741294, 57.925901412963867, 0, -85.592483520507812, 145500000},
  };
  ASSERT_EQ(hits.size(), 3u) << Describe(hits);
  for (size_t i = 0; i < 3; ++i) {
    EXPECT_EQ(hits[i].ChannelHz, want[i].ChannelHz) << i;
    EXPECT_EQ(hits[i].PeakHz, want[i].PeakHz) << i;
    EXPECT_EQ(hits[i].SnrDb, want[i].SnrDb) << i;
    EXPECT_EQ(hits[i].NoiseDb, want[i].NoiseDb) << i;
    EXPECT_EQ(hits[i].PowerDb, hits[i].NoiseDb + hits[i].SnrDb) << i;
    EXPECT_EQ(hits[i].HopCenterHz, want[i].HopCenterHz) << i;
  }
}

TEST(ScannerThreeTones, TheLastHopIsTheLatestFrameAndEveryHopIsInThePanorama) {
  auto sim = ThreeToneSim();
  TScanner scanner(sim);
  ASSERT_TRUE(scanner.Configure(ThreeToneSettings()));
  TChannelHitArray hits;
  ASSERT_TRUE(scanner.Sweep(hits, nullptr, nullptr));

  TSpecFrame f;
  ASSERT_TRUE(GetSpecFrame(f, 256, 0, 0));
  EXPECT_EQ(f.Label, "scan");
  EXPECT_EQ(f.CenterHz, 145500000);
  EXPECT_EQ(f.Bins.size(), 256u);
  EXPECT_EQ(f.NoiseDb, scanner.LastNoiseDb());
  // The frame's marks are the sweep's hits before the alias removal: every one is a channel of the sweep.
  EXPECT_FALSE(f.Hits.empty());
  for (const TChannelHit& mark : f.Hits)
    EXPECT_TRUE(std::any_of(hits.begin(), hits.end(), [&](const TChannelHit& h) {
      return h.ChannelHz == mark.ChannelHz;
    })) << FormatMHz(mark.ChannelHz);
  // The off-raster tone's frame, cropped to +-10 kHz round its channel, holds the tone.
  ASSERT_TRUE(GetSpecFrame(f, 256, 145737500 - 10000, 145737500 + 10000));
  EXPECT_LE(f.LoHz, kTones[2]);
  EXPECT_GE(f.HiHz, kTones[2]);
  const auto [lo, hi] = std::minmax_element(f.Bins.begin(), f.Bins.end());
  EXPECT_GE(*hi - *lo, 20.0f);

  TSingleArray bins;
  TPanoHopArray hops;
  double noise = 0;
  ASSERT_TRUE(GetPanorama(bins, hops, noise, 2000, 0, 0));  // 1 kHz per point
  ASSERT_EQ(hops.size(), 2u);
  EXPECT_TRUE(hops[0].Valid && hops[1].Valid);
  EXPECT_LT(noise, -70.0);  // the floor per bin, far below the -60 dB of each sample
  EXPECT_GT(noise, -100.0);
  for (int64_t tone : kTones) {
    const size_t j = static_cast<size_t>((tone - 144000000) / 1000);
    EXPECT_GT(bins[j], noise + 25.0) << FormatMHz(tone);
  }
}

TEST(ScannerThreeTones, SettlingTunerLeavesNoPhantoms) {
  // After each retune the tuner delivers 2000 more samples from the old frequency; the receiver's
  // 2 ms discard (4096 samples at this rate) must swallow them.
  auto sim = ThreeToneSim();
  sim->SettleSamples = 2000;
  TScanner scanner(sim);
  ASSERT_TRUE(scanner.Configure(ThreeToneSettings()));
  TChannelHitArray hits;
  for (int sweep = 0; sweep < 2; ++sweep) {
    ASSERT_TRUE(scanner.Sweep(hits, nullptr, nullptr)) << scanner.LastError();
    ExpectThreeTones(scanner, hits);
  }
}

TScanSettings GhostSettings() {
  TScanSettings s = ThreeToneSettings();
  s.StartHz = 141000000;
  s.StopHz = 145000000;
  s.ThresholdDb = 40;
  s.GridHz = 5000;
  return s;
}

TChannelHitArray GhostSweep(int32_t settleSamples) {
  auto sim = OpenSim(-70);
  sim->SettleSamples = settleSamples;
  sim->AddCarrier(142950000, -20);
  TScanner scanner(sim);
  EXPECT_TRUE(scanner.Configure(GhostSettings()));
  EXPECT_EQ(scanner.HopCount(), 3);
  TChannelHitArray hits;
  EXPECT_TRUE(scanner.Sweep(hits, nullptr, nullptr)) << scanner.LastError();
  return hits;
}

TEST(ScannerThreeTones, StrongCarrierDoesNotLeakIntoTheNextHop) {
  const TChannelHitArray hits = GhostSweep(2000);
  ASSERT_FALSE(hits.empty());
  for (const TChannelHit& h : hits) EXPECT_LE(std::llabs(h.ChannelHz - 142950000), 50000) << Describe(hits);
  EXPECT_NE(
      std::find_if(hits.begin(), hits.end(), [](const TChannelHit& h) { return h.ChannelHz == 142950000; }),
      hits.end());
}

TEST(ScannerThreeTones, LeakBeyondTheDiscardWouldShow) {
  // The check above can fail: when the tuner settles for longer than the discard, the old hop's
  // carrier shows up at a wrong frequency in the next hop.
  const TChannelHitArray hits = GhostSweep(16000);
  EXPECT_TRUE(std::any_of(hits.begin(), hits.end(), [](const TChannelHit& h) {
    return std::llabs(h.ChannelHz - 142950000) > 50000;
  })) << Describe(hits);
}

TEST(ScannerThreeTones, SignalsOutsideTheRangeAreDropped) {
  auto sim = OpenSim(-70);
  sim->AddCarrier(141600000, -20);
  sim->AddCarrier(144500000, -15);  // inside the band of the last hop, but above the range
  TScanner scanner(sim);
  TScanSettings s = GhostSettings();
  s.StopHz = 143000000;
  s.SampleRate = 4096000;
  ASSERT_TRUE(scanner.Configure(s));
  TChannelHitArray hits;
  ASSERT_TRUE(scanner.Sweep(hits, nullptr, nullptr));
  EXPECT_EQ(Channels(hits), std::vector<int64_t>{141600000}) << Describe(hits);
}

// ---------------------------------------------------------------------------------------------
// Aliases across hops

// 144..148 MHz in three hops (centres 144.667, 146.000, 147.333 MHz). A strong carrier at 147.5 MHz and
// a weaker one exactly one sample rate below it, where a receiver's image of the strong one would
// fall: in the middle hop, 1.5 MHz from where the strong one was seen.
TChannelHitArray AliasSweep(double weakDb, std::vector<std::string>* aliasLines) {
  auto sim = OpenSim(-45);
  sim->AddCarrier(147500000, -20);
  sim->AddCarrier(147500000 - 2048000, weakDb);
  TScanner scanner(sim);
  TScanSettings s = ThreeToneSettings();
  s.StopHz = 148000000;
  TLogCapture log;
  EXPECT_TRUE(scanner.Configure(s));
  EXPECT_EQ(scanner.HopCount(), 3);
  TChannelHitArray hits;
  EXPECT_TRUE(scanner.Sweep(hits, nullptr, nullptr)) << scanner.LastError();
  if (aliasLines != nullptr) *aliasLines = log.MessagesStarting("alias:");
  return hits;
}

TEST(ScannerAlias, ImageOfAStrongSignalInAnotherHopIsDropped) {
  std::vector<std::string> lines;
  const TChannelHitArray hits = AliasSweep(-40, &lines);
  EXPECT_EQ(Channels(hits), std::vector<int64_t>{147500000}) << Describe(hits);
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_EQ(lines[0].rfind("alias: 145.450000 MHz (", 0), 0u) << lines[0];
  EXPECT_NE(lines[0].find("image of 147.500000 MHz"), std::string::npos) << lines[0];
}

TEST(ScannerAlias, SignalOfSimilarStrengthIsKept) {
  const TChannelHitArray hits = AliasSweep(-24, nullptr);
  EXPECT_EQ(Channels(hits), (std::vector<int64_t>{145450000, 147500000})) << Describe(hits);
}

// ---------------------------------------------------------------------------------------------
// Ending a sweep early

struct TProgress {
  std::vector<int32_t> Indexes;
  int32_t StopAt = -1;
  TScanner* AbortFrom = nullptr;  // calls Abort at hop 0, as another thread would
};

bool OnHop(int32_t index, int32_t count, int64_t centre, double noise, void* user) {
  auto* p = static_cast<TProgress*>(user);
  p->Indexes.push_back(index);
  EXPECT_EQ(count, 2);
  EXPECT_EQ(centre, index == 0 ? 144500000 : 145500000);
  EXPECT_LT(noise, -80.0);
  if (p->AbortFrom != nullptr) p->AbortFrom->Abort();
  return index != p->StopAt;
}

TEST(ScannerAbort, CallbackFalseAtTheFirstHopEndsAfterOneRead) {
  auto sim = ThreeToneSim();
  TScanner scanner(sim);
  ASSERT_TRUE(scanner.Configure(ThreeToneSettings()));
  sim->BlockReads = 0;
  TProgress p;
  p.StopAt = 0;
  TChannelHitArray hits;
  EXPECT_FALSE(scanner.Sweep(hits, &OnHop, &p));
  EXPECT_EQ(scanner.LastError(), "aborted");
  EXPECT_EQ(p.Indexes, std::vector<int32_t>{0});
  EXPECT_EQ(sim->BlockReads, 1);
  // What hop 0 found stays; it reaches up to 145.3704 MHz, so it saw the second tone too.
  EXPECT_EQ(Channels(hits), (std::vector<int64_t>{144312500, 145187500}));
}

TEST(ScannerAbort, AbortEndsTheSweepAtTheNextHopAndTheNextSweepRunsAgain) {
  auto sim = ThreeToneSim();
  TScanner scanner(sim);
  ASSERT_TRUE(scanner.Configure(ThreeToneSettings()));
  TProgress p;
  p.AbortFrom = &scanner;
  TChannelHitArray hits;
  EXPECT_FALSE(scanner.Sweep(hits, &OnHop, &p));
  EXPECT_EQ(scanner.LastError(), "aborted");
  EXPECT_EQ(p.Indexes, std::vector<int32_t>{0});
  scanner.Abort();  // before a sweep: the sweep clears it
  p = TProgress();
  ASSERT_TRUE(scanner.Sweep(hits, &OnHop, &p)) << scanner.LastError();
  EXPECT_EQ(p.Indexes, (std::vector<int32_t>{0, 1}));
  ExpectThreeTones(scanner, hits);
}

// ---------------------------------------------------------------------------------------------
// Automatic gain: blocks read while it steps

// A scene far too loud at the gain control's first 40 dB, so that it steps down.
std::shared_ptr<TTestSim> LoudSim() {
  auto sim = OpenSim(-45);
  sim->AddCarrier(142950000, -40);
  return sim;
}

TScanSettings AutomaticGainSettings() {
  TScanSettings s = GhostSettings();
  s.ThresholdDb = 12;
  s.Averages = 4;
  s.GainDb = -1;
  return s;
}

TEST(ScannerGain, HitsWaitUntilTheGainControlHasSettled) {
  // Nothing the control sees while it steps counts. The clock only moves when the test (or a 5 ms
  // re-read pause) moves it.
  plat::TManualClock clock;
  auto sim = LoudSim();
  TScanner scanner(sim, clock);
  TScanSettings s = AutomaticGainSettings();
  ASSERT_TRUE(scanner.Configure(s)) << scanner.LastError();
  ASSERT_NE(scanner.AutoGain(), nullptr);
  EXPECT_TRUE(scanner.AutoGain()->Active());

  const int64_t before = SpecFrameSequence();
  TChannelHitArray hits;
  ASSERT_TRUE(scanner.Sweep(hits, nullptr, nullptr)) << scanner.LastError();
  EXPECT_TRUE(hits.empty()) << Describe(hits);
  EXPECT_EQ(SpecFrameSequence(), before + 3);  // every hop's frame is still published
  TSpecFrame f;
  ASSERT_TRUE(GetSpecFrame(f, 0, 0, 0));
  EXPECT_TRUE(f.Hits.empty());
  EXPECT_TRUE(AnyPanoSlotValid());

  int sweeps = 1;
  while (hits.empty() && sweeps < 10) {
    clock.Advance(350);
    ASSERT_TRUE(scanner.Sweep(hits, nullptr, nullptr)) << scanner.LastError();
    ++sweeps;
  }
  EXPECT_EQ(Channels(hits), std::vector<int64_t>{142950000})
      << "after " << sweeps << " sweeps: " << Describe(hits);
  EXPECT_LT(scanner.AutoGain()->GainDb(), 40);
}

TEST(ScannerGain, ReconfiguredToAFixedGainTheOldControlNoLongerSteps) {
  // Automatic first: the control moves the simulator's gain away from 40 dB. Then a fixed 0 dB: the
  // simulator must stay at 0 dB (gain 1) through the sweeps that follow.
  plat::TManualClock clock;
  auto sim = LoudSim();
  TScanner scanner(sim, clock);
  TScanSettings s = AutomaticGainSettings();
  ASSERT_TRUE(scanner.Configure(s)) << scanner.LastError();
  TChannelHitArray hits;
  ASSERT_TRUE(scanner.Sweep(hits, nullptr, nullptr)) << scanner.LastError();
  ASSERT_LT(scanner.AutoGain()->GainDb(), 40);

  s.GainDb = 0;
  ASSERT_TRUE(scanner.Configure(s)) << scanner.LastError();
  EXPECT_FALSE(scanner.AutoGain()->Active());
  for (int sweep = 0; sweep < 3; ++sweep) {
    clock.Advance(350);
    ASSERT_TRUE(scanner.Sweep(hits, nullptr, nullptr)) << scanner.LastError();
    EXPECT_EQ(sim->GainLin, 1.0) << "sweep " << sweep;
  }
  EXPECT_EQ(Channels(hits), std::vector<int64_t>{142950000}) << Describe(hits);
}

// ---------------------------------------------------------------------------------------------
// The "dcprobe:" lines, switched by TALVORAN_DCPROBE once per process (so run in a fresh one)

void ProbeSweep(size_t wantLines) {
  auto sim = ThreeToneSim();
  TScanner scanner(sim);
  TLogCapture log;
  ASSERT_TRUE(scanner.Configure(ThreeToneSettings()));
  TChannelHitArray hits;
  ASSERT_TRUE(scanner.Sweep(hits, nullptr, nullptr));
  const std::vector<std::string> lines = log.MessagesStarting("dcprobe:");
  ASSERT_EQ(lines.size(), wantLines);
  for (size_t i = 0; i < lines.size(); ++i) {
    const std::string head = "dcprobe: hop " + std::to_string(i) + " @ " +
                             FormatMHz(scanner.GetHop(int32_t(i)).CenterHz) + " centre bins ";
    EXPECT_EQ(lines[i].rfind(head, 0), 0u) << lines[i];
    EXPECT_NE(lines[i].find("]"), std::string::npos) << lines[i];
    EXPECT_NE(lines[i].find("  (noise -"), std::string::npos) << lines[i];
  }
}

TEST(ScannerDcProbe, DISABLED_OnWritesOneLinePerHop) {
  ASSERT_TRUE(DcProbeEnabled());
  ProbeSweep(2);
}

TEST(ScannerDcProbe, DISABLED_OffWritesNone) {
  ASSERT_FALSE(DcProbeEnabled());
  ProbeSweep(0);
}

TEST(ScannerDcProbe, AnyTextSwitchesItOn) {
  std::string out;
  EXPECT_TRUE(scantest::RunChildCase("ScannerDcProbe.DISABLED_OnWritesOneLinePerHop",
                                     {{"TALVORAN_DCPROBE", "1"}}, out))
      << out;
  EXPECT_TRUE(scantest::RunChildCase("ScannerDcProbe.DISABLED_OnWritesOneLinePerHop",
                                     {{"TALVORAN_DCPROBE", "no"}}, out))
      << out;
}

TEST(ScannerDcProbe, UnsetOrEmptyLeavesItOff) {
  std::string out;
  EXPECT_TRUE(
      scantest::RunChildCase("ScannerDcProbe.DISABLED_OffWritesNone", {{"TALVORAN_DCPROBE", ""}}, out))
      << out;
}

}  // namespace
