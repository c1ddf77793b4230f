#pragma once
// Filter design and the three streaming filters of the channel demodulator.
//
// Design: windowed-sinc (Blackman) low-pass prototypes in double precision, stored as Single taps,
// always odd and symmetric, normalised to unit gain at 0 Hz; a complex band-pass is the prototype
// shifted to the centre of the band. Filters:
//   TFirDecim     real taps on complex samples, keeping every Factor-th output (Factor 1: plain FIR);
//   TFirComplexBp complex taps on complex samples (the SSB band-pass), a true convolution, so the band
//                 it passes is the band it was designed for (positive frequencies stay positive);
//   TResampler    rational L/M polyphase resampler on real samples. An awkward rate pair would need
//                 L phases of K taps each (L can be as large as the output rate), so L is bounded by
//                 taking the nearest ratio whose L is at most ResamplerMaxPhases; exact ratios within
//                 the bound are kept as they are.
// Every filter keeps its history, so a stream fed in blocks of any size gives exactly the output of
// one long block. Process never allocates once its work buffer has reached the block size, touches no
// OS and returns 0 without changing anything for n <= 0. The caller provides the output array.
// Dot products run with several partial sums (SIMD-friendly); they match a sequential sum to within
// single-precision rounding and depend only on the samples under the taps, never on block boundaries.
// The decimating FIR with factor 1 or 2 computes two outputs at once (SSE2) or four (AVX, where the
// processor has it), each still summed in that same order, so every path gives the same bits.
#include <cstdint>

#include "uDspTypes.h"

// Euclid on the absolute values; 1 when the result would be 0.
int32_t Gcd(int32_t a, int32_t b);
// sin(pi x) / (pi x); 1 when |x| < 1e-12.
double Sinc(double x);

// Windowed-sinc low-pass; cutoff in cycles per sample (clamped to 1e-6 .. 0.4999). At least 3 taps,
// an even n is raised by one. Taps sum to 1.
void DesignLowPass(TSingleArray& taps, double cutoff, int32_t n);
// Complex band-pass between two normalised frequencies lo < hi (either may be negative): the low-pass
// prototype of half the band width, shifted to the band's centre.
void DesignComplexBandPass(double lo, double hi, int32_t n, TSingleArray& tapsRe, TSingleArray& tapsIm);
// The decimate-by-2 prototype: DesignLowPass with cutoff 0.23.
void HalfBandTaps(TSingleArray& taps, int32_t n);

// Real taps on complex data; output k of the stream is sum_j Taps[j] * x[k*Factor + j - (TapCount-1)].
class TFirDecim {
 public:
  TFirDecim(const TSingleArray& taps, int32_t factor);  // factor < 1 becomes 1; no taps: a unit tap
  TFirDecim(const TFirDecim&) = delete;
  TFirDecim& operator=(const TFirDecim&) = delete;

  // Filters n inputs; returns the number of outputs written (at most n / Factor + 1).
  int32_t Process(const TComplexF* input, int32_t n, TComplexF* output);
  // The same on the SSE2 path whatever the processor (for tests: the results are identical).
  int32_t ProcessSse2(const TComplexF* input, int32_t n, TComplexF* output);

  int32_t TapCount() const { return FTapCount; }
  int32_t Factor() const { return FFactor; }
  const TSingleArray& Taps() const { return FTaps; }

 private:
  TSingleArray FTaps;
  TSingleArray FTaps2;  // each tap twice, lined up with interleaved Re, Im
  int32_t FTapCount = 0;
  int32_t FFactor = 1;
  int32_t FPhase = 0;
  TComplexFArray FWork;  // the TapCount - 1 samples of history, then the current block (factor 2: history)
  TComplexFArray FEven;  // factor 2: the even and the odd samples of history and block
  TComplexFArray FOdd;

  int32_t ProcessOn(const TComplexF* input, int32_t n, TComplexF* output, bool allowAvx);
  int32_t ProcessHalving(const TComplexF* input, int32_t n, TComplexF* output, bool allowAvx);
};

// Complex taps on complex data: y[k] = sum_j h[j] * x[k - j] (newest sample times tap 0).
class TFirComplexBp {
 public:
  TFirComplexBp(const TSingleArray& tapsRe, const TSingleArray& tapsIm);  // the shorter length counts
  TFirComplexBp(const TFirComplexBp&) = delete;
  TFirComplexBp& operator=(const TFirComplexBp&) = delete;

  // Filters n inputs into n outputs; returns n (0 for n <= 0).
  int32_t Process(const TComplexF* input, int32_t n, TComplexF* output);

  int32_t TapCount() const { return FTapCount; }

 private:
  TSingleArray FRe2;  // taps reversed in time, each twice, lined up with interleaved Re, Im
  TSingleArray FIm2;
  int32_t FTapCount = 0;
  TComplexFArray FWork;
};

// Most phases a resampler builds (its table holds TapsPerPhase x L Singles).
constexpr int32_t ResamplerMaxPhases = 1024;

// Nearest ratio up/down to upIn/downIn (both reduced to lowest terms, at least 1) whose up is at most
// maxUp; an exact ratio within the bound is returned reduced and unchanged.
void BoundedRatio(int64_t upIn, int64_t downIn, int32_t maxUp, int32_t& up, int32_t& down);

// Rational L/M resampler on real samples: output k is the polyphase filter at input position k*M/L.
class TResampler {
 public:
  // L, M below 1 become 1 (then bounded, see BoundedRatio); K below 4 becomes 4; a cutoff fraction
  // (of the lower Nyquist rate) outside (0, 1] becomes 1.
  TResampler(int64_t up, int64_t down, int32_t tapsPerPhase, double cutoffFraction);
  TResampler(const TResampler&) = delete;
  TResampler& operator=(const TResampler&) = delete;

  // Output capacity a caller must provide for n inputs: n*L div M + 2.
  int32_t MaxOut(int32_t n) const;
  // Resamples n inputs; returns the number of outputs written.
  int32_t Process(const float* input, int32_t n, float* output);

  int32_t Up() const { return FUp; }
  int32_t Down() const { return FDown; }
  int32_t TapsPerPhase() const { return FK; }

 private:
  int32_t FUp = 1;
  int32_t FDown = 1;
  int32_t FK = 4;
  TSingleArray FPoly;     // phase-major, each phase's K taps reversed (oldest sample first)
  TSingleArray FWork;     // the K - 1 samples of history, then the current block
  int64_t FPosition = 0;  // in units of 1/L of an input sample, from the first sample of the block
};
