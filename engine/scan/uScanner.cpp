#include "uScanner.h"

#include <algorithm>

#include "pSystem.h"
#include "uDspKernels.h"
#include "uFreqText.h"
#include "uLog.h"
#include "uSpecTap.h"

bool DcProbeEnabled() {
  static const bool enabled = !plat::GetEnv("TALVORAN_DCPROBE").empty();
  return enabled;
}

TScanner::TScanner(TSdrDeviceRef device, plat::IClock& clock) : FDevice(std::move(device)), FClock(clock) {
  DefaultScanSettings(FSettings);
}

TScanner::~TScanner() = default;

bool TScanner::Configure(const TScanSettings& settings) {
  FConfigured = false;
  FSettings = settings;
  if (!FDevice) {
    FLastError = "no device";
    return false;
  }
  if (!FDevice->IsOpen()) {
    FLastError = "device not open";
    return false;
  }
  if (FSettings.StartHz >= FSettings.StopHz) {
    FLastError = "stop frequency must be above start frequency";
    return false;
  }
  if (!FDevice->SetSampleRate(FSettings.SampleRate)) {
    FLastError = FDevice->GetLastError();
    return false;
  }
  const double deviceRate = FDevice->GetSampleRate();
  if (deviceRate > 0) FSettings.SampleRate = deviceRate;

  FDetector = std::make_unique<TDetector>(FSettings);
  FSettings.FftSize = FDetector->BinCount();

  FBlock = nullptr;
  FReceiver = std::make_unique<TReceiver>(FDevice, FClock);
  FReceiver->SetStopFlag(FStop ? FStop : &FAbortRequested);
  if (!FReceiver->Configure(FSettings.SampleRate, FSettings.GainDb, FSettings.Ppm,
                            FDetector->SamplesNeeded())) {
    FLastError = FReceiver->LastError();
    return false;
  }

  BuildHops(FHops, FSettings.StartHz, FSettings.StopHz, FSettings.SampleRate, FSettings.EdgeFraction);
  TSdrLimits limits;
  FDevice->GetLimits(limits);
  // Only the tuning is held inside the receiver's range; each hop still covers its planned part.
  for (TScanHop& hop : FHops)
    hop.CenterHz = std::clamp(hop.CenterHz, limits.MinHz, std::max(limits.MinHz, limits.MaxHz));
  if (FHops.empty()) {
    FLastError = "empty hop plan";
    return false;
  }
  PublishPanoHops(FHops, FSettings.SampleRate);
  FConfigured = true;
  LogFmt("scanner: %d hops, rate=%.0f, nfft=%d, avg=%d, bin=%.1f Hz, simd=%s", HopCount(),
         FSettings.SampleRate, FSettings.FftSize, FSettings.Averages, BinWidth(),
         KernelDescription().c_str());
  return true;
}

bool TScanner::TuneAndRead(int64_t centerHz) {
  FBlock = nullptr;
  if (!FReceiver || !FDetector) {
    FLastError = "scanner not configured";
    return false;
  }
  if (!FReceiver->Retune(centerHz, FSettings.SettleMs)) {
    FLastError = FReceiver->LastError();
    return false;
  }
  TComplexF* samples = nullptr;
  int32_t count = 0;
  if (!FReceiver->ReadBlock(samples, count)) {
    FLastError = FReceiver->LastError();
    return false;
  }
  FBlock = samples;
  return true;
}

bool TScanner::Sweep(TChannelHitArray& hits, TSweepHopEvent onHop, void* userData) {
  hits.clear();
  FAbortRequested = false;
  if (!FConfigured) {
    FLastError = "scanner not configured";
    return false;
  }
  const int32_t count = HopCount();
  for (int32_t i = 0; i < count; ++i) {
    if (FAbortRequested || (FStop && FStop->load())) {
      FLastError = "aborted";
      return false;
    }
    const int64_t centre = FHops[static_cast<size_t>(i)].CenterHz;
    if (!TuneAndRead(centre)) return false;
    // The limits are the whole range: a hit in the overlap of two hops keeps its stronger sighting.
    const double floorDb = FDetector->Process(FReceiver.get(), FBlock, centre, FSettings.StartHz,
                                              FSettings.StopHz, "scan", hits, i);
    FLastNoiseDb = floorDb;
    if (DcProbeEnabled()) {
      const TSingleArray& bins = FDetector->SpectrumDb();
      const size_t mid = bins.size() / 2;
      LogFmt("dcprobe: hop %d @ %s centre bins %.1f %.1f [%.1f] %.1f %.1f  (noise %.1f)", i,
             FormatMHz(centre).c_str(), bins[mid - 2], bins[mid - 1], bins[mid], bins[mid + 1], bins[mid + 2],
             floorDb);
    }
    if (onHop != nullptr && !onHop(i, count, centre, floorDb, userData)) {
      FLastError = "aborted";
      return false;
    }
  }
  if (count >= 2)
    RemoveAliasHits(hits, FSettings.SampleRate, UsableSpan() / 2, std::max(3 * BinWidth(), 1000.0), 6.0);
  return true;
}

void TScanner::Abort() {
  FAbortRequested = true;
}

void TScanner::SetStopFlag(const std::atomic<bool>* stop) {
  FStop = stop;
  if (FReceiver) FReceiver->SetStopFlag(FStop ? FStop : &FAbortRequested);
}

int32_t TScanner::HopCount() const {
  return static_cast<int32_t>(FHops.size());
}

TScanHop TScanner::GetHop(int32_t index) const {
  if (index < 0 || index >= HopCount()) return TScanHop();
  return FHops[static_cast<size_t>(index)];
}

std::shared_ptr<TAutoGain> TScanner::AutoGain() const {
  return FReceiver ? FReceiver->AutoGain() : nullptr;
}

double TScanner::UsableSpan() const {
  return ::UsableSpan(FSettings.SampleRate, FSettings.EdgeFraction);
}

double TScanner::BinWidth() const {
  return FDetector ? FDetector->BinWidth() : 0.0;
}
