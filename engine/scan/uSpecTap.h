#pragma once
// Spectrum tap: where the threads that compute spectra meet the threads that answer for them.
// Whichever session runs publishes, through its detector, the latest spectrum frame and, hop by hop,
// the spectrum of each hop of the scan plan into the panorama. Readers (the SPECTRUM handler, the
// self tests) get copies: the latest frame cropped to a frequency window and reduced to a number of
// points by peak hold, or the panorama over the planned range resampled to a number of points.
// There is one frame and one panorama per process; nothing here knows who publishes.
//
// Two locks, one for the frame and one for the panorama. Every operation takes exactly one of them
// for its whole duration and calls nothing that locks, so the two are never held together and a
// reader never sees a half-written frame or slot. Publishing reuses the stored bins while the count
// stays the same; the reductions allocate only their result.
#include <cstdint>
#include <string>
#include <vector>

#include "pClock.h"
#include "uAnalyzer.h"    // TChannelHitArray
#include "uDspTypes.h"    // TSingleArray
#include "uTalvConfig.h"  // TScanHopArray

// The latest spectrum frame. Stored as published; GetSpecFrame returns a cropped, reduced copy.
struct TSpecFrame {
  int64_t CenterHz = 0;   // tuning centre of the spectrum
  double SampleRate = 0;  // its sample rate: the span of the bins
  double NoiseDb = 0;     // its noise floor, dBFS
  int64_t Seq = 0;        // running number of the frame, from 1
  double Time = 0;        // local date-time of publication: days since 1899-12-30, time as the fraction
  std::string Label;      // who published: "scan", "dwell", "live", "multi" or "monitor"
  TSingleArray Bins;      // dB values, lowest frequency first, the centre at index count/2
  int64_t LoHz = 0;       // in a returned copy: low edge of the first returned bin (0 when stored)
  int64_t HiHz = 0;       // in a returned copy: high edge of the last returned bin (0 when stored)
  TChannelHitArray Hits;  // the hits known when the frame was published
};

// The stored spectrum of one hop of the planned range.
struct TPanoSlot {
  TSingleArray Bins;
  uint64_t WrittenTick = 0;  // millisecond tick of the last write
  double NoiseDb = 0;
  bool Valid = false;
};

// One hop of the panorama as GetPanorama returns it.
struct TPanoHop {
  int64_t LoHz = 0;
  int64_t HiHz = 0;
  int64_t CenterHz = 0;
  int32_t AgeMs = -1;  // ms since the slot was written (saturating at the Int32 maximum); -1: no data
  bool Valid = false;
};
using TPanoHopArray = std::vector<TPanoHop>;

// Panorama points asked for are raised to the least and cut to the most (as SPECTRUM's bins are).
constexpr int32_t kPanoMinPoints = 16;
constexpr int32_t kPanoMaxPoints = 8192;

// Values of panorama points that no hop with data covers: below anything a spectrum holds.
constexpr float kPanoNoData = -400.0f;

// Stores a new latest frame (nothing happens without bins or with count < 1): bins, hits, centre,
// rate, noise, label, the time of now and the next sequence number.
void PublishSpecFrame(int64_t centerHz, double sampleRate, double noiseDb, const float* bins, int32_t count,
                      const std::string& label, const TChannelHitArray& hits);

// Number of frames published so far (0 before the first).
int64_t SpecFrameSequence();

// A copy of the latest frame. With lowHz < highHz the bins are cropped to that window (widened to at
// least 8 bins; the whole frame when fewer than 2 remain or the window misses the frame); with
// 1 <= points < the remaining bins they are reduced to exactly `points` by peak hold. LoHz/HiHz give
// the edges of the returned bins. False, with an empty frame, before the first publication.
bool GetSpecFrame(TSpecFrame& frame, int32_t points, int64_t lowHz, int64_t highHz);

// Starts a new panorama: the hop list becomes a copy of the plan, one empty slot per hop.
void PublishPanoHops(const TScanHopArray& hops, double sampleRate);

// Stores the spectrum of one hop (an index outside the plan, missing bins or count < 1 are ignored).
void PublishPanoSlot(int32_t hopIndex, const float* bins, int32_t count, double noiseDb);

// True when any hop of the panorama holds a spectrum.
bool AnyPanoSlotValid();

// The panorama resampled to `points` (16 .. 8192) over lowHz..highHz (the whole plan when lowHz is
// not below highHz; always cut to the plan), with one TPanoHop per planned hop and the mean noise of
// the hops with data (-100 when none). Points no hop with data covers read kPanoNoData. False with no
// plan, a rate not above 0, or an empty window.
bool GetPanorama(TSingleArray& bins, TPanoHopArray& hops, double& meanNoiseDb, int32_t points, int64_t lowHz,
                 int64_t highHz);

// The tick source of the panorama's slot ages (nullptr: the system clock). Tests hand in a manual clock.
void SetSpecTapClock(plat::IClock* clock);
