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
// The list holds at most MaxChannels (a scan with a tiny threshold and grid would otherwise grow it
// for ever): a new channel that finds it full first drops the oldest-seen channels that the current
// merge did not see (a sixteenth of the limit at once), with one log line after the lock is left; when
// every channel was seen by this merge, the new one is left out.
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
  static constexpr int32_t kMaxChannels = 10000;

  explicit TChannelStore(TDateTimeSource now, int32_t maxChannels = kMaxChannels);
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
  // Drops the oldest-seen channels the current merge has not seen; how many went.
  int32_t DropOldestInactiveLocked();
  void MergeLocked(const TChannelHitArray& hits, double now, int32_t& dropped, int32_t& refused);

  TDateTimeSource FNow;
  int32_t FMaxChannels;
  mutable std::mutex FLock;
  TChannelRecArray FItems;
  std::vector<uint32_t> FLastSweepOf;  // per item: the sweep number of the latest merge that saw it
  uint32_t FSweepNo = 0;               // wraps after 2^32 merges; only equality is ever asked
  bool FScanning = false;
};
