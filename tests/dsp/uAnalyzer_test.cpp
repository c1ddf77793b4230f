#include "uAnalyzer.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cinttypes>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <limits>
#include <string>
#include <vector>

#include "LogCapture.h"
#include "TestSupport.h"
#include "uLog.h"

namespace {

constexpr double kPi = 3.14159265358979323846;
constexpr int64_t kCentre = 145000000;
constexpr double kFullScaleToneDb = -1.7609125905568124;  // 10 log10(2/3): periodic Hann, bin centre

// A synthetic block: uniform noise from a fixed generator plus complex tones at given bin offsets
// from the centre (fractional offsets allowed) and amplitudes.
struct TScene {
  int N = 4096;
  int Averages = 8;
  double NoiseAmplitude = 1e-3;
  uint32_t Seed = 1;
  struct TTone {
    double Bins;
    double Amplitude;
  };
  std::vector<TTone> Tones;

  TComplexFArray Block() const {
    TComplexFArray x(size_t(N) * Averages);
    uint32_t s = Seed;
    auto uniform = [&s]() {
      s = s * 1664525u + 1013904223u;
      return double(int32_t(s >> 8) - (1 << 23)) / double(1 << 23);
    };
    for (size_t j = 0; j < x.size(); ++j) {
      double re = NoiseAmplitude * uniform(), im = NoiseAmplitude * uniform();
      for (const TTone& t : Tones) {
        const double angle = 2.0 * kPi * t.Bins * double(j % size_t(N)) / N;
        re += t.Amplitude * std::cos(angle);
        im += t.Amplitude * std::sin(angle);
      }
      x[j] = {float(re), float(im)};
    }
    return x;
  }
};

double DbToAmplitude(double db) {
  return std::pow(10.0, db / 20.0);
}

TScanSettings Settings(int n = 4096, int averages = 8) {
  TScanSettings s;
  DefaultScanSettings(s);
  s.FftSize = n;
  s.Averages = averages;
  return s;
}

// Runs one analysis of scene tuned to kCentre with wide limits.
double AnalyzeScene(TSpectrumAnalyzer& a, const TScene& scene, TChannelHitArray& hits,
                    int64_t centre = kCentre) {
  const TComplexFArray x = scene.Block();
  EXPECT_GE(int(x.size()), a.SamplesNeeded());
  return a.Analyze(x.data(), centre, centre - 1000000, centre + 1000000, hits);
}

TEST(ScanSettings, DefaultsAndEveryValueTheSettingsRecordGives) {
  TScanSettings s;
  s.StartHz = 1;
  s.FftSize = 17;
  DefaultScanSettings(s);
  EXPECT_EQ(s.StartHz, 144000000);
  EXPECT_EQ(s.StopHz, 146000000);
  EXPECT_EQ(s.SampleRate, 2048000.0);
  EXPECT_EQ(s.FftSize, 4096);
  EXPECT_EQ(s.Averages, 8);
  EXPECT_EQ(s.ThresholdDb, 12.0);
  EXPECT_EQ(s.GridHz, 12500);
  EXPECT_EQ(s.GainDb, -1.0);
  EXPECT_EQ(s.Ppm, 0);
  EXPECT_EQ(s.EdgeFraction, 0.075);
  EXPECT_EQ(s.SettleMs, 30);
  EXPECT_EQ(s.DcBins, 3);
  EXPECT_TRUE(s.Merge);

  TTalvConfig cfg;
  ConfigDefaults(cfg);
  cfg.NFft = 8192;
  cfg.SnrDb = 9.5;
  cfg.GridHz = 25000;
  cfg.MergeChannels = false;
  cfg.AvgSegments = 3;
  cfg.StartHz = 400000000;
  cfg.StopHz = 401000000;
  cfg.SampleRate = 1000000;
  cfg.SettleMs = 99;
  cfg.GainDb = 27.5;
  cfg.PpmCorrection = -7;
  s = ScanSettingsFromConfig(cfg);
  EXPECT_EQ(s.FftSize, 8192);
  EXPECT_EQ(s.ThresholdDb, 9.5);
  EXPECT_EQ(s.GridHz, 25000);
  EXPECT_FALSE(s.Merge);
  EXPECT_EQ(s.Averages, 3);
  EXPECT_EQ(s.StartHz, 400000000);
  EXPECT_EQ(s.StopHz, 401000000);
  EXPECT_EQ(s.SampleRate, 1000000.0);
  EXPECT_EQ(s.SettleMs, 99);
  EXPECT_EQ(s.GainDb, 27.5);
  EXPECT_EQ(s.Ppm, -7);
  // Not in the settings record: the defaults.
  EXPECT_EQ(s.EdgeFraction, 0.075);
  EXPECT_EQ(s.DcBins, 3);
  // The rate the receiver reports wins over the settings' one; none reported keeps the settings'.
  EXPECT_EQ(ScanSettingsFromConfig(cfg, 1024000.0).SampleRate, 1024000.0);
  EXPECT_EQ(ScanSettingsFromConfig(cfg, 0).SampleRate, 1000000.0);
  EXPECT_EQ(ScanSettingsFromConfig(cfg, -5).SampleRate, 1000000.0);
}

TEST(RoundToStep, HalvesAwayFromZeroOnBothSides) {
  EXPECT_EQ(RoundToStep(6250, 12500), 12500);
  EXPECT_EQ(RoundToStep(-6250, 12500), -12500);
  EXPECT_EQ(RoundToStep(6249, 12500), 0);
  EXPECT_EQ(RoundToStep(-6249, 12500), 0);
  EXPECT_EQ(RoundToStep(145006250, 12500), 145012500);
  EXPECT_EQ(RoundToStep(145006249, 12500), 145000000);
  EXPECT_EQ(RoundToStep(2, 5), 0);  // odd step: half is 2 (integer), 2.5 is the true midpoint
  EXPECT_EQ(RoundToStep(3, 5), 5);
  EXPECT_EQ(RoundToStep(123456, 0), 123456);
  EXPECT_EQ(RoundToStep(-77, -10), -77);
}

TEST(RoundToStep, ExtremesDoNotOverflow) {
  EXPECT_EQ(RoundToStep(INT64_MAX, 10), INT64_MAX - 7);  // the last multiple inside the range
  EXPECT_EQ(RoundToStep(INT64_MIN, 2), INT64_MIN);
  EXPECT_EQ(RoundToStep(INT64_MIN + 1, 10), INT64_MIN + 8);
  EXPECT_EQ(RoundToStep(0, INT64_MAX), 0);
}

TEST(SelectKth, AgreesWithSortingForEveryK) {
  uint32_t s = 3;
  for (int count : {1, 2, 3, 10, 101, 1000}) {
    std::vector<float> v(count);
    for (auto& x : v) {
      s = s * 1664525u + 1013904223u;
      x = float(int(s >> 20) % 50);  // many duplicates
    }
    std::vector<float> sorted = v;
    std::sort(sorted.begin(), sorted.end());
    for (int k = 0; k < count; k += std::max(1, count / 17)) {
      std::vector<float> w = v;
      EXPECT_EQ(SelectKth(w.data(), count, k), sorted[k]) << count << " " << k;
      std::sort(w.begin(), w.end());
      EXPECT_EQ(w, sorted);  // only reordered
    }
  }
  EXPECT_EQ(SelectKth(nullptr, 0, 0), 0.0f);
  TSingleArray a = {5.0f, 1.0f, 3.0f};
  EXPECT_EQ(SelectKth(a, 3, 1), 3.0f);
  EXPECT_EQ(SelectKth(a, 3, 99), 5.0f);  // k clamped
}

TEST(SelectKthByBits, GivesTheValueOfQuickselectForEveryKAndKind) {
  uint32_t s = 17;
  auto next = [&s]() {
    s = s * 1664525u + 1013904223u;
    return s;
  };
  const float inf = std::numeric_limits<float>::infinity();
  // Spectra in dB, values of both signs round zero, values sharing their top bits (one bucket holds
  // all), duplicates, tiny and infinite values.
  std::vector<std::vector<float>> sets;
  for (int count : {1, 2, 3, 7, 100, 3547}) {
    std::vector<float> db(count), mixed(count), close(count), dup(count);
    for (int i = 0; i < count; ++i) {
      db[i] = -95.0f + float(next() % 100000) * 1e-4f + (i % 97 == 0 ? 40.0f : 0.0f);
      mixed[i] = float(int32_t(next())) * 1e-30f;
      close[i] = 1.0f + float(next() % 64) * 1.1920929e-7f;
      dup[i] = float(int(next() >> 20) % 5) - 2.0f;
    }
    sets.insert(sets.end(), {db, mixed, close, dup});
  }
  sets.push_back({-inf, inf, 0.0f, -1e-45f, 1e-45f, -3.4e38f, 3.4e38f, -0.0f});
  for (const auto& v : sets) {
    const int count = int(v.size());
    for (int k : {0, count / 2, count - 1, count / 3, count + 5}) {
      std::vector<float> a = v, b = v;
      EXPECT_EQ(SelectKthByBits(a.data(), count, k), SelectKth(b.data(), count, k)) << count << " " << k;
    }
  }
  EXPECT_EQ(SelectKthByBits(nullptr, 0, 0), 0.0f);
}

TEST(SelectKthByBits, ANanAmongTheValuesLeavesTheChoiceToQuickselect) {
  const float nan = std::numeric_limits<float>::quiet_NaN();
  const std::vector<float> v = {3.0f, nan, -1.0f, 7.0f, 2.0f, nan, 0.5f};
  for (int k = 0; k < int(v.size()); ++k) {
    std::vector<float> a = v, b = v;
    const float x = SelectKthByBits(a.data(), int(v.size()), k), y = SelectKth(b.data(), int(v.size()), k);
    EXPECT_EQ(std::memcmp(&x, &y, sizeof x), 0) << k;
    EXPECT_EQ(std::memcmp(a.data(), b.data(), v.size() * sizeof(float)), 0) << k;  // the same reordering
  }
}

TEST(AnalyzerCreate, SizesAreCorrectedAndCapped) {
  EXPECT_EQ(TSpectrumAnalyzer(Settings(100)).Settings.FftSize, 256);
  EXPECT_EQ(TSpectrumAnalyzer(Settings(3000)).Settings.FftSize, 4096);
  EXPECT_EQ(TSpectrumAnalyzer(Settings(-5)).Settings.FftSize, 256);
  EXPECT_EQ(TSpectrumAnalyzer(Settings(4096, 0)).Settings.Averages, 1);
  EXPECT_EQ(TSpectrumAnalyzer(Settings(4096, -3)).Settings.Averages, 1);
  TScanSettings s = Settings();
  s.EdgeFraction = 0.45;
  EXPECT_EQ(TSpectrumAnalyzer(s).Settings.EdgeFraction, 0.075);
  s.EdgeFraction = -0.01;
  EXPECT_EQ(TSpectrumAnalyzer(s).Settings.EdgeFraction, 0.075);
  s.EdgeFraction = 0.0;
  EXPECT_EQ(TSpectrumAnalyzer(s).Settings.EdgeFraction, 0.0);

  // Settings are user text: a huge FFT or block is capped instead of exhausting memory.
  TSpectrumAnalyzer big(Settings(2000000000, 2000000000));
  EXPECT_EQ(big.Settings.FftSize, 65536);
  EXPECT_EQ(big.Settings.Averages, 64);
  EXPECT_EQ(big.SamplesNeeded(), 4194304);
  EXPECT_EQ(TSpectrumAnalyzer(Settings(4096, 100000)).SamplesNeeded(), 4194304);

  TSpectrumAnalyzer a(Settings());
  EXPECT_EQ(a.SamplesNeeded(), 4096 * 8);
  EXPECT_EQ(a.BinWidth(), 500.0);
  EXPECT_EQ(a.Plan->Size, 4096);
  EXPECT_EQ(a.SpectrumDb().size(), 4096u);
}

TEST(AnalyzerScenes, ZeroBlockReadsMinus200EverywhereWithNoHits) {
  TSpectrumAnalyzer a(Settings(1024, 2));
  TComplexFArray x(a.SamplesNeeded(), TComplexF{0.0f, 0.0f});
  TChannelHitArray hits;
  EXPECT_EQ(a.Analyze(x.data(), kCentre, 0, INT64_MAX, hits), -200.0);
  EXPECT_EQ(a.LastNoiseDb, -200.0);
  EXPECT_TRUE(hits.empty());
  for (float v : a.SpectrumDb()) ASSERT_EQ(v, -200.0f);
}

TEST(AnalyzerScenes, FullScaleToneAtBinCentreReadsMinus1Point76DbFS) {
  TSpectrumAnalyzer a(Settings());
  TScene scene;
  scene.Tones = {{100.0, 1.0}};
  TChannelHitArray hits;
  const double floorDb = AnalyzeScene(a, scene, hits);
  ASSERT_EQ(hits.size(), 1u);
  const TChannelHit& h = hits[0];
  EXPECT_NEAR(h.PowerDb, kFullScaleToneDb, 0.01);
  EXPECT_EQ(a.SpectrumDb()[2048 + 100], float(h.PowerDb));
  EXPECT_NEAR(double(h.PeakHz), double(kCentre + 100 * 500), 250.0);  // within half a bin
  EXPECT_EQ(h.PeakHz, kCentre + 50000);  // symmetric neighbours: no interpolation offset
  EXPECT_EQ(h.ChannelHz, 145050000);
  EXPECT_EQ(h.SnrDb, h.PowerDb - h.NoiseDb);
  EXPECT_EQ(h.NoiseDb, floorDb);
  EXPECT_EQ(h.HopCenterHz, kCentre);
  // Uniform noise of amplitude 1e-3 per part: power 2/3e-6 spread over N bins (window-normalised).
  EXPECT_NEAR(floorDb, 10 * std::log10(2.0 / 3.0 * 1e-6 / 4096), 2.0);
}

TEST(AnalyzerScenes, OffCentreToneIsInterpolatedWithinHalfABin) {
  TSpectrumAnalyzer a(Settings());
  for (double bins : {-321.3, 57.5, 400.25, -12.7}) {
    TScene scene;
    scene.Tones = {{bins, 0.1}};
    TChannelHitArray hits;
    AnalyzeScene(a, scene, hits);
    ASSERT_EQ(hits.size(), 1u) << bins;
    const double toneHz = double(kCentre) + bins * 500.0;
    EXPECT_LT(std::fabs(double(hits[0].PeakHz) - toneHz), 250.0) << bins;
    EXPECT_EQ(hits[0].ChannelHz, RoundToStep(hits[0].PeakHz, 12500));
  }
}

TEST(AnalyzerScenes, ToneInsideTheCentreGuardGivesNoHitAndStaysOutOfTheFloor) {
  TSpectrumAnalyzer quiet(Settings());
  TScene noise;
  TChannelHitArray hits;
  const double noiseFloor = AnalyzeScene(quiet, noise, hits);
  ASSERT_TRUE(hits.empty());

  TSpectrumAnalyzer a(Settings());
  TScene scene = noise;
  scene.Tones = {{2.0, 0.5}};  // bins N/2+1..N/2+3 carry it: all inside DcBins = 3
  const double floorDb = AnalyzeScene(a, scene, hits);
  EXPECT_TRUE(hits.empty());
  EXPECT_NEAR(floorDb, noiseFloor, 0.01);
  EXPECT_GT(a.SpectrumDb()[2048 + 2], -10.0f);  // the tone is in the spectrum all the same
}

TEST(AnalyzerScenes, ToneInTheEdgeBinsGivesNoHitButARunReachingTheLastExaminedBinDoes) {
  // Edge 0.075 of 4096: bins 0..306 and 3789..4095 are not examined.
  TSpectrumAnalyzer a(Settings());
  TScene edge;
  edge.Tones = {{-1900.0, 0.5}};  // bin 148
  TChannelHitArray hits;
  AnalyzeScene(a, edge, hits);
  EXPECT_TRUE(hits.empty());

  TScene last;
  last.Tones = {{3788.0 - 2048.0, 0.5}};  // peak on bin 3788, the last examined one
  AnalyzeScene(a, last, hits);
  ASSERT_EQ(hits.size(), 1u);
  EXPECT_EQ(hits[0].PeakHz, kCentre + (3788 - 2048) * 500);
}

TEST(AnalyzerScenes, HitsOutsideTheLimitsAreDropped) {
  TSpectrumAnalyzer a(Settings());
  TScene scene;
  scene.Tones = {{-200.0, 0.3}, {200.0, 0.3}};
  const TComplexFArray x = scene.Block();
  TChannelHitArray hits;
  a.Analyze(x.data(), kCentre, kCentre, kCentre + 1000000, hits);
  ASSERT_EQ(hits.size(), 1u);
  EXPECT_EQ(hits[0].PeakHz, kCentre + 100000);
  hits.clear();
  a.Analyze(x.data(), kCentre, kCentre - 100000, kCentre + 100000, hits);  // limits are inclusive
  EXPECT_EQ(hits.size(), 2u);
}

TEST(AnalyzerScenes, TheSameChannelAcrossCallsKeepsOneHitWithTheBestSnr) {
  TSpectrumAnalyzer a(Settings());
  TChannelHitArray hits;
  TScene weak;
  weak.Tones = {{100.0, 0.01}};
  AnalyzeScene(a, weak, hits, kCentre);
  ASSERT_EQ(hits.size(), 1u);
  const TChannelHit first = hits[0];

  // The same channel seen stronger from another hop centre (the tone lies 50 kHz above kCentre).
  TScene strong;
  strong.Tones = {{-100.0, 0.5}};
  AnalyzeScene(a, strong, hits, kCentre + 100000);
  ASSERT_EQ(hits.size(), 1u);
  EXPECT_EQ(hits[0].ChannelHz, first.ChannelHz);
  EXPECT_EQ(hits[0].HopCenterHz, kCentre + 100000);
  EXPECT_GT(hits[0].SnrDb, first.SnrDb + 30.0);
  const TChannelHit best = hits[0];

  AnalyzeScene(a, weak, hits, kCentre);  // weaker again: nothing changes
  ASSERT_EQ(hits.size(), 1u);
  EXPECT_EQ(std::memcmp(&hits[0], &best, sizeof(TChannelHit)), 0);
}

TEST(AnalyzerScenes, MergeRemovesHitsTwentyDbUnderAStrongNeighbourWithinTheRadius) {
  // GridHz 12500: radius 30 x 12500 is lowered to 150000 Hz.
  const double strongDb = -10.0;
  auto scene = [&](double weakBelowDb, double weakBins) {
    TScene s;
    s.NoiseAmplitude = 1e-5;
    s.Tones = {{0.0 + 200, DbToAmplitude(strongDb)}, {weakBins, DbToAmplitude(strongDb - weakBelowDb)}};
    return s;
  };
  {
    TSpectrumAnalyzer a(Settings());
    TChannelHitArray hits;
    AnalyzeScene(a, scene(20.1, 200 + 290), hits);  // 145 kHz away
    ASSERT_EQ(hits.size(), 1u);
    EXPECT_EQ(hits[0].PeakHz, kCentre + 100000);
  }
  {
    TSpectrumAnalyzer a(Settings());
    TChannelHitArray hits;
    AnalyzeScene(a, scene(19.9, 200 + 290), hits);
    EXPECT_EQ(hits.size(), 2u);
  }
  {
    TSpectrumAnalyzer a(Settings());
    TChannelHitArray hits;
    AnalyzeScene(a, scene(30.0, 200 + 320), hits);  // 160 kHz away: outside the radius
    EXPECT_EQ(hits.size(), 2u);
  }
  {
    TScanSettings s = Settings();
    s.Merge = false;
    TSpectrumAnalyzer a(s);
    TChannelHitArray hits;
    AnalyzeScene(a, scene(30.0, 200 + 290), hits);
    EXPECT_EQ(hits.size(), 2u);
  }
  {
    // GridHz 500: radius 30 x 500 is raised to 25000 Hz.
    TScanSettings s = Settings();
    s.GridHz = 500;
    TSpectrumAnalyzer a(s);
    TChannelHitArray hits;
    AnalyzeScene(a, scene(30.0, 200 + 48), hits);  // 24 kHz away
    EXPECT_EQ(hits.size(), 1u);
    hits.clear();
    AnalyzeScene(a, scene(30.0, 200 + 52), hits);  // 26 kHz away
    EXPECT_EQ(hits.size(), 2u);
  }
}

TEST(AnalyzerScenes, MergeNeverRemovesAHitOfAnEarlierCall) {
  TSpectrumAnalyzer a(Settings());
  TChannelHitArray hits;
  TScene earlier;
  earlier.Tones = {{300.0, DbToAmplitude(-40.0)}};
  AnalyzeScene(a, earlier, hits);
  ASSERT_EQ(hits.size(), 1u);
  TScene now;
  now.Tones = {{200.0, DbToAmplitude(-5.0)}, {250.0, DbToAmplitude(-45.0)}};
  AnalyzeScene(a, now, hits);
  ASSERT_EQ(hits.size(), 2u);
  EXPECT_EQ(hits[0].PeakHz, kCentre + 150000);  // the earlier weak one stays, in its place
  EXPECT_EQ(hits[1].PeakHz, kCentre + 100000);  // this call's weak one went
}

TEST(AnalyzerScenes, BlockSplitIntoCallsMatchesOneAnalyzerPerCall) {
  // An analyzer keeps no state between blocks except the hit array it is given.
  TScene s1, s2;
  s1.Tones = {{-150.5, 0.2}};
  s2.Seed = 9;
  s2.Tones = {{333.0, 0.05}};
  TSpectrumAnalyzer shared(Settings()), fresh1(Settings()), fresh2(Settings());
  TChannelHitArray a, b;
  AnalyzeScene(shared, s1, a);
  AnalyzeScene(shared, s2, a);
  AnalyzeScene(fresh1, s1, b);
  AnalyzeScene(fresh2, s2, b);
  ASSERT_EQ(a.size(), b.size());
  EXPECT_EQ(std::memcmp(a.data(), b.data(), a.size() * sizeof(TChannelHit)), 0);
  EXPECT_EQ(shared.SpectrumDb(), fresh2.SpectrumDb());
}

TEST(AnalyzerScenes, SameSpectrumAndHitsBitForBitOnEveryBuild) {
  // A receiver-like scene: 8-bit offset-binary I/Q of three tones in noise, two hops. The checksum is
  // fixed here, so this test passing natively, as Win64 and as Win32 proves the three builds compute
  // identical spectra and hits.
  TSpectrumAnalyzer a(Settings());
  TChannelHitArray hits;
  uint64_t h = testsupport::kHashStart;  // FNV-1a over the spectrum and every hit field
  for (int hop = 0; hop < 2; ++hop) {
    TScene scene;
    scene.NoiseAmplitude = 0.05;
    scene.Seed = 77u + hop;
    scene.Tones = {{-611.3 + hop, 0.3}, {123.0, 0.02}, {905.77, 0.1 * (hop + 1)}};
    const TComplexFArray x = scene.Block();
    std::vector<uint8_t> bytes(x.size() * 2);
    for (size_t j = 0; j < x.size(); ++j) {
      bytes[2 * j] = uint8_t(std::clamp(std::lround(x[j].Re * 128.0 + 127.4), 0L, 255L));
      bytes[2 * j + 1] = uint8_t(std::clamp(std::lround(x[j].Im * 128.0 + 127.4), 0L, 255L));
    }
    TComplexFArray samples(x.size());
    ConvertU8ToComplex(bytes.data(), samples.data(), int(samples.size()));
    const int64_t centre = kCentre + hop * 1740800;
    const double floorDb = a.Analyze(samples.data(), centre, centre - 870400, centre + 870400, hits);
    h = testsupport::Fnv1a(&floorDb, sizeof(floorDb), h);
    h = testsupport::Fnv1a(a.SpectrumDb().data(), a.SpectrumDb().size() * sizeof(float), h);
  }
  ASSERT_EQ(hits.size(), 6u);
  for (const TChannelHit& hit : hits) {
    h = testsupport::Fnv1a(&hit, sizeof(hit), h);
    std::printf("hit %" PRId64 " %" PRId64 " snr %.9g power %.9g noise %.9g hop %" PRId64 "\n", hit.ChannelHz,
                hit.PeakHz, hit.SnrDb, hit.PowerDb, hit.NoiseDb, hit.HopCenterHz);
  }
  std::printf("scene checksum %016" PRIx64 "\n", h);
  EXPECT_EQ(h, 0x5e0a290d7581e9ddull);
}

// ---------------------------------------------------------------------------------------------
// Alias removal

TChannelHit Hit(int64_t peakHz, double powerDb, int64_t hopCentreHz) {
  TChannelHit h;
  h.PeakHz = peakHz;
  h.ChannelHz = RoundToStep(peakHz, 12500);
  h.PowerDb = powerDb;
  h.NoiseDb = -80.0;
  h.SnrDb = powerDb + 80.0;
  h.HopCenterHz = hopCentreHz;
  return h;
}

constexpr double kSpacing = 2048000.0, kExclusion = 870400.0, kTolerance = 1500.0, kDominance = 6.0;

TEST(AliasRemoval, DropsTheImageOfAStrongSignalOutsideTheWeakHitsBandAndLogsIt) {
  TLogCapture log;
  // The strong signal at 144.5 MHz sits 1.5 MHz below the weak hit's hop centre (beyond half a
  // usable span): its image lands at 146.548 MHz in that hop.
  TChannelHitArray hits = {Hit(144500000, -20.0, 144600000), Hit(146548000, -40.0, 146000000),
                           Hit(145300000, -30.0, 144600000)};
  RemoveAliasHits(hits, kSpacing, kExclusion, kTolerance, kDominance);
  ASSERT_EQ(hits.size(), 2u);
  EXPECT_EQ(hits[0].PeakHz, 144500000);
  EXPECT_EQ(hits[1].PeakHz, 145300000);
  const std::vector<std::string> lines = log.Messages();
  ASSERT_EQ(lines.size(), 1u);
  const std::string expected =
      "alias: 146.550000 MHz (-40.0 dBFS) dropped - image of 144.500000 MHz (-20.0 dBFS) in hop "
      "146.000000 MHz";
  ASSERT_GE(lines[0].size(), expected.size());
  EXPECT_EQ(lines[0].substr(lines[0].size() - expected.size()), expected);
}

TEST(AliasRemoval, KeepsHitsThatAreNotClearImages) {
  // Only 5.9 dB stronger.
  TChannelHitArray a = {Hit(144500000, -20.0, 144600000), Hit(146548000, -25.9, 146000000)};
  RemoveAliasHits(a, kSpacing, kExclusion, kTolerance, kDominance);
  EXPECT_EQ(a.size(), 2u);
  // The strong one lies within half a usable span of the weak hit's hop centre: a real neighbour.
  TChannelHitArray b = {Hit(145500000, -20.0, 145000000), Hit(147548000, -40.0, 146000000)};
  RemoveAliasHits(b, kSpacing, kExclusion, kTolerance, kDominance);
  EXPECT_EQ(b.size(), 2u);
  // Distance off the spacing by more than the tolerance.
  TChannelHitArray c = {Hit(144500000, -20.0, 144600000), Hit(146549600, -40.0, 146000000)};
  RemoveAliasHits(c, kSpacing, kExclusion, kTolerance, kDominance);
  EXPECT_EQ(c.size(), 2u);
  // Fewer than two hits, or no spacing: nothing happens.
  TChannelHitArray d = {Hit(144500000, -20.0, 144600000), Hit(146548000, -40.0, 146000000)};
  RemoveAliasHits(d, 0.0, kExclusion, kTolerance, kDominance);
  EXPECT_EQ(d.size(), 2u);
}

TEST(AliasRemoval, DistancesStayExactAboveTwoGigahertz) {
  // At 5.8 GHz a Single steps by 512 Hz: rounded there, these two lie 2048512 Hz apart (within a
  // 1 kHz tolerance of the spacing) although they truly lie 2049022 Hz apart.
  TChannelHitArray far = {Hit(5799999745, -20.0, 5797000000), Hit(5802048767, -40.0, 5802048767)};
  RemoveAliasHits(far, kSpacing, kExclusion, 1000.0, kDominance);
  EXPECT_EQ(far.size(), 2u);
  TChannelHitArray image = {Hit(5799999745, -20.0, 5797000000), Hit(5802048600, -40.0, 5802048600)};
  RemoveAliasHits(image, kSpacing, kExclusion, 1000.0, kDominance);
  ASSERT_EQ(image.size(), 1u);
  EXPECT_EQ(image[0].PeakHz, 5799999745);
}

}  // namespace
