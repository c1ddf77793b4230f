#include "uDemod.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>

#include "uDspKernels.h"

// The vector types pass only between inlined routines, never across a call boundary.
#pragma GCC diagnostic ignored "-Wpsabi"

namespace {

constexpr double Pi = 3.14159265358979323846;
constexpr int32_t MaxStages = 12;
constexpr int32_t RenormEvery = 1024;

int32_t ClampRound(double v, int32_t lo, int32_t hi) {
  return static_cast<int32_t>(std::clamp<int64_t>(RoundHalfEven(v), lo, hi));
}

}  // namespace

TChannelDemod::TChannelDemod(double inputRate, int64_t centreHz, int64_t channelHz, TModulation mode,
                             int32_t audioRate)
    // A rate that is not a positive number would fill the whole chain with NaN.
    : FInputRate(inputRate > 0.0 && std::isfinite(inputRate) ? inputRate : 1.0),
      FChannelHz(channelHz),
      FCentreHz(centreHz),
      FMode(mode),
      FAudioRate(audioRate < 1 ? 48000 : audioRate),
      FMixAvx(CpuKernelLevel() >= 1) {
  BuildChain();
}

void TChannelDemod::BuildChain() {
  // Oscillator: moves the channel down to 0 Hz.
  const double d = -2.0 * Pi * static_cast<double>(FChannelHz - FCentreHz) / FInputRate;
  FPhRe = 1.0;
  FPhIm = 0.0;
  for (int j = 0; j < 4; ++j) {
    FStepRe[j] = j == 0 ? 1.0 : std::cos(j * d);
    FStepIm[j] = j == 0 ? 0.0 : std::sin(j * d);
  }
  FStep4Re = std::cos(4 * d);
  FStep4Im = std::sin(4 * d);
  FGroupPos = 0;
  FRenorm = 0;

  // Halve the rate while the channel still fits into half of it.
  const double width = ModulationWidthHz(FMode);
  const double required = FMode == modWFM ? 1.25 * width : std::max(3.0 * width, 12000.0);
  double c = FInputRate;
  int32_t s = 0;
  while (required <= c / 2.0 && s < MaxStages) {
    c /= 2.0;
    ++s;
  }
  FStageRate = c;
  FStages.clear();
  TSingleArray taps;
  for (int32_t k = 0; k < s; ++k) {
    HalfBandTaps(taps, k == 0 ? 23 : 31);
    FStages.push_back(std::make_unique<TFirDecim>(taps, 2));
  }

  FChannelFilter.reset();
  FSsbFilter.reset();
  if (FMode == modLSB || FMode == modUSB) {
    const int32_t h = ClampRound(5.5 * c / 400.0, 63, 1023);
    TSingleArray re, im;
    if (FMode == modUSB)
      DesignComplexBandPass(300.0 / c, 3000.0 / c, h, re, im);
    else
      DesignComplexBandPass(-3000.0 / c, -300.0 / c, h, re, im);
    FSsbFilter = std::make_unique<TFirComplexBp>(re, im);
  } else {
    const int32_t h = ClampRound(5.5 * c / (0.15 * width), 63, 1023);
    DesignLowPass(taps, 0.5 * width / c, h);
    FChannelFilter = std::make_unique<TFirDecim>(taps, 1);
  }

  // De-emphasis: 50 us time constant at the stage rate.
  FAlpha = static_cast<float>(1.0 - std::exp(-1.0 / (c * 5e-5)));
  FDeemph = 0.0f;

  const int32_t rate = ClampRound(c, 1, std::numeric_limits<int32_t>::max());
  const int32_t g = Gcd(rate, FAudioRate);
  const int32_t k =
      static_cast<int32_t>(std::clamp<double>(std::ceil(5.5 * c / (0.15 * FAudioRate)), 16.0, 512.0));
  // The resampler's cut-off is a fraction of the lower of its two Nyquist rates. Measured against the
  // audio rate alone, an up-sampling chain (SSB at 16 kHz, AM at 32 kHz into 48 kHz) would cut its
  // audio at a third of the wanted band (1 kHz for SSB instead of 3 kHz).
  const double lowerRate = std::min(c, static_cast<double>(FAudioRate));
  const double t = std::min(ModulationCutoffHz(FMode) / (lowerRate * 0.5), 1.0);
  FResampler = std::make_unique<TResampler>(FAudioRate / g, rate / g, k, t);
}

int32_t TChannelDemod::ChannelTapCount() const {
  if (FSsbFilter) return FSsbFilter->TapCount();
  if (FChannelFilter) return FChannelFilter->TapCount();
  return 0;
}

void TChannelDemod::EnsureBuffers(int32_t n) {
  if (FMixBuf.size() >= static_cast<size_t>(n)) return;
  const size_t sz = static_cast<size_t>(n);
  FMixBuf.resize(sz);
  FPing.resize(sz);
  FPong.resize(sz);
  FFiltBuf.resize(sz);
  FDemodBuf.resize(sz + 16);
  FAudioBuf.resize((sz + 16) * 4);
}

namespace {

typedef double TLanes4 __attribute__((vector_size(32)));
typedef float TFloats4 __attribute__((vector_size(16)));

// The oscillator over whole groups of four samples, starting at a group's start. Lane j does the scalar
// loop's own operations for the group's sample j (s = phasor * step^j, out = x * s, in Double, rounded
// to Single); then the phasor is advanced by step^4 and renormalised as there. The lanes are samples,
// never parts of one sum, so the result has the scalar loop's bits on every path.
struct TMixState {
  double PhRe, PhIm;
  int32_t Renorm;
};

// The phasor at the next group's start: times step^4, divided by its magnitude every RenormEvery samples.
inline __attribute__((always_inline)) void NextGroup(double& pr, double& pi, double step4Re, double step4Im,
                                                     int32_t& renorm) {
  const double nr = pr * step4Re - pi * step4Im;
  const double ni = pr * step4Im + pi * step4Re;
  pr = nr;
  pi = ni;
  renorm += 4;
  if (renorm >= RenormEvery) {
    renorm = 0;
    const double mag = std::sqrt(pr * pr + pi * pi);
    if (mag > 1e-12) {
      pr /= mag;
      pi /= mag;
    }
  }
}

inline __attribute__((always_inline)) void MixGroups(const TComplexF* iq, TComplexF* out, int32_t groups,
                                                     const double* stepRe, const double* stepIm,
                                                     double step4Re, double step4Im, TMixState& st) {
  TLanes4 wr, wi;
  std::memcpy(&wr, stepRe, sizeof wr);
  std::memcpy(&wi, stepIm, sizeof wi);
  double pr = st.PhRe, pi = st.PhIm;
  int32_t renorm = st.Renorm;
  for (int32_t g = 0; g < groups; ++g) {
    const TComplexF* x = iq + 4 * g;
    const TLanes4 sr = pr * wr - pi * wi;
    const TLanes4 si = pr * wi + pi * wr;
    const TLanes4 xr = __builtin_convertvector((TFloats4{x[0].Re, x[1].Re, x[2].Re, x[3].Re}), TLanes4);
    const TLanes4 xi = __builtin_convertvector((TFloats4{x[0].Im, x[1].Im, x[2].Im, x[3].Im}), TLanes4);
    const TFloats4 re = __builtin_convertvector(xr * sr - xi * si, TFloats4);
    const TFloats4 im = __builtin_convertvector(xr * si + xi * sr, TFloats4);
    TComplexF* y = out + 4 * g;
    for (int j = 0; j < 4; ++j) y[j] = TComplexF{re[j], im[j]};
    NextGroup(pr, pi, step4Re, step4Im, renorm);
  }
  st.PhRe = pr;
  st.PhIm = pi;
  st.Renorm = renorm;
}

void MixGroupsSse2(const TComplexF* iq, TComplexF* out, int32_t groups, const double* stepRe,
                   const double* stepIm, double step4Re, double step4Im, TMixState& st) {
  MixGroups(iq, out, groups, stepRe, stepIm, step4Re, step4Im, st);
}

#if defined(__x86_64__)
// 32-bit builds keep to SSE2 (few vector registers); the bits are the same.
__attribute__((target("avx"))) void MixGroupsAvx(const TComplexF* iq, TComplexF* out, int32_t groups,
                                                 const double* stepRe, const double* stepIm, double step4Re,
                                                 double step4Im, TMixState& st) {
  MixGroups(iq, out, groups, stepRe, stepIm, step4Re, step4Im, st);
}
#endif

}  // namespace

void TChannelDemod::Mix(const TComplexF* iq, int32_t n) {
  TComplexF* out = FMixBuf.data();
  double pr = FPhRe, pi = FPhIm;
  int32_t pos = FGroupPos;
  int32_t i = 0;
  // One sample of the current group; at the group's end the phasor moves on by step^4.
  auto one = [&]() {
    const double sr = pr * FStepRe[pos] - pi * FStepIm[pos];
    const double si = pr * FStepIm[pos] + pi * FStepRe[pos];
    const double xr = iq[i].Re, xi = iq[i].Im;
    out[i].Re = static_cast<float>(xr * sr - xi * si);
    out[i].Im = static_cast<float>(xr * si + xi * sr);
    ++i;
    if (++pos == 4) {
      pos = 0;
      NextGroup(pr, pi, FStep4Re, FStep4Im, FRenorm);
    }
  };
  while (pos != 0 && i < n) one();  // the rest of a group a previous block began
  const int32_t groups = (n - i) / 4;
  if (groups > 0) {
    TMixState st{pr, pi, FRenorm};
#if defined(__x86_64__)
    if (FMixAvx)
      MixGroupsAvx(iq + i, out + i, groups, FStepRe, FStepIm, FStep4Re, FStep4Im, st);
    else
#endif
      MixGroupsSse2(iq + i, out + i, groups, FStepRe, FStepIm, FStep4Re, FStep4Im, st);
    pr = st.PhRe;
    pi = st.PhIm;
    FRenorm = st.Renorm;
    i += 4 * groups;
  }
  while (i < n) one();
  FPhRe = pr;
  FPhIm = pi;
  FGroupPos = pos;
}

void TChannelDemod::Demodulate(const TComplexF* x, int32_t m) {
  float* out = FDemodBuf.data();
  switch (FMode) {
    case modAM:
      for (int32_t i = 0; i < m; ++i) out[i] = std::sqrt(x[i].Re * x[i].Re + x[i].Im * x[i].Im);
      break;
    case modLSB:
    case modUSB:
      for (int32_t i = 0; i < m; ++i) out[i] = x[i].Re;
      break;
    default: {  // NFM, WFM and anything unknown (counted as NFM)
      TComplexF prev = FPrev;
      float state = FDeemph;
      const float alpha = FAlpha;
      for (int32_t i = 0; i < m; ++i) {
        const float re = x[i].Re * prev.Re + x[i].Im * prev.Im;
        const float im = x[i].Im * prev.Re - x[i].Re * prev.Im;
        const float dphi = std::atan2(im, re);
        state += (dphi - state) * alpha;
        out[i] = state;
        prev = x[i];
      }
      FPrev = prev;
      FDeemph = state;
      break;
    }
  }
}

void TChannelDemod::AudioAgc(int32_t k) {
  float* y = FAudioBuf.data();
  float dc = FDc;
  float peak = 0.0f;
  for (int32_t i = 0; i < k; ++i) {
    dc += (y[i] - dc) * 0.0008f;
    y[i] -= dc;
    const float a = std::fabs(y[i]);
    if (a > peak) peak = a;
  }
  FDc = dc;

  const float before = FGain;
  float gain = FGain;
  if (peak > 1e-9f && !HoldAgc) {
    const float target = 0.25f / peak;
    if (target >= gain)
      gain += (target - gain) * 0.02f;  // slow rise
    else
      gain += (target - gain) * 0.25f;  // fast fall
  }
  gain = std::clamp(gain, 1e-4f, 500.0f);
  if (peak > 1e-9f && peak * gain > 0.9f) gain = 0.9f / peak;  // also while held: never clip
  FGain = gain;

  // A rising gain is ramped over the block; a falling one applies at once.
  const float start = std::min(before, gain);
  const float span = gain - start;
  for (int32_t i = 0; i < k; ++i) {
    float v = y[i] * (start + (static_cast<float>(i) / static_cast<float>(k)) * span);
    if (!(v >= -0.98f)) v = std::isnan(v) ? 0.0f : -0.98f;
    if (v > 0.98f) v = 0.98f;
    y[i] = v;
  }
}

void TChannelDemod::Process(const TComplexF* iq, int32_t n, const float*& audio, int32_t& count) {
  audio = nullptr;
  count = 0;
  if (n <= 0 || iq == nullptr) return;
  EnsureBuffers(n);
  Mix(iq, n);

  const TComplexF* cur = FMixBuf.data();
  int32_t m = n;
  TComplexF* pingPong[2] = {FPing.data(), FPong.data()};
  int which = 0;
  for (auto& stage : FStages) {
    m = stage->Process(cur, m, pingPong[which]);
    cur = pingPong[which];
    which ^= 1;
    if (m == 0) return;
  }
  if (FSsbFilter) {
    m = FSsbFilter->Process(cur, m, FFiltBuf.data());
    cur = FFiltBuf.data();
  } else if (FChannelFilter) {
    m = FChannelFilter->Process(cur, m, FFiltBuf.data());
    cur = FFiltBuf.data();
  }
  if (m <= 0) return;

  Demodulate(cur, m);
  const size_t need = static_cast<size_t>(FResampler->MaxOut(m));
  if (FAudioBuf.size() < need) FAudioBuf.resize(need + 16);
  const int32_t k = FResampler->Process(FDemodBuf.data(), m, FAudioBuf.data());
  if (k <= 0) return;
  AudioAgc(k);
  audio = FAudioBuf.data();
  count = k;
}
