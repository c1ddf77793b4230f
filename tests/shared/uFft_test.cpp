#include "uFft.h"

#include <gtest/gtest.h>

#include <cmath>
#include <complex>
#include <cstdint>
#include <cstring>
#include <vector>

namespace {

constexpr double kPi = 3.14159265358979323846;

// Deterministic pseudo-random samples in -1..1 (no library generator: same on every build).
TComplexFArray RandomBlock(int n, uint32_t seed) {
  TComplexFArray x(n);
  uint32_t s = seed;
  auto next = [&s]() {
    s = s * 1664525u + 1013904223u;
    return static_cast<float>(static_cast<int32_t>(s >> 8) - (1 << 23)) / float(1 << 23);
  };
  for (auto& v : x) {
    v.Re = next();
    v.Im = next();
  }
  return x;
}

// Forward DFT in double: X[k] = sum x[n] exp(-2 pi i n k / N).
std::complex<double> ReferenceBin(const TComplexFArray& x, int k) {
  const int n = int(x.size());
  std::complex<double> sum = 0.0;
  for (int j = 0; j < n; ++j) {
    const double angle = -2.0 * kPi * double((int64_t(j) * k) % n) / n;
    sum += std::complex<double>(x[j].Re, x[j].Im) * std::complex<double>(std::cos(angle), std::sin(angle));
  }
  return sum;
}

TComplexFArray Tone(int n, double bins, float amplitude) {
  TComplexFArray x(n);
  for (int j = 0; j < n; ++j) {
    const double angle = 2.0 * kPi * bins * j / n;
    x[j] = {float(amplitude * std::cos(angle)), float(amplitude * std::sin(angle))};
  }
  return x;
}

bool SameBits(const TComplexFArray& a, const TComplexFArray& b) {
  return a.size() == b.size() && std::memcmp(a.data(), b.data(), a.size() * sizeof(TComplexF)) == 0;
}

TEST(PowersOfTwo, IsPowerOfTwoAndSaturatingNext) {
  EXPECT_TRUE(IsPowerOfTwo(1));
  EXPECT_TRUE(IsPowerOfTwo(4096));
  EXPECT_TRUE(IsPowerOfTwo(int32_t(1) << 30));
  EXPECT_FALSE(IsPowerOfTwo(0));
  EXPECT_FALSE(IsPowerOfTwo(-4096));
  EXPECT_FALSE(IsPowerOfTwo(3000));
  EXPECT_FALSE(IsPowerOfTwo(INT32_MIN));
  EXPECT_EQ(NextPowerOfTwo(-7), 1);
  EXPECT_EQ(NextPowerOfTwo(0), 1);
  EXPECT_EQ(NextPowerOfTwo(1), 1);
  EXPECT_EQ(NextPowerOfTwo(3), 4);
  EXPECT_EQ(NextPowerOfTwo(3000), 4096);
  EXPECT_EQ(NextPowerOfTwo(4096), 4096);
  EXPECT_EQ(NextPowerOfTwo(int32_t(1) << 30), int32_t(1) << 30);
  EXPECT_EQ(NextPowerOfTwo((int32_t(1) << 30) + 1), int32_t(1) << 30);
  EXPECT_EQ(NextPowerOfTwo(INT32_MAX), int32_t(1) << 30);
}

TEST(PlanTables, SizesAreRaisedToPowersOfTwoOfAtLeastEight) {
  EXPECT_EQ(TFftPlan(4096).Size, 4096);
  EXPECT_EQ(TFftPlan(4096).Bits, 12);
  EXPECT_EQ(TFftPlan(3000).Size, 4096);
  EXPECT_EQ(TFftPlan(5).Size, 8);
  EXPECT_EQ(TFftPlan(5).Bits, 3);
  EXPECT_EQ(TFftPlan(0).Size, 8);
  EXPECT_EQ(TFftPlan(-100).Size, 8);
}

TEST(PlanTables, BitReverseTwiddlesAndWindow) {
  TFftPlan p8(8);
  const std::vector<int32_t> rev8 = {0, 4, 2, 6, 1, 5, 3, 7};
  EXPECT_EQ(p8.BitReverse, rev8);

  TFftPlan p(64);
  ASSERT_EQ(p.TwiddleCos.size(), 64u);
  ASSERT_EQ(p.TwiddleSin.size(), 64u);
  for (int a = 1; a < 64; a *= 2) {
    for (int k = 0; k < a; ++k) {
      EXPECT_EQ(p.TwiddleCos[a - 1 + k], float(std::cos(-kPi * k / a))) << a << " " << k;
      EXPECT_EQ(p.TwiddleSin[a - 1 + k], float(std::sin(-kPi * k / a))) << a << " " << k;
    }
  }
  for (int n : {8, 256, 4096, 65536}) {
    TFftPlan q(n);
    EXPECT_NEAR(q.WindowPower, 0.375, 1e-7) << n;
    EXPECT_EQ(q.Window[0], 0.0f);
    EXPECT_EQ(q.Window[n / 2], 1.0f);
    EXPECT_EQ(q.Window[n / 4], q.Window[3 * n / 4]);  // periodic: symmetric about N/2, not (N-1)/2
  }
}

TEST(Transform, ConstantBlockGoesToBinZeroAndShiftMovesItToTheMiddle) {
  for (int n : {8, 16, 1024, 2048}) {
    TFftPlan p(n);
    TComplexFArray x(n, TComplexF{1.0f, 0.0f});
    p.Execute(x.data());
    EXPECT_EQ(x[0].Re, float(n));
    EXPECT_EQ(x[0].Im, 0.0f);
    for (int k = 1; k < n; ++k) {
      EXPECT_EQ(x[k].Re, 0.0f) << n << " " << k;
      EXPECT_EQ(x[k].Im, 0.0f) << n << " " << k;
    }
    p.Shift(x.data());
    EXPECT_EQ(x[n / 2].Re, float(n));
    EXPECT_EQ(x[0].Re, 0.0f);
  }
}

TEST(Transform, EqualsDoublePrecisionDftForEvenAndOddPowers) {
  for (int n : {8, 16, 32, 64, 128, 512, 1024, 2048}) {
    TFftPlan p(n);
    TComplexFArray x = RandomBlock(n, 1234u + n);
    TComplexFArray y = x;
    p.Execute(y.data());
    double worst = 0.0;
    for (int k = 0; k < n; ++k) {
      const std::complex<double> ref = ReferenceBin(x, k);
      worst = std::max(worst, std::abs(std::complex<double>(y[k].Re, y[k].Im) - ref));
    }
    // Random input of unit size: bins have magnitude ~sqrt(N); Single rounding over log2(N) stages.
    EXPECT_LT(worst, 2e-7 * std::sqrt(double(n)) * p.Bits * 4) << n;
  }
}

TEST(Transform, LargePlansMatchTheDftOnSampledBins) {
  for (int n : {8192, 65536}) {
    TFftPlan p(n);
    TComplexFArray x = RandomBlock(n, 99u);
    TComplexFArray y = x;
    p.Execute(y.data());
    for (int k = 0; k < n; k += n / 32 + 7) {
      const std::complex<double> ref = ReferenceBin(x, k);
      EXPECT_LT(std::abs(std::complex<double>(y[k].Re, y[k].Im) - ref), 2e-7 * std::sqrt(double(n)) * 64)
          << n << " bin " << k;
    }
  }
}

TEST(Transform, FastPathIsBitIdenticalToItsPortableModelAndCloseToRadix2) {
  for (int n : {8, 16, 32, 128, 4096, 8192, 65536}) {
    TFftPlan p(n);
    const TComplexFArray x = RandomBlock(n, 7u * n);
    TComplexFArray fast = x, portable = x, sse2 = x, radix2 = x;
    p.Execute(fast.data());
    p.ExecutePortable(portable.data());
    p.ExecuteSse2(sse2.data());
    p.ExecuteRadix2(radix2.data());
    EXPECT_TRUE(SameBits(fast, portable)) << n;
    EXPECT_TRUE(SameBits(sse2, portable)) << n;
    for (int k = 0; k < n; ++k) {
      ASSERT_NEAR(fast[k].Re, radix2[k].Re, 2e-6 * std::sqrt(double(n)) * p.Bits) << n << " " << k;
      ASSERT_NEAR(fast[k].Im, radix2[k].Im, 2e-6 * std::sqrt(double(n)) * p.Bits) << n << " " << k;
    }
  }
}

TEST(Transform, ToneAtPlusKLandsAtPlusKNeverMirrored) {
  for (int n : {256, 512, 4096}) {
    TFftPlan p(n);
    for (int k : {1, 5, 100}) {
      for (int sign : {+1, -1}) {
        TComplexFArray x = Tone(n, sign * k, 0.5f);
        p.Execute(x.data());
        p.Shift(x.data());
        int best = 0;
        for (int i = 1; i < n; ++i) {
          if (std::hypot(x[i].Re, x[i].Im) > std::hypot(x[best].Re, x[best].Im)) best = i;
        }
        EXPECT_EQ(best, n / 2 + sign * k) << n << " " << sign * k;
        EXPECT_NEAR(std::hypot(x[best].Re, x[best].Im), 0.5 * n, 1e-3 * n);
        const int mirror = n / 2 - sign * k;
        EXPECT_LT(std::hypot(x[mirror].Re, x[mirror].Im), 1e-4 * n);
      }
    }
  }
}

TEST(Window, ApplyWindowMultipliesBothPartsAndMayWorkInPlace) {
  TFftPlan p(16);
  TComplexFArray x = RandomBlock(16, 5u);
  TComplexFArray out(16);
  p.ApplyWindow(x.data(), out.data());
  for (int i = 0; i < 16; ++i) {
    EXPECT_EQ(out[i].Re, x[i].Re * p.Window[i]);
    EXPECT_EQ(out[i].Im, x[i].Im * p.Window[i]);
  }
  p.ApplyWindow(x.data(), x.data());
  EXPECT_TRUE(SameBits(x, out));
}

TEST(Window, BitReversedWindowThenTransformGivesTheBitsOfTheStepsOneByOne) {
  for (int n : {8, 32, 256, 4096, 16384}) {
    TFftPlan p(n);
    const TComplexFArray x = RandomBlock(n, 11u * n);
    TComplexFArray steps(n), fused(n, TComplexF{0.0f, 0.0f});
    p.ApplyWindow(x.data(), steps.data());
    TComplexFArray windowed = steps;
    p.Execute(steps.data());
    p.ApplyWindowBitReversed(x.data(), fused.data());
    for (int i = 0; i < n; ++i) {
      ASSERT_EQ(fused[p.BitReverse[i]].Re, windowed[i].Re) << n << " " << i;
      ASSERT_EQ(fused[p.BitReverse[i]].Im, windowed[i].Im) << n << " " << i;
    }
    p.ExecuteBitReversed(fused.data());
    EXPECT_TRUE(SameBits(fused, steps)) << n;
  }
}

TEST(Window, WindowedFullScaleToneAtBinCentreHasHalfTheUnwindowedPeak) {
  // The periodic Hann window's coherent gain is exactly 0.5: a bin-centre tone keeps no leakage
  // beyond its two neighbours (each -6 dB under the peak).
  const int n = 1024;
  TFftPlan p(n);
  TComplexFArray x = Tone(n, 37, 1.0f);
  p.ApplyWindow(x.data(), x.data());
  p.Execute(x.data());
  EXPECT_NEAR(std::hypot(x[37].Re, x[37].Im), n * 0.5, 1e-3);
  EXPECT_NEAR(std::hypot(x[36].Re, x[36].Im), n * 0.25, 1e-3);
  EXPECT_NEAR(std::hypot(x[38].Re, x[38].Im), n * 0.25, 1e-3);
  EXPECT_LT(std::hypot(x[40].Re, x[40].Im), 1e-2);
}

}  // namespace
