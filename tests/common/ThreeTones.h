#pragma once
// The three carriers of the scan chain check, which the scanner, scan session and service tests scan:
// 144..146 MHz, each -25 dB over noise at -60 dB, the third off the 12.5 kHz raster (its channel is
// 145737500). Header-only: only test programs that link the simulated receiver include it.
#include <cstdint>

#include "uSdrSim.h"

namespace testsupport {

constexpr int64_t kTones[3] = {144312500, 145187500, 145741300};
constexpr int64_t kChannels[3] = {144312500, 145187500, 145737500};
constexpr double kThreeToneNoiseDb = -60;
constexpr double kThreeToneLevelDb = -25;

// Puts the three carriers, and the noise under them, into a simulated receiver.
inline void AddThreeTones(TSimDevice& sim) {
  sim.NoiseDb = kThreeToneNoiseDb;
  for (int64_t f : kTones) sim.AddCarrier(f, kThreeToneLevelDb);
}

}  // namespace testsupport
