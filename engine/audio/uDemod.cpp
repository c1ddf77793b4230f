#include "uDemod.h"

#include <algorithm>
#include <cmath>
#include <limits>

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
      FAudioRate(audioRate < 1 ? 48000 : audioRate) {
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

void TChannelDemod::Mix(const TComplexF* iq, int32_t n) {
  TComplexF* out = FMixBuf.data();
  double pr = FPhRe, pi = FPhIm;
  int32_t pos = FGroupPos;
  for (int32_t i = 0; i < n; ++i) {
    const double sr = pr * FStepRe[pos] - pi * FStepIm[pos];
    const double si = pr * FStepIm[pos] + pi * FStepRe[pos];
    const double xr = iq[i].Re, xi = iq[i].Im;
    out[i].Re = static_cast<float>(xr * sr - xi * si);
    out[i].Im = static_cast<float>(xr * si + xi * sr);
    if (++pos == 4) {
      pos = 0;
      const double nr = pr * FStep4Re - pi * FStep4Im;
      const double ni = pr * FStep4Im + pi * FStep4Re;
      pr = nr;
      pi = ni;
      FRenorm += 4;
      if (FRenorm >= RenormEvery) {
        FRenorm = 0;
        const double mag = std::sqrt(pr * pr + pi * pi);
        if (mag > 1e-12) {
          pr /= mag;
          pi /= mag;
        }
      }
    }
  }
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
