#include "uFft.h"

#include <cmath>
#include <cstring>
#include <utility>

#if defined(__SSE2__)
#include <immintrin.h>
#define TALV_FFT_SSE2 1
#else
#define TALV_FFT_SSE2 0
#endif

namespace {

constexpr double kPi = 3.14159265358979323846;
constexpr int32_t kLargestPowerOfTwo = int32_t(1) << 30;

inline TComplexF Add(TComplexF x, TComplexF y) {
  return {x.Re + y.Re, x.Im + y.Im};
}
inline TComplexF Sub(TComplexF x, TComplexF y) {
  return {x.Re - y.Re, x.Im - y.Im};
}
// x * (c + i s), real part first, in the order the vector code uses.
inline TComplexF Mul(TComplexF x, float c, float s) {
  return {x.Re * c - x.Im * s, x.Im * c + x.Re * s};
}
// x * (-i)
inline TComplexF MulMinusI(TComplexF x) {
  return {x.Im, -x.Re};
}

// Quarter sizes a of the radix-4 passes that carry twiddles (a >= 2): they follow the first pass,
// which is radix-4 with a = 1 for an even Bits and radix-2 for an odd one.
int FirstRadix4QuarterSize(int32_t bits) {
  return (bits % 2 == 0) ? 4 : 2;
}

}  // namespace

bool IsPowerOfTwo(int32_t value) {
  return value > 0 && (value & (value - 1)) == 0;
}

int32_t NextPowerOfTwo(int32_t value) {
  if (value <= 1) return 1;
  if (value > kLargestPowerOfTwo) return kLargestPowerOfTwo;
  int32_t p = 1;
  while (p < value) p <<= 1;
  return p;
}

TFftPlan::TFftPlan(int32_t wantedSize) {
  int32_t n = NextPowerOfTwo(wantedSize);
  if (n < 8) n = 8;
  Size = n;
  Bits = 0;
  while ((int64_t(1) << Bits) < n) ++Bits;

  // Bit reversal by reversed-carry counting.
  BitReverse.resize(n);
  int32_t r = 0;
  for (int32_t i = 0; i < n; ++i) {
    BitReverse[i] = r;
    int32_t m = n / 2;
    while (m > 0 && m <= r) {
      r -= m;
      m /= 2;
    }
    r += m;
  }
  // Plans beyond 4096 points leave the first-level cache: their swaps go in tiles where the top and
  // bottom 3 index bits vary fastest, so each tile touches 8 whole cache lines on either side
  // instead of striding over the whole block. Smaller plans swap in plain order.
  auto addPair = [this](int32_t i) {
    if (i < BitReverse[i]) {
      SwapPairs.push_back(uint32_t(i));
      SwapPairs.push_back(uint32_t(BitReverse[i]));
    }
  };
  if (Bits > 12) {
    const int32_t midCount = n >> 6;
    for (int32_t mid = 0; mid < midCount; ++mid)
      for (int32_t hi = 0; hi < 8; ++hi)
        for (int32_t lo = 0; lo < 8; ++lo) addPair((hi << (Bits - 3)) | (mid << 3) | lo);
  } else {
    for (int32_t i = 0; i < n; ++i) addPair(i);
  }

  // Radix-2 stage factors: stage a at a - 1, angle -pi k / a.
  TwiddleCos.assign(n, 0.0f);
  TwiddleSin.assign(n, 0.0f);
  size_t at = 0;
  for (int32_t a = 1; a < n; a *= 2) {
    for (int32_t k = 0; k < a; ++k, ++at) {
      const double angle = -kPi * k / a;
      TwiddleCos[at] = static_cast<float>(std::cos(angle));
      TwiddleSin[at] = static_cast<float>(std::sin(angle));
    }
  }

  // Periodic Hann window (divided by N, not N - 1).
  Window.resize(n);
  double powerSum = 0.0;
  for (int32_t k = 0; k < n; ++k) {
    Window[k] = static_cast<float>(0.5 * (1.0 - std::cos(2.0 * kPi * k / n)));
    powerSum += double(Window[k]) * double(Window[k]);
  }
  WindowPower = powerSum / n;

  // Radix-4 factors, each computed straight from its angle (not by repeated products).
  for (int32_t a = FirstRadix4QuarterSize(Bits); a < n; a *= 4) {
    Radix4Offsets.push_back(Radix4Twiddles.size());
    for (int32_t k = 0; k < a; k += 2) {
      for (int power = 1; power <= 3; ++power) {
        const double a0 = -kPi * power * k / (2.0 * a);
        const double a1 = -kPi * power * (k + 1) / (2.0 * a);
        const float c0 = static_cast<float>(std::cos(a0)), s0 = static_cast<float>(std::sin(a0));
        const float c1 = static_cast<float>(std::cos(a1)), s1 = static_cast<float>(std::sin(a1));
        const float row[8] = {c0, c0, c1, c1, -s0, s0, -s1, s1};
        Radix4Twiddles.insert(Radix4Twiddles.end(), row, row + 8);
      }
    }
    // The same factors four k to a row for the AVX pass (rows of v, v^2, v^3: cos then sin).
    Radix4OffsetsAvx.push_back(Radix4TwiddlesAvx.size());
    if (a < 4) continue;
    const float* pairs = Radix4Twiddles.data() + Radix4Offsets.back();
    for (int32_t k = 0; k < a; k += 4) {
      const float* first = pairs + 24 * (k / 2);  // k, k+1
      const float* second = first + 24;           // k+2, k+3
      for (int row = 0; row < 6; ++row) {
        Radix4TwiddlesAvx.insert(Radix4TwiddlesAvx.end(), first + 4 * row, first + 4 * row + 4);
        Radix4TwiddlesAvx.insert(Radix4TwiddlesAvx.end(), second + 4 * row, second + 4 * row + 4);
      }
    }
  }
}

void TFftPlan::ApplyWindow(const TComplexF* source, TComplexF* destination) const {
  const float* w = Window.data();
  for (int32_t i = 0; i < Size; ++i) {
    destination[i].Re = source[i].Re * w[i];
    destination[i].Im = source[i].Im * w[i];
  }
}

void TFftPlan::ApplyWindowBitReversed(const TComplexF* source, TComplexF* destination) const {
  const float* w = Window.data();
  const int32_t* rev = BitReverse.data();
  int32_t i = 0;
#if TALV_FFT_SSE2
  // Two samples per register, the same products as ApplyWindow, stored apart.
  for (; i + 2 <= Size; i += 2) {
    const __m128 x = _mm_loadu_ps(&source[i].Re);
    const __m128 pair = _mm_castpd_ps(_mm_load_sd(reinterpret_cast<const double*>(w + i)));  // w0 w1
    const __m128 y = _mm_mul_ps(x, _mm_unpacklo_ps(pair, pair));                             // w0 w0 w1 w1
    _mm_storel_pi(reinterpret_cast<__m64*>(&destination[rev[i]].Re), y);
    _mm_storeh_pi(reinterpret_cast<__m64*>(&destination[rev[i + 1]].Re), y);
  }
#endif
  for (; i < Size; ++i) {
    destination[rev[i]].Re = source[i].Re * w[i];
    destination[rev[i]].Im = source[i].Im * w[i];
  }
}

void TFftPlan::ExecuteBitReversed(TComplexF* samples) const {
  Passes<2>(samples, Size, int(Radix4Offsets.size()) - 1, false);
}

void TFftPlan::Shift(TComplexF* samples) const {
  const int32_t half = Size / 2;
  for (int32_t i = 0; i < half; ++i) std::swap(samples[i], samples[half + i]);
}

void TFftPlan::ExecuteRadix2(TComplexF* samples) const {
  const int32_t n = Size;
  for (int32_t i = 0; i < n; ++i) {
    if (i < BitReverse[i]) std::swap(samples[i], samples[BitReverse[i]]);
  }
  for (int32_t a = 1; a < n; a *= 2) {
    for (int32_t k = 0; k < a; ++k) {
      const float c = TwiddleCos[a - 1 + k];
      const float s = TwiddleSin[a - 1 + k];
      for (int32_t j = k; j < n; j += 2 * a) {
        const TComplexF t = Mul(samples[j + a], c, s);
        samples[j + a] = Sub(samples[j], t);
        samples[j] = Add(samples[j], t);
      }
    }
  }
}

void TFftPlan::Permute(TComplexF* samples) const {
  const uint32_t* p = SwapPairs.data();
  const size_t count = SwapPairs.size();
  for (size_t q = 0; q < count; q += 2) std::swap(samples[p[q]], samples[p[q + 1]]);
}

// The twiddle-free first pass: radix-4 over groups of 4 (even Bits) or radix-2 over pairs (odd).
template <bool UseSimd>
void TFftPlan::FirstPasses(TComplexF* samples, int32_t count) const {
  const int32_t n = count;
  if (Bits % 2 == 0) {
    int32_t b = 0;
#if TALV_FFT_SSE2
    // The same operations as the scalar loop below, one group of four per two registers.
    const __m128 negTop = _mm_castsi128_ps(_mm_set_epi32(int(0x80000000), 0, 0, 0));
    for (; UseSimd && b < n; b += 4) {
      const __m128 lo = _mm_loadu_ps(&samples[b].Re);            // x0 x1
      const __m128 hi = _mm_loadu_ps(&samples[b + 2].Re);        // x2 x3
      const __m128 p = _mm_movelh_ps(lo, hi);                    // x0 x2
      const __m128 q = _mm_movehl_ps(hi, lo);                    // x1 x3
      const __m128 sum = _mm_add_ps(p, q);                       // t0 t2
      __m128 dif = _mm_sub_ps(p, q);                             // t1 (x2 - x3)
      dif = _mm_xor_ps(_mm_shuffle_ps(dif, dif, 0xB4), negTop);  // t1 -i(x2 - x3)
      const __m128 u = _mm_movelh_ps(sum, dif);                  // t0 t1
      const __m128 v = _mm_movehl_ps(dif, sum);                  // t2 t3
      _mm_storeu_ps(&samples[b].Re, _mm_add_ps(u, v));           // y0 y1
      _mm_storeu_ps(&samples[b + 2].Re, _mm_sub_ps(u, v));       // y2 y3
    }
#endif
    for (; b < n; b += 4) {
      const TComplexF x0 = samples[b], x1 = samples[b + 1], x2 = samples[b + 2], x3 = samples[b + 3];
      const TComplexF t0 = Add(x0, x1), t1 = Sub(x0, x1), t2 = Add(x2, x3);
      const TComplexF t3 = MulMinusI(Sub(x2, x3));
      samples[b] = Add(t0, t2);
      samples[b + 2] = Sub(t0, t2);
      samples[b + 1] = Add(t1, t3);
      samples[b + 3] = Sub(t1, t3);
    }
  } else {
    int32_t b = 0;
#if TALV_FFT_SSE2
    for (; UseSimd && b + 4 <= n; b += 4) {
      const __m128 lo = _mm_loadu_ps(&samples[b].Re);      // x0 x1
      const __m128 hi = _mm_loadu_ps(&samples[b + 2].Re);  // x2 x3
      const __m128 p = _mm_movelh_ps(lo, hi);              // x0 x2
      const __m128 q = _mm_movehl_ps(hi, lo);              // x1 x3
      const __m128 sum = _mm_add_ps(p, q);
      const __m128 dif = _mm_sub_ps(p, q);
      _mm_storeu_ps(&samples[b].Re, _mm_movelh_ps(sum, dif));
      _mm_storeu_ps(&samples[b + 2].Re, _mm_movehl_ps(dif, sum));
    }
#endif
    for (; b < n; b += 2) {
      const TComplexF x0 = samples[b], x1 = samples[b + 1];
      samples[b] = Add(x0, x1);
      samples[b + 1] = Sub(x0, x1);
    }
  }
}

// Radix-4 decimation-in-time pass with quarter size a joins four transforms of size a:
// B = v^2 x1, C = v x2, D = v^3 x3 (v = exp(-i pi k / 2a)); then
// y0 = (x0 + B) + (C + D), y2 = (x0 + B) - (C + D), y1 = (x0 - B) - i (C - D), y3 = (x0 - B) + i (C - D).
// This is two radix-2 stages at once, in natural order after the bit reversal. The scalar, SSE2 and
// AVX versions do the same Single operations in the same order, so their results are identical.
namespace {

// tw: rows per pair of k (see Radix4Twiddles).
void Radix4PassScalar(TComplexF* samples, int32_t count, int32_t a, const float* tw) {
  for (int32_t b = 0; b < count; b += 4 * a) {
    TComplexF* s0 = samples + b;
    TComplexF* s1 = s0 + a;
    TComplexF* s2 = s1 + a;
    TComplexF* s3 = s2 + a;
    for (int32_t k = 0; k < a; ++k) {
      // k odd uses the second half of its pair's rows.
      const float* row = tw + 24 * (k / 2) + 2 * (k % 2);
      const TComplexF bb = Mul(s1[k], row[8], row[13]);
      const TComplexF cc = Mul(s2[k], row[0], row[5]);
      const TComplexF dd = Mul(s3[k], row[16], row[21]);
      const TComplexF t0 = Add(s0[k], bb), t1 = Sub(s0[k], bb), t2 = Add(cc, dd);
      const TComplexF t3 = MulMinusI(Sub(cc, dd));
      s0[k] = Add(t0, t2);
      s2[k] = Sub(t0, t2);
      s1[k] = Add(t1, t3);
      s3[k] = Sub(t1, t3);
    }
  }
}

#if TALV_FFT_SSE2
void Radix4PassSse2(TComplexF* samples, int32_t count, int32_t a, const float* tw) {
  const __m128 negHi = _mm_castsi128_ps(_mm_set_epi32(int(0x80000000), 0, int(0x80000000), 0));
  for (int32_t b = 0; b < count; b += 4 * a) {
    TComplexF* s0 = samples + b;
    TComplexF* s1 = s0 + a;
    TComplexF* s2 = s1 + a;
    TComplexF* s3 = s2 + a;
    const float* t = tw;
    for (int32_t k = 0; k < a; k += 2, t += 24) {
      // Two complex samples per register: [re0 im0 re1 im1].
      const __m128 x0 = _mm_loadu_ps(&s0[k].Re);
      const __m128 x1 = _mm_loadu_ps(&s1[k].Re);
      const __m128 x2 = _mm_loadu_ps(&s2[k].Re);
      const __m128 x3 = _mm_loadu_ps(&s3[k].Re);
      // x * w = x * [c c] + swap(x) * [-s s]
      const __m128 bb = _mm_add_ps(_mm_mul_ps(x1, _mm_loadu_ps(t + 8)),
                                   _mm_mul_ps(_mm_shuffle_ps(x1, x1, 0xB1), _mm_loadu_ps(t + 12)));
      const __m128 cc = _mm_add_ps(_mm_mul_ps(x2, _mm_loadu_ps(t + 0)),
                                   _mm_mul_ps(_mm_shuffle_ps(x2, x2, 0xB1), _mm_loadu_ps(t + 4)));
      const __m128 dd = _mm_add_ps(_mm_mul_ps(x3, _mm_loadu_ps(t + 16)),
                                   _mm_mul_ps(_mm_shuffle_ps(x3, x3, 0xB1), _mm_loadu_ps(t + 20)));
      const __m128 t0 = _mm_add_ps(x0, bb);
      const __m128 t1 = _mm_sub_ps(x0, bb);
      const __m128 t2 = _mm_add_ps(cc, dd);
      const __m128 d3 = _mm_sub_ps(cc, dd);
      const __m128 t3 = _mm_xor_ps(_mm_shuffle_ps(d3, d3, 0xB1), negHi);  // -i (C - D)
      _mm_storeu_ps(&s0[k].Re, _mm_add_ps(t0, t2));
      _mm_storeu_ps(&s2[k].Re, _mm_sub_ps(t0, t2));
      _mm_storeu_ps(&s1[k].Re, _mm_add_ps(t1, t3));
      _mm_storeu_ps(&s3[k].Re, _mm_sub_ps(t1, t3));
    }
  }
}

// One radix-4 butterfly on four complex samples per register: legs at p0..p3, factors v (c1, s1), v^2
// (c2, s2) and v^3 (c3, s3) as rows [c c ...] and [-s s ...].
__attribute__((target("avx"), always_inline)) inline void Radix4QuadAvx(float* p0, float* p1, float* p2,
                                                                        float* p3, __m256 c1, __m256 s1,
                                                                        __m256 c2, __m256 s2, __m256 c3,
                                                                        __m256 s3) {
  const __m256 negHi = _mm256_castsi256_ps(
      _mm256_set_epi32(int(0x80000000), 0, int(0x80000000), 0, int(0x80000000), 0, int(0x80000000), 0));
  const __m256 x0 = _mm256_loadu_ps(p0);
  const __m256 x1 = _mm256_loadu_ps(p1);
  const __m256 x2 = _mm256_loadu_ps(p2);
  const __m256 x3 = _mm256_loadu_ps(p3);
  const __m256 bb = _mm256_add_ps(_mm256_mul_ps(x1, c2), _mm256_mul_ps(_mm256_permute_ps(x1, 0xB1), s2));
  const __m256 cc = _mm256_add_ps(_mm256_mul_ps(x2, c1), _mm256_mul_ps(_mm256_permute_ps(x2, 0xB1), s1));
  const __m256 dd = _mm256_add_ps(_mm256_mul_ps(x3, c3), _mm256_mul_ps(_mm256_permute_ps(x3, 0xB1), s3));
  const __m256 t0 = _mm256_add_ps(x0, bb);
  const __m256 t1 = _mm256_sub_ps(x0, bb);
  const __m256 t2 = _mm256_add_ps(cc, dd);
  const __m256 d3 = _mm256_sub_ps(cc, dd);
  const __m256 t3 = _mm256_xor_ps(_mm256_permute_ps(d3, 0xB1), negHi);
  _mm256_storeu_ps(p0, _mm256_add_ps(t0, t2));
  _mm256_storeu_ps(p2, _mm256_sub_ps(t0, t2));
  _mm256_storeu_ps(p1, _mm256_add_ps(t1, t3));
  _mm256_storeu_ps(p3, _mm256_sub_ps(t1, t3));
}

// Four complex samples per register; tw: rows per quad of k (see Radix4TwiddlesAvx). a >= 4.
__attribute__((target("avx"))) void Radix4PassAvx(TComplexF* samples, int32_t count, int32_t a,
                                                  const float* tw) {
  if (a == 4) {
    // One quad of factors serves every block: they stay in registers.
    const __m256 c1 = _mm256_loadu_ps(tw), s1 = _mm256_loadu_ps(tw + 8), c2 = _mm256_loadu_ps(tw + 16);
    const __m256 s2 = _mm256_loadu_ps(tw + 24), c3 = _mm256_loadu_ps(tw + 32), s3 = _mm256_loadu_ps(tw + 40);
    for (int32_t b = 0; b < count; b += 16) {
      float* p = &samples[b].Re;
      Radix4QuadAvx(p, p + 8, p + 16, p + 24, c1, s1, c2, s2, c3, s3);
    }
    _mm256_zeroupper();
    return;
  }
  for (int32_t b = 0; b < count; b += 4 * a) {
    TComplexF* s0 = samples + b;
    TComplexF* s1 = s0 + a;
    TComplexF* s2 = s1 + a;
    TComplexF* s3 = s2 + a;
    const float* t = tw;
    for (int32_t k = 0; k < a; k += 4, t += 48)
      Radix4QuadAvx(&s0[k].Re, &s1[k].Re, &s2[k].Re, &s3[k].Re, _mm256_loadu_ps(t), _mm256_loadu_ps(t + 8),
                    _mm256_loadu_ps(t + 16), _mm256_loadu_ps(t + 24), _mm256_loadu_ps(t + 32),
                    _mm256_loadu_ps(t + 40));
  }
  _mm256_zeroupper();
}

// PermuteFirstPass for one middle m and its reverse rm (m <= rm) with four groups per register. Lane l
// of a leg holds group a = rev l, so leg j is simply row rev j of the other set; the results are
// transposed back into rows, and row l goes to position (rev l, middle, 0..3).
__attribute__((target("avx"))) void PermuteFirstPassAvx(TComplexF* samples, int32_t quarter, int32_t m,
                                                        int32_t rm) {
  const __m256 negHi = _mm256_castsi256_ps(
      _mm256_set_epi32(int(0x80000000), 0, int(0x80000000), 0, int(0x80000000), 0, int(0x80000000), 0));
  float* base[2] = {&samples[size_t(4) * m].Re, &samples[size_t(4) * rm].Re};
  const size_t row = size_t(2) * size_t(quarter);  // Singles from one top-bit value to the next
  __m256 in[2][4];
  const int count = rm == m ? 1 : 2;
  for (int s = 0; s < count; ++s)
    for (int a = 0; a < 4; ++a) in[s][a] = _mm256_loadu_ps(base[s] + a * row);
  for (int s = 0; s < count; ++s) {
    const __m256* src = in[count - 1 - s];
    const __m256 x0 = src[0], x1 = src[2], x2 = src[1], x3 = src[3];
    const __m256 t0 = _mm256_add_ps(x0, x1), t1 = _mm256_sub_ps(x0, x1), t2 = _mm256_add_ps(x2, x3);
    const __m256 d = _mm256_sub_ps(x2, x3);
    const __m256 t3 = _mm256_xor_ps(_mm256_permute_ps(d, 0xB1), negHi);  // -i (x2 - x3)
    const __m256d y0 = _mm256_castps_pd(_mm256_add_ps(t0, t2)), y2 = _mm256_castps_pd(_mm256_sub_ps(t0, t2));
    const __m256d y1 = _mm256_castps_pd(_mm256_add_ps(t1, t3)), y3 = _mm256_castps_pd(_mm256_sub_ps(t1, t3));
    // One complex sample is one Double's worth of bits: a 4 x 4 transpose of Doubles.
    const __m256d u0 = _mm256_unpacklo_pd(y0, y1), u1 = _mm256_unpackhi_pd(y0, y1);
    const __m256d u2 = _mm256_unpacklo_pd(y2, y3), u3 = _mm256_unpackhi_pd(y2, y3);
    float* out = base[s];
    _mm256_storeu_ps(out, _mm256_castpd_ps(_mm256_permute2f128_pd(u0, u2, 0x20)));            // l 0: a 0
    _mm256_storeu_ps(out + 2 * row, _mm256_castpd_ps(_mm256_permute2f128_pd(u1, u3, 0x20)));  // l 1: a 2
    _mm256_storeu_ps(out + row, _mm256_castpd_ps(_mm256_permute2f128_pd(u0, u2, 0x31)));      // l 2: a 1
    _mm256_storeu_ps(out + 3 * row, _mm256_castpd_ps(_mm256_permute2f128_pd(u1, u3, 0x31)));  // l 3: a 3
  }
  _mm256_zeroupper();
}

bool CpuRunsAvx() {
  // libgcc's probe also checks that the OS saves the AVX state.
  static const bool avx = __builtin_cpu_supports("avx");
  return avx;
}
#endif

// Passes are run depth first over blocks of at most this many samples (32 KiB), which stay in the
// first-level cache from pass to pass.
constexpr int32_t kCacheBlock = 4096;

}  // namespace

template <int Level>
void TFftPlan::Radix4Pass(TComplexF* samples, int32_t count, size_t pass) const {
  const int32_t a = FirstRadix4QuarterSize(Bits) << (2 * pass);
#if TALV_FFT_SSE2
  if constexpr (Level > 0) {
    if (Level > 1 && a >= 4 && CpuRunsAvx()) {
      Radix4PassAvx(samples, count, a, Radix4TwiddlesAvx.data() + Radix4OffsetsAvx[pass]);
    } else {
      Radix4PassSse2(samples, count, a, Radix4Twiddles.data() + Radix4Offsets[pass]);
    }
    return;
  }
#endif
  Radix4PassScalar(samples, count, a, Radix4Twiddles.data() + Radix4Offsets[pass]);
}

// Transforms the block of count samples (count = 4 x the quarter size of pass `last`, or the first
// pass's group when last < 0): either all passes in turn, or its four quarters first. With firstDone
// the twiddle-free first pass has already run (PermuteFirstPass).
template <int Level>
void TFftPlan::Passes(TComplexF* samples, int32_t count, int last, bool firstDone) const {
  if (count <= kCacheBlock || last < 0) {
    if (!firstDone) FirstPasses<(Level > 0)>(samples, count);
    for (int p = 0; p <= last; ++p) Radix4Pass<Level>(samples, count, size_t(p));
    return;
  }
  const int32_t quarter = count / 4;
  for (int i = 0; i < 4; ++i) Passes<Level>(samples + size_t(i) * quarter, quarter, last - 1, firstDone);
  Radix4Pass<Level>(samples, count, size_t(last));
}

// The bit reversal and the first radix-4 pass of an even power in one sweep, in place. Write a position
// as (a, m, b): its top two bits, the middle Bits - 4, its low two. The first pass's group (a, m) writes
// positions (a, m, 0..3), and its leg j is the sample that the reversal brings there from position
// (rev j, rev m, rev a). So the groups (0..3, m) and (0..3, rev m) read exactly the 16 samples they
// write (32 when m differs from rev m): both sets are loaded, then transformed and stored. Legs and
// butterflies are those of FirstPasses, so the result has the bits of Permute then FirstPasses.
void TFftPlan::PermuteFirstPass(TComplexF* samples, bool allowAvx) const {
  const int32_t quarter = Size / 4;
  const int32_t middles = Size / 16;
#if TALV_FFT_SSE2
  if (allowAvx && CpuRunsAvx()) {
    for (int32_t m = 0; m < middles; ++m) {
      const int32_t rm = BitReverse[size_t(4) * m] >> 2;
      if (rm >= m) PermuteFirstPassAvx(samples, quarter, m, rm);
    }
    return;
  }
#else
  (void)allowAvx;
#endif
  for (int32_t m = 0; m < middles; ++m) {
    const int32_t rm = BitReverse[size_t(4) * m] >> 2;
    if (rm < m) continue;  // done with its partner
    const int32_t sets[2] = {m, rm};
    const int count = rm == m ? 1 : 2;
    TComplexF in[2][4][4];  // [set][a][b]: sample (a, middle, b)
    for (int s = 0; s < count; ++s)
      for (int a = 0; a < 4; ++a)
        std::memcpy(in[s][a], samples + size_t(a) * quarter + size_t(4) * sets[s], sizeof in[s][a]);
    for (int s = 0; s < count; ++s) {
      // Groups (a, sets[s]) read the other set (the same one when the middle is its own reverse).
      const TComplexF(*src)[4] = in[count - 1 - s];
      TComplexF* out = samples + size_t(4) * sets[s];
      int a = 0;
#if TALV_FFT_SSE2
      // Groups a and a + 2 side by side: leg j of both is the pair src[rev j][rev a], src[rev j][rev a + 1].
      const __m128 negTop = _mm_castsi128_ps(_mm_set_epi32(int(0x80000000), 0, int(0x80000000), 0));
      for (; a < 2; ++a) {
        const int ra = 2 * a;  // rev of a (0 or 1) is 0 or 2; rev of a + 2 is one more
        const __m128 x0 = _mm_loadu_ps(&src[0][ra].Re);
        const __m128 x1 = _mm_loadu_ps(&src[2][ra].Re);
        const __m128 x2 = _mm_loadu_ps(&src[1][ra].Re);
        const __m128 x3 = _mm_loadu_ps(&src[3][ra].Re);
        const __m128 t0 = _mm_add_ps(x0, x1), t1 = _mm_sub_ps(x0, x1), t2 = _mm_add_ps(x2, x3);
        const __m128 d = _mm_sub_ps(x2, x3);
        const __m128 t3 = _mm_xor_ps(_mm_shuffle_ps(d, d, 0xB1), negTop);  // -i (x2 - x3)
        const __m128 y0 = _mm_add_ps(t0, t2), y2 = _mm_sub_ps(t0, t2);
        const __m128 y1 = _mm_add_ps(t1, t3), y3 = _mm_sub_ps(t1, t3);
        float* lo = &out[size_t(a) * quarter].Re;
        float* hi = &out[size_t(a + 2) * quarter].Re;
        _mm_storeu_ps(lo, _mm_movelh_ps(y0, y1));
        _mm_storeu_ps(lo + 4, _mm_movelh_ps(y2, y3));
        _mm_storeu_ps(hi, _mm_movehl_ps(y1, y0));
        _mm_storeu_ps(hi + 4, _mm_movehl_ps(y3, y2));
      }
      a = 4;  // groups 2 and 3 went with 0 and 1
#endif
      static constexpr int kRev2[4] = {0, 2, 1, 3};
      for (; a < 4; ++a) {
        const int ra = kRev2[a];
        const TComplexF x0 = src[0][ra], x1 = src[2][ra], x2 = src[1][ra], x3 = src[3][ra];
        const TComplexF t0 = Add(x0, x1), t1 = Sub(x0, x1), t2 = Add(x2, x3);
        const TComplexF t3 = MulMinusI(Sub(x2, x3));
        TComplexF* y = out + size_t(a) * quarter;
        y[0] = Add(t0, t2);
        y[2] = Sub(t0, t2);
        y[1] = Add(t1, t3);
        y[3] = Sub(t1, t3);
      }
    }
  }
}

void TFftPlan::Execute(TComplexF* samples) const {
  if (Bits % 2 == 0) {
    PermuteFirstPass(samples, true);
    Passes<2>(samples, Size, int(Radix4Offsets.size()) - 1, true);
    return;
  }
  Permute(samples);
  Passes<2>(samples, Size, int(Radix4Offsets.size()) - 1, false);
}

void TFftPlan::ExecuteSse2(TComplexF* samples) const {
  if (Bits % 2 == 0) {
    PermuteFirstPass(samples, false);
    Passes<1>(samples, Size, int(Radix4Offsets.size()) - 1, true);
    return;
  }
  Permute(samples);
  Passes<1>(samples, Size, int(Radix4Offsets.size()) - 1, false);
}

void TFftPlan::ExecutePortable(TComplexF* samples) const {
  Permute(samples);
  Passes<0>(samples, Size, int(Radix4Offsets.size()) - 1, false);
}
