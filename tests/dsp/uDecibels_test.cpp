#include "uDecibels.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <vector>

namespace {

constexpr double kFloor = 1e-20;

// The expression the step stands for.
float Plain(float sum, double scale) {
  double p = double(sum) / scale;
  if (p < kFloor) p = kFloor;
  return static_cast<float>(10.0 * std::log10(p));
}

uint32_t Bits(float v) {
  uint32_t b;
  std::memcpy(&b, &v, sizeof b);
  return b;
}

struct TRandom {
  uint64_t S = 0x9E3779B97F4A7C15ull;
  double Unit() {  // 0 .. 1
    S = S * 6364136223846793005ull + 1442695040888963407ull;
    return double(S >> 11) * 0x1p-53;
  }
};

using TStep = int32_t (*)(const float*, float*, int32_t, double, double);

// Every value of out equals the plain expression, bit for bit (NaN included).
void ExpectPlainBits(TStep step, const std::vector<float>& sums, double scale) {
  std::vector<float> out(sums.size(), 0.0f);
  step(sums.data(), out.data(), int32_t(sums.size()), scale, kFloor);
  for (size_t k = 0; k < sums.size(); ++k)
    ASSERT_EQ(Bits(out[k]), Bits(Plain(sums[k], scale))) << "sum " << sums[k] << " scale " << scale;
}

TEST(PowerDb, StaysWithinItsErrorBoundFromTheFloorToBeyondAnySpectrum) {
  TRandom r;
  std::vector<double> ps;
  for (int i = 0; i < 200000; ++i) ps.push_back(std::pow(10.0, -30.0 + 65.0 * r.Unit()));
  for (int e = -99; e <= 116; ++e) {
    const double two = std::ldexp(1.0, e);
    for (double m : {1.0, 1.41421356237309492, 1.41421356237309515, 0.70710678118654746, 1.9999999999999998})
      ps.push_back(two * m);
  }
  ps.push_back(kFloor);
  double worst = 0.0;
  for (double p : ps) {
    const long double exact = 10.0L * std::log10(static_cast<long double>(p));
    const double err = std::fabs(double(static_cast<long double>(PowerDb(p)) - exact));
    worst = std::max(worst, err);
    ASSERT_LT(err, PowerDbErrorBound) << "p " << p;
  }
  std::printf("worst PowerDb error %.3g dB\n", worst);
}

TEST(PowerSumsToDb, EqualsThePlainExpressionBitForBitOnBothPaths) {
  TRandom r;
  std::vector<float> sums;
  // Power sums as a spectrum holds them: noise-like values over many decades, every block length
  // (the last values go through the short tail), zeros and the floor.
  for (int i = 0; i < 50001; ++i) sums.push_back(static_cast<float>(std::pow(10.0, -12.0 + 16.0 * r.Unit())));
  for (float v : {0.0f, -0.0f, 1e-38f, 1e-45f, 1.0f, 2.0f, 0.5f, 3e38f}) sums.push_back(v);
  for (TStep step : {&PowerSumsToDb, &PowerSumsToDbSse2}) {
    for (double scale : {1.0, 4096.0 * 4096.0 * 8 * 0.375, 3.0e-7}) ExpectPlainBits(step, sums, scale);
    for (size_t len = 0; len < 9; ++len)
      ExpectPlainBits(step, std::vector<float>(sums.begin(), sums.begin() + len), 1000.0);
  }
}

TEST(PowerSumsToDb, ValuesBeyondItsRangeComeFromTheLibrary) {
  const float inf = std::numeric_limits<float>::infinity();
  const float nan = std::numeric_limits<float>::quiet_NaN();
  const std::vector<float> odd = {inf, nan, 1.0f, -1.0f, 3.4e38f};
  for (TStep step : {&PowerSumsToDb, &PowerSumsToDbSse2}) {
    ExpectPlainBits(step, odd, 1.0);
    ExpectPlainBits(step, odd, 1e-30);  // 3.4e68: beyond the checked range
    std::vector<float> out(odd.size());
    EXPECT_EQ(step(odd.data(), out.data(), 2, 1.0, kFloor), 2);  // inf and NaN
  }
}

TEST(PowerSumsToDb, AValueAtARoundingTurnIsTakenFromTheLibrary) {
  // A scale that puts 10 log10(1 / scale) within a hair of the point halfway between two Singles: the
  // own logarithm cannot tell the side, so the library decides.
  int turns = 0;
  for (float db : {-87.3f, -64.01f, -120.5f, -3.2f, 12.7f}) {
    const float next = std::nextafter(db, 0.0f);
    const long double half = (static_cast<long double>(db) + next) / 2;
    const double scale = static_cast<double>(std::pow(10.0L, -half / 10));
    for (TStep step : {&PowerSumsToDb, &PowerSumsToDbSse2}) {
      for (int32_t count : {1, 4}) {
        const std::vector<float> ones(size_t(count), 1.0f);
        std::vector<float> out(static_cast<size_t>(count), 0.0f);
        EXPECT_EQ(step(ones.data(), out.data(), count, scale, kFloor), count) << db;
        for (float v : out) EXPECT_EQ(Bits(v), Bits(Plain(1.0f, scale))) << db;
        EXPECT_TRUE(out[0] == db || out[0] == next) << db;
        ++turns;
      }
    }
  }
  EXPECT_EQ(turns, 20);
}

TEST(PowerSumsToDb, AnOrdinarySpectrumAlmostNeverNeedsTheLibrary) {
  TRandom r;
  std::vector<float> sums(4096 * 16);
  for (float& v : sums) v = static_cast<float>(-std::log(1.0 - r.Unit()) * 1e3);  // noise powers
  std::vector<float> out(sums.size());
  const int32_t fallbacks =
      PowerSumsToDb(sums.data(), out.data(), int32_t(sums.size()), 4096.0 * 4096.0 * 3.0, kFloor);
  EXPECT_LE(fallbacks, 40);  // the margin is about one in 30000 of a Single step at these levels
}

}  // namespace
