#pragma once
// Conventions of talv_bench: every measured work is registered twice, as "<work> [ours]" and as
// "<work> [<peer>]" (the same work done by a named peer library), so that the closing table can print
// ours / peer for each work. Inputs come from a fixed generator, the same for both sides.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <string>

#include "uDspTypes.h"

namespace talvbench {

// "<work> [ours]" and "<work> [<peer>]".
inline std::string OursName(const std::string& work) {
  return work + " [ours]";
}
inline std::string PeerName(const std::string& work, const std::string& peer) {
  return work + " [" + peer + "]";
}

// Uniform noise in -amplitude..amplitude on both parts, from a fixed seed.
inline TComplexFArray NoiseBlock(size_t count, float amplitude, uint32_t seed) {
  TComplexFArray x(count);
  uint32_t s = seed;
  for (auto& v : x) {
    s = s * 1664525u + 1013904223u;
    v.Re = amplitude * float(int32_t(s >> 8) - (1 << 23)) / float(1 << 23);
    s = s * 1664525u + 1013904223u;
    v.Im = amplitude * float(int32_t(s >> 8) - (1 << 23)) / float(1 << 23);
  }
  return x;
}

}  // namespace talvbench
