#include "uMonitor.h"

#include <limits>

#include "uAnalyzer.h"
#include "uFreqText.h"
#include "uLog.h"
#include "uSdrDevices.h"

int64_t OffsetCentre(int64_t hz, double rate, const TSdrLimits& limits) {
  const int64_t q = RoundHalfEven(rate * 0.25);
  int64_t c = hz - q;
  if (c < limits.MinHz) c = hz + q;
  if (c > limits.MaxHz) c = hz - q;
  if (c < limits.MinHz || c > limits.MaxHz) c = hz;
  return c;
}

TMonitorSession::TMonitorSession(const TTalvConfig& config, int64_t wantedHz, int32_t viewerTimeoutMs,
                                 plat::IClock& clock)
    : FClock(clock),
      FConfig(config),
      FCentreHz(wantedHz),
      FWantedHz(wantedHz),
      FLastPollTick(clock.NowMs()),
      FViewerTimeoutMs(viewerTimeoutMs) {}

TMonitorSession::~TMonitorSession() {
  StopAndWait();
  ReleaseDevice();
}

void TMonitorSession::ReleaseDevice() {
  FReceiver.reset();
  FDetector.reset();
  FDevice.reset();
}

bool TMonitorSession::Prepare() {
  ReleaseDevice();
  SetLastError("");
  FDeviceName.clear();

  std::string error;
  if (!OpenSdrDevice(FConfig, FDevice, FDeviceName, error)) {
    SetLastError(error);
    FDevice.reset();
    return false;
  }
  TSdrLimits limits;
  FDevice->GetLimits(limits);
  int64_t wanted = FWantedHz.load();
  if (wanted < limits.MinHz) wanted = limits.MinHz;
  if (wanted > limits.MaxHz) wanted = limits.MaxHz;
  FWantedHz = wanted;

  if (!FDevice->SetSampleRate(static_cast<double>(FConfig.SampleRate))) {
    SetLastError(FDevice->GetLastError());
    ReleaseDevice();
    return false;
  }
  double rate = FDevice->GetSampleRate();
  if (rate <= 0) rate = static_cast<double>(FConfig.SampleRate);
  FSampleRate = rate;
  FCentreHz = OffsetCentre(wanted, rate, limits);

  TScanSettings scan;
  DefaultScanSettings(scan);
  scan.SampleRate = rate;
  scan.Averages = 2;
  ApplyConfigToScanSettings(scan, FConfig);
  FDetector = std::make_unique<TDetector>(scan);
  FReceiver = std::make_unique<TReceiver>(FDevice, FClock);

  if (FReceiver->Configure(rate, FConfig.GainDb, FConfig.PpmCorrection, FDetector->SamplesNeeded()) &&
      FReceiver->Retune(FCentreHz.load(), 0)) {
    LogFmt("monitor: watching %s via centre %s on %s", FormatMHz(wanted).c_str(),
           FormatMHz(FCentreHz.load()).c_str(), FDeviceName.c_str());
    return true;
  }
  SetLastError(FReceiver->LastError());
  ReleaseDevice();
  return false;
}

void TMonitorSession::Poll(int64_t hz) {
  FLastPollTick = FClock.NowMs();
  if (hz > 0 && hz != FWantedHz.load()) {
    std::lock_guard<std::mutex> guard(FPendingLock);
    FPendingHz = hz;
  }
}

bool TMonitorSession::TakePending(int64_t& hz) {
  std::lock_guard<std::mutex> guard(FPendingLock);
  hz = FPendingHz;
  FPendingHz = 0;
  return hz > 0;
}

void TMonitorSession::Execute() {
  if (!FReceiver || !FDetector) {
    SetLastError("the monitor was not prepared");
    return;
  }
  int32_t failures = 0;
  while (!Terminated()) {
    int64_t pending = 0;
    if (TakePending(pending)) {
      FWantedHz = pending;
      TSdrLimits limits;
      FDevice->GetLimits(limits);
      FCentreHz = OffsetCentre(pending, FSampleRate.load(), limits);
      if (!FReceiver->Retune(FCentreHz.load(), FConfig.SettleMs)) {
        SetLastError(FReceiver->LastError());
        LogFmt("monitor: retune failed: %s", FReceiver->LastError().c_str());
        return;
      }
      LogFmt("monitor: watching %s via centre %s", FormatMHz(pending).c_str(),
             FormatMHz(FCentreHz.load()).c_str());
    }

    TComplexF* block = nullptr;
    int32_t n = 0;
    if (!FReceiver->ReadBlock(block, n)) {
      if (++failures > kMaxReadFailures) {
        SetLastError(FReceiver->LastError());
        LogFmt("monitor: read failed: %s", FReceiver->LastError().c_str());
        return;
      }
      continue;
    }
    failures = 0;
    ++FBlocksRead;

    const uint64_t now = FClock.NowMs();
    if (!FAnyFrame || now - FLastFrameTick >= kFrameEveryMs) {
      FAnyFrame = true;
      FLastFrameTick = now;
      FHits.clear();  // every frame gets its own hits
      FDetector->Process(FReceiver.get(), block, FCentreHz.load(), std::numeric_limits<int64_t>::min(),
                         std::numeric_limits<int64_t>::max(), "monitor", FHits, -1);
      ++FFrames;
    }

    // A poll after `now` was read makes the difference wrap: that viewer is plainly alive.
    const uint64_t lastPoll = FLastPollTick.load();
    if (FViewerTimeoutMs > 0 && now > lastPoll && now - lastPoll > static_cast<uint64_t>(FViewerTimeoutMs)) {
      LogFmt("monitor: no viewer for %d ms - stopping", static_cast<int>(FViewerTimeoutMs));
      return;
    }
  }
}
