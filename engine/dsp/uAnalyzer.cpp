#include "uAnalyzer.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <utility>

#include "uDecibels.h"
#include "uFreqText.h"
#include "uLog.h"

namespace {

constexpr int32_t kMinFftSize = 256;
constexpr double kDefaultEdgeFraction = 0.075;
constexpr double kPowerFloor = 1e-20;  // -200 dB: no bin reads lower
constexpr double kEmptyFloorDb = -120.0;
constexpr double kMergeDominanceDb = 20.0;
constexpr int64_t kMergeRadiusMin = 25000;
constexpr int64_t kMergeRadiusMax = 150000;

int64_t SaturatingAdd(int64_t a, int64_t b) {
  int64_t r;
  if (__builtin_add_overflow(a, b, &r)) {
    return b > 0 ? std::numeric_limits<int64_t>::max() : std::numeric_limits<int64_t>::min();
  }
  return r;
}

// |a - b| exactly where it fits an Int64 (every real frequency), then as Double.
double Distance(int64_t a, int64_t b) {
  int64_t d;
  if (!__builtin_sub_overflow(a, b, &d) && d != std::numeric_limits<int64_t>::min()) {
    return static_cast<double>(d < 0 ? -d : d);
  }
  return std::fabs(static_cast<double>(a) - static_cast<double>(b));
}

int64_t MergeRadius(int64_t gridHz) {
  const int64_t r = gridHz > kMergeRadiusMax / 30 ? kMergeRadiusMax : 30 * gridHz;
  return std::clamp(r, kMergeRadiusMin, kMergeRadiusMax);
}

TScanSettings Corrected(TScanSettings s) {
  int32_t n = NextPowerOfTwo(s.FftSize);
  n = std::clamp(n, kMinFftSize, MaxAnalyzerFftSize);
  s.FftSize = n;
  s.Averages = std::clamp(s.Averages, 1, MaxAnalyzerBlockSamples / n);
  if (!(s.EdgeFraction >= 0.0 && s.EdgeFraction < 0.45)) s.EdgeFraction = kDefaultEdgeFraction;
  return s;
}

}  // namespace

void DefaultScanSettings(TScanSettings& s) {
  s = TScanSettings{};
}

void ApplyConfigToScanSettings(TScanSettings& s, const TTalvConfig& cfg) {
  s.FftSize = cfg.NFft;
  s.ThresholdDb = cfg.SnrDb;
  s.GridHz = cfg.GridHz;
  s.Merge = cfg.MergeChannels;
}

int64_t RoundToStep(int64_t value, int64_t step) {
  if (step <= 0) return value;
  // On the magnitude, in unsigned arithmetic, so that no value overflows on the way.
  const uint64_t ustep = uint64_t(step);
  const uint64_t half = ustep / 2;
  const uint64_t magnitude = value < 0 ? uint64_t(0) - uint64_t(value) : uint64_t(value);
  const uint64_t q = magnitude / ustep;
  const uint64_t r = magnitude % ustep;
  uint64_t rounded = (r >= ustep - half) ? (q + 1) * ustep : q * ustep;
  const uint64_t limit = value < 0 ? uint64_t(1) << 63 : uint64_t(std::numeric_limits<int64_t>::max());
  if (rounded > limit) rounded = q * ustep;
  if (value < 0)
    return rounded == (uint64_t(1) << 63) ? std::numeric_limits<int64_t>::min()
                                          : -static_cast<int64_t>(rounded);
  return static_cast<int64_t>(rounded);
}

float SelectKth(float* values, int count, int k) {
  if (values == nullptr || count <= 0) return 0.0f;
  k = std::clamp(k, 0, count - 1);
  int left = 0;
  int right = count - 1;
  while (left < right) {
    const float pivot = values[(left + right) / 2];
    int i = left;
    int j = right;
    do {
      while (values[i] < pivot) ++i;
      while (pivot < values[j]) --j;
      if (i <= j) {
        std::swap(values[i], values[j]);
        ++i;
        --j;
      }
    } while (i <= j);
    if (j < k) {
      if (k < i) break;
      left = i;
    } else {
      right = j;
    }
  }
  return values[k];
}

namespace {

constexpr uint32_t kSignBit = 0x80000000u;

// Unsigned keys in the order of the floats: negatives reversed below the positives; -0 as +0.
uint32_t OrderKey(float v) {
  uint32_t u;
  std::memcpy(&u, &v, sizeof u);
  if (u == kSignBit) u = 0;
  return (u & kSignBit) != 0 ? ~u : (u | kSignBit);
}

float FromOrderKey(uint32_t key) {
  const uint32_t u = (key & kSignBit) != 0 ? (key & ~kSignBit) : ~key;
  float v;
  std::memcpy(&v, &u, sizeof v);
  return v;
}

// The bucket of a histogram that holds the k-th value; k becomes its rank inside the bucket.
uint32_t BucketOf(const int32_t* histogram, int& k) {
  int b = 0;
  while (k >= histogram[b]) k -= histogram[b++];
  return uint32_t(b);
}

}  // namespace

float SelectKthByBits(float* values, int count, int k) {
  if (values == nullptr || count <= 0) return 0.0f;
  k = std::clamp(k, 0, count - 1);
  int32_t histogram[2048];
  std::fill(histogram, histogram + 2048, 0);
  bool nan = false;
  for (int i = 0; i < count; ++i) {
    nan |= values[i] != values[i];
    ++histogram[OrderKey(values[i]) >> 21];
  }
  if (nan) return SelectKth(values, count, k);
  const uint32_t top = BucketOf(histogram, k);
  // Keep the values of that bucket at the front, counting their next 11 bits.
  std::fill(histogram, histogram + 2048, 0);
  int kept = 0;
  for (int i = 0; i < count; ++i) {
    const uint32_t key = OrderKey(values[i]);
    if ((key >> 21) != top) continue;
    values[kept++] = values[i];
    ++histogram[(key >> 10) & 0x7FF];
  }
  const uint32_t middle = BucketOf(histogram, k);
  const uint32_t high = (top << 11) | middle;
  std::fill(histogram, histogram + 1024, 0);
  for (int i = 0; i < kept; ++i) {
    const uint32_t key = OrderKey(values[i]);
    if ((key >> 10) == high) ++histogram[key & 0x3FF];
  }
  const uint32_t low = BucketOf(histogram, k);
  return FromOrderKey((high << 10) | low);
}

float SelectKth(TSingleArray& values, int count, int k) {
  return SelectKth(values.data(), std::min<int>(count, int(values.size())), k);
}

// A weak hit at one sample rate's distance from a much stronger one that lay outside the weak hit's
// hop band is an image the receiver folded in: the scanner calls this after a sweep of at least two
// hops with spacing = the sample rate, exclusion = half a hop's usable span, tolerance = 3 bins (at
// least 1 kHz), dominance = 6 dB.
void RemoveAliasHits(TChannelHitArray& hits, double spacingHz, double exclusionHz, double toleranceHz,
                     double dominanceDb) {
  if (hits.size() < 2 || !(spacingHz > 0.0)) return;
  std::vector<char> removed(hits.size(), 0);
  for (size_t j = 0; j < hits.size(); ++j) {
    const TChannelHit& weak = hits[j];
    for (size_t k = 0; k < hits.size(); ++k) {
      if (k == j) continue;
      const TChannelHit& strong = hits[k];
      if (!(strong.PowerDb >= weak.PowerDb + dominanceDb)) continue;
      if (!(std::fabs(Distance(strong.PeakHz, weak.PeakHz) - spacingHz) <= toleranceHz)) continue;
      if (!(Distance(strong.PeakHz, weak.HopCenterHz) > exclusionHz)) continue;
      removed[j] = 1;
      LogFmt("alias: %s (%.1f dBFS) dropped - image of %s (%.1f dBFS) in hop %s",
             FormatMHz(weak.ChannelHz).c_str(), weak.PowerDb, FormatMHz(strong.ChannelHz).c_str(),
             strong.PowerDb, FormatMHz(weak.HopCenterHz).c_str());
      break;
    }
  }
  size_t out = 0;
  for (size_t j = 0; j < hits.size(); ++j) {
    if (!removed[j]) hits[out++] = hits[j];
  }
  hits.resize(out);
}

TSpectrumAnalyzer::TSpectrumAnalyzer(const TScanSettings& settings) : Settings(Corrected(settings)) {
  Plan = std::make_unique<TFftPlan>(Settings.FftSize);
  Settings.FftSize = Plan->Size;
  const size_t n = size_t(Settings.FftSize);
  Work.assign(n, TComplexF{0.0f, 0.0f});
  PowerSum.assign(n, 0.0f);
  Spectrum.assign(n, float(-200.0));
  Scratch.assign(n, 0.0f);
}

int32_t TSpectrumAnalyzer::SamplesNeeded() const {
  return Settings.FftSize * Settings.Averages;
}

double TSpectrumAnalyzer::BinWidth() const {
  if (Settings.FftSize <= 0) return 0.0;
  return Settings.SampleRate / Settings.FftSize;
}

double TSpectrumAnalyzer::Analyze(const TComplexF* samples, int64_t centreHz, int64_t lowHz, int64_t highHz,
                                  TChannelHitArray& hits) {
  const int32_t n = Settings.FftSize;
  const int32_t half = n / 2;

  // 1. Averaged power spectrum in dBFS.
  std::fill(PowerSum.begin(), PowerSum.end(), 0.0f);
  for (int32_t s = 0; s < Settings.Averages; ++s) {
    // Window, transform, swap halves and add up, with the reordering folded into the window and the
    // swap into the addition (the same values as the steps one by one).
    Plan->ApplyWindowBitReversed(samples + size_t(s) * size_t(n), Work.data());
    Plan->ExecuteBitReversed(Work.data());
    AccumulatePower(Work.data() + half, PowerSum.data(), half);
    AccumulatePower(Work.data(), PowerSum.data() + half, half);
  }
  const double scale = double(Settings.Averages) * double(n) * double(n) * Plan->WindowPower;
  PowerSumsToDb(PowerSum.data(), Spectrum.data(), n, scale, kPowerFloor);

  // 2. Noise floor: median of the bins inside the edges and outside the centre guard.
  const int32_t edge = static_cast<int32_t>(RoundHalfEven(double(n) * Settings.EdgeFraction));
  const int64_t dc = Settings.DcBins;  // 64-bit: a huge or negative setting must not overflow
  auto inGuard = [half, dc](int32_t k) { return !(k < half - dc || k > half + dc); };
  int count = 0;
  for (int32_t k = edge; k <= n - edge - 1; ++k) {
    if (!inGuard(k)) Scratch[count++] = Spectrum[k];
  }
  const double floorDb =
      count > 0 ? double(SelectKthByBits(Scratch.data(), count, count / 2)) : kEmptyFloorDb;
  LastNoiseDb = floorDb;

  // 3.-4. Runs of bins above floor + threshold, one candidate per run.
  const size_t first = hits.size();
  const double binWidth = BinWidth();
  const double level = floorDb + Settings.ThresholdDb;
  int32_t peak = -1;  // peak bin of the open run, -1 when none is open
  auto closeRun = [&]() {
    if (peak < 0) return;
    const int32_t p = peak;
    peak = -1;
    double d = 0.0;
    if (p > 0 && p < n - 1) {
      const double yL = Spectrum[p - 1], yC = Spectrum[p], yR = Spectrum[p + 1];
      const double c = yL - 2.0 * yC + yR;
      if (std::fabs(c) > 1e-9) d = std::clamp(0.5 * (yL - yR) / c, -0.5, 0.5);
    }
    const int64_t peakHz = SaturatingAdd(centreHz, RoundHalfEven((double(p - half) + d) * binWidth));
    if (peakHz < lowHz || peakHz > highHz) return;
    TChannelHit hit;
    hit.ChannelHz = RoundToStep(peakHz, Settings.GridHz);
    hit.PeakHz = peakHz;
    hit.PowerDb = Spectrum[p];
    hit.NoiseDb = floorDb;
    hit.SnrDb = hit.PowerDb - floorDb;
    hit.HopCenterHz = centreHz;
    for (TChannelHit& known : hits) {
      if (known.ChannelHz == hit.ChannelHz) {
        if (hit.SnrDb > known.SnrDb) known = hit;
        return;
      }
    }
    hits.push_back(hit);
  };
  for (int32_t k = edge; k <= n - edge - 1; ++k) {
    const bool above = !inGuard(k) && double(Spectrum[k]) > level;
    if (!above) {
      closeRun();
    } else if (peak < 0 || Spectrum[k] > Spectrum[peak]) {
      peak = k;
    }
  }
  closeRun();

  // 5. Merge weak hits of this call into strong neighbours of this call.
  if (Settings.Merge && hits.size() >= first + 2) {
    const int64_t radius = MergeRadius(Settings.GridHz);
    std::vector<char> removed(hits.size() - first, 0);
    for (size_t j = first; j < hits.size(); ++j) {
      for (size_t k = first; k < hits.size(); ++k) {
        if (k == j || removed[k - first]) continue;
        if (hits[k].PowerDb - hits[j].PowerDb >= kMergeDominanceDb &&
            Distance(hits[k].ChannelHz, hits[j].ChannelHz) <= double(radius)) {
          removed[j - first] = 1;
          break;
        }
      }
    }
    size_t out = first;
    for (size_t j = first; j < hits.size(); ++j) {
      if (!removed[j - first]) hits[out++] = hits[j];
    }
    hits.resize(out);
  }
  return floorDb;
}
