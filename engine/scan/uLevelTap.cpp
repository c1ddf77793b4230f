#include "uLevelTap.h"

#include <algorithm>
#include <cmath>
#include <iterator>
#include <mutex>

namespace {

struct TLane {
  int64_t Key;
  int64_t Count;
  TLevelSample Samples[kLevelRing];
};

// The table lives for the whole program; function-local statics so that another unit's static
// initialisation may already push.
struct TLevelTable {
  std::mutex Lock;
  TLane Lanes[kLevelLanes];
  TLane Scratch[kLevelLanes];  // SetLevelLanes builds the new table here, under the lock
  int32_t InUse = 0;
};

TLevelTable& Table() {
  static TLevelTable* table = new TLevelTable();  // never freed: pushes may come during exit
  return *table;
}

// Caller holds the lock.
int32_t LaneIndex(const TLevelTable& t, int64_t key) {
  for (int32_t i = 0; i < t.InUse; ++i)
    if (t.Lanes[i].Key == key) return i;
  return -1;
}

void ZeroLane(TLane& lane, int64_t key) {
  lane.Key = key;
  lane.Count = 0;
  std::fill(std::begin(lane.Samples), std::end(lane.Samples), TLevelSample{});
}

}  // namespace

void SetLevelLanes(const std::vector<int64_t>& keys) {
  TLevelTable& t = Table();
  const int32_t n = static_cast<int32_t>(std::min<size_t>(keys.size(), kLevelLanes));
  std::lock_guard<std::mutex> hold(t.Lock);
  for (int32_t i = 0; i < n; ++i) {
    int32_t old = LaneIndex(t, keys[i]);
    if (old >= 0)
      t.Scratch[i] = t.Lanes[old];
    else
      ZeroLane(t.Scratch[i], keys[i]);
  }
  for (int32_t i = 0; i < n; ++i) t.Lanes[i] = t.Scratch[i];
  for (int32_t i = n; i < kLevelLanes; ++i) ZeroLane(t.Lanes[i], 0);
  t.InUse = n;
}

void PushLevel(int64_t key, const float* samples, int32_t count) {
  if (count < 1) return;
  float peak = 0.0f;
  double sum = 0.0;
  if (samples != nullptr) {
    for (int32_t i = 0; i < count; ++i) {
      const float x = samples[i];
      const float sq = x * x;
      sum += sq;
      peak = std::max(peak, std::fabs(x));
    }
  }
  const float rms = static_cast<float>(std::sqrt(sum / count));

  TLevelTable& t = Table();
  std::lock_guard<std::mutex> hold(t.Lock);
  const int32_t lane = LaneIndex(t, key);
  if (lane < 0) return;
  TLane& l = t.Lanes[lane];
  l.Samples[l.Count % kLevelRing] = TLevelSample{peak, rms};
  ++l.Count;
}

void PushLevelSingle(const float* samples, int32_t count) {
  TLevelTable& t = Table();
  int64_t key;
  {
    std::lock_guard<std::mutex> hold(t.Lock);
    if (t.InUse == 0) {
      ZeroLane(t.Lanes[0], 0);
      t.InUse = 1;
    }
    key = t.Lanes[0].Key;
  }
  PushLevel(key, samples, count);
}

void ClearLevelLanes() {
  TLevelTable& t = Table();
  std::lock_guard<std::mutex> hold(t.Lock);
  for (TLane& lane : t.Lanes) ZeroLane(lane, 0);
  t.InUse = 0;
}

int64_t GetLevelLanes(int64_t after, int32_t maxPerLane, TLevelLaneInfoArray& lanes) {
  lanes.clear();
  if (maxPerLane < 1) maxPerLane = 256;
  int64_t result = 0;
  TLevelTable& t = Table();
  std::lock_guard<std::mutex> hold(t.Lock);
  if (t.InUse == 0) return 0;
  lanes.resize(static_cast<size_t>(t.InUse));
  for (int32_t i = 0; i < t.InUse; ++i) {
    const TLane& l = t.Lanes[i];
    TLevelLaneInfo& info = lanes[static_cast<size_t>(i)];
    info.Key = l.Key;
    info.Count = l.Count;
    result = std::max(result, l.Count);
    if (l.Count <= 0) continue;
    int64_t start = std::max<int64_t>(l.Count - kLevelRing, 0);
    start = std::max(start, after);
    int64_t n = l.Count - start;
    if (n <= 0) continue;
    if (n > maxPerLane) {
      start = l.Count - maxPerLane;
      n = maxPerLane;
    }
    info.Samples.resize(static_cast<size_t>(n));
    for (int64_t k = 0; k < n; ++k)
      info.Samples[static_cast<size_t>(k)] = l.Samples[(start + k) % kLevelRing];
  }
  return result;
}
