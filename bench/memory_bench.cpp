// Memory the scanner holds while it sweeps, on the simulated receiver with three carriers: the
// defaults (144-146 MHz), and 24 MHz to 1.7 GHz (about a thousand hops, the widest range the common
// tuners cover). "heap_mb" is the peak of the heap in use during the sweep above what was in use
// before the scanner was built (scanner, receiver buffers, analyzer, hits, and the panorama the
// process keeps, one spectrum per hop); "rss_mb" the resident size of this whole process afterwards.
// One run each: the panorama keeps its memory for the next sweep, so a repetition would not see it grow. This
// program counts every allocation through its own operator new (below), which only adds up sizes; the goal is
// the engine's 40 MB.
#include <malloc.h>

#include <atomic>
#include <cstdlib>
#include <fstream>
#include <memory>
#include <new>
#include <string>

#include "BenchSupport.h"
#include "pClock.h"
#include "uScanner.h"
#include "uSdrSim.h"

namespace {

std::atomic<int64_t> gLiveBytes{0};
std::atomic<int64_t> gPeakBytes{0};

void* CountedAlloc(size_t size) {
  void* p = std::malloc(size == 0 ? 1 : size);
  if (p == nullptr) throw std::bad_alloc();
  const int64_t live = gLiveBytes += static_cast<int64_t>(malloc_usable_size(p));
  int64_t peak = gPeakBytes.load();
  while (live > peak && !gPeakBytes.compare_exchange_weak(peak, live)) {
  }
  return p;
}

void CountedFree(void* p) {
  if (p == nullptr) return;
  gLiveBytes -= static_cast<int64_t>(malloc_usable_size(p));
  std::free(p);
}

double ResidentMb() {
  std::ifstream in("/proc/self/status");
  std::string line;
  while (std::getline(in, line))
    if (line.rfind("VmRSS:", 0) == 0) return std::stod(line.substr(6)) / 1024.0;
  return 0;
}

void ScanMemory(benchmark::State& state, int64_t startHz, int64_t stopHz) {
  for (auto _ : state) {
    const int64_t before = gLiveBytes.load();
    gPeakBytes = before;
    {
      plat::TManualClock clock;
      auto sim = std::make_shared<TSimDevice>();
      sim->NoiseDb = -60;
      for (int64_t f : {144312500, 433920000, 1296200000}) sim->AddCarrier(f, -25);
      sim->Open(0);
      TScanner scanner(sim, clock);
      TScanSettings s;
      DefaultScanSettings(s);
      s.StartHz = startHz;
      s.StopHz = stopHz;
      s.GainDb = 0;
      TChannelHitArray hits;
      if (!scanner.Configure(s) || !scanner.Sweep(hits, nullptr, nullptr)) {
        state.SkipWithError("scanner sweep failed");
        break;
      }
      state.counters["hops"] = scanner.HopCount();
      state.counters["hits"] = static_cast<double>(hits.size());
    }
    state.counters["heap_mb"] = static_cast<double>(gPeakBytes.load() - before) / 1048576.0;
  }
  state.counters["rss_mb"] = ResidentMb();
}

const bool gRegistered = [] {
  benchmark::RegisterBenchmark(talvbench::OursName("scan memory, defaults").c_str(), ScanMemory, 144000000,
                               146000000)
      ->Iterations(1)
      ->Repetitions(1)
      ->Unit(benchmark::kMillisecond);
  benchmark::RegisterBenchmark(talvbench::OursName("scan memory, 24 MHz-1.7 GHz").c_str(), ScanMemory,
                               24000000, 1700000000)
      ->Iterations(1)
      ->Repetitions(1)
      ->Unit(benchmark::kMillisecond);
  talvbench::AddFigure("scan memory, defaults", "heap_mb", "MB", 40.0);
  talvbench::AddFigure("scan memory, 24 MHz-1.7 GHz", "heap_mb", "MB", 40.0);
  return true;
}();

}  // namespace

// Every allocation of this program goes through the counters above.
void* operator new(size_t size) {
  return CountedAlloc(size);
}
void* operator new[](size_t size) {
  return CountedAlloc(size);
}
void operator delete(void* p) noexcept {
  CountedFree(p);
}
void operator delete[](void* p) noexcept {
  CountedFree(p);
}
void operator delete(void* p, size_t) noexcept {
  CountedFree(p);
}
void operator delete[](void* p, size_t) noexcept {
  CountedFree(p);
}
