#include "uSpecTap.h"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <limits>
#include <mutex>

#include "pSystem.h"

namespace {

struct TFrameStore {
  std::mutex Lock;
  TSpecFrame Frame;
  int64_t Counter = 0;
  bool Valid = false;  // a frame has been published
};

struct TPanoStore {
  std::mutex Lock;
  TScanHopArray Hops;
  double Rate = 0;
  std::vector<TPanoSlot> Slots;
};

// Function-local and never freed: a session thread may still publish while the program exits, and
// another unit's start-up code may already read.
TFrameStore& FrameStore() {
  static TFrameStore* store = new TFrameStore();
  return *store;
}

TPanoStore& PanoStore() {
  static TPanoStore* store = new TPanoStore();
  return *store;
}

std::atomic<plat::IClock*> gClock{nullptr};

uint64_t NowTick() {
  plat::IClock* clock = gClock.load();
  return clock != nullptr ? clock->NowMs() : plat::SystemClock().NowMs();
}

// Copies count bins into dest, resizing only when the length differs (no allocation while it holds).
void StoreBins(TSingleArray& dest, const float* bins, int32_t count) {
  if (dest.size() != static_cast<size_t>(count)) dest.resize(static_cast<size_t>(count));
  std::copy(bins, bins + count, dest.begin());
}

// Truncates toward zero into lo..hi; the bounds keep absurd inputs from overflowing the conversion.
int64_t TruncClamped(double v, int64_t lo, int64_t hi) {
  if (!(v > static_cast<double>(lo))) return lo;  // also NaN
  if (v >= static_cast<double>(hi)) return hi;
  return static_cast<int64_t>(std::trunc(v));
}

// The sample rate as a whole span in Hz, half to even; 0 when it cannot be a span.
int64_t SpanOf(double sampleRate) {
  if (!(sampleRate > 0) || sampleRate > 1e15) return 0;
  return static_cast<int64_t>(RoundHalfEven(sampleRate));
}

}  // namespace

void SetSpecTapClock(plat::IClock* clock) {
  gClock.store(clock);
}

void PublishSpecFrame(int64_t centerHz, double sampleRate, double noiseDb, const float* bins, int32_t count,
                      const std::string& label, const TChannelHitArray& hits) {
  if (bins == nullptr || count <= 0) return;
  const double now = plat::LocalDateTimeNow();  // the clock is read before the lock
  TFrameStore& s = FrameStore();
  std::lock_guard<std::mutex> hold(s.Lock);
  StoreBins(s.Frame.Bins, bins, count);
  s.Frame.Hits = hits;
  s.Frame.CenterHz = centerHz;
  s.Frame.SampleRate = sampleRate;
  s.Frame.NoiseDb = noiseDb;
  s.Frame.Label = label;
  s.Frame.Time = now;
  s.Counter += 1;
  s.Frame.Seq = s.Counter;
  s.Valid = true;
}

int64_t SpecFrameSequence() {
  TFrameStore& s = FrameStore();
  std::lock_guard<std::mutex> hold(s.Lock);
  return s.Counter;
}

bool GetSpecFrame(TSpecFrame& frame, int32_t points, int64_t lowHz, int64_t highHz) {
  frame = TSpecFrame();
  TFrameStore& s = FrameStore();
  std::lock_guard<std::mutex> hold(s.Lock);
  if (!s.Valid) return false;
  const TSpecFrame& f = s.Frame;
  frame.CenterHz = f.CenterHz;
  frame.SampleRate = f.SampleRate;
  frame.NoiseDb = f.NoiseDb;
  frame.Seq = f.Seq;
  frame.Time = f.Time;
  frame.Label = f.Label;
  frame.Hits = f.Hits;

  const int64_t b = static_cast<int64_t>(f.Bins.size());
  const int64_t span = SpanOf(f.SampleRate);
  const int64_t base = f.CenterHz - span / 2;  // low edge of bin 0
  int64_t first = 0;
  int64_t last = b;
  if (lowHz < highHz && span > 0 && b > 0) {
    const int64_t lo = std::max(lowHz, base);
    const int64_t hi = std::min(highHz, base + span);
    if (lo < hi) {
      // The products are exact in Int64; only the division is floating point.
      first = TruncClamped(static_cast<double>((lo - base) * b) / static_cast<double>(span), 0, b);
      last = TruncClamped(static_cast<double>((hi - base) * b) / static_cast<double>(span), 0, b);
      if (last - first < 8) {
        first = std::max<int64_t>(first - 4, 0);
        last = std::min<int64_t>(last + 4, b);
      }
    }
    if (last - first < 2) {
      first = 0;
      last = b;
    }
  }
  if (b > 0 && span > 0) {
    frame.LoHz = first * span / b + base;
    frame.HiHz = last * span / b + base;
  } else {
    frame.LoHz = base;
    frame.HiHz = base + span;
  }

  const int64_t m = last - first;
  if (points < 1 || points >= m) {
    frame.Bins.assign(f.Bins.begin() + first, f.Bins.begin() + last);
    return true;
  }
  // Peak hold: output i is the largest of the stored bins it covers, so narrow peaks survive.
  frame.Bins.resize(static_cast<size_t>(points));
  for (int64_t i = 0; i < points; ++i) {
    const int64_t st = i * m / points + first;
    int64_t e = (i + 1) * m / points + first;
    if (e < st + 1) e = st + 1;
    if (e > last) e = last;
    float v = f.Bins[static_cast<size_t>(st)];
    for (int64_t k = st + 1; k < e; ++k) v = std::max(v, f.Bins[static_cast<size_t>(k)]);
    frame.Bins[static_cast<size_t>(i)] = v;
  }
  return true;
}

void PublishPanoHops(const TScanHopArray& hops, double sampleRate) {
  TPanoStore& p = PanoStore();
  std::lock_guard<std::mutex> hold(p.Lock);
  p.Hops = hops;
  p.Rate = sampleRate;
  p.Slots.assign(hops.size(), TPanoSlot());
}

void PublishPanoSlot(int32_t hopIndex, const float* bins, int32_t count, double noiseDb) {
  if (bins == nullptr || count <= 0) return;
  const uint64_t tick = NowTick();
  TPanoStore& p = PanoStore();
  std::lock_guard<std::mutex> hold(p.Lock);
  if (hopIndex < 0 || static_cast<size_t>(hopIndex) >= p.Slots.size()) return;
  TPanoSlot& slot = p.Slots[static_cast<size_t>(hopIndex)];
  StoreBins(slot.Bins, bins, count);
  slot.WrittenTick = tick;
  slot.NoiseDb = noiseDb;
  slot.Valid = true;
}

bool AnyPanoSlotValid() {
  TPanoStore& p = PanoStore();
  std::lock_guard<std::mutex> hold(p.Lock);
  for (const TPanoSlot& slot : p.Slots)
    if (slot.Valid) return true;
  return false;
}

bool GetPanorama(TSingleArray& bins, TPanoHopArray& hops, double& meanNoiseDb, int32_t points, int64_t lowHz,
                 int64_t highHz) {
  bins.clear();
  hops.clear();
  meanNoiseDb = -100.0;
  points = std::clamp(points, kPanoMinPoints, kPanoMaxPoints);
  const uint64_t now = NowTick();
  TPanoStore& p = PanoStore();
  std::lock_guard<std::mutex> hold(p.Lock);
  if (p.Hops.empty() || !(p.Rate > 0)) return false;
  if (lowHz >= highHz) {
    lowHz = p.Hops.front().LoHz;
    highHz = p.Hops.back().HiHz;
  }
  lowHz = std::max(lowHz, p.Hops.front().LoHz);
  highHz = std::min(highHz, p.Hops.back().HiHz);
  if (lowHz >= highHz) return false;

  hops.resize(p.Hops.size());
  double noiseSum = 0;
  int32_t noiseCount = 0;
  for (size_t h = 0; h < p.Hops.size(); ++h) {
    const TPanoSlot& slot = p.Slots[h];
    TPanoHop& out = hops[h];
    out.LoHz = p.Hops[h].LoHz;
    out.HiHz = p.Hops[h].HiHz;
    out.CenterHz = p.Hops[h].CenterHz;
    out.Valid = slot.Valid;
    if (slot.Valid) {
      // A slot older than the Int32 range reads as the largest age, never as a wrapped value.
      const uint64_t age = now >= slot.WrittenTick ? now - slot.WrittenTick : 0;
      out.AgeMs = static_cast<int32_t>(std::min<uint64_t>(age, std::numeric_limits<int32_t>::max()));
      noiseSum += slot.NoiseDb;
      ++noiseCount;
    } else {
      out.AgeMs = -1;
    }
  }
  if (noiseCount > 0) meanNoiseDb = noiseSum / noiseCount;

  bins.assign(static_cast<size_t>(points), kPanoNoData);
  const double step = static_cast<double>(highHz - lowHz) / points;
  for (int32_t j = 0; j < points; ++j) {
    const double f0 = static_cast<double>(lowHz) + j * step;
    const double f1 = f0 + step;
    const double mid = (f0 + f1) / 2;
    // The first hop in plan order wins, so the overlap of two hops reads from the lower one.
    size_t h = 0;
    while (h < p.Hops.size() &&
           !(static_cast<double>(p.Hops[h].LoHz) <= mid && mid <= static_cast<double>(p.Hops[h].HiHz)))
      ++h;
    if (h == p.Hops.size()) continue;
    const TPanoSlot& slot = p.Slots[h];
    const int64_t u = static_cast<int64_t>(slot.Bins.size());
    if (!slot.Valid || u <= 0) continue;
    const double base = static_cast<double>(p.Hops[h].CenterHz) - p.Rate / 2;
    int64_t s = TruncClamped(u * ((f0 - base) / p.Rate), -1, u + 1);
    int64_t e = TruncClamped(u * ((f1 - base) / p.Rate), -1, u + 1);
    if (e <= s) e = s + 1;
    if (s < 0) s = 0;
    if (e > u) e = u;
    if (s >= e) continue;
    float v = slot.Bins[static_cast<size_t>(s)];
    for (int64_t k = s + 1; k < e; ++k) v = std::max(v, slot.Bins[static_cast<size_t>(k)]);
    bins[static_cast<size_t>(j)] = v;
  }
  return true;
}
