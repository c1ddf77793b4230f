#include "uAutoGain.h"

#include <algorithm>
#include <cmath>

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

}  // namespace

TAutoGain::TAutoGain(TSdrDeviceRef device, double requestedGainDb, plat::IClock& clock)
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
  double sum = 0;
  float peak = 0;
  for (int32_t k = 0; k < count; ++k) {
    double re = samples[k].Re, im = samples[k].Im;
    sum += re * re + im * im;
    peak = std::max(peak, std::max(std::fabs(samples[k].Re), std::fabs(samples[k].Im)));
  }
  FRms = std::sqrt(sum / count);
  FPeak = peak;
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
