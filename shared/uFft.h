#pragma once
// TFftPlan: the complex forward FFT of the system, power-of-two sizes, in place, unscaled, no
// inverse. Create precomputes everything (bit reversal, twiddles, the periodic Hann window and its
// mean power); ApplyWindow, Execute and Shift then only work on caller-provided buffers and allocate
// nothing, so one plan may serve several threads that each pass their own samples.
// The public tables are those of a radix-2 decimation-in-time transform. Execute computes the same
// transform faster: bit reversal (for even powers joined with the first pass), then radix-4 passes
// (one radix-2 pass first for odd powers), run
// depth first over cache-sized blocks, with SSE2 on x86 and AVX where the processor has it. Its
// result equals the forward DFT to Single precision and is bit-identical on every build and
// processor, since every path does the same Single operations in the same order (no FMA).
#include <cstddef>
#include <cstdint>
#include <vector>

#include "uDspTypes.h"

// True for a positive power of two.
bool IsPowerOfTwo(int32_t value);
// The smallest power of two not below value: 1 for values up to 1, at most 2^30 (larger arguments
// saturate there, since 2^31 does not fit an Int32).
int32_t NextPowerOfTwo(int32_t value);

class TFftPlan {
 public:
  // A size that is not a power of two is raised to the next one; sizes below 8 become 8.
  explicit TFftPlan(int32_t wantedSize);

  int32_t Size = 0;                 // N, a power of two, at least 8
  int32_t Bits = 0;                 // log2(N)
  std::vector<int32_t> BitReverse;  // bit-reversed index of each position
  std::vector<float> TwiddleCos;    // radix-2 stage factors one after the other, stage a at a - 1
  std::vector<float> TwiddleSin;
  TSingleArray Window;       // periodic Hann: 0.5 * (1 - cos(2 pi k / N))
  double WindowPower = 0.0;  // mean of the squared window values

  // destination[i] = source[i] * Window[i] (both parts), i = 0..N-1. The buffers may be the same.
  void ApplyWindow(const TComplexF* source, TComplexF* destination) const;
  // Forward transform of N samples in place: X[k] = sum x[n] exp(-2 pi i n k / N).
  void Execute(TComplexF* samples) const;
  // Swaps the halves: zero frequency moves to index N/2, index 0 becomes minus half the rate.
  void Shift(TComplexF* samples) const;

  // ApplyWindow and the reordering that opens Execute in one pass: destination[BitReverse[i]] =
  // source[i] * Window[i]. The buffers must not overlap.
  void ApplyWindowBitReversed(const TComplexF* source, TComplexF* destination) const;
  // Execute for samples that are already in bit-reversed order: ApplyWindowBitReversed then this gives
  // exactly the bits of ApplyWindow then Execute, one pass over the block sooner.
  void ExecuteBitReversed(TComplexF* samples) const;

  // The same transform by the plain radix-2 stages of the public tables (reference for tests).
  void ExecuteRadix2(TComplexF* samples) const;
  // The fast transform without SIMD (the bit-for-bit model of the vector code, for tests), and
  // with SSE2 only (what processors without AVX run; on others Execute uses AVX).
  void ExecutePortable(TComplexF* samples) const;
  void ExecuteSse2(TComplexF* samples) const;

 private:
  // Index pairs (i, BitReverse[i]) with i < BitReverse[i], swapped before the passes.
  std::vector<uint32_t> SwapPairs;
  // Twiddles of the radix-4 passes: for each pass with quarter-size a >= 2 and each k < a, the
  // factors v = exp(-i pi k / 2a), v^2, v^3, stored per pair of k as SIMD-ready rows
  // [c0 c0 c1 c1] [-s0 s0 -s1 s1] for v, then v^2, then v^3 (12 floats per pair of k).
  std::vector<float> Radix4Twiddles;
  std::vector<size_t> Radix4Offsets;  // where each pass's rows begin, indexed by pass number
  // The same factors for the AVX pass (a >= 4): per quad of k, rows of 8 floats for v, v^2, v^3.
  std::vector<float> Radix4TwiddlesAvx;
  std::vector<size_t> Radix4OffsetsAvx;

  void Permute(TComplexF* samples) const;
  void PermuteFirstPass(TComplexF* samples, bool allowAvx) const;  // even Bits: Permute + first pass
  template <bool UseSimd>
  void FirstPasses(TComplexF* samples, int32_t count) const;
  template <int Level>  // 0 scalar, 1 SSE2, 2 AVX where the processor runs it
  void Radix4Pass(TComplexF* samples, int32_t count, size_t pass) const;
  template <int Level>
  void Passes(TComplexF* samples, int32_t count, int last, bool firstDone) const;
};
