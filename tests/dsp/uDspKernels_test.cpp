#include "uDspKernels.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>

namespace {

constexpr uint32_t kOsxsave = 1u << 27, kAvx = 1u << 28, kAvx2 = 1u << 5;

TCpuFeatures Features(uint32_t maxLeaf, uint32_t ecx, bool haveXcr0, uint64_t xcr0, bool haveLeaf7,
                      uint32_t ebx7) {
  TCpuFeatures f;
  f.MaxLeaf = maxLeaf;
  f.Leaf1Ecx = ecx;
  f.HaveXcr0 = haveXcr0;
  f.Xcr0 = xcr0;
  f.HaveLeaf7 = haveLeaf7;
  f.Leaf7Ebx = ebx7;
  return f;
}

TEST(KernelLevel, NeedsCpuFlagsOsxsaveAndOsEnabledState) {
  EXPECT_EQ(KernelLevelFromFeatures(TCpuFeatures{}), 0);
  EXPECT_EQ(KernelLevelFromFeatures(Features(13, kAvx | kOsxsave, true, 0x7, true, kAvx2)), 2);
  EXPECT_EQ(KernelLevelFromFeatures(Features(13, kAvx | kOsxsave, true, 0x7, true, 0)), 1);
  // The OS did not enable the YMM state: AVX code would fault, so nothing is usable.
  EXPECT_EQ(KernelLevelFromFeatures(Features(13, kAvx | kOsxsave, true, 0x3, true, kAvx2)), 0);
  // Without OSXSAVE the probe never runs XGETBV.
  EXPECT_EQ(KernelLevelFromFeatures(Features(13, kAvx, false, 0, true, kAvx2)), 0);
  EXPECT_EQ(KernelLevelFromFeatures(Features(13, kOsxsave, true, 0x7, true, kAvx2)), 0);
  // A processor whose highest leaf is below 7 has no AVX2, whatever stale bits say.
  EXPECT_EQ(KernelLevelFromFeatures(Features(6, kAvx | kOsxsave, true, 0x7, false, kAvx2)), 1);
}

TEST(KernelLevel, TheProbeAsksOnlyWhatItMay) {
  const TCpuFeatures f = ReadCpuFeatures();
  if (f.HaveXcr0) {
    EXPECT_NE(f.Leaf1Ecx & kOsxsave, 0u);
  }
  if (f.HaveLeaf7) {
    EXPECT_GE(f.MaxLeaf, 7u);
  }
  EXPECT_EQ(KernelLevel(), KernelLevelFromFeatures(f));  // recorded at start-up
}

TEST(KernelDescription, TextsPerLevel) {
  EXPECT_EQ(KernelDescriptionFor(0), "scalar kernels");
  EXPECT_EQ(KernelDescriptionFor(1), "scalar kernels (CPU has AVX)");
  EXPECT_EQ(KernelDescriptionFor(2), "scalar kernels (CPU has AVX2)");
  EXPECT_EQ(KernelDescription(), KernelDescriptionFor(KernelLevel()));
}

TEST(DcBlock, AlphaFromRateAndCornerWithBounds) {
  EXPECT_NEAR(TDcBlock(2048000.0, 500.0).Alpha, 0.001534, 1e-6);
  EXPECT_EQ(TDcBlock(1000.0, 500.0).Alpha, 0.5);                // 3.14 cut down
  EXPECT_EQ(TDcBlock(0.0, 500.0).Alpha, 0.5);                   // rate taken as 1
  EXPECT_NEAR(TDcBlock(2048000.0, 0.0).Alpha, 0.001534, 1e-6);  // corner taken as 500
  EXPECT_EQ(TDcBlock(1e12, 500.0).Alpha, 1e-7);                 // raised to the floor
  EXPECT_FALSE(TDcBlock(2048000.0, 500.0).Primed);
}

TEST(DcBlock, ConstantBlockComesOutNearZeroFromTheFirstSample) {
  TDcBlock dc(2048000.0, 500.0);
  TComplexFArray x(1000, TComplexF{0.3f, -0.2f});
  dc.Process(x.data(), int(x.size()));
  EXPECT_TRUE(dc.Primed);
  for (const auto& s : x) {
    EXPECT_NEAR(s.Re, 0.0f, 1e-6f);
    EXPECT_NEAR(s.Im, 0.0f, 1e-6f);
  }
}

TEST(DcBlock, SeedsFromAtMostTheFirst4096Samples) {
  TDcBlock dc(1e9, 500.0);  // slow mean: the seed dominates
  TComplexFArray x(6000, TComplexF{0.25f, 0.25f});
  for (size_t k = 4096; k < x.size(); ++k) x[k] = {1.0f, -1.0f};
  dc.Process(x.data(), int(x.size()));
  EXPECT_NEAR(x[0].Re, 0.0f, 1e-6f);
  EXPECT_NEAR(x[4096].Re, 0.75f, 1e-4f);
  EXPECT_NEAR(x[4096].Im, -1.25f, 1e-4f);
}

TEST(DcBlock, RemovesAnOffsetUnderASignalAndResetReseeds) {
  TDcBlock dc(48000.0, 500.0);
  TComplexFArray x(48000);
  for (size_t k = 0; k < x.size(); ++k) {
    const double ph = 2.0 * 3.14159265358979 * 3000.0 * double(k) / 48000.0;
    x[k] = {float(0.1 + 0.5 * std::cos(ph)), float(-0.05 + 0.5 * std::sin(ph))};
  }
  dc.Process(x.data(), int(x.size()));
  double meanI = 0, meanQ = 0;
  for (size_t k = 24000; k < 48000; ++k) {
    meanI += x[k].Re;
    meanQ += x[k].Im;
  }
  EXPECT_NEAR(meanI / 24000, 0.0, 2e-3);
  EXPECT_NEAR(meanQ / 24000, 0.0, 2e-3);
  EXPECT_NEAR(dc.MeanI, 0.1, 0.02);

  dc.Reset();
  EXPECT_FALSE(dc.Primed);
  EXPECT_EQ(dc.MeanI, 0.0);
  TComplexFArray y(10, TComplexF{-0.5f, 0.5f});
  dc.Process(y.data(), 10);
  EXPECT_NEAR(y[0].Re, 0.0f, 1e-6f);
}

TEST(DcBlock, FeedingInPiecesAfterTheSeedBlockMatchesFeedingWhole) {
  TComplexFArray x(12000);
  uint32_t s = 17;
  for (auto& v : x) {
    s = s * 1664525u + 1013904223u;
    v = {float(int(s >> 24) - 100) / 128.0f, float(int((s >> 16) & 255) - 120) / 128.0f};
  }
  TComplexFArray whole = x, pieces = x;
  TDcBlock a(2048000.0, 500.0), b(2048000.0, 500.0);
  a.Process(whole.data(), int(whole.size()));
  b.Process(pieces.data(), 4096);  // the seed sees the same 4096 samples
  b.Process(pieces.data() + 4096, 1);
  b.Process(pieces.data() + 4097, 3000);
  b.Process(pieces.data() + 7097, int(x.size()) - 7097);
  EXPECT_EQ(std::memcmp(whole.data(), pieces.data(), x.size() * sizeof(TComplexF)), 0);
}

TEST(DcBlock, NullOrEmptyBlocksChangeNothing) {
  TDcBlock dc(2048000.0, 500.0);
  dc.Process(nullptr, 100);
  TComplexF one{1.0f, 1.0f};
  dc.Process(&one, 0);
  dc.Process(&one, -5);
  EXPECT_FALSE(dc.Primed);
  EXPECT_EQ(one.Re, 1.0f);
}

}  // namespace
