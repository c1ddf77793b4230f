#include "uChannelStore.h"

#include <algorithm>
#include <limits>
#include <utility>

#include "uLog.h"

TChannelStore::TChannelStore(TDateTimeSource now, int32_t maxChannels)
    : FNow(std::move(now)), FMaxChannels(std::max(maxChannels, 1)) {}

int32_t TChannelStore::DropOldestInactiveLocked() {
  std::vector<size_t> inactive;
  for (size_t i = 0; i < FItems.size(); ++i)
    if (FLastSweepOf[i] != FSweepNo) inactive.push_back(i);
  const size_t drop = std::min(inactive.size(), static_cast<size_t>(std::max(FMaxChannels / 16, 1)));
  if (drop == 0) return 0;
  // The oldest by last sighting (ties: the earlier in the list) go; the rest keep their order.
  std::stable_sort(inactive.begin(), inactive.end(),
                   [this](size_t a, size_t b) { return FItems[a].LastSeen < FItems[b].LastSeen; });
  std::vector<bool> gone(FItems.size(), false);
  for (size_t k = 0; k < drop; ++k) gone[inactive[k]] = true;
  size_t kept = 0;
  for (size_t i = 0; i < FItems.size(); ++i) {
    if (gone[i]) continue;
    FItems[kept] = FItems[i];
    FLastSweepOf[kept] = FLastSweepOf[i];
    ++kept;
  }
  FItems.resize(kept);
  FLastSweepOf.resize(kept);
  return static_cast<int32_t>(drop);
}

int32_t TChannelStore::IndexOfLocked(int64_t hz) const {
  for (size_t i = 0; i < FItems.size(); ++i)
    if (FItems[i].Hz == hz) return static_cast<int32_t>(i);
  return -1;
}

int32_t TChannelStore::IndexOf(int64_t hz) const {
  std::lock_guard<std::mutex> lock(FLock);
  return IndexOfLocked(hz);
}

void TChannelStore::Merge(const TChannelHitArray& hits) {
  const double now = FNow ? FNow() : 0.0;  // read before the lock: the source may take its own
  int32_t dropped = 0;
  int32_t refused = 0;
  {
    std::lock_guard<std::mutex> lock(FLock);
    MergeLocked(hits, now, dropped, refused);
  }
  if (dropped > 0)
    LogFmt("store: %d oldest inactive channel(s) dropped - the list holds at most %d", dropped, FMaxChannels);
  if (refused > 0)
    LogFmt("store: %d new channel(s) left out - the list is full of active ones (%d)", refused, FMaxChannels);
}

void TChannelStore::MergeLocked(const TChannelHitArray& hits, double now, int32_t& dropped,
                                int32_t& refused) {
  ++FSweepNo;
  for (const TChannelHit& hit : hits) {
    int32_t i = IndexOfLocked(hit.ChannelHz);
    if (i < 0) {
      if (static_cast<int32_t>(FItems.size()) >= FMaxChannels) {
        const int32_t n = DropOldestInactiveLocked();
        dropped += n;
        if (n == 0) {
          ++refused;
          continue;
        }
      }
      TChannelRec rec;
      rec.Hz = hit.ChannelHz;
      rec.FirstSeen = rec.LastSeen = now;
      rec.Hits = 1;
      rec.PeakSnrDb = rec.LastSnrDb = hit.SnrDb;
      FItems.push_back(rec);
      FLastSweepOf.push_back(FSweepNo);
      continue;
    }
    TChannelRec& rec = FItems[static_cast<size_t>(i)];
    FLastSweepOf[static_cast<size_t>(i)] = FSweepNo;
    rec.LastSeen = now;
    if (rec.Hits < std::numeric_limits<int32_t>::max()) ++rec.Hits;
    rec.LastSnrDb = hit.SnrDb;
    if (hit.SnrDb > rec.PeakSnrDb) rec.PeakSnrDb = hit.SnrDb;  // false for a NaN on either side
  }
}

TChannelRecArray TChannelStore::Snapshot() const {
  std::lock_guard<std::mutex> lock(FLock);
  TChannelRecArray items(FItems);
  for (size_t i = 0; i < items.size(); ++i)
    items[i].Active = FScanning && FLastSweepOf[i] == FSweepNo ? 1 : 0;
  return items;
}

void TChannelStore::SetScanning(bool value) {
  std::lock_guard<std::mutex> lock(FLock);
  FScanning = value;
}

bool TChannelStore::Scanning() const {
  std::lock_guard<std::mutex> lock(FLock);
  return FScanning;
}

int32_t TChannelStore::Count() const {
  std::lock_guard<std::mutex> lock(FLock);
  return static_cast<int32_t>(FItems.size());
}

void TChannelStore::Clear() {
  std::lock_guard<std::mutex> lock(FLock);
  FItems.clear();
  FLastSweepOf.clear();
  FSweepNo = 0;
}

void TChannelStore::AppendChannelLines(TTextLines& lines) const {
  for (const TChannelRec& rec : Snapshot()) lines.push_back(FormatChannelRec(rec));
}
