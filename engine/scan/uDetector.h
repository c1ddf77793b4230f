#pragma once
// Detector: the analyzer as every session uses it. It analyses one block of samples, drops the hits
// first found while the receiver's gain control was still moving (a block read mid-step shows
// spurious peaks), and publishes the spectrum through the spectrum tap: always as the latest frame,
// and as the slot of its hop in the panorama when it has a hop index.
// One thread drives a detector; the tap does its own locking.
#include <cstdint>
#include <string>

#include "uAnalyzer.h"
#include "uDspTypes.h"

class TReceiver;

class TDetector {
 public:
  explicit TDetector(const TScanSettings& settings);
  ~TDetector();
  TDetector(const TDetector&) = delete;
  TDetector& operator=(const TDetector&) = delete;

  // Analyses SamplesNeeded() samples tuned to centerHz, keeping hits within lowHz..highHz in `hits`
  // (which collects across calls, one per channel). With a receiver whose gain control has not
  // settled, hits new in this call are dropped (updates of earlier hits stay). Publishes the frame
  // under `label`, and the panorama slot hopIndex when it is 0 or more. Returns the noise floor, dBFS.
  double Process(TReceiver* receiver, const TComplexF* samples, int64_t centerHz, int64_t lowHz,
                 int64_t highHz, const std::string& label, TChannelHitArray& hits, int32_t hopIndex);

  int32_t SamplesNeeded() const;           // FFT size x averages
  double BinWidth() const;                 // Hz per bin
  const TSingleArray& SpectrumDb() const;  // the last spectrum, centre at BinCount()/2
  int32_t BinCount() const;                // the FFT size
  // The settings after the analyzer's corrections (FFT size, averages, edge fraction).
  void GetSettings(TScanSettings& settings) const;

  TSpectrumAnalyzer Analyzer;
};
