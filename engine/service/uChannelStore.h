#pragma once
// The service's one list of detected channels. The scan session merges each sweep's hits into it,
// the live sessions merge their detections, CHANNELS reads a snapshot and STATUS its count. It lives
// for the whole service run.
//
// Channels are kept in order of first detection, keyed by their exact grid frequency; lookup is a
// linear search (merges come once per sweep). Every merge call counts as one sweep: a channel is
// "active" in a snapshot while hits are arriving (Scanning) and the latest merge saw it, so once the
// feeding session stops every channel reads as stopped.
//
// Every operation takes the store's own lock for its whole duration and calls nothing that locks:
// it is the innermost lock of the service (callers may hold the command lock, never the sessions
// lock). The time of a merge is read once, before the lock, from the date-time source handed in at
// creation (local time as days since 1899-12-30), so tests can give their own.
#include <cstdint>
#include <functional>
#include <mutex>
#include <vector>

#include "uAnalyzer.h"   // TChannelHitArray
#include "uTalvProto.h"  // TChannelRec, FormatChannelRec

using TDateTimeSource = std::function<double()>;

class TChannelStore {
 public:
  explicit TChannelStore(TDateTimeSource now);
  TChannelStore(const TChannelStore&) = delete;
  TChannelStore& operator=(const TChannelStore&) = delete;

  // Index of the channel with exactly this frequency, -1 when none.
  int32_t IndexOf(int64_t hz) const;
  // Merges the hits of one sweep or one detection; advances the sweep number even for no hits.
  // A frequency twice in one call is counted twice.
  void Merge(const TChannelHitArray& hits);
  // A copy of every channel with Active computed.
  TChannelRecArray Snapshot() const;
  void SetScanning(bool value);
  bool Scanning() const;
  int32_t Count() const;
  // Empties the list and starts the sweep numbers again.
  void Clear();
  // The CHANNELS data lines: one FormatChannelRec line per channel of a snapshot, in store order.
  void AppendChannelLines(TTextLines& lines) const;

 private:
  int32_t IndexOfLocked(int64_t hz) const;

  TDateTimeSource FNow;
  mutable std::mutex FLock;
  TChannelRecArray FItems;
  std::vector<uint32_t> FLastSweepOf;  // per item: the sweep number of the latest merge that saw it
  uint32_t FSweepNo = 0;               // wraps after 2^32 merges; only equality is ever asked
  bool FScanning = false;
};
