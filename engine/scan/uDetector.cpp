#include "uDetector.h"

#include "uReceiver.h"
#include "uSpecTap.h"

TDetector::TDetector(const TScanSettings& settings) : Analyzer(settings) {}

TDetector::~TDetector() = default;

double TDetector::Process(TReceiver* receiver, const TComplexF* samples, int64_t centerHz, int64_t lowHz,
                          int64_t highHz, const std::string& label, TChannelHitArray& hits,
                          int32_t hopIndex) {
  const size_t known = hits.size();
  const double floorDb = Analyzer.Analyze(samples, centerHz, lowHz, highHz, hits);
  // A block read while the gain was still stepping can show peaks that are not there; hits it found
  // first are dropped, updates of hits seen earlier stay.
  if (receiver != nullptr && !receiver->AgcSettled() && hits.size() > known) hits.resize(known);
  const TSingleArray& bins = SpectrumDb();
  const int32_t n = static_cast<int32_t>(bins.size());
  PublishSpecFrame(centerHz, Analyzer.Settings.SampleRate, floorDb, bins.data(), n, label, hits);
  if (hopIndex >= 0) PublishPanoSlot(hopIndex, bins.data(), n, floorDb);
  return floorDb;
}

int32_t TDetector::SamplesNeeded() const {
  return Analyzer.SamplesNeeded();
}

double TDetector::BinWidth() const {
  return Analyzer.BinWidth();
}

const TSingleArray& TDetector::SpectrumDb() const {
  return Analyzer.SpectrumDb();
}

int32_t TDetector::BinCount() const {
  return Analyzer.Settings.FftSize;
}

void TDetector::GetSettings(TScanSettings& settings) const {
  settings = Analyzer.Settings;
}
