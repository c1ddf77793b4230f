// One hop of the scanner with the defaults, as a sweep runs it: retune with no settle time, the 2 ms
// discard, a block of 4096 x 8 samples from the simulated receiver, conversion, analysis and
// publication. The simulator's own synthesis is timed apart and taken off, so "chain_us" is the
// scanner's cost alone; "of_capture_%" puts it against the 18 ms the receiver takes to capture what
// one hop reads at 2.048 MS/s (the goal is 0.8 % or less).
#include <ctime>
#include <memory>

#include "BenchSupport.h"
#include "uScanner.h"
#include "uSdrSim.h"

namespace {

// CPU time of the process in microseconds (the bench runs on one thread), so other load on the
// machine does not count.
double CpuUs() {
  return static_cast<double>(std::clock()) * (1e6 / CLOCKS_PER_SEC);
}

// The simulated receiver, adding up the CPU time it spends making samples.
class TTimedSim : public TSimDevice {
 public:
  bool ReadSync(uint8_t* buffer, int32_t count, int32_t& bytesRead) override {
    const double t0 = CpuUs();
    const bool ok = TSimDevice::ReadSync(buffer, count, bytesRead);
    SynthUs += CpuUs() - t0;
    return ok;
  }
  double SynthUs = 0;
};

void ScannerHop(benchmark::State& state) {
  auto sim = std::make_shared<TTimedSim>();
  sim->NoiseDb = -60;
  for (int64_t f : {144312500, 144587500, 144741300}) sim->AddCarrier(f, -25);
  sim->Open(0);
  TScanner scanner(sim);
  TScanSettings s;
  DefaultScanSettings(s);
  s.StartHz = 144000000;  // narrower than one usable span: one hop per sweep
  s.StopHz = 145000000;
  s.GainDb = 0;
  s.SettleMs = 0;
  if (!scanner.Configure(s) || scanner.HopCount() != 1) {
    state.SkipWithError("scanner configuration failed");
    return;
  }
  TChannelHitArray hits;
  scanner.Sweep(hits, nullptr, nullptr);  // warm: buffers, tables, first publication
  sim->SynthUs = 0;
  const double t0 = CpuUs();
  for (auto _ : state) {
    if (!scanner.Sweep(hits, nullptr, nullptr)) state.SkipWithError("sweep failed");
    benchmark::DoNotOptimize(hits.data());
  }
  const double n = static_cast<double>(state.iterations());
  const double synthUs = sim->SynthUs / n;
  const double chainUs = (CpuUs() - t0) / n - synthUs;
  const double captureUs = (4096.0 + 4096.0 * 8.0) / s.SampleRate * 1e6;  // discard + block
  state.counters["synth_us"] = synthUs;
  state.counters["chain_us"] = chainUs;
  state.counters["of_capture_%"] = 100.0 * chainUs / captureUs;
}

}  // namespace

BENCHMARK(ScannerHop)->Name(talvbench::OursName("scanner hop"))->Unit(benchmark::kMicrosecond);
const bool gFigure = talvbench::AddFigure("scanner hop", "of_capture_%", "% of capture", 0.8);
