#include "uSquelch.h"

#include <algorithm>

TSquelch::TSquelch(int32_t holdMs, bool startOpen, plat::IClock& clock)
    : FClock(clock),
      FHoldMs(std::max(holdMs, 100)),
      FLastTrigger(clock.NowMs()),
      FTriggered(startOpen),
      FOpen(startOpen) {}

void TSquelch::Trigger(double snr) {
  FLastTrigger = FClock.NowMs();
  FTriggered = true;
  FLastSnr = snr;
}

bool TSquelch::Update() {
  const uint64_t now = FClock.NowMs();
  const bool open = FTriggered && now - FLastTrigger <= static_cast<uint64_t>(FHoldMs);
  const bool changed = open != FOpen;
  FOpen = open;
  return changed;
}

const float* TSquelch::Gate(const float* audio, int32_t n) {
  if (FOpen || n <= 0) return audio;
  if (FSilence.size() < static_cast<size_t>(n)) FSilence.assign(static_cast<size_t>(n) + 4096, 0.0f);
  return FSilence.data();
}
