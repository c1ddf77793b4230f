// The plug-in's pictures: the thumbnail of a 60-second 48 kHz recording at 96 x 96 (goal: under 15 ms,
// the host asks for many at once), and one full paint of the live spectrum view at 1920 x 1080 with a
// new frame each time, so the waterfall scrolls on every paint (goal: under 3 ms on one core; the view
// repaints about 16 times a second). No peer library does this work; the goal is the measure.
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>

#include "BenchSupport.h"
#include "uLiveDraw.h"
#include "uWavThumb.h"

namespace {

// A mono 16-bit take: a tone gliding through the band over noise, written once per run.
std::string SixtySecondTake() {
  const std::string path =
      (std::filesystem::temp_directory_path() / "talv_bench_145.0125MHz_20240131_235959.wav").string();
  const uint32_t rate = 48000, frames = rate * 60;
  std::string data(static_cast<size_t>(frames) * 2, '\0');
  uint32_t seed = 7;
  double phase = 0;
  for (uint32_t i = 0; i < frames; ++i) {
    seed = seed * 1664525u + 1013904223u;
    phase += 2 * 3.14159265358979 * (500.0 + 3000.0 * i / frames) / rate;
    const double v = 0.4 * std::sin(phase) + 0.02 * ((seed >> 8) / 8388608.0 - 1.0);
    const int16_t s = static_cast<int16_t>(std::lround(v * 32767));
    data[2 * i] = static_cast<char>(s & 0xFF);
    data[2 * i + 1] = static_cast<char>((s >> 8) & 0xFF);
  }
  auto u32 = [](uint32_t v) { return std::string{char(v), char(v >> 8), char(v >> 16), char(v >> 24)}; };
  auto u16 = [](uint32_t v) { return std::string{char(v), char(v >> 8)}; };
  std::string head = "RIFF" + u32(36 + static_cast<uint32_t>(data.size())) + "WAVEfmt " + u32(16) + u16(1) +
                     u16(1) + u32(rate) + u32(rate * 2) + u16(2) + u16(16) + "data" +
                     u32(static_cast<uint32_t>(data.size()));
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << head << data;
  return path;
}

void WavThumbnail96(benchmark::State& state) {
  const std::string path = SixtySecondTake();
  TPixelFrame frame;
  bool ok = true;
  for (auto _ : state) {
    ok = DrawWavThumbnail(path, 96, 96, frame) && ok;
    benchmark::DoNotOptimize(frame.Data());
  }
  std::filesystem::remove(path);
  if (!ok) state.SkipWithError("no thumbnail");
}

void LiveViewPaint1080(benchmark::State& state) {
  TViewTicket ticket;
  ticket.Valid = true;
  ticket.Mode = "spectrum";
  ticket.CenterHz = 145000000;
  ticket.Title = "144 MHz .. 146 MHz";
  TLiveScene scene(ticket);
  TLiveSnapshot snap;
  snap.HaveData = true;
  TTalvFrame& f = snap.Frame;
  f.Center = 145000000;
  f.Rate = 2048000;
  f.Noise = -100;
  f.Source = "scan";
  f.Bins.resize(2048);
  for (size_t k = 0; k < f.Bins.size(); ++k)
    f.Bins[k] = -100.0f + 6.0f * std::sin(k * 0.37f) + (k % 97 == 0 ? 40 : 0);
  for (int m = 0; m < 20; ++m) f.Marks.push_back({144000000 + m * 100000, 12.0 + m});
  TPixelFrame frame(1920, 1080);
  TTextRuns runs;
  TFixedTextMeasure measure(7, 15);
  TLiveScene::TInput in;
  in.Width = 1920;
  in.Height = 1080;
  in.Dpi = 96;
  in.Cursor = {900, 300};
  int64_t seq = 0;
  for (auto _ : state) {
    state.PauseTiming();
    TLiveSnapshot s = snap;  // the paint's own copy, as the view takes it under its lock
    s.Frame.Seq = ++seq;
    in.NowMs = 1000 + static_cast<uint64_t>(seq) * 60;
    state.ResumeTiming();
    scene.Paint(s, in, measure, frame, runs);
    benchmark::DoNotOptimize(frame.Data());
  }
}

const std::string kThumbWork = "thumbnail 60 s 48 kHz WAV at 96x96";
const std::string kPaintWork = "live view paint 1920x1080";
const bool kThumbFigure = talvbench::AddFigure(kThumbWork, "", "us", 15000);
const bool kPaintFigure = talvbench::AddFigure(kPaintWork, "", "us", 3000);

}  // namespace

BENCHMARK(WavThumbnail96)->Name(talvbench::OursName(kThumbWork))->UseRealTime();
BENCHMARK(LiveViewPaint1080)->Name(talvbench::OursName(kPaintWork))->UseRealTime();
