// The simulated receiver's synthesis speed with six signals (two carriers, two FM and two AM tones)
// plus noise, at 2.048 MS/s:
//   sim.6tones/32768   one 32768-sample read (65536 bytes): ours is TSimDevice, whose maths uses only
//                      IEEE operations so every build gives the same bytes; the peer "libm" is the same
//                      synthesis written with the C library's sin, cos, log and pow.
// "xRT" is seconds of signal made per second of work: above 1 the simulator keeps up with real time.
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <vector>

#include "BenchSupport.h"
#include "uSdrSim.h"

namespace {

constexpr double Rate = 2048000.0;
constexpr int32_t Samples = 32768;
constexpr int64_t Centre = 145000000;

void Scene(TSimDevice& dev) {
  dev.Open(0);
  dev.SampleRate = Rate;
  dev.CenterHz = Centre;
  dev.NoiseDb = -40;
  dev.AddCarrier(Centre + 125000, -20);
  dev.AddCarrier(Centre - 512500, -30);
  dev.AddFmTone(Centre + 300000, -15, 1000, 3000);
  dev.AddFmTone(Centre - 250000, -25, 1750, 5000);
  dev.AddAmTone(Centre + 700000, -18, 440, 0.6);
  dev.AddAmTone(Centre - 800000, -22, 1200, 0.8);
}

void SetRate(benchmark::State& state) {
  state.counters["xRT"] = benchmark::Counter(Samples / Rate, benchmark::Counter::kIsIterationInvariantRate);
  talvbench::ReportCoreShare(state, Samples / Rate);
}

void OursSim(benchmark::State& state) {
  TSimDevice dev;
  Scene(dev);
  std::vector<uint8_t> bytes(2 * Samples);
  for (auto _ : state) {
    int32_t got = 0;
    dev.ReadSync(bytes.data(), 2 * Samples, got);
    benchmark::DoNotOptimize(bytes.data());
  }
  SetRate(state);
}

// The same synthesis through the C library.
void LibmSim(benchmark::State& state) {
  TSimDevice dev;
  Scene(dev);
  const double twoPi = 2 * M_PI;
  std::vector<uint8_t> bytes(2 * Samples);
  std::vector<double> cp(dev.Tones.size(), 0.0), mp(dev.Tones.size(), 0.0);
  uint32_t seed = dev.Seed;
  auto uniform = [&seed] {
    seed = seed * 1664525u + 1013904223u;
    return static_cast<float>(static_cast<double>(seed)) * (1.0f / 4294967296.0f);
  };
  for (auto _ : state) {
    const double noise = std::pow(10.0, dev.NoiseDb / 20);
    std::vector<double> amp(dev.Tones.size()), step(dev.Tones.size());  // per read, as ours does
    for (size_t t = 0; t < dev.Tones.size(); ++t) {
      amp[t] = std::pow(10.0, dev.Tones[t].LevelDb / 20);
      step[t] = twoPi * static_cast<double>(dev.Tones[t].FreqHz - Centre) / Rate;
    }
    for (int32_t k = 0; k < Samples; ++k) {
      double u1 = std::max<double>(uniform(), 1e-12), u2 = uniform();
      double r = std::sqrt(-2 * std::log(u1));
      double i = r * std::cos(twoPi * u2) * noise, q = r * std::sin(twoPi * u2) * noise;
      for (size_t t = 0; t < dev.Tones.size(); ++t) {
        const TSimTone& tone = dev.Tones[t];
        double a = amp[t], s = step[t];
        if (tone.Kind == 1) s += std::sin(mp[t]) * twoPi * tone.DeviationHz / Rate;
        if (tone.Kind == 2) a *= std::sin(mp[t]) * tone.Depth + 1;
        if (tone.Kind != 0) {
          mp[t] += twoPi * tone.ModHz / Rate;
          if (mp[t] > twoPi) mp[t] -= twoPi;
        }
        i += std::cos(cp[t]) * a;
        q += std::sin(cp[t]) * a;
        cp[t] += s;
        if (cp[t] > twoPi) cp[t] -= twoPi;
        if (cp[t] < -twoPi) cp[t] += twoPi;
      }
      bytes[2 * k] = static_cast<uint8_t>(std::clamp(std::nearbyint(i * 128 + 127.4), 0.0, 255.0));
      bytes[2 * k + 1] = static_cast<uint8_t>(std::clamp(std::nearbyint(q * 128 + 127.4), 0.0, 255.0));
    }
    benchmark::DoNotOptimize(bytes.data());
  }
  SetRate(state);
}

const bool gRegistered = [] {
  using benchmark::RegisterBenchmark;
  using talvbench::OursName;
  using talvbench::PeerName;
  RegisterBenchmark(OursName("sim.6tones/32768").c_str(), OursSim)->Unit(benchmark::kMicrosecond);
  RegisterBenchmark(PeerName("sim.6tones/32768", "libm").c_str(), LibmSim)->Unit(benchmark::kMicrosecond);
  // The simulator must keep up with the rate it plays: less than one core.
  talvbench::AddFigure("sim.6tones/32768", "core_%", "% of a core", 100.0, false, "libm");
  return true;
}();

}  // namespace
