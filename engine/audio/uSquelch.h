#pragma once
// Squelch of the played audio: opens on a detector trigger and closes once no trigger came for the
// hold time (at least 100 ms). The detector decides what a signal is; the squelch only remembers when
// it last said so. Time is read through plat::IClock (tests inject a manual one). Gate never writes
// into the audio it is given: a closed squelch hands out its own buffer of zeros. One thread.
#include <cstdint>
#include <vector>

#include "pClock.h"

class TSquelch {
 public:
  // holdMs below 100 (negative included) counts as 100. A squelch created open stays open until
  // holdMs after its creation unless triggered again.
  TSquelch(int32_t holdMs, bool startOpen, plat::IClock& clock = plat::SystemClock());

  // A detection with that SNR (dB): the squelch stays or becomes open.
  void Trigger(double snr);
  // Open := a trigger seen and at most HoldMs old; true when Open changed.
  bool Update();
  // audio itself while open (or for n <= 0), else n zeros of the squelch's own buffer, valid until
  // the next call.
  const float* Gate(const float* audio, int32_t n);

  bool IsOpen() const { return FOpen; }
  double LastSnr() const { return FLastSnr; }
  int32_t HoldMs() const { return FHoldMs; }

 private:
  plat::IClock& FClock;
  int32_t FHoldMs;
  uint64_t FLastTrigger;
  bool FTriggered;
  bool FOpen;
  double FLastSnr = 0.0;
  std::vector<float> FSilence;  // grows only
};
