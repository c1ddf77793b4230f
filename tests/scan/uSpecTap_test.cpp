// Spectrum tap: the crop and peak-hold arithmetic of the frame, the panorama's resampling, ages and
// bounds, the state before the first publication (in a fresh process), and readers that never see a
// half-written frame or slot while a publisher runs (run this program under TSan too).
#include "uSpecTap.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <limits>

#include "ScanTestChild.h"
#include "pThread.h"

namespace {

constexpr int64_t kCentre = 145000000;
constexpr double kRate = 2048000.0;
constexpr int64_t kBase = kCentre - 1024000;  // low edge of bin 0 of the frames below

// Distinct bin values so that a test can tell which stored bins were returned: bin k reads k / 10.
TSingleArray RampBins(int n) {
  TSingleArray b(static_cast<size_t>(n));
  for (int k = 0; k < n; ++k) b[static_cast<size_t>(k)] = static_cast<float>(k) / 10.0f;
  return b;
}

void PublishRamp(int n = 4096) {
  TSingleArray b = RampBins(n);
  PublishSpecFrame(kCentre, kRate, -80.0, b.data(), n, "scan", {});
}

TChannelHit Hit(int64_t channel, double snr) {
  TChannelHit h{};
  h.ChannelHz = channel;
  h.PeakHz = channel + 100;
  h.SnrDb = snr;
  h.PowerDb = -40.0;
  h.NoiseDb = -40.0 - snr;
  h.HopCenterHz = kCentre;
  return h;
}

// ---------------------------------------------------------------------------------------------
// The latest frame

TEST(SpecTapFrame, PublicationsCountUpAndCarryTheirFields) {
  const int64_t before = SpecFrameSequence();
  TSingleArray bins = RampBins(1024);
  PublishSpecFrame(100000000, 1024000.0, -90.5, bins.data(), 1024, "live", {Hit(100012500, 20.0)});
  PublishSpecFrame(kCentre, kRate, -80.25, bins.data(), 1024, "monitor", {Hit(kCentre, 30.0)});
  EXPECT_EQ(SpecFrameSequence(), before + 2);

  TSpecFrame f;
  ASSERT_TRUE(GetSpecFrame(f, 0, 0, 0));
  EXPECT_EQ(f.Seq, before + 2);
  EXPECT_EQ(f.CenterHz, kCentre);
  EXPECT_EQ(f.SampleRate, kRate);
  EXPECT_EQ(f.NoiseDb, -80.25);
  EXPECT_EQ(f.Label, "monitor");
  ASSERT_EQ(f.Hits.size(), 1u);
  EXPECT_EQ(f.Hits[0].ChannelHz, kCentre);
  EXPECT_EQ(f.Hits[0].SnrDb, 30.0);
  EXPECT_EQ(f.Bins, bins);
  EXPECT_GT(f.Time, 40000.0);  // a local date-time after 2009, in days since 1899-12-30
}

TEST(SpecTapFrame, MissingOrEmptyBinsPublishNothing) {
  PublishRamp();
  const int64_t before = SpecFrameSequence();
  float one = 1.0f;
  PublishSpecFrame(kCentre, kRate, -80.0, nullptr, 16, "scan", {});
  PublishSpecFrame(kCentre, kRate, -80.0, &one, 0, "scan", {});
  PublishSpecFrame(kCentre, kRate, -80.0, &one, -5, "scan", {});
  EXPECT_EQ(SpecFrameSequence(), before);
  TSpecFrame f;
  ASSERT_TRUE(GetSpecFrame(f, 0, 0, 0));
  EXPECT_EQ(f.Bins.size(), 4096u);
}

TEST(SpecTapFrame, WholeFrameGivesItsEdges) {
  PublishRamp();
  TSpecFrame f;
  ASSERT_TRUE(GetSpecFrame(f, 0, 0, 0));
  EXPECT_EQ(f.Bins, RampBins(4096));
  EXPECT_EQ(f.LoHz, kBase);
  EXPECT_EQ(f.HiHz, kBase + 2048000);
}

TEST(SpecTapFrame, CropToHalfAMegahertzGivesThousandBins) {
  PublishRamp();
  TSpecFrame f;
  ASSERT_TRUE(GetSpecFrame(f, 0, 144500000, 145000000));
  ASSERT_EQ(f.Bins.size(), 1000u);
  EXPECT_EQ(f.Bins.front(), 104.8f);  // bin 1048
  EXPECT_EQ(f.Bins.back(), 204.7f);   // bin 2047
  EXPECT_EQ(f.LoHz, 144500000);
  EXPECT_EQ(f.HiHz, 145000000);
}

TEST(SpecTapFrame, NarrowWindowIsWidenedByFourBinsEachSide) {
  PublishRamp();
  TSpecFrame f;
  // 1 kHz is two bins (2048 .. 2050); widened to 2044 .. 2054.
  ASSERT_TRUE(GetSpecFrame(f, 0, kCentre, kCentre + 1000));
  ASSERT_EQ(f.Bins.size(), 10u);
  EXPECT_EQ(f.Bins.front(), 204.4f);
  EXPECT_EQ(f.LoHz, kBase + 2044 * 500);
  EXPECT_EQ(f.HiHz, kBase + 2054 * 500);

  // At the low edge of the frame the widening stops at bin 0.
  ASSERT_TRUE(GetSpecFrame(f, 0, kBase, kBase + 1000));
  ASSERT_EQ(f.Bins.size(), 6u);
  EXPECT_EQ(f.LoHz, kBase);
}

TEST(SpecTapFrame, WindowOutsideOrInvertedGivesTheWholeFrame) {
  PublishRamp();
  TSpecFrame f;
  ASSERT_TRUE(GetSpecFrame(f, 0, 150000000, 151000000));
  EXPECT_EQ(f.Bins.size(), 4096u);
  EXPECT_EQ(f.LoHz, kBase);
  ASSERT_TRUE(GetSpecFrame(f, 0, 145500000, 144500000));
  EXPECT_EQ(f.Bins.size(), 4096u);
  // A window that touches the frame only at its top edge overlaps nothing: the whole frame again.
  ASSERT_TRUE(GetSpecFrame(f, 0, kBase + 2048000, kBase + 3000000));
  EXPECT_EQ(f.Bins.size(), 4096u);
}

TEST(SpecTapFrame, PeakHoldKeepsTheLargestOfEachGroup) {
  // A spike in every group of 8 at a different place: a decimating reduction would lose most.
  TSingleArray b(4096, -100.0f);
  for (int i = 0; i < 512; ++i) b[static_cast<size_t>(i * 8 + i % 8)] = static_cast<float>(-50 + i % 7);
  PublishSpecFrame(kCentre, kRate, -100.0, b.data(), 4096, "scan", {});
  TSpecFrame f;
  ASSERT_TRUE(GetSpecFrame(f, 512, 0, 0));
  ASSERT_EQ(f.Bins.size(), 512u);
  for (int i = 0; i < 512; ++i)
    EXPECT_EQ(f.Bins[static_cast<size_t>(i)], static_cast<float>(-50 + i % 7)) << i;
  EXPECT_EQ(f.LoHz, kBase);
  EXPECT_EQ(f.HiHz, kBase + 2048000);
}

TEST(SpecTapFrame, UnevenReductionCoversEveryBinOnce) {
  PublishRamp();
  TSpecFrame f;
  // 1000 cropped bins into 300 points: groups of 3 or 4 (i*1000 div 300), each read at its top bin.
  ASSERT_TRUE(GetSpecFrame(f, 300, 144500000, 145000000));
  ASSERT_EQ(f.Bins.size(), 300u);
  for (int i = 0; i < 300; ++i) {
    const int e = (i + 1) * 1000 / 300 + 1048;
    EXPECT_EQ(f.Bins[static_cast<size_t>(i)], static_cast<float>(e - 1) / 10.0f) << i;
  }
  // As many points as bins, or more: the bins unreduced.
  ASSERT_TRUE(GetSpecFrame(f, 1000, 144500000, 145000000));
  EXPECT_EQ(f.Bins.size(), 1000u);
  ASSERT_TRUE(GetSpecFrame(f, 5000, 144500000, 145000000));
  EXPECT_EQ(f.Bins.size(), 1000u);
}

TEST(SpecTapFrame, ReductionToMorePointsThanHalfTheBins) {
  // 10 bins into 7 points: groups 0, 1, 2-3, 4, 5-6, 7, 8-9.
  TSingleArray b = RampBins(10);
  PublishSpecFrame(kCentre, 10.0, -100.0, b.data(), 10, "scan", {});
  TSpecFrame f;
  ASSERT_TRUE(GetSpecFrame(f, 7, 0, 0));
  const std::vector<float> want = {0.0f, 0.1f, 0.3f, 0.4f, 0.6f, 0.7f, 0.9f};
  ASSERT_EQ(f.Bins.size(), want.size());
  for (size_t i = 0; i < want.size(); ++i) EXPECT_FLOAT_EQ(f.Bins[i], want[i]) << i;
}

// ---------------------------------------------------------------------------------------------
// The panorama

TScanHopArray TwoHops() {
  // The default plan of 144..146 MHz at 2048000 S/s: overlapping in the middle.
  TScanHopArray hops(2);
  hops[0] = {144500000, 144000000, 145370400, 1370400};
  hops[1] = {145500000, 144629600, 146000000, 1370400};
  return hops;
}

TEST(SpecTapPanorama, PlanWithoutDataReadsNoDataEverywhere) {
  PublishPanoHops(TwoHops(), kRate);
  EXPECT_FALSE(AnyPanoSlotValid());
  TSingleArray bins;
  TPanoHopArray hops;
  double noise = 0;
  ASSERT_TRUE(GetPanorama(bins, hops, noise, 3, 0, 0));
  EXPECT_EQ(bins.size(), 16u);  // fewer than 16 points are raised to 16
  for (float v : bins) EXPECT_EQ(v, -400.0f);
  ASSERT_EQ(hops.size(), 2u);
  for (const TPanoHop& h : hops) {
    EXPECT_EQ(h.AgeMs, -1);
    EXPECT_FALSE(h.Valid);
  }
  EXPECT_EQ(hops[1].LoHz, 144629600);
  EXPECT_EQ(hops[1].HiHz, 146000000);
  EXPECT_EQ(hops[1].CenterHz, 145500000);
  EXPECT_EQ(noise, -100.0);
}

TEST(SpecTapPanorama, PointsAreCappedAtTheSpectrumLimit) {
  PublishPanoHops(TwoHops(), kRate);
  TSingleArray bins;
  TPanoHopArray hops;
  double noise = 0;
  ASSERT_TRUE(GetPanorama(bins, hops, noise, 1000000, 0, 0));
  EXPECT_EQ(bins.size(), 8192u);
  ASSERT_TRUE(GetPanorama(bins, hops, noise, std::numeric_limits<int32_t>::max(), 0, 0));
  EXPECT_EQ(bins.size(), 8192u);
}

TEST(SpecTapPanorama, ResamplesTheSlotsAndTheLowerHopWinsTheOverlap) {
  plat::TManualClock clock(5000);
  SetSpecTapClock(&clock);
  PublishPanoHops(TwoHops(), kRate);
  TSingleArray lower(2048, -60.0f), upper(2048, -70.0f);
  lower[1800] = -20.0f;  // 145276000 .. 145277000 (bin 0 of hop 0 begins at 143476000, 1 kHz per bin)
  PublishPanoSlot(0, lower.data(), 2048, -90.0);
  clock.Advance(250);
  PublishPanoSlot(1, upper.data(), 2048, -94.0);
  clock.Advance(50);
  EXPECT_TRUE(AnyPanoSlotValid());

  TSingleArray bins;
  TPanoHopArray hops;
  double noise = 0;
  ASSERT_TRUE(GetPanorama(bins, hops, noise, 2000, 0, 0));  // 1 kHz per point over 144..146 MHz
  ASSERT_EQ(bins.size(), 2000u);
  EXPECT_EQ(hops[0].AgeMs, 300);
  EXPECT_EQ(hops[1].AgeMs, 50);
  EXPECT_TRUE(hops[0].Valid && hops[1].Valid);
  EXPECT_DOUBLE_EQ(noise, -92.0);
  EXPECT_EQ(bins[1276], -20.0f);  // 145276000 .. 145277000 holds bin 1800 of the lower hop
  EXPECT_EQ(bins[1000], -60.0f);  // the overlap (144629600 .. 145370400) reads the lower hop
  EXPECT_EQ(bins[1369], -60.0f);  // centre 145369500: still in the lower hop
  EXPECT_EQ(bins[1370], -70.0f);  // centre 145370500, beyond the lower hop's top edge: the upper hop
  EXPECT_EQ(bins[1999], -70.0f);
  SetSpecTapClock(nullptr);
}

TEST(SpecTapPanorama, WindowIsCutToThePlan) {
  PublishPanoHops(TwoHops(), kRate);
  TSingleArray slot(2048);
  for (int k = 0; k < 2048; ++k) slot[static_cast<size_t>(k)] = static_cast<float>(-k) / 100.0f;
  PublishPanoSlot(0, slot.data(), 2048, -90.0);
  TSingleArray bins;
  TPanoHopArray hops;
  double noise = 0;
  // 140..144.016 MHz is cut to 144.000..144.016 MHz: 16 points of 1 kHz; hop 0's bin 0 begins at
  // 143.476 MHz with 1 kHz per bin, so point j reads bin 524 + j.
  ASSERT_TRUE(GetPanorama(bins, hops, noise, 16, 140000000, 144016000));
  ASSERT_EQ(bins.size(), 16u);
  for (int j = 0; j < 16; ++j)
    EXPECT_EQ(bins[static_cast<size_t>(j)], slot[static_cast<size_t>(524 + j)]) << j;
  EXPECT_EQ(hops.size(), 2u);  // every hop is listed whatever the window
  // A window wholly outside the plan leaves nothing.
  EXPECT_FALSE(GetPanorama(bins, hops, noise, 16, 150000000, 151000000));
  EXPECT_TRUE(bins.empty());
  EXPECT_EQ(noise, -100.0);
}

TEST(SpecTapPanorama, SlotOutsideThePlanOrWithoutBinsIsIgnored) {
  PublishPanoHops(TwoHops(), kRate);
  float v = -5.0f;
  PublishPanoSlot(2, &v, 1, -90.0);
  PublishPanoSlot(-1, &v, 1, -90.0);
  PublishPanoSlot(0, nullptr, 1, -90.0);
  PublishPanoSlot(0, &v, 0, -90.0);
  EXPECT_FALSE(AnyPanoSlotValid());
}

TEST(SpecTapPanorama, NewPlanClearsTheOldPanorama) {
  PublishPanoHops(TwoHops(), kRate);
  TSingleArray slot(2048, -50.0f);
  PublishPanoSlot(0, slot.data(), 2048, -90.0);
  ASSERT_TRUE(AnyPanoSlotValid());
  PublishPanoHops(TwoHops(), kRate);
  EXPECT_FALSE(AnyPanoSlotValid());
  // A plan with a rate that is not above 0 cannot be read.
  PublishPanoHops(TwoHops(), 0.0);
  TSingleArray bins;
  TPanoHopArray hops;
  double noise = 0;
  EXPECT_FALSE(GetPanorama(bins, hops, noise, 64, 0, 0));
}

TEST(SpecTapPanorama, AgeSaturatesInsteadOfWrapping) {
  plat::TManualClock clock(1000);
  SetSpecTapClock(&clock);
  PublishPanoHops(TwoHops(), kRate);
  TSingleArray slot(2048, -50.0f);
  PublishPanoSlot(0, slot.data(), 2048, -90.0);
  clock.Advance(uint64_t{1} << 32);  // 49.7 days: as Int32 this would wrap to 0
  TSingleArray bins;
  TPanoHopArray hops;
  double noise = 0;
  ASSERT_TRUE(GetPanorama(bins, hops, noise, 16, 0, 0));
  EXPECT_EQ(hops[0].AgeMs, std::numeric_limits<int32_t>::max());
  EXPECT_EQ(hops[1].AgeMs, -1);
  SetSpecTapClock(nullptr);
}

// ---------------------------------------------------------------------------------------------
// A fresh process: nothing published yet

TEST(SpecTapFresh, DISABLED_NothingPublishedYet) {
  TSpecFrame f;
  f.CenterHz = 5;
  f.Label = "stale";
  f.Bins.assign(3, 1.0f);
  EXPECT_FALSE(GetSpecFrame(f, 0, 0, 0));
  EXPECT_EQ(f.CenterHz, 0);
  EXPECT_TRUE(f.Label.empty());
  EXPECT_TRUE(f.Bins.empty());
  EXPECT_EQ(SpecFrameSequence(), 0);
  EXPECT_FALSE(AnyPanoSlotValid());
  TSingleArray bins(5);
  TPanoHopArray hops(2);
  double noise = 0;
  EXPECT_FALSE(GetPanorama(bins, hops, noise, 64, 0, 0));
  EXPECT_TRUE(bins.empty());
  EXPECT_TRUE(hops.empty());
  EXPECT_EQ(noise, -100.0);
}

TEST(SpecTapFresh, BeforeTheFirstPublication) {
  std::string output;
  EXPECT_TRUE(scantest::RunChildCase("SpecTapFresh.DISABLED_NothingPublishedYet", {}, output)) << output;
}

// ---------------------------------------------------------------------------------------------
// Publishers and readers on different threads

TEST(SpecTapThreads, ReadersNeverSeeAHalfWrittenFrameOrSlot) {
  PublishPanoHops(TwoHops(), kRate);
  TSingleArray first(4096, 0.0f);
  PublishSpecFrame(kCentre, kRate, 0.0, first.data(), 4096, "scan", {Hit(kCentre, 0.0)});
  std::atomic<bool> done{false};
  plat::TThread publisher;
  ASSERT_TRUE(publisher.Start([&] {
    // Every frame and slot holds one value in all its bins, and its noise equals that value; the
    // length changes too, so the storage is re-made while readers copy.
    TSingleArray b(4096);
    for (int i = 1; i <= 3000; ++i) {
      const float v = static_cast<float>(-i % 200);
      const int n = (i % 3 == 0) ? 2048 : 4096;
      std::fill(b.begin(), b.begin() + n, v);
      PublishSpecFrame(kCentre, kRate, v, b.data(), n, "scan", {Hit(kCentre, v)});
      PublishPanoSlot(i % 2, b.data(), n, v);
    }
    done = true;
  }));
  int reads = 0;
  bool torn = false;
  while (!done || reads < 100) {
    TSpecFrame f;
    if (GetSpecFrame(f, 256, 144500000, 145500000)) {
      for (float v : f.Bins) torn |= v != static_cast<float>(f.NoiseDb);
      torn |= f.Hits.size() != 1 || f.Hits[0].SnrDb != f.NoiseDb;
    }
    TSingleArray bins;
    TPanoHopArray hops;
    double noise = 0;
    if (GetPanorama(bins, hops, noise, 512, 0, 0)) torn |= bins.size() != 512u || hops.size() != 2u;
    ++reads;
  }
  publisher.Join();
  EXPECT_FALSE(torn);
}

}  // namespace
