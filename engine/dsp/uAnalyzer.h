#pragma once
// Spectrum analysis of one tuning: TSpectrumAnalyzer turns a block of FftSize x Averages complex
// samples into an averaged, Hann-windowed power spectrum in dBFS (index N/2 = the tuning centre),
// takes the median of the usable bins as the noise floor, and reports each run of bins above
// floor + threshold as one TChannelHit on the channel raster. The hit array is meant to collect a
// whole sweep: one hit per channel, the sighting with the highest SNR winning; weak hits close to a
// much stronger one of the same call are merged away. RemoveAliasHits drops, after a sweep, hits
// that are images of strong signals folded in from outside a hop's usable band.
// Pure DSP: all buffers are allocated in the constructor; Analyze allocates only when the hit array
// grows and touches no file, clock or thread (the alias log line goes through the log's own lock).
// One analyzer belongs to one thread at a time.
#include <cstdint>
#include <memory>
#include <vector>

#include "uDspTypes.h"
#include "uFft.h"
#include "uTalvConfig.h"

// The analysis and sweep settings.
struct TScanSettings {
  int64_t StartHz = 144000000;    // range start
  int64_t StopHz = 146000000;     // range stop
  double SampleRate = 2048000.0;  // samples per second
  int32_t FftSize = 4096;         // FFT points
  int32_t Averages = 8;           // FFT segments averaged per block
  double ThresholdDb = 12.0;      // detection threshold above the noise floor
  int64_t GridHz = 12500;         // channel raster
  double GainDb = -1.0;           // receiver gain, negative = automatic
  int32_t Ppm = 0;                // frequency correction
  double EdgeFraction = 0.075;    // fraction of the band excluded at each edge
  int32_t SettleMs = 30;          // settle time after a retune
  int32_t DcBins = 3;             // half width of the guard round the centre bin
  bool Merge = true;              // merge weak hits near strong ones
};

// Largest FFT and largest block (FftSize x Averages samples) an analyzer accepts: the settings are
// user text (pipe, .ini, options), and beyond these a block would exhaust memory or overflow Int32.
constexpr int32_t MaxAnalyzerFftSize = 65536;
constexpr int32_t MaxAnalyzerBlockSamples = 4194304;

void DefaultScanSettings(TScanSettings& s);
// Copies exactly NFft -> FftSize, SnrDb -> ThresholdDb, GridHz -> GridHz, MergeChannels -> Merge.
void ApplyConfigToScanSettings(TScanSettings& s, const TTalvConfig& cfg);

// One detection of one sweep (six 8-byte fields).
struct TChannelHit {
  int64_t ChannelHz = 0;    // PeakHz rounded to the GridHz raster
  int64_t PeakHz = 0;       // interpolated peak frequency
  double SnrDb = 0.0;       // PowerDb - NoiseDb
  double PowerDb = 0.0;     // power of the peak bin, dBFS
  double NoiseDb = 0.0;     // noise floor of the spectrum the hit came from, dBFS
  int64_t HopCenterHz = 0;  // tuning centre of that spectrum
};
using TChannelHitArray = std::vector<TChannelHit>;

// Nearest multiple of step, halves away from zero (6250 -> 12500, -6250 -> -12500 for step 12500);
// a step not above 0 returns value. Results beyond the Int64 range stay at the last multiple inside.
int64_t RoundToStep(int64_t value, int64_t step);

// The k-th smallest of values[0..count-1] (k 0-based) by Hoare's quickselect; the values are partly
// reordered. A k outside the range is clamped to it; count <= 0 gives 0.
float SelectKth(float* values, int count, int k);
float SelectKth(TSingleArray& values, int count, int k);
// The value SelectKth gives, found by counting instead of partitioning: three passes over the bits of
// the values (the top 11, the next 11, the last 10, in an order that sorts floats), each keeping only
// the values that can still be the k-th. Linear time without the mispredicted branches of a partition;
// the analyzer takes its noise floor with it. Zero counts as +0. With a NaN among the values (which
// has no place in the order) it is SelectKth itself. The array is reordered.
float SelectKthByBits(float* values, int count, int k);

// Drops hits that are images of a much stronger hit one sample rate away (see the .cpp), logging
// "alias: ..." for each; the survivors keep their order. Distances are exact Int64 differences
// compared in Double, so the 1 kHz tolerance holds at any frequency.
void RemoveAliasHits(TChannelHitArray& hits, double spacingHz, double exclusionHz, double toleranceHz,
                     double dominanceDb);

class TSpectrumAnalyzer {
 public:
  // Corrections: FftSize to a power of two in 256..65536; Averages at least 1 and at most what keeps
  // FftSize x Averages within MaxAnalyzerBlockSamples; an EdgeFraction outside [0, 0.45) is 0.075.
  explicit TSpectrumAnalyzer(const TScanSettings& settings);

  TScanSettings Settings;  // after the corrections
  std::unique_ptr<TFftPlan> Plan;
  TComplexFArray Work;
  TSingleArray PowerSum;
  TSingleArray Spectrum;
  TSingleArray Scratch;
  double LastNoiseDb = -120.0;

  // FftSize x Averages: the block Analyze needs.
  int32_t SamplesNeeded() const;
  // SampleRate / FftSize in Hz (0 when FftSize is not positive).
  double BinWidth() const;
  // The last block's spectrum in dBFS, N values, index N/2 = tuning centre.
  const TSingleArray& SpectrumDb() const { return Spectrum; }

  // Analyses SamplesNeeded() samples tuned to centreHz, adds hits with a PeakHz within lowHz..highHz
  // to hits (which may hold hits of earlier calls), and returns the noise floor in dBFS.
  double Analyze(const TComplexF* samples, int64_t centreHz, int64_t lowHz, int64_t highHz,
                 TChannelHitArray& hits);
};
