#include "uChannelStore.h"

#include <limits>
#include <utility>

TChannelStore::TChannelStore(TDateTimeSource now) : FNow(std::move(now)) {}

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
  std::lock_guard<std::mutex> lock(FLock);
  ++FSweepNo;
  for (const TChannelHit& hit : hits) {
    int32_t i = IndexOfLocked(hit.ChannelHz);
    if (i < 0) {
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
