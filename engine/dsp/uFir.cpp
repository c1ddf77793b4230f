#include "uFir.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "uDspKernels.h"

// The vector types pass only between inlined routines, never across a call boundary.
#pragma GCC diagnostic ignored "-Wpsabi"

namespace {

constexpr double Pi = 3.14159265358979323846;

// Four float lanes. GCC and Clang turn the vector type into SSE2 (x86-64 and i686 alike, so every build
// sums in the same order); other compilers get the same lane arithmetic spelled out.
#if defined(__GNUC__)
typedef float TVec4 __attribute__((vector_size(16)));
inline TVec4 Load4(const float* p) {
  TVec4 v;
  std::memcpy(&v, p, sizeof v);
  return v;
}
inline TVec4 Zero4() {
  return TVec4{0.0f, 0.0f, 0.0f, 0.0f};
}
#else
struct TVec4 {
  float L[4];
  float operator[](int i) const { return L[i]; }
};
inline TVec4 Load4(const float* p) {
  TVec4 v;
  std::memcpy(v.L, p, sizeof v.L);
  return v;
}
inline TVec4 Zero4() {
  return TVec4{{0.0f, 0.0f, 0.0f, 0.0f}};
}
inline TVec4 operator*(TVec4 a, TVec4 b) {
  for (int i = 0; i < 4; ++i) a.L[i] *= b.L[i];
  return a;
}
inline TVec4 operator+(TVec4 a, TVec4 b) {
  for (int i = 0; i < 4; ++i) a.L[i] += b.L[i];
  return a;
}
inline TVec4& operator+=(TVec4& a, TVec4 b) {
  return a = a + b;
}
#endif

// Lane r of the result sums a[k] * b[k] over k < len with k mod 4 = r; len is a multiple of 4. Four
// independent partial sums keep the adder busy instead of waiting on one long dependency chain.
inline TVec4 LaneDot(const float* a, const float* b, int32_t len) {
  TVec4 s0 = Zero4(), s1 = Zero4(), s2 = Zero4(), s3 = Zero4();
  int32_t k = 0;
  for (; k + 16 <= len; k += 16) {
    s0 += Load4(a + k) * Load4(b + k);
    s1 += Load4(a + k + 4) * Load4(b + k + 4);
    s2 += Load4(a + k + 8) * Load4(b + k + 8);
    s3 += Load4(a + k + 12) * Load4(b + k + 12);
  }
  for (; k + 4 <= len; k += 4) s0 += Load4(a + k) * Load4(b + k);
  return (s0 + s1) + (s2 + s3);
}

// Real dot product of n Singles.
inline float DotReal(const float* a, const float* b, int32_t n) {
  const int32_t n4 = n & ~3;
  const TVec4 v = LaneDot(a, b, n4);
  float s = (v[0] + v[1]) + (v[2] + v[3]);
  for (int32_t k = n4; k < n; ++k) s += a[k] * b[k];
  return s;
}

// Interleaved complex data x (Re, Im, ...) against taps laid out twice each (t0, t0, t1, t1, ...):
// out.Re = sum t * x.Re, out.Im = sum t * x.Im over n complex samples.
inline void DotPairs(const float* taps2, const float* x, int32_t n, float& re, float& im) {
  const int32_t len = 2 * n;
  const int32_t len4 = len & ~3;
  const TVec4 v = LaneDot(taps2, x, len4);
  re = v[0] + v[2];
  im = v[1] + v[3];
  if (len4 < len) {
    re += taps2[len4] * x[len4];
    im += taps2[len4 + 1] * x[len4 + 1];
  }
}

const float* Floats(const TComplexF* p) {
  return reinterpret_cast<const float*>(p);
}

// ---------------------------------------------------------------------------------------------
// Several outputs of a real-tap filter at once. Output o is the sum over taps j of t[j] x_o(j) with
// x_o(2i) = a[o + step i] and x_o(2i + 1) = b[o + step i] (complex samples), so that for each tap the
// inputs of consecutive outputs lie side by side: a plain filter reads its block with a = x, b = x + 1,
// step 2; a decimate-by-2 filter reads the even and the odd samples apart, step 1.
// Each output is summed exactly as DotPairs sums it: eight partial sums (tap j goes to the pair slot
// (j mod 8) div 2 and the parity j mod 2 while the 16-Single main loop of LaneDot runs, then to slot 0),
// joined as LaneDot and DotPairs join them, the odd last tap added at the end. The lanes of a vector
// are outputs, never parts of one sum, so every vector width (one output, two with SSE2, four with
// AVX) gives the bits of DotPairs.

// W complex outputs side by side.
typedef float TOut1 __attribute__((vector_size(8)));
typedef float TOut2 __attribute__((vector_size(16)));
typedef float TOut4 __attribute__((vector_size(32)));

template <class V>
inline __attribute__((always_inline)) V LoadOut(const TComplexF* p) {
  V v;
  std::memcpy(&v, p, sizeof v);
  return v;
}

template <class V, int Step>
inline __attribute__((always_inline)) V FilterOutputs(const float* t, int32_t tapCount, const TComplexF* a,
                                                      const TComplexF* b) {
  const int32_t pairTaps = tapCount & ~1;       // the taps LaneDot covers
  const int32_t mainTaps = (pairTaps / 8) * 8;  // the taps of its 16-Single main loop
  V s00{}, s01{}, s10{}, s11{}, s20{}, s21{}, s30{}, s31{};
  int32_t j = 0;
  for (; j < mainTaps; j += 8) {
    const int32_t i = Step * (j / 2);
    s00 += t[j] * LoadOut<V>(a + i);
    s01 += t[j + 1] * LoadOut<V>(b + i);
    s10 += t[j + 2] * LoadOut<V>(a + i + Step);
    s11 += t[j + 3] * LoadOut<V>(b + i + Step);
    s20 += t[j + 4] * LoadOut<V>(a + i + 2 * Step);
    s21 += t[j + 5] * LoadOut<V>(b + i + 2 * Step);
    s30 += t[j + 6] * LoadOut<V>(a + i + 3 * Step);
    s31 += t[j + 7] * LoadOut<V>(b + i + 3 * Step);
  }
  for (; j < pairTaps; j += 2) {
    const int32_t i = Step * (j / 2);
    s00 += t[j] * LoadOut<V>(a + i);
    s01 += t[j + 1] * LoadOut<V>(b + i);
  }
  const V even = (s00 + s10) + (s20 + s30);
  const V odd = (s01 + s11) + (s21 + s31);
  V r = even + odd;
  if (pairTaps < tapCount) r += t[pairTaps] * LoadOut<V>(a + Step * (pairTaps / 2));
  return r;
}

template <class V, int Step>
inline __attribute__((always_inline)) int32_t FilterWide(const float* taps, int32_t tapCount,
                                                         const TComplexF* a, const TComplexF* b,
                                                         int32_t count, TComplexF* out) {
  constexpr int32_t W = int32_t(sizeof(V) / sizeof(TComplexF));
  int32_t o = 0;
  for (; o + W <= count; o += W) {
    const V r = FilterOutputs<V, Step>(taps, tapCount, a + o, b + o);
    std::memcpy(out + o, &r, sizeof r);
  }
  return o;
}

template <int Step>
void FilterRunSse2(const float* taps, int32_t tapCount, const TComplexF* a, const TComplexF* b, int32_t count,
                   TComplexF* out) {
  int32_t o = FilterWide<TOut2, Step>(taps, tapCount, a, b, count, out);
  for (; o < count; ++o) {
    const TOut1 r = FilterOutputs<TOut1, Step>(taps, tapCount, a + o, b + o);
    std::memcpy(out + o, &r, sizeof r);
  }
}

#if defined(__x86_64__)
// 32-bit builds keep to SSE2: eight vector registers cannot hold the eight sums of four outputs.
template <int Step>
__attribute__((target("avx"))) int32_t FilterRunAvx(const float* taps, int32_t tapCount, const TComplexF* a,
                                                    const TComplexF* b, int32_t count, TComplexF* out) {
  return FilterWide<TOut4, Step>(taps, tapCount, a, b, count, out);
}
#endif

// count outputs of the filter (see FilterOutputs), on the widest path the processor runs.
template <int Step>
void FilterRun(const float* taps, int32_t tapCount, const TComplexF* a, const TComplexF* b, int32_t count,
               TComplexF* out, bool allowAvx) {
  int32_t done = 0;
#if defined(__x86_64__)
  if (allowAvx && CpuKernelLevel() >= 1) done = FilterRunAvx<Step>(taps, tapCount, a, b, count, out);
#else
  (void)allowAvx;
#endif
  FilterRunSse2<Step>(taps, tapCount, a + done, b + done, count - done, out + done);
}

int64_t Gcd64(int64_t a, int64_t b) {
  a = a < 0 ? -a : a;
  b = b < 0 ? -b : b;
  while (b != 0) {
    const int64_t t = a % b;
    a = b;
    b = t;
  }
  return a == 0 ? 1 : a;
}

}  // namespace

int32_t Gcd(int32_t a, int32_t b) {
  // In 64 bits so that the absolute value of INT32_MIN stays representable.
  const int64_t g = Gcd64(a, b);
  return g > std::numeric_limits<int32_t>::max() ? std::numeric_limits<int32_t>::max()
                                                 : static_cast<int32_t>(g);
}

double Sinc(double x) {
  if (std::fabs(x) < 1e-12) return 1.0;
  return std::sin(Pi * x) / (Pi * x);
}

void DesignLowPass(TSingleArray& taps, double cutoff, int32_t n) {
  n = std::max<int32_t>(n, 3);
  if (n % 2 == 0) ++n;
  double fc = cutoff;
  if (!(fc > 0.0)) fc = 1e-6;  // also NaN
  if (fc >= 0.5) fc = 0.4999;
  const float m = static_cast<float>(n - 1) * 0.5f;
  const double span = static_cast<double>(n - 1);
  std::vector<double> h(static_cast<size_t>(n));
  double sum = 0.0;
  for (int32_t i = 0; i < n; ++i) {
    const double w = 0.42 - 0.5 * std::cos(2.0 * Pi * i / span) + 0.08 * std::cos(4.0 * Pi * i / span);
    h[i] = w * 2.0 * fc * Sinc(2.0 * fc * (i - static_cast<double>(m)));
    sum += h[i];
  }
  taps.resize(static_cast<size_t>(n));
  for (int32_t i = 0; i < n; ++i) taps[i] = static_cast<float>(h[i] / sum);
}

void DesignComplexBandPass(double lo, double hi, int32_t n, TSingleArray& tapsRe, TSingleArray& tapsIm) {
  TSingleArray proto;
  DesignLowPass(proto, (hi - lo) * 0.5, n);
  const int32_t count = static_cast<int32_t>(proto.size());
  const double f0 = (lo + hi) * 0.5;
  const float half = static_cast<float>(count - 1) * 0.5f;
  tapsRe.resize(proto.size());
  tapsIm.resize(proto.size());
  for (int32_t i = 0; i < count; ++i) {
    const double phase = 2.0 * Pi * f0 * (i - static_cast<double>(half));
    tapsRe[i] = static_cast<float>(std::cos(phase) * proto[i]);
    tapsIm[i] = static_cast<float>(std::sin(phase) * proto[i]);
  }
}

void HalfBandTaps(TSingleArray& taps, int32_t n) {
  DesignLowPass(taps, 0.23, n);
}

// ---------------------------------------------------------------------------------------------
// TFirDecim

TFirDecim::TFirDecim(const TSingleArray& taps, int32_t factor)
    : FTaps(taps.empty() ? TSingleArray{1.0f} : taps), FFactor(factor < 1 ? 1 : factor) {
  FTapCount = static_cast<int32_t>(FTaps.size());
  FTaps2.resize(2 * FTaps.size());
  for (size_t j = 0; j < FTaps.size(); ++j) FTaps2[2 * j] = FTaps2[2 * j + 1] = FTaps[j];
  FWork.assign(static_cast<size_t>(FTapCount - 1), TComplexF{0.0f, 0.0f});
}

int32_t TFirDecim::Process(const TComplexF* input, int32_t n, TComplexF* output) {
  return ProcessOn(input, n, output, true);
}

int32_t TFirDecim::ProcessSse2(const TComplexF* input, int32_t n, TComplexF* output) {
  return ProcessOn(input, n, output, false);
}

int32_t TFirDecim::ProcessOn(const TComplexF* input, int32_t n, TComplexF* output, bool allowAvx) {
  if (n <= 0 || input == nullptr) return 0;
  if (FFactor == 2) return ProcessHalving(input, n, output, allowAvx);
  const size_t hist = static_cast<size_t>(FTapCount - 1);
  const size_t need = hist + static_cast<size_t>(n);
  if (FWork.size() < need) FWork.resize(need);
  std::memcpy(FWork.data() + hist, input, static_cast<size_t>(n) * sizeof(TComplexF));
  int32_t count = 0;
  if (FFactor == 1) {
    // Factor 1 starts every block at its first sample.
    const TComplexF* x = FWork.data() + FPhase;
    count = n - FPhase;
    FilterRun<2>(FTaps.data(), FTapCount, x, x + 1, count, output, allowAvx);
    FPhase = n;
  } else {
    const float* work = Floats(FWork.data());
    while (FPhase < n) {
      float re, im;
      DotPairs(FTaps2.data(), work + 2 * static_cast<size_t>(FPhase), FTapCount, re, im);
      output[count++] = TComplexF{re, im};
      FPhase += FFactor;
    }
  }
  FPhase -= n;
  std::memmove(FWork.data(), FWork.data() + n, hist * sizeof(TComplexF));
  return count;
}

// The stream (history, then the block) split into its even and odd samples, so that the inputs of
// consecutive outputs lie side by side; FWork keeps only the history.
int32_t TFirDecim::ProcessHalving(const TComplexF* input, int32_t n, TComplexF* output, bool allowAvx) {
  const int32_t hist = FTapCount - 1;
  const size_t total = static_cast<size_t>(hist) + static_cast<size_t>(n);
  if (FEven.size() < total / 2 + 1) {
    FEven.resize(total / 2 + 1);
    FOdd.resize(total / 2 + 1);
  }
  TComplexF* half[2] = {FEven.data(), FOdd.data()};
  for (int32_t i = 0; i < hist; ++i) half[i & 1][i >> 1] = FWork[static_cast<size_t>(i)];
  // Input sample q is stream sample hist + q.
  const int32_t first = hist & 1;  // which half input sample 0 goes to
  TComplexF* toFirst = half[first] + (hist >> 1);
  TComplexF* toSecond = half[first ^ 1] + ((hist + 1) >> 1);
  int32_t q = 0;
#if defined(__SSE2__)
  for (; q + 4 <= n; q += 4) {
    const __m128 lo = _mm_loadu_ps(&input[q].Re);      // x0 x1
    const __m128 hi = _mm_loadu_ps(&input[q + 2].Re);  // x2 x3
    _mm_storeu_ps(&toFirst[q / 2].Re, _mm_movelh_ps(lo, hi));
    _mm_storeu_ps(&toSecond[q / 2].Re, _mm_movehl_ps(hi, lo));
  }
#endif
  for (; q < n; ++q) {
    if ((q & 1) == 0)
      toFirst[q / 2] = input[q];
    else
      toSecond[q / 2] = input[q];
  }

  // Output at stream position FPhase + 2o: tap 2i reads sample FPhase + 2o + 2i, tap 2i + 1 the next.
  int32_t count = FPhase < n ? (n - 1 - FPhase) / 2 + 1 : 0;
  const int32_t p = FPhase;
  const TComplexF* a = half[p & 1] + (p >> 1);
  const TComplexF* b = half[(p + 1) & 1] + ((p + 1) >> 1);
  FilterRun<1>(FTaps.data(), FTapCount, a, b, count, output, allowAvx);
  FPhase += 2 * count - n;

  // The last hist samples of the stream become the history.
  if (FWork.size() < static_cast<size_t>(hist)) FWork.resize(static_cast<size_t>(hist));
  const int64_t start = static_cast<int64_t>(n);  // stream index of the new history's first sample
  for (int32_t i = 0; i < hist; ++i) {
    const int64_t at = start + i;
    FWork[static_cast<size_t>(i)] = half[at & 1][at >> 1];
  }
  return count;
}

// ---------------------------------------------------------------------------------------------
// TFirComplexBp

TFirComplexBp::TFirComplexBp(const TSingleArray& tapsRe, const TSingleArray& tapsIm) {
  size_t count = std::min(tapsRe.size(), tapsIm.size());
  const bool none = count == 0;
  if (none) count = 1;  // no taps: a unit tap passes the signal through
  FTapCount = static_cast<int32_t>(count);
  FRe2.resize(2 * count);
  FIm2.resize(2 * count);
  // Stored reversed: the window runs oldest to newest, so its last sample meets tap 0.
  for (size_t k = 0; k < count; ++k) {
    const size_t j = count - 1 - k;
    const float re = none ? 1.0f : tapsRe[j];
    const float im = none ? 0.0f : tapsIm[j];
    FRe2[2 * k] = FRe2[2 * k + 1] = re;
    FIm2[2 * k] = FIm2[2 * k + 1] = im;
  }
  FWork.assign(count - 1, TComplexF{0.0f, 0.0f});
}

int32_t TFirComplexBp::Process(const TComplexF* input, int32_t n, TComplexF* output) {
  if (n <= 0 || input == nullptr) return 0;
  const size_t hist = static_cast<size_t>(FTapCount - 1);
  const size_t need = hist + static_cast<size_t>(n);
  if (FWork.size() < need) FWork.resize(need);
  std::memcpy(FWork.data() + hist, input, static_cast<size_t>(n) * sizeof(TComplexF));
  const float* work = Floats(FWork.data());
  for (int32_t i = 0; i < n; ++i) {
    const float* x = work + 2 * static_cast<size_t>(i);
    float xrHr, xiHr, xrHi, xiHi;
    DotPairs(FRe2.data(), x, FTapCount, xrHr, xiHr);
    DotPairs(FIm2.data(), x, FTapCount, xrHi, xiHi);
    output[i] = TComplexF{xrHr - xiHi, xiHr + xrHi};
  }
  std::memmove(FWork.data(), FWork.data() + n, hist * sizeof(TComplexF));
  return n;
}

// ---------------------------------------------------------------------------------------------
// TResampler

void BoundedRatio(int64_t upIn, int64_t downIn, int32_t maxUp, int32_t& up, int32_t& down) {
  constexpr int64_t Max32 = std::numeric_limits<int32_t>::max();
  int64_t u = std::clamp<int64_t>(upIn, 1, Max32);
  int64_t d = std::clamp<int64_t>(downIn, 1, Max32);
  const int64_t g = Gcd64(u, d);
  u /= g;
  d /= g;
  const int64_t limit = std::max<int32_t>(maxUp, 1);
  if (u <= limit) {
    up = static_cast<int32_t>(u);
    down = static_cast<int32_t>(d);
    return;
  }
  // Continued fraction of d/u (inputs per output), stopped before the denominator passes the limit;
  // the answer is the last convergent or the best semiconvergent beyond it.
  int64_t p0 = 0, q0 = 1, p1 = 1, q1 = 0;
  int64_t num = d, den = u;
  while (den != 0) {
    const int64_t a = num / den;
    const int64_t q2 = q0 + a * q1;
    if (q2 > limit) break;
    const int64_t p2 = p0 + a * p1;
    p0 = p1;
    q0 = q1;
    p1 = p2;
    q1 = q2;
    const int64_t r = num - a * den;
    num = den;
    den = r;
  }
  const int64_t k = (limit - q0) / q1;
  const int64_t pa = p0 + k * p1, qa = q0 + k * q1;  // semiconvergent
  const int64_t pb = p1, qb = q1;                    // convergent
  // |p/q - d/u| compared exactly: |p*u - d*q| / (q*u); all products stay well inside 64 bits.
  const int64_t ea = pa * u - d * qa, eb = pb * u - d * qb;
  const int64_t absA = ea < 0 ? -ea : ea, absB = eb < 0 ? -eb : eb;
  int64_t p = pb, q = qb;
  if (absA * qb < absB * qa) {
    p = pa;
    q = qa;
  }
  if (p < 1) p = 1;
  const int64_t g2 = Gcd64(p, q);
  up = static_cast<int32_t>(q / g2);
  down = static_cast<int32_t>(p / g2);
}

TResampler::TResampler(int64_t up, int64_t down, int32_t tapsPerPhase, double cutoffFraction) {
  BoundedRatio(up < 1 ? 1 : up, down < 1 ? 1 : down, ResamplerMaxPhases, FUp, FDown);
  FK = tapsPerPhase < 4 ? 4 : tapsPerPhase;
  double t = cutoffFraction;
  if (!(t > 0.0) || t > 1.0) t = 1.0;
  TSingleArray proto;
  DesignLowPass(proto, t * 0.5 / std::max(FUp, FDown),
                static_cast<int32_t>(std::min<int64_t>(static_cast<int64_t>(FK) * FUp,
                                                       std::numeric_limits<int32_t>::max() - 1)));
  const size_t k = static_cast<size_t>(FK);
  FPoly.assign(k * static_cast<size_t>(FUp), 0.0f);
  for (size_t p = 0; p < static_cast<size_t>(FUp); ++p) {
    for (size_t j = 0; j < k; ++j) {
      const size_t idx = static_cast<size_t>(FUp) * j + p;
      // The factor L restores the gain that zero-stuffing takes away.
      const float v = idx < proto.size() ? static_cast<float>(FUp * static_cast<double>(proto[idx])) : 0.0f;
      FPoly[p * k + (k - 1 - j)] = v;
    }
  }
  FWork.assign(k - 1, 0.0f);
}

int32_t TResampler::MaxOut(int32_t n) const {
  if (n <= 0) return 2;
  const int64_t v = static_cast<int64_t>(n) * FUp / FDown + 2;
  return v > std::numeric_limits<int32_t>::max() ? std::numeric_limits<int32_t>::max()
                                                 : static_cast<int32_t>(v);
}

int32_t TResampler::Process(const float* input, int32_t n, float* output) {
  if (n <= 0 || input == nullptr) return 0;
  const size_t hist = static_cast<size_t>(FK - 1);
  const size_t need = hist + static_cast<size_t>(n);
  if (FWork.size() < need) FWork.resize(need);
  std::memcpy(FWork.data() + hist, input, static_cast<size_t>(n) * sizeof(float));
  const int64_t end = static_cast<int64_t>(FUp) * n;  // first position beyond this block
  const size_t k = static_cast<size_t>(FK);
  int32_t count = 0;
  while (FPosition < end) {
    const int64_t idx = FPosition / FUp;
    const int64_t phase = FPosition % FUp;
    output[count++] = DotReal(FWork.data() + idx, FPoly.data() + static_cast<size_t>(phase) * k, FK);
    FPosition += FDown;
  }
  FPosition -= end;
  std::memmove(FWork.data(), FWork.data() + n, hist * sizeof(float));
  return count;
}
