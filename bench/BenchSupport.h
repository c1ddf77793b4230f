#pragma once
// Conventions of talv_bench: every measured work is registered twice, as "<work> [ours]" and as
// "<work> [<peer>]" (the same work done by a named peer library), so that the closing table can print
// ours / peer for each work. Inputs come from a fixed generator, the same for both sides.
// A work with a goal also adds a figure (AddFigure): the closing table prints the figure beside its
// goal and, where there is one, its peer's figure and the ratio.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <string>
#include <vector>

#include "uDspTypes.h"
#include "uTalvProto.h"

namespace talvbench {

// "<work> [ours]" and "<work> [<peer>]".
inline std::string OursName(const std::string& work) {
  return work + " [ours]";
}
inline std::string PeerName(const std::string& work, const std::string& peer) {
  return work + " [" + peer + "]";
}

// One line of the goals table: what is read from the "<Work> [ours]" run (the median when repeated).
struct TFigure {
  std::string Work;
  std::string Counter;  // the counter shown; empty: the time per iteration in microseconds
  std::string Unit;     // how the figure reads, e.g. "us", "% of a core", "MB"
  double Limit = 0;     // the goal: figure <= Limit, or ours / peer <= Limit when OnRatio
  bool OnRatio = false;
  std::string Peer;  // the peer's name in "<Work> [<Peer>]", empty when there is none
};

inline std::vector<TFigure>& Figures() {
  static std::vector<TFigure> figures;
  return figures;
}
inline bool AddFigure(const std::string& work, const std::string& counter, const std::string& unit,
                      double limit, bool onRatio = false, const std::string& peer = "") {
  Figures().push_back(TFigure{work, counter, unit, limit, onRatio, peer});
  return true;
}

// "core_%": the share of one core the work needs to keep up with signalSeconds of signal per iteration
// (CPU time over signal time, in per cent).
inline void ReportCoreShare(benchmark::State& state, double signalSeconds) {
  state.counters["core_%"] =
      benchmark::Counter(signalSeconds * static_cast<double>(state.iterations()) / 100.0,
                         benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
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

// A CHANNELS reply of count channels on the 12.5 kHz raster from 144 MHz: the status line and one
// channel line each, with varied times, hits, SNRs and active flags.
inline TTextLines ChannelsReplyLines(int count) {
  TTextLines lines = {"OK"};
  for (int i = 0; i < count; ++i) {
    TChannelRec r;
    r.Hz = 144000000 + int64_t{i} * 12500;
    r.FirstSeen = 46000.25 + i * 1e-5;
    r.LastSeen = r.FirstSeen + 0.01;
    r.Hits = 1 + i % 97;
    r.PeakSnrDb = 10 + (i % 300) * 0.1;
    r.LastSnrDb = 8 + (i % 200) * 0.1;
    r.Active = i % 7 == 0;
    lines.push_back(FormatChannelRec(r));
  }
  return lines;
}

}  // namespace talvbench
