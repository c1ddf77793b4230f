// Detector: one analysed block becomes the latest spectrum frame and its hop's panorama slot, and
// hits first seen while the receiver's gain control is still stepping are dropped.
#include "uDetector.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <memory>

#include "pClock.h"
#include "uReceiver.h"
#include "uSdrSim.h"
#include "uSpecTap.h"

namespace {

constexpr int64_t kCentre = 145000000;
constexpr int64_t kLowest = std::numeric_limits<int64_t>::min();
constexpr int64_t kHighest = std::numeric_limits<int64_t>::max();

TScanSettings DetectorSettings() {
  TScanSettings s;
  DefaultScanSettings(s);
  s.GainDb = 0;
  return s;
}

// One block of the simulated receiver tuned to kCentre, converted as the receiver would.
TComplexFArray SimBlock(TSimDevice& sim, int32_t samples) {
  std::vector<uint8_t> bytes(static_cast<size_t>(2 * samples));
  int32_t got = 0;
  EXPECT_TRUE(sim.ReadSync(bytes.data(), 2 * samples, got));
  TComplexFArray block(static_cast<size_t>(samples));
  ConvertU8ToComplex(bytes.data(), block.data(), samples);
  return block;
}

std::shared_ptr<TSimDevice> Sim(std::initializer_list<std::pair<int64_t, double>> carriers,
                                double noiseDb = -40) {
  auto sim = std::make_shared<TSimDevice>();
  sim->NoiseDb = noiseDb;
  sim->CenterHz = kCentre;
  for (const auto& [f, db] : carriers) sim->AddCarrier(f, db);
  sim->Open(0);
  return sim;
}

TScanHopArray OneHop() {
  return {TScanHop{kCentre, kCentre - 870400, kCentre + 870400, 1740800}};
}

TEST(DetectorValues, AreTheAnalyzersAfterItsCorrections) {
  TScanSettings s = DetectorSettings();
  s.FftSize = 300;
  s.Averages = 0;
  s.EdgeFraction = 0.5;
  TDetector d(s);
  EXPECT_EQ(d.BinCount(), 512);
  EXPECT_EQ(d.SamplesNeeded(), 512);
  EXPECT_EQ(d.BinWidth(), 2048000.0 / 512);
  EXPECT_EQ(d.SpectrumDb().size(), 512u);
  TScanSettings got;
  d.GetSettings(got);
  EXPECT_EQ(got.FftSize, 512);
  EXPECT_EQ(got.Averages, 1);
  EXPECT_EQ(got.EdgeFraction, 0.075);
}

TEST(DetectorPublish, FrameAndSlotCarryTheSpectrumAndTheHits) {
  auto sim = Sim({{145100000, -30}});
  TDetector d(DetectorSettings());
  const TComplexFArray block = SimBlock(*sim, d.SamplesNeeded());
  PublishPanoHops(OneHop(), 2048000);
  const int64_t before = SpecFrameSequence();
  TChannelHitArray hits;
  const double floorDb = d.Process(nullptr, block.data(), kCentre, kLowest, kHighest, "monitor", hits, 0);
  ASSERT_EQ(hits.size(), 1u);
  EXPECT_EQ(hits[0].ChannelHz, 145100000);
  // Noise of -40 dB in each of I and Q: -37 dB in all, spread over 4096 bins.
  EXPECT_NEAR(floorDb, -37.0 - 10 * std::log10(4096.0), 1.5);

  EXPECT_EQ(SpecFrameSequence(), before + 1);
  TSpecFrame f;
  ASSERT_TRUE(GetSpecFrame(f, 0, 0, 0));
  EXPECT_EQ(f.Label, "monitor");
  EXPECT_EQ(f.CenterHz, kCentre);
  EXPECT_EQ(f.SampleRate, 2048000.0);
  EXPECT_EQ(f.NoiseDb, floorDb);
  EXPECT_EQ(f.Bins, d.SpectrumDb());
  ASSERT_EQ(f.Hits.size(), 1u);
  EXPECT_EQ(f.Hits[0].PeakHz, hits[0].PeakHz);

  TSingleArray bins;
  TPanoHopArray hops;
  double noise = 0;
  ASSERT_TRUE(GetPanorama(bins, hops, noise, 1740, 0, 0));  // 1 kHz per point
  EXPECT_TRUE(hops[0].Valid);
  EXPECT_EQ(noise, floorDb);
  EXPECT_GT(bins[870 + 100], static_cast<float>(floorDb + 40));  // the carrier, 100 kHz above the centre
}

TEST(DetectorPublish, NoHopIndexLeavesThePanoramaAlone) {
  auto sim = Sim({});
  TDetector d(DetectorSettings());
  const TComplexFArray block = SimBlock(*sim, d.SamplesNeeded());
  PublishPanoHops(OneHop(), 2048000);
  TChannelHitArray hits;
  d.Process(nullptr, block.data(), kCentre, kLowest, kHighest, "live", hits, -1);
  EXPECT_FALSE(AnyPanoSlotValid());
  d.Process(nullptr, block.data(), kCentre, kLowest, kHighest, "live", hits, 1);  // beyond the plan
  EXPECT_FALSE(AnyPanoSlotValid());
  TSpecFrame f;
  ASSERT_TRUE(GetSpecFrame(f, 0, 0, 0));
  EXPECT_EQ(f.Label, "live");
  EXPECT_TRUE(hits.empty());
}

TEST(DetectorPublish, HitsCollectAcrossCallsWithinTheLimits) {
  TDetector d(DetectorSettings());
  TChannelHitArray hits;
  auto a = Sim({{145100000, -30}, {144500000, -30}});
  TComplexFArray block = SimBlock(*a, d.SamplesNeeded());
  // Only hits within 144.9 .. 146 MHz are kept.
  d.Process(nullptr, block.data(), kCentre, 144900000, 146000000, "scan", hits, -1);
  ASSERT_EQ(hits.size(), 1u);
  auto b = Sim({{145300000, -30}});
  block = SimBlock(*b, d.SamplesNeeded());
  d.Process(nullptr, block.data(), kCentre, 144900000, 146000000, "scan", hits, -1);
  ASSERT_EQ(hits.size(), 2u);
  EXPECT_EQ(hits[0].ChannelHz, 145100000);
  EXPECT_EQ(hits[1].ChannelHz, 145300000);
}

// ---------------------------------------------------------------------------------------------
// Blocks read while the gain control steps

TEST(DetectorGain, HitsFirstSeenWhileTheGainMovesAreDroppedButTheFrameIsPublished) {
  plat::TManualClock clock;
  // Quiet at the gain control's first 40 dB: it steps up at once.
  auto sim = Sim({{145100000, -75}, {145300000, -75}}, -90);
  TDetector d(DetectorSettings());
  TChannelHitArray hits;

  // 145.1 MHz is already known, weaker than it is now.
  TChannelHit known{};
  known.ChannelHz = 145100000;
  known.PeakHz = 145100000;
  known.SnrDb = 13.0;
  known.PowerDb = -70.0;
  known.NoiseDb = -83.0;
  hits.push_back(known);

  // An automatic gain on a receiver without its own: the first block makes it step, and it is not
  // settled until 300 ms after the step.
  TReceiver rx(sim, clock);
  ASSERT_TRUE(rx.Configure(2048000, -1, 0, d.SamplesNeeded())) << rx.LastError();
  ASSERT_TRUE(rx.Retune(kCentre, 0));
  TComplexF* samples = nullptr;
  int32_t count = 0;
  ASSERT_TRUE(rx.ReadBlock(samples, count)) << rx.LastError();
  ASSERT_FALSE(rx.AgcSettled());

  d.Process(&rx, samples, kCentre, kLowest, kHighest, "scan", hits, -1);
  ASSERT_EQ(hits.size(), 1u);  // 145.3 MHz was new: dropped
  EXPECT_EQ(hits[0].ChannelHz, 145100000);
  EXPECT_GT(hits[0].SnrDb, 13.0);  // the update of the known one stays
  TSpecFrame f;
  ASSERT_TRUE(GetSpecFrame(f, 0, 0, 0));
  EXPECT_EQ(f.Hits.size(), 1u);
  EXPECT_EQ(f.Bins, d.SpectrumDb());

  // Once the gain has settled, the same block's hits are kept.
  for (int round = 0; round < 20 && !rx.AgcSettled(); ++round) {
    clock.Advance(320);
    ASSERT_TRUE(rx.ReadBlock(samples, count));
  }
  ASSERT_TRUE(rx.AgcSettled());
  d.Process(&rx, samples, kCentre, kLowest, kHighest, "scan", hits, -1);
  EXPECT_EQ(hits.size(), 2u);
}

}  // namespace
