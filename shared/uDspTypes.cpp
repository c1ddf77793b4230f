#include "uDspTypes.h"

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace {

constexpr float kU8ZeroHi = 127.4f;
constexpr float kU8ZeroLo = static_cast<float>(127.4 - static_cast<double>(kU8ZeroHi));

// Both tables are built at compile time: they exist before any other unit's start-up code runs.
constexpr TByteTable MakeU8Table() {
  TByteTable t{};
  for (int i = 0; i < 256; ++i) t[i] = static_cast<float>((static_cast<double>(i) - 127.4) / 128.0);
  return t;
}

constexpr TByteTable MakeS8Table() {
  TByteTable t{};
  for (int i = 0; i < 256; ++i) {
    const int v = i < 128 ? i : i - 256;
    t[i] = static_cast<float>(static_cast<double>(v) / 128.0);
  }
  return t;
}

int gKernelLevel = 0;
TKernelLevelProbe gKernelLevelProbe = nullptr;

}  // namespace

extern constinit const TByteTable U8ToFloatTable = MakeU8Table();
extern constinit const TByteTable S8ToFloatTable = MakeS8Table();

#if defined(__SSE2__)
// Sixteen bytes (eight samples) at a time: the bytes widened to Int32 and converted exactly, then the
// table's value by arithmetic. Offset binary: (x - 127.4) / 128 as (x - Hi) - Lo, where Hi is 127.4 in
// Single and Lo the rest of it; x - Hi is exact, so one rounding remains, and that gives the table
// entry for every byte (a test checks all 256 in both positions). Signed: x / 128, exact.
template <bool Signed>
void ConvertBlockSse2(const uint8_t* bytes, TComplexF* samples, int count) {
  const __m128 hi = _mm_set1_ps(kU8ZeroHi);
  const __m128 lo = _mm_set1_ps(kU8ZeroLo);
  const __m128 scale = _mm_set1_ps(1.0f / 128.0f);
  const __m128i zero = _mm_setzero_si128();
  float* out = reinterpret_cast<float*>(samples);
  const int values = 2 * count;
  int v = 0;
  for (; v + 16 <= values; v += 16) {
    const __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i*>(bytes + v));
    __m128i w16lo, w16hi;
    if (Signed) {  // sign-extend: the byte in the top half of a 16-bit lane, shifted down
      w16lo = _mm_srai_epi16(_mm_unpacklo_epi8(zero, b), 8);
      w16hi = _mm_srai_epi16(_mm_unpackhi_epi8(zero, b), 8);
    } else {
      w16lo = _mm_unpacklo_epi8(b, zero);
      w16hi = _mm_unpackhi_epi8(b, zero);
    }
    const __m128i words[2] = {w16lo, w16hi};
    for (int h = 0; h < 2; ++h) {
      const __m128i sign = Signed ? _mm_srai_epi16(words[h], 15) : zero;
      const __m128 f0 = _mm_cvtepi32_ps(_mm_unpacklo_epi16(words[h], sign));
      const __m128 f1 = _mm_cvtepi32_ps(_mm_unpackhi_epi16(words[h], sign));
      if (Signed) {
        _mm_storeu_ps(out + v + 8 * h, _mm_mul_ps(f0, scale));
        _mm_storeu_ps(out + v + 8 * h + 4, _mm_mul_ps(f1, scale));
      } else {
        _mm_storeu_ps(out + v + 8 * h, _mm_mul_ps(_mm_sub_ps(_mm_sub_ps(f0, hi), lo), scale));
        _mm_storeu_ps(out + v + 8 * h + 4, _mm_mul_ps(_mm_sub_ps(_mm_sub_ps(f1, hi), lo), scale));
      }
    }
  }
  const TByteTable& table = Signed ? S8ToFloatTable : U8ToFloatTable;
  for (; v < values; ++v) out[v] = table[bytes[v]];
}
#endif

void ConvertU8ToComplexScalar(const uint8_t* bytes, TComplexF* samples, int count) {
#if defined(__SSE2__)
  ConvertBlockSse2<false>(bytes, samples, count);
#else
  for (int k = 0; k < count; ++k) {
    samples[k].Re = U8ToFloatTable[bytes[2 * k]];
    samples[k].Im = U8ToFloatTable[bytes[2 * k + 1]];
  }
#endif
}

void ConvertS8ToComplexScalar(const uint8_t* bytes, TComplexF* samples, int count) {
#if defined(__SSE2__)
  ConvertBlockSse2<true>(bytes, samples, count);
#else
  for (int k = 0; k < count; ++k) {
    samples[k].Re = S8ToFloatTable[bytes[2 * k]];
    samples[k].Im = S8ToFloatTable[bytes[2 * k + 1]];
  }
#endif
}

void AccumulatePowerScalar(const TComplexF* samples, float* sums, int count) {
  int k = 0;
#if defined(__SSE2__)
  // Four samples at a time, the same two additions in the same order per sum.
  for (; k + 4 <= count; k += 4) {
    const __m128 a = _mm_loadu_ps(&samples[k].Re);      // r0 i0 r1 i1
    const __m128 b = _mm_loadu_ps(&samples[k + 2].Re);  // r2 i2 r3 i3
    const __m128 re = _mm_shuffle_ps(a, b, _MM_SHUFFLE(2, 0, 2, 0));
    const __m128 im = _mm_shuffle_ps(a, b, _MM_SHUFFLE(3, 1, 3, 1));
    const __m128 s = _mm_add_ps(_mm_loadu_ps(sums + k), _mm_mul_ps(re, re));
    _mm_storeu_ps(sums + k, _mm_add_ps(s, _mm_mul_ps(im, im)));
  }
#endif
  for (; k < count; ++k) {
    const float re = samples[k].Re;
    const float im = samples[k].Im;
    float s = sums[k] + re * re;
    s = s + im * im;
    sums[k] = s;
  }
}

// Constant-initialised, so the routines work even before SelectKernels has run.
constinit TConvertKernel ConvertU8Kernel = &ConvertU8ToComplexScalar;
constinit TConvertKernel ConvertS8Kernel = &ConvertS8ToComplexScalar;
constinit TPowerKernel AccumulatePowerKernel = &AccumulatePowerScalar;

int KernelLevel() {
  return gKernelLevel;
}

void SetKernelLevelProbe(TKernelLevelProbe probe) {
  gKernelLevelProbe = probe;
}

void SelectKernels() {
  ConvertU8Kernel = &ConvertU8ToComplexScalar;
  ConvertS8Kernel = &ConvertS8ToComplexScalar;
  AccumulatePowerKernel = &AccumulatePowerScalar;
  int level = gKernelLevelProbe != nullptr ? gKernelLevelProbe() : 0;
  if (level < 0 || level > 2) level = 0;
  gKernelLevel = level;
}
