// Filter design, the three streaming filters and the bounded resampler ratio.
#include "uFir.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <initializer_list>
#include <limits>
#include <numeric>
#include <random>

namespace {

constexpr double Pi = 3.14159265358979323846;

TComplexFArray Noise(size_t n, uint32_t seed) {
  std::mt19937 rng(seed);
  std::uniform_real_distribution<float> u(-1.0f, 1.0f);
  TComplexFArray x(n);
  for (auto& s : x) s = {u(rng), u(rng)};
  return x;
}

TComplexFArray Tone(size_t n, double cyclesPerSample) {
  TComplexFArray x(n);
  for (size_t k = 0; k < n; ++k) {
    const double ph = 2.0 * Pi * cyclesPerSample * static_cast<double>(k);
    x[k] = {static_cast<float>(std::cos(ph)), static_cast<float>(std::sin(ph))};
  }
  return x;
}

bool SameBits(const TComplexFArray& a, const TComplexFArray& b) {
  return a.size() == b.size() && std::memcmp(a.data(), b.data(), a.size() * sizeof(TComplexF)) == 0;
}

// Magnitude response of real taps at a normalised frequency.
double Response(const TSingleArray& taps, double f) {
  double re = 0, im = 0;
  for (size_t j = 0; j < taps.size(); ++j) {
    re += taps[j] * std::cos(2 * Pi * f * j);
    im += taps[j] * std::sin(2 * Pi * f * j);
  }
  return std::hypot(re, im);
}

// Steady-state gain of a complex band-pass for a complex tone, in dB.
double BandPassGainDb(const TSingleArray& re, const TSingleArray& im, double f) {
  TFirComplexBp bp(re, im);
  const size_t n = re.size() + 2000;
  TComplexFArray x = Tone(n, f), y(n);
  EXPECT_EQ(bp.Process(x.data(), static_cast<int32_t>(n), y.data()), static_cast<int32_t>(n));
  double sum = 0;
  for (size_t k = re.size(); k < n; ++k) sum += std::hypot(y[k].Re, y[k].Im);
  return 20.0 * std::log10(sum / static_cast<double>(n - re.size()) + 1e-30);
}

}  // namespace

// ---------------------------------------------------------------------------------------------
// Helpers and design

TEST(FirHelpers, GcdWorksOnAbsoluteValuesAndNeverGivesZero) {
  EXPECT_EQ(Gcd(0, 0), 1);
  EXPECT_EQ(Gcd(64000, 48000), 16000);
  EXPECT_EQ(Gcd(-12, 18), 6);
  EXPECT_EQ(Gcd(12, -18), 6);
  EXPECT_EQ(Gcd(0, -7), 7);
  EXPECT_EQ(Gcd(600001, 48000), 1);
  EXPECT_EQ(Gcd(std::numeric_limits<int32_t>::min(), 0), std::numeric_limits<int32_t>::max());
}

TEST(FirHelpers, SincIsOneAtZeroAndFollowsSinPiXOverPiX) {
  EXPECT_EQ(Sinc(0.0), 1.0);
  EXPECT_EQ(Sinc(1e-13), 1.0);
  EXPECT_NEAR(Sinc(0.5), 2.0 / Pi, 1e-15);
  EXPECT_NEAR(Sinc(1.0), 0.0, 1e-15);
  EXPECT_NEAR(Sinc(-1.5), Sinc(1.5), 1e-15);
}

TEST(FirDesign, LowPassIsOddSymmetricAndSumsToOne) {
  for (int32_t n : {1, 3, 4, 23, 31, 188, 189, 1023}) {
    TSingleArray taps;
    DesignLowPass(taps, 0.1, n);
    const size_t expected = n < 3 ? 3 : (n % 2 == 0 ? n + 1 : n);
    ASSERT_EQ(taps.size(), expected) << n;
    double sum = std::accumulate(taps.begin(), taps.end(), 0.0);
    EXPECT_NEAR(sum, 1.0, 1e-5) << n;
    for (size_t i = 0; i < taps.size(); ++i) EXPECT_NEAR(taps[i], taps[taps.size() - 1 - i], 1e-7);
  }
}

TEST(FirDesign, CutoffOutsideRangeIsClamped) {
  TSingleArray a, b, c, d;
  DesignLowPass(a, 0.5, 31);
  DesignLowPass(b, 0.4999, 31);
  EXPECT_EQ(a, b);
  DesignLowPass(a, 7.0, 31);
  EXPECT_EQ(a, b);
  DesignLowPass(c, 0.0, 31);
  DesignLowPass(d, 1e-6, 31);
  EXPECT_EQ(c, d);
  DesignLowPass(c, -3.0, 31);
  EXPECT_EQ(c, d);
}

TEST(FirDesign, LowPassPassesBelowAndStopsAboveCutoff) {
  // The NFM channel filter at 64 kHz: 189 taps, cutoff 6250 Hz.
  TSingleArray taps;
  DesignLowPass(taps, 6250.0 / 64000.0, 188);
  ASSERT_EQ(taps.size(), 189u);
  EXPECT_NEAR(Response(taps, 0.0), 1.0, 1e-5);
  EXPECT_GT(Response(taps, 3000.0 / 64000.0), 0.99);
  EXPECT_LT(20 * std::log10(Response(taps, 9000.0 / 64000.0)), -70.0);
  EXPECT_LT(20 * std::log10(Response(taps, 20000.0 / 64000.0)), -70.0);
}

TEST(FirDesign, HalfBandTapsAreTheLowPassAtPoint23) {
  TSingleArray a, b;
  HalfBandTaps(a, 23);
  DesignLowPass(b, 0.23, 23);
  EXPECT_EQ(a, b);
  // What a decimate-by-2 stage folds onto the band it keeps (below 0.125 of the input rate after
  // the following stages) is far down.
  HalfBandTaps(a, 31);
  EXPECT_LT(20 * std::log10(Response(a, 0.375)), -60.0);
}

TEST(FirDesign, ComplexBandPassIsTheShiftedPrototype) {
  TSingleArray re, im, proto;
  DesignComplexBandPass(300.0 / 16000, 3000.0 / 16000, 220, re, im);
  DesignLowPass(proto, 1350.0 / 16000, 220);
  ASSERT_EQ(re.size(), 221u);
  ASSERT_EQ(im.size(), 221u);
  for (size_t i = 0; i < re.size(); ++i) EXPECT_NEAR(std::hypot(re[i], im[i]), std::fabs(proto[i]), 1e-7);
  // The centre tap is real; taps mirror as complex conjugates.
  EXPECT_NEAR(im[110], 0.0f, 1e-9);
  for (size_t i = 0; i < re.size(); ++i) {
    EXPECT_NEAR(re[i], re[220 - i], 1e-6);
    EXPECT_NEAR(im[i], -im[220 - i], 1e-6);
  }
}

// ---------------------------------------------------------------------------------------------
// TFirDecim

TEST(FirDecim, MatchesTheDirectSumWithinRounding) {
  TSingleArray taps;
  HalfBandTaps(taps, 31);
  TFirDecim fir(taps, 2);
  const TComplexFArray x = Noise(777, 1);
  TComplexFArray y(x.size());
  const int32_t got = fir.Process(x.data(), static_cast<int32_t>(x.size()), y.data());
  ASSERT_EQ(got, 389);
  for (int32_t k = 0; k < got; ++k) {
    double re = 0, im = 0;
    for (size_t j = 0; j < taps.size(); ++j) {
      const int64_t idx = 2 * k + static_cast<int64_t>(j) - static_cast<int64_t>(taps.size() - 1);
      if (idx < 0) continue;  // history starts as zeros
      re += taps[j] * static_cast<double>(x[idx].Re);
      im += taps[j] * static_cast<double>(x[idx].Im);
    }
    EXPECT_NEAR(y[k].Re, re, 2e-6) << k;
    EXPECT_NEAR(y[k].Im, im, 2e-6) << k;
  }
}

TEST(FirDecim, BlockSplitGivesIdenticalOutput) {
  for (int32_t factor : {1, 2, 3}) {
    TSingleArray taps;
    DesignLowPass(taps, 0.2, 23);
    const TComplexFArray x = Noise(1001, 2);
    TFirDecim whole(taps, factor), pieces(taps, factor);
    TComplexFArray a(x.size()), b(x.size());
    const int32_t na = whole.Process(x.data(), 1001, a.data());
    int32_t nb = 0;
    for (int32_t off = 0; off < 1001; off += 7)
      nb += pieces.Process(x.data() + off, std::min(7, 1001 - off), b.data() + nb);
    ASSERT_EQ(na, nb);
    EXPECT_EQ(na, (1001 + factor - 1) / factor);
    a.resize(na);
    b.resize(nb);
    EXPECT_TRUE(SameBits(a, b)) << "factor " << factor;
  }
}

TEST(FirDecim, OddBlocksOfOneSampleCarryThePhase) {
  TSingleArray taps;
  HalfBandTaps(taps, 23);
  TFirDecim fir(taps, 2);
  const TComplexFArray x = Noise(11, 3);
  TComplexFArray y(11);
  int32_t total = 0;
  for (int i = 0; i < 11; ++i) total += fir.Process(x.data() + i, 1, y.data() + total);
  EXPECT_EQ(total, 6);
}

TEST(FirDecim, EmptyInputChangesNothingAndFactorBelowOneIsOne) {
  TSingleArray taps;
  DesignLowPass(taps, 0.2, 15);
  TFirDecim a(taps, 0), b(taps, 1);
  EXPECT_EQ(a.Factor(), 1);
  const TComplexFArray x = Noise(100, 4);
  TComplexFArray ya(100), yb(100);
  EXPECT_EQ(a.Process(x.data(), 0, ya.data()), 0);
  EXPECT_EQ(a.Process(x.data(), -5, ya.data()), 0);
  EXPECT_EQ(a.Process(x.data(), 100, ya.data()), 100);
  EXPECT_EQ(b.Process(x.data(), 100, yb.data()), 100);
  EXPECT_TRUE(SameBits(ya, yb));
}

// ---------------------------------------------------------------------------------------------
// TFirComplexBp

TEST(FirComplexBp, IsAConvolutionNewestSampleTimesTapZero) {
  TSingleArray re{0.5f, 0.25f, -0.125f}, im{0.0f, 1.0f, 0.5f};
  TFirComplexBp bp(re, im);
  // An impulse comes out as the taps in order.
  TComplexFArray x(6, TComplexF{0, 0}), y(6);
  x[0] = {1.0f, 0.0f};
  ASSERT_EQ(bp.Process(x.data(), 6, y.data()), 6);
  for (size_t j = 0; j < 3; ++j) {
    EXPECT_FLOAT_EQ(y[j].Re, re[j]);
    EXPECT_FLOAT_EQ(y[j].Im, im[j]);
  }
  EXPECT_EQ(y[3].Re, 0.0f);
  EXPECT_EQ(y[5].Im, 0.0f);
}

TEST(FirComplexBp, MatchesTheDirectComplexSumAndSplitsExactly) {
  TSingleArray re, im;
  DesignComplexBandPass(-0.2, -0.02, 101, re, im);
  const TComplexFArray x = Noise(1000, 5);
  TFirComplexBp whole(re, im), pieces(re, im);
  TComplexFArray a(1000), b(1000);
  ASSERT_EQ(whole.Process(x.data(), 1000, a.data()), 1000);
  for (int32_t off = 0; off < 1000; off += 13)
    pieces.Process(x.data() + off, std::min(13, 1000 - off), b.data() + off);
  EXPECT_TRUE(SameBits(a, b));
  for (int32_t k = 0; k < 1000; k += 37) {
    double sr = 0, si = 0;
    for (int32_t j = 0; j < static_cast<int32_t>(re.size()) && j <= k; ++j) {
      sr += x[k - j].Re * static_cast<double>(re[j]) - x[k - j].Im * static_cast<double>(im[j]);
      si += x[k - j].Im * static_cast<double>(re[j]) + x[k - j].Re * static_cast<double>(im[j]);
    }
    EXPECT_NEAR(a[k].Re, sr, 2e-6);
    EXPECT_NEAR(a[k].Im, si, 2e-6);
  }
}

TEST(FirComplexBp, UpperSideBandPassesPositiveAndRejectsNegativeFrequencies) {
  const double c = 16000.0;  // the SSB stage rate at 2.048 MS/s
  TSingleArray re, im;
  DesignComplexBandPass(300.0 / c, 3000.0 / c, 220, re, im);
  for (double hz : {500.0, 1000.0, 1650.0, 2500.0, 2800.0})
    EXPECT_NEAR(BandPassGainDb(re, im, hz / c), 0.0, 0.5) << hz;
  for (double hz : {-300.0, -500.0, -1000.0, -1650.0, -2500.0, -3000.0})
    EXPECT_LT(BandPassGainDb(re, im, hz / c), -60.0) << hz;
}

TEST(FirComplexBp, LowerSideBandIsTheMirror) {
  const double c = 16000.0;
  TSingleArray re, im;
  DesignComplexBandPass(-3000.0 / c, -300.0 / c, 220, re, im);
  for (double hz : {-500.0, -1000.0, -2800.0}) EXPECT_NEAR(BandPassGainDb(re, im, hz / c), 0.0, 0.5) << hz;
  for (double hz : {300.0, 1000.0, 3000.0}) EXPECT_LT(BandPassGainDb(re, im, hz / c), -60.0) << hz;
}

// ---------------------------------------------------------------------------------------------
// TResampler

TEST(Resampler, ThreeQuartersTurns4000InputsInto3000Outputs) {
  TResampler rs(3, 4, 49, 5000.0 / 24000.0);
  EXPECT_EQ(rs.MaxOut(4000), 3002);
  EXPECT_EQ(rs.Up(), 3);
  EXPECT_EQ(rs.Down(), 4);
  std::vector<float> x(4000, 0.5f), y(3002);
  EXPECT_EQ(rs.Process(x.data(), 4000, y.data()), 3000);
  // Unit gain at DC once the history is full.
  EXPECT_NEAR(y[2999], 0.5f, 1e-4);
  EXPECT_NEAR(y[1500], 0.5f, 1e-4);
}

TEST(Resampler, BlockSplitGivesIdenticalOutput) {
  std::mt19937 rng(7);
  std::uniform_real_distribution<float> u(-1.0f, 1.0f);
  std::vector<float> x(5003);
  for (auto& v : x) v = u(rng);
  for (auto [l, m] : {std::pair<int, int>{3, 4}, {3, 32}, {3, 1}, {441, 640}}) {
    TResampler whole(l, m, 16, 0.9), pieces(l, m, 16, 0.9);
    std::vector<float> a(whole.MaxOut(5003)), b(a.size() + 64);
    const int32_t na = whole.Process(x.data(), 5003, a.data());
    int32_t nb = 0;
    for (int32_t off = 0; off < 5003; off += 11) {
      const int32_t len = std::min(11, 5003 - off);
      ASSERT_LE(nb + pieces.MaxOut(len), static_cast<int32_t>(b.size()));
      nb += pieces.Process(x.data() + off, len, b.data() + nb);
    }
    ASSERT_EQ(na, nb) << l << "/" << m;
    EXPECT_EQ(std::memcmp(a.data(), b.data(), sizeof(float) * na), 0) << l << "/" << m;
  }
}

TEST(Resampler, KeepsTheFrequencyOfATone) {
  // 1 kHz at 64 kHz in, 48 kHz out: the output tone correlates with 1 kHz at 48 kHz.
  TResampler rs(3, 4, 49, 5000.0 / 24000.0);
  std::vector<float> x(64000), y(rs.MaxOut(64000));
  for (size_t k = 0; k < x.size(); ++k) x[k] = static_cast<float>(std::sin(2 * Pi * 1000.0 * k / 64000.0));
  const int32_t n = rs.Process(x.data(), 64000, y.data());
  ASSERT_EQ(n, 48000);
  double c = 0, s = 0, e = 0;
  for (int32_t k = 1000; k < n; ++k) {
    c += y[k] * std::cos(2 * Pi * 1000.0 * k / 48000.0);
    s += y[k] * std::sin(2 * Pi * 1000.0 * k / 48000.0);
    e += y[k] * y[k];
  }
  const double toneShare = 2.0 * (c * c + s * s) / (n - 1000) / e;
  EXPECT_GT(toneShare, 0.999);
}

TEST(Resampler, ClampsItsArguments) {
  TResampler rs(0, -3, 1, 0.0);
  EXPECT_EQ(rs.Up(), 1);
  EXPECT_EQ(rs.Down(), 1);
  EXPECT_EQ(rs.TapsPerPhase(), 4);
  std::vector<float> x(10, 1.0f), y(rs.MaxOut(10));
  EXPECT_EQ(rs.Process(x.data(), 0, y.data()), 0);
  EXPECT_EQ(rs.Process(x.data(), 10, y.data()), 10);
}

TEST(ResamplerBound, ExactRatiosWithinTheBoundStayExact) {
  int32_t l = 0, m = 0;
  BoundedRatio(48000, 64000, ResamplerMaxPhases, l, m);
  EXPECT_EQ(l, 3);
  EXPECT_EQ(m, 4);
  BoundedRatio(44100, 64000, ResamplerMaxPhases, l, m);
  EXPECT_EQ(l, 441);
  EXPECT_EQ(m, 640);
  BoundedRatio(3, 32, ResamplerMaxPhases, l, m);
  EXPECT_EQ(l, 3);
  EXPECT_EQ(m, 32);
}

TEST(ResamplerBound, AwkwardRatesGetTheNearestBoundedRatio) {
  // WFM at 600001 S/s needs no stage: 48000/600001 would need 48000 phases.
  int32_t l = 0, m = 0;
  BoundedRatio(48000, 600001, ResamplerMaxPhases, l, m);
  EXPECT_LE(l, ResamplerMaxPhases);
  EXPECT_GE(l, 1);
  const double want = 600001.0 / 48000.0;  // inputs per output
  // Within 1e-4 of the true rate: a pitch error far below what anyone hears.
  EXPECT_NEAR(static_cast<double>(m) / l, want, want * 1e-4);
  // No L within the bound does better (brute force over every L).
  const double err = std::fabs(static_cast<double>(m) / l - want);
  for (int32_t q = 1; q <= ResamplerMaxPhases; ++q) {
    const double p = std::round(q * want);
    EXPECT_GE(std::fabs(p / q - want) * (1 + 1e-12), err) << q;
  }
  // A HackRF rate halved down to 39062 S/s for 48 kHz audio.
  BoundedRatio(48000, 39062, ResamplerMaxPhases, l, m);
  EXPECT_LE(l, ResamplerMaxPhases);
  EXPECT_NEAR(static_cast<double>(m) / l, 39062.0 / 48000.0, 39062.0 / 48000.0 * 1e-4);
}

TEST(ResamplerBound, AResamplerForAnAwkwardRateStaysSmallAndCountsIn64Bits) {
  TResampler rs(48000, 600001, 459, 15000.0 / 24000.0);
  EXPECT_LE(rs.Up(), ResamplerMaxPhases);
  // A long block: positions run far beyond 2^31 units of 1/L when L is large.
  std::vector<float> x(1 << 20, 0.25f), y(rs.MaxOut(1 << 20));
  const int32_t n = rs.Process(x.data(), 1 << 20, y.data());
  EXPECT_NEAR(n, (1 << 20) * 48000.0 / 600001.0, 2.0);
  EXPECT_NEAR(y[n - 1], 0.25f, 1e-3);
}

// ---------------------------------------------------------------------------------------------
// Several outputs at once

// Run in blocks of the given sizes (cycled) until all of x is used.
TComplexFArray RunInBlocks(TFirDecim& fir, const TComplexFArray& x, std::initializer_list<int32_t> sizes,
                           bool sse2) {
  TComplexFArray out, y(x.size() + 1);
  size_t at = 0;
  for (auto it = sizes.begin(); at < x.size(); ++it == sizes.end() ? it = sizes.begin() : it) {
    const int32_t n = std::min<int32_t>(*it, static_cast<int32_t>(x.size() - at));
    const int32_t got =
        sse2 ? fir.ProcessSse2(x.data() + at, n, y.data()) : fir.Process(x.data() + at, n, y.data());
    out.insert(out.end(), y.begin(), y.begin() + got);
    at += static_cast<size_t>(n);
  }
  return out;
}

TEST(FirDecimWide, EveryOutputHasTheBitsOfTheOneOutputDotProductOnEveryPath) {
  // Factor 3 computes one output at a time; factors 1 and 2 compute several at once (two with SSE2,
  // four with AVX) and must agree with it bit for bit at the shared positions, for tap counts on
  // both sides of every grouping the sum uses.
  const TComplexFArray x = Noise(1201, 9);
  for (int32_t taps : {1, 2, 3, 7, 8, 9, 15, 16, 17, 23, 31, 33, 47, 63, 189}) {
    TSingleArray t(static_cast<size_t>(taps));
    std::mt19937 rng(static_cast<uint32_t>(taps));
    std::uniform_real_distribution<float> u(-0.5f, 0.5f);
    for (float& v : t) v = u(rng);
    for (bool sse2 : {false, true}) {
      TFirDecim f1(t, 1), f2(t, 2), f3(t, 3);
      const TComplexFArray y1 = RunInBlocks(f1, x, {1201}, sse2);
      const TComplexFArray y2 = RunInBlocks(f2, x, {1201}, sse2);
      const TComplexFArray y3 = RunInBlocks(f3, x, {1201}, sse2);
      ASSERT_EQ(y1.size(), 1201u);
      ASSERT_EQ(y2.size(), 601u);
      ASSERT_EQ(y3.size(), 401u);
      for (size_t k = 0; k < y2.size(); ++k)
        ASSERT_EQ(std::memcmp(&y2[k], &y1[2 * k], sizeof(TComplexF)), 0) << taps << " " << k;
      for (size_t k = 0; k < y3.size(); ++k)
        ASSERT_EQ(std::memcmp(&y3[k], &y1[3 * k], sizeof(TComplexF)), 0) << taps << " " << k;
    }
  }
}

TEST(FirDecimWide, BlocksOfAnySizeGiveTheWholeStreamsBitsForBothParitiesOfTheHistory) {
  const TComplexFArray x = Noise(3001, 4);
  for (int32_t taps : {23, 24, 31, 4}) {  // histories of odd and even length, one longer than blocks
    TSingleArray t;
    DesignLowPass(t, 0.2, taps);
    t.resize(static_cast<size_t>(taps), 0.01f);
    for (int32_t factor : {1, 2}) {
      TFirDecim whole(t, factor), pieces(t, factor), tiny(t, factor), sse2(t, factor);
      const TComplexFArray a = RunInBlocks(whole, x, {3001}, false);
      EXPECT_TRUE(SameBits(a, RunInBlocks(pieces, x, {7, 64, 1, 2, 333}, false))) << taps << " " << factor;
      EXPECT_TRUE(SameBits(a, RunInBlocks(tiny, x, {1, 3}, false))) << taps << " " << factor;
      EXPECT_TRUE(SameBits(a, RunInBlocks(sse2, x, {5, 1000}, true))) << taps << " " << factor;
    }
  }
}
