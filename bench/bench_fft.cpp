// The FFT plan and the analyzer against FFTW (single precision, FFTW_MEASURE plans, one thread):
//   fft.execute/N           one in-place forward transform of N points (a fresh copy of the input
//                           each time on both sides, so values never run away; the copy is timed)
//   segment/4096            window + transform + swap halves + power accumulation of one segment
//   analyze/4096x8          a whole TSpectrumAnalyzer::Analyze block against the same steps built
//                           on FFTW (spectrum, dB, median floor, runs)
#include <fftw3.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <memory>
#include <string>

#include "BenchSupport.h"
#include "uAnalyzer.h"
#include "uFft.h"

namespace {

using talvbench::NoiseBlock;

struct TFftwFree {
  void operator()(void* p) const { fftwf_free(p); }
};
using TFftwBuffer = std::unique_ptr<fftwf_complex, TFftwFree>;

TFftwBuffer FftwAlloc(int n) {
  return TFftwBuffer(fftwf_alloc_complex(static_cast<size_t>(n)));
}

void OursExecute(benchmark::State& state, int n) {
  TFftPlan plan(n);
  const TComplexFArray input = NoiseBlock(size_t(n), 1.0f, 1);
  TComplexFArray work(static_cast<size_t>(n));
  for (auto _ : state) {
    std::memcpy(work.data(), input.data(), size_t(n) * sizeof(TComplexF));
    plan.Execute(work.data());
    benchmark::DoNotOptimize(work.data());
    benchmark::ClobberMemory();
  }
  state.SetItemsProcessed(state.iterations() * n);
}

void FftwExecute(benchmark::State& state, int n) {
  TFftwBuffer work = FftwAlloc(n);
  fftwf_plan plan = fftwf_plan_dft_1d(n, work.get(), work.get(), FFTW_FORWARD, FFTW_MEASURE);
  const TComplexFArray input = NoiseBlock(size_t(n), 1.0f, 1);
  for (auto _ : state) {
    std::memcpy(work.get(), input.data(), size_t(n) * sizeof(TComplexF));
    fftwf_execute(plan);
    benchmark::DoNotOptimize(work.get());
    benchmark::ClobberMemory();
  }
  fftwf_destroy_plan(plan);
  state.SetItemsProcessed(state.iterations() * n);
}

void OursSegment(benchmark::State& state, int n) {
  TFftPlan plan(n);
  const TComplexFArray input = NoiseBlock(size_t(n), 0.5f, 2);
  TComplexFArray work(static_cast<size_t>(n));
  TSingleArray sums(static_cast<size_t>(n), 0.0f);
  for (auto _ : state) {
    plan.ApplyWindow(input.data(), work.data());
    plan.Execute(work.data());
    plan.Shift(work.data());
    AccumulatePower(work.data(), sums.data(), n);
    benchmark::DoNotOptimize(sums.data());
    benchmark::ClobberMemory();
  }
}

// The FFTW side does the same steps: the window loop into FFTW's buffer, the transform, and the
// power sums with the halves swapped by the index (no separate swap pass).
void FftwPower(const fftwf_complex* x, float* sums, int n) {
  const int half = n / 2;
  for (int k = 0; k < half; ++k) {
    sums[k] = sums[k] + x[half + k][0] * x[half + k][0];
    sums[k] = sums[k] + x[half + k][1] * x[half + k][1];
    sums[half + k] = sums[half + k] + x[k][0] * x[k][0];
    sums[half + k] = sums[half + k] + x[k][1] * x[k][1];
  }
}

void FftwWindow(const TComplexF* in, const float* window, fftwf_complex* out, int n) {
  for (int i = 0; i < n; ++i) {
    out[i][0] = in[i].Re * window[i];
    out[i][1] = in[i].Im * window[i];
  }
}

void FftwSegment(benchmark::State& state, int n) {
  TFftPlan tables(n);  // for the same window
  TFftwBuffer work = FftwAlloc(n);
  fftwf_plan plan = fftwf_plan_dft_1d(n, work.get(), work.get(), FFTW_FORWARD, FFTW_MEASURE);
  const TComplexFArray input = NoiseBlock(size_t(n), 0.5f, 2);
  TSingleArray sums(static_cast<size_t>(n), 0.0f);
  for (auto _ : state) {
    FftwWindow(input.data(), tables.Window.data(), work.get(), n);
    fftwf_execute(plan);
    FftwPower(work.get(), sums.data(), n);
    benchmark::DoNotOptimize(sums.data());
    benchmark::ClobberMemory();
  }
  fftwf_destroy_plan(plan);
}

// A scan-like block: noise with a few carriers.
TComplexFArray SceneBlock(int n, int averages) {
  TComplexFArray x = NoiseBlock(size_t(n) * averages, 0.01f, 3);
  const double bins[3] = {-700.5, 120.0, 1333.3};
  for (size_t j = 0; j < x.size(); ++j) {
    for (double b : bins) {
      const double a = 2.0 * 3.14159265358979 * b * double(j % size_t(n)) / n;
      x[j].Re += float(0.1 * std::cos(a));
      x[j].Im += float(0.1 * std::sin(a));
    }
  }
  return x;
}

void OursAnalyze(benchmark::State& state, int n, int averages) {
  TScanSettings s;
  DefaultScanSettings(s);
  s.FftSize = n;
  s.Averages = averages;
  TSpectrumAnalyzer analyzer(s);
  const TComplexFArray block = SceneBlock(n, averages);
  TChannelHitArray hits;
  hits.reserve(64);
  for (auto _ : state) {
    hits.clear();
    benchmark::DoNotOptimize(analyzer.Analyze(block.data(), 145000000, 144000000, 146000000, hits));
  }
}

void FftwAnalyze(benchmark::State& state, int n, int averages) {
  TFftPlan tables(n);
  TFftwBuffer work = FftwAlloc(n);
  fftwf_plan plan = fftwf_plan_dft_1d(n, work.get(), work.get(), FFTW_FORWARD, FFTW_MEASURE);
  const TComplexFArray block = SceneBlock(n, averages);
  TSingleArray sums(static_cast<size_t>(n)), spectrum(static_cast<size_t>(n)),
      scratch(static_cast<size_t>(n));
  const double scale = double(averages) * n * n * tables.WindowPower;
  const int edge = int(std::lround(n * 0.075)), half = n / 2, dc = 3;
  int peaks = 0;
  for (auto _ : state) {
    std::fill(sums.begin(), sums.end(), 0.0f);
    for (int seg = 0; seg < averages; ++seg) {
      FftwWindow(block.data() + size_t(seg) * n, tables.Window.data(), work.get(), n);
      fftwf_execute(plan);
      FftwPower(work.get(), sums.data(), n);
    }
    for (int k = 0; k < n; ++k)
      spectrum[k] = float(10.0 * std::log10(std::max(double(sums[k]) / scale, 1e-20)));
    int count = 0;
    for (int k = edge; k < n - edge; ++k)
      if (k < half - dc || k > half + dc) scratch[count++] = spectrum[k];
    const float floorDb = SelectKth(scratch.data(), count, count / 2);
    bool inRun = false;
    for (int k = edge; k < n - edge; ++k) {
      const bool above = (k < half - dc || k > half + dc) && spectrum[k] > floorDb + 12.0f;
      if (above && !inRun) ++peaks;
      inRun = above;
    }
    benchmark::DoNotOptimize(peaks);
  }
  fftwf_destroy_plan(plan);
}

const bool gRegistered = [] {
  for (int n : {1024, 4096, 8192}) {
    const std::string work = "fft.execute/" + std::to_string(n);
    benchmark::RegisterBenchmark(talvbench::OursName(work).c_str(), OursExecute, n)
        ->Unit(benchmark::kMicrosecond);
    benchmark::RegisterBenchmark(talvbench::PeerName(work, "fftw").c_str(), FftwExecute, n)
        ->Unit(benchmark::kMicrosecond);
  }
  benchmark::RegisterBenchmark(talvbench::OursName("segment/4096").c_str(), OursSegment, 4096)
      ->Unit(benchmark::kMicrosecond);
  benchmark::RegisterBenchmark(talvbench::PeerName("segment/4096", "fftw").c_str(), FftwSegment, 4096)
      ->Unit(benchmark::kMicrosecond);
  benchmark::RegisterBenchmark(talvbench::OursName("analyze/4096x8").c_str(), OursAnalyze, 4096, 8)
      ->Unit(benchmark::kMicrosecond);
  benchmark::RegisterBenchmark(talvbench::PeerName("analyze/4096x8", "fftw").c_str(), FftwAnalyze, 4096, 8)
      ->Unit(benchmark::kMicrosecond);
  talvbench::AddFigure("fft.execute/4096", "", "us", 1.5, true, "fftw");
  talvbench::AddFigure("analyze/4096x8", "", "us", 1.5, true, "fftw");
  return true;
}();

}  // namespace
