#pragma once
// Level tap: carries audio levels from the threads that demodulate to the threads that answer
// ENVELOPE. A module-wide table of up to 16 lanes, one per audio channel, keyed by the channel's
// frequency (0 for the single lane of a one-channel live session). Each lane keeps the last 2048
// level samples (peak and RMS of one audio block) in a ring with a running count, so a reader asks
// for the samples newer than the sequence it already has and gets only what is new.
// One lock guards the table; producers compute a block's levels before taking it, and nothing else
// is locked while it is held (the innermost lock of the engine). Producers never allocate.
#include <cstdint>
#include <vector>

constexpr int kLevelLanes = 16;
constexpr int kLevelRing = 2048;

// Levels of one audio block on the audio's float scale (1.0 = full scale).
struct TLevelSample {
  float Peak = 0.0f;  // largest absolute sample value
  float Rms = 0.0f;   // root mean square
};
using TLevelSampleArray = std::vector<TLevelSample>;

// One lane as a reader gets it.
struct TLevelLaneInfo {
  int64_t Key = 0;            // channel frequency in Hz (0: the one-channel live lane)
  int64_t Count = 0;          // samples pushed since the lane was created or cleared
  TLevelSampleArray Samples;  // the samples asked for, oldest first
};
using TLevelLaneInfoArray = std::vector<TLevelLaneInfo>;

// Makes the lanes the given keys in this order (the first 16 only). A key that had a lane keeps its
// count and samples; a new key starts empty; lanes of keys not given are dropped.
void SetLevelLanes(const std::vector<int64_t>& keys);

// Appends the peak and RMS of the block to the lane with that key. A count below 1 does nothing; a
// key without a lane is ignored.
void PushLevel(int64_t key, const float* samples, int32_t count);

// For the one-channel live session: creates lane 0 with key 0 when no lane is in use, then pushes to
// lane 0's key.
void PushLevelSingle(const float* samples, int32_t count);

// Zeroes every lane; no lane is in use afterwards.
void ClearLevelLanes();

// One entry per lane in use (lane order) with the samples numbered from `after` on, at most the
// newest maxPerLane of them (below 1: 256) and never more than the ring holds. Returns the largest
// count of all lanes, which the caller passes back as `after` on its next poll; 0 when no lane.
int64_t GetLevelLanes(int64_t after, int32_t maxPerLane, TLevelLaneInfoArray& lanes);
