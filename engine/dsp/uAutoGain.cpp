#include "uAutoGain.h"

#include <algorithm>
#include <cmath>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "uLog.h"
#include "uTalvConfig.h"

namespace {

constexpr double kClipPeak = 0.85;
constexpr double kLoudRms = 0.16;
constexpr double kQuietRms = 0.04;
constexpr double kTargetRms = 0.08;  // the middle of the band, in dB terms

int32_t RoundDb(double db) {
  return static_cast<int32_t>(RoundHalfEven(db));
}

// RMS of the complex samples and the largest magnitude of any single I or Q value. Four running sums
// and maxima, one per value of a pair of samples (I, Q, I, Q), instead of one chain of dependent
// additions, which cost several times the arithmetic on every block. Each lane adds in sample order
// and the lanes are joined in a fixed order, so the packed path and the plain one give the same bits
// on every build.
void MeasureLevel(const TComplexF* samples, int32_t count, double& rms, double& peakOut) {
  double sum[4] = {0, 0, 0, 0};
  float peak[4] = {0, 0, 0, 0};
  int32_t k = 0;
#if defined(__SSE2__)
  const __m128 absMask = _mm_castsi128_ps(_mm_set1_epi32(0x7fffffff));
  __m128d sumLo = _mm_setzero_pd(), sumHi = _mm_setzero_pd();
  __m128 peaks = _mm_setzero_ps();
  for (; k + 1 < count; k += 2) {
    const __m128 v = _mm_loadu_ps(&samples[k].Re);  // I, Q of sample k, then of sample k + 1
    const __m128d lo = _mm_cvtps_pd(v);
    const __m128d hi = _mm_cvtps_pd(_mm_movehl_ps(v, v));
    sumLo = _mm_add_pd(sumLo, _mm_mul_pd(lo, lo));
    sumHi = _mm_add_pd(sumHi, _mm_mul_pd(hi, hi));
    peaks = _mm_max_ps(_mm_and_ps(v, absMask), peaks);  // a NaN value leaves the lane as it was
  }
  _mm_storeu_pd(&sum[0], sumLo);
  _mm_storeu_pd(&sum[2], sumHi);
  _mm_storeu_ps(peak, peaks);
#else
  for (; k + 1 < count; k += 2) {
    const float v[4] = {samples[k].Re, samples[k].Im, samples[k + 1].Re, samples[k + 1].Im};
    for (int j = 0; j < 4; ++j) {
      const double x = v[j];
      sum[j] += x * x;
      peak[j] = std::max(peak[j], std::fabs(v[j]));
    }
  }
#endif
  if (k < count) {
    const double re = samples[k].Re, im = samples[k].Im;
    sum[0] += re * re;
    sum[1] += im * im;
    peak[0] = std::max(peak[0], std::fabs(samples[k].Re));
    peak[1] = std::max(peak[1], std::fabs(samples[k].Im));
  }
  rms = std::sqrt(((sum[0] + sum[1]) + (sum[2] + sum[3])) / count);
  peakOut = std::max(std::max(peak[0], peak[1]), std::max(peak[2], peak[3]));
}

}  // namespace

TAutoGain::TAutoGain(TGainStageRef device, double requestedGainDb, plat::IClock& clock)
    : FDevice(std::move(device)), FClock(clock) {
  FActive = FDevice && requestedGainDb < 0 && !FDevice->HasHardwareAgc();
  if (FActive) {
    FDevice->SetGain(FGainDb);
    LogFmt("agc: software gain control active, starting at %d dB", FGainDb);
  }
}

TLevelClass TAutoGain::LevelClass() const {
  if (!FMeasured) return lsUnknown;
  if (FPeak >= kClipPeak) return lsClipping;
  if (FRms > kLoudRms) return lsLoud;
  if (FRms < kQuietRms) return lsQuiet;
  return lsGood;
}

bool TAutoGain::IsSettled() {
  if (!FActive) return true;
  return FSettled && FClock.NowMs() >= FSettleAt;
}

void TAutoGain::ReapplyGain() {
  if (FActive) FDevice->SetGain(FGainDb);
}

bool TAutoGain::Update(const TComplexF* samples, int32_t count) {
  if (!samples || count <= 0) return false;

  // 1. Measure.
  MeasureLevel(samples, count, FRms, FPeak);
  FMeasured = true;

  // 2. Say when the class changes.
  TLevelClass cls = LevelClass();
  if (cls != FLastClass) {
    const char* suffix = "";
    if (!FActive) suffix = cls == lsQuiet ? " (fixed gain - raise it)" : " (fixed gain - lower it)";
    switch (cls) {
      case lsGood:
        if (FLastClass != lsUnknown)
          LogFmt("level: rms %.4f peak %.3f - back to a healthy level", FRms, FPeak);
        break;
      case lsQuiet:
        LogFmt(
            "level: rms %.4f peak %.3f - below one quantisation step, watch for a mirror image about the "
            "tuner centre%s",
            FRms, FPeak, suffix);
        break;
      case lsLoud:
        LogFmt("level: rms %.4f peak %.3f - close to full scale, watch for intermodulation spurs%s", FRms,
               FPeak, suffix);
        break;
      case lsClipping:
        LogFmt("level: rms %.4f peak %.3f - converter is clipping%s", FRms, FPeak, suffix);
        break;
      default:
        break;
    }
    FLastClass = cls;
  }

  // 3. Only an active object steps, and not within the pause after its last step.
  if (!FActive || FClock.NowMs() < FSettleAt) return false;

  // 4. The wanted step.
  int32_t step;
  if (FPeak >= kClipPeak && FRms >= 0.5)
    step = -std::max(RoundDb(20 * std::log10(FRms / kTargetRms)), 6);
  else if (FPeak >= kClipPeak)
    step = -std::max(RoundDb(20 * std::log10(FPeak * 2)), 3);
  else if (FRms < kQuietRms)
    step = RoundDb(20 * std::log10(kTargetRms / std::max(FRms, 1e-9)));
  else if (FRms > kLoudRms)
    step = RoundDb(20 * std::log10(kTargetRms / FRms));
  else {
    FSteps = 0;
    FSettled = true;
    return false;
  }

  // 5. Give up rather than hunt for ever.
  ++FSteps;
  if (FSteps > kMaxSteps) {
    if (!FWarned) {
      LogFmt(
          "agc: %d adjustments without settling at rms %.3f peak %.3f - stopping here rather than hunting "
          "indefinitely",
          FSteps, FRms, FPeak);
      FWarned = true;
    }
    FSettled = true;
    return false;
  }

  // 6. At most 12 dB a step; never straight back to where the last step came from.
  step = std::clamp(step, -12, 12);
  int32_t gain = std::clamp(FGainDb + step, 0, 80);
  if (gain == FPrevGainDb) gain = std::clamp(FGainDb + step / 2, 0, 80);

  // 7. A stage at its limit cannot correct the level.
  if (gain == FGainDb) {
    if (!FWarned) {
      LogFmt(
          "agc: at %d dB the level is still rms %.3f peak %.3f - the stages cannot correct this, check the "
          "aerial or set a fixed gain",
          FGainDb, FRms, FPeak);
      FWarned = true;
    }
    FSettled = true;
    return false;
  }

  // 8. Step.
  LogFmt("agc: rms %.4f peak %.3f -> gain %d dB (was %d)", FRms, FPeak, gain, FGainDb);
  FPrevGainDb = FGainDb;
  FGainDb = gain;
  FDevice->SetGain(gain);
  FSettleAt = FClock.NowMs() + kSettleMs;
  FSettled = false;
  return true;
}
