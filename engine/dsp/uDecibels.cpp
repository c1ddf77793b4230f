#include "uDecibels.h"

#include <cmath>
#include <cstring>

#include "uDspKernels.h"

// The vector type is only ever passed between inlined routines, never across a call boundary.
#pragma GCC diagnostic ignored "-Wpsabi"

namespace {

// Four Double lanes: two SSE2 registers, or one AVX register inside a function built for AVX2. A cast
// between two such vector types of one size keeps the bits.
typedef double TVd __attribute__((vector_size(32)));
typedef int64_t TVi __attribute__((vector_size(32)));
typedef uint64_t TVu __attribute__((vector_size(32)));
typedef float TVf __attribute__((vector_size(16)));

constexpr double kSqrt2 = 1.41421356237309504880;
constexpr double kDbPerOctave = 3.01029995663981195214;  // 10 log10(2)
constexpr double kDbPerNeper = 4.34294481903251827651;   // 10 / ln(10)
constexpr double kLowest = 1e-30;
constexpr double kHighest = 1e35;
constexpr uint64_t kMantissa = 0x000FFFFFFFFFFFFFull;
constexpr uint64_t kExponent = 0x7FF0000000000000ull;
constexpr uint64_t kOneBits = 0x3FF0000000000000ull;    // 1.0
constexpr uint64_t kMagicBits = 0x4338000000000000ull;  // 2^52 + 2^51: small integers into Doubles
constexpr double kMagic = 6755399441055744.0;
constexpr double kHalfSingleUlp = 0x1p-24;  // half a Single step, relative to its binade's start

inline __attribute__((always_inline)) TVd Splat(double v) {
  return TVd{v, v, v, v};
}

// 10 log10(p) for positive normal p: p = m 2^e with m in [sqrt(1/2), sqrt(2)); ln m = 2 atanh(s),
// s = (m - 1) / (m + 1), |s| <= 0.1716, by its series to s^19 (the rest is below 1e-17 of ln m).
inline __attribute__((always_inline)) TVd Db4(TVd p) {
  const TVu bits = (TVu)(p);
  const TVu mantissaBits = (bits & kMantissa) | kOneBits;
  TVd m = (TVd)(mantissaBits);
  const TVi high = m > Splat(kSqrt2);  // -1 where m is halved and the exponent raised
  m = high ? m * 0.5 : m;
  const TVu exponentField = bits >> 52;  // p is positive: no sign bit above the field
  const TVi e = (TVi)(exponentField)-1023 - high;
  const TVi eBits = e + int64_t(kMagicBits);
  const TVd ed = (TVd)(eBits)-kMagic;
  const TVd s = (m - 1.0) / (m + 1.0);
  const TVd z = s * s;
  TVd poly = Splat(1.0 / 19.0);
  poly = poly * z + 1.0 / 17.0;
  poly = poly * z + 1.0 / 15.0;
  poly = poly * z + 1.0 / 13.0;
  poly = poly * z + 1.0 / 11.0;
  poly = poly * z + 1.0 / 9.0;
  poly = poly * z + 1.0 / 7.0;
  poly = poly * z + 1.0 / 5.0;
  poly = poly * z + 1.0 / 3.0;
  poly = poly * z + 1.0;
  const TVd ln = (s + s) * poly;
  return ed * kDbPerOctave + ln * kDbPerNeper;
}

// The plain expression the step must reproduce.
float LibraryDb(float sum, double scale, double floorPower) {
  double p = double(sum) / scale;
  if (p < floorPower) p = floorPower;
  return static_cast<float>(10.0 * std::log10(p));
}

// Four values: p from the sums, the own logarithm, the rounding to Single, and the check that the
// rounding cannot turn the other way for the library's value. Returns the values taken from the library.
inline __attribute__((always_inline)) int32_t Four(const float* sums, float* out, int32_t valid, double scale,
                                                   double floorPower) {
  float in[4] = {1.0f, 1.0f, 1.0f, 1.0f};
  std::memcpy(in, sums, sizeof(float) * size_t(valid));
  TVf sf;
  std::memcpy(&sf, in, sizeof sf);
  TVd p = __builtin_convertvector(sf, TVd) / scale;
  p = p < floorPower ? Splat(floorPower) : p;
  const TVd y = Db4(p);
  const TVf f = __builtin_convertvector(y, TVf);
  const TVd back = __builtin_convertvector(f, TVd);
  const TVd diff = y - back;
  const TVu diffBits = (TVu)(diff) & ~(uint64_t(1) << 63);
  const TVd distance = (TVd)(diffBits);
  const TVu backBits = (TVu)(back);
  const TVu binadeBits = backBits & kExponent;
  const TVd limit = (TVd)(binadeBits)*kHalfSingleUlp - PowerDbMargin;
  // A power of two has a finer step below it: those few go to the library too.
  const TVi ok = (distance <= limit) & (p >= kLowest) & (p <= kHighest) & ((backBits & kMantissa) != 0);
  float result[4];
  std::memcpy(result, &f, sizeof result);
  int32_t fallbacks = 0;
  if ((ok[0] & ok[1] & ok[2] & ok[3]) == 0) {
    for (int32_t i = 0; i < valid; ++i) {
      if (ok[i] == 0) {
        result[i] = LibraryDb(in[i], scale, floorPower);
        ++fallbacks;
      }
    }
  }
  std::memcpy(out, result, sizeof(float) * size_t(valid));
  return fallbacks;
}

inline __attribute__((always_inline)) int32_t Run(const float* sums, float* out, int32_t count, double scale,
                                                  double floorPower) {
  int32_t fallbacks = 0;
  int32_t k = 0;
  for (; k + 4 <= count; k += 4) fallbacks += Four(sums + k, out + k, 4, scale, floorPower);
  if (k < count) fallbacks += Four(sums + k, out + k, count - k, scale, floorPower);
  return fallbacks;
}

#if defined(__x86_64__)
// 32-bit builds keep to SSE2: eight vector registers would make this spill.
__attribute__((target("avx2"))) int32_t RunAvx2(const float* sums, float* out, int32_t count, double scale,
                                                double floorPower) {
  return Run(sums, out, count, scale, floorPower);
}
#endif

}  // namespace

double PowerDb(double p) {
  return Db4(Splat(p))[0];
}

int32_t PowerSumsToDbSse2(const float* sums, float* out, int32_t count, double scale, double floorPower) {
  return Run(sums, out, count, scale, floorPower);
}

int32_t PowerSumsToDb(const float* sums, float* out, int32_t count, double scale, double floorPower) {
#if defined(__x86_64__)
  if (CpuKernelLevel() >= 2) return RunAvx2(sums, out, count, scale, floorPower);
#endif
  return Run(sums, out, count, scale, floorPower);
}
