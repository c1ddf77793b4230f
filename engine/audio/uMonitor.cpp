#include "uMonitor.h"

#include <algorithm>
#include <limits>

#include "uAnalyzer.h"
#include "uFreqText.h"
#include "uLog.h"

TMonitorSession::TMonitorSession(const TTalvConfig& config, int64_t wantedHz, int32_t viewerTimeoutMs,
                                 plat::IClock& clock)
    : FClock(clock),
      FConfig(config),
      FCentreHz(wantedHz),
      FWantedHz(wantedHz),
      FRadio(clock),
      FLastPollTick(clock.NowMs()),
      FViewerTimeoutMs(viewerTimeoutMs) {}

TMonitorSession::~TMonitorSession() {
  StopAndWait();
  ReleaseDevice();
}

void TMonitorSession::ReleaseDevice() {
  FDetector.reset();
  FRadio.Release();
}

bool TMonitorSession::Prepare() {
  ReleaseDevice();
  SetLastError("");
  if (!FRadio.Open(FConfig)) {
    SetLastError(FRadio.LastError());
    return false;
  }
  const int64_t wanted = FRadio.Clamp(FWantedHz.load());
  FWantedHz = wanted;
  if (FRadio.SetRate(FConfig)) {
    FSampleRate = FRadio.Rate();
    FCentreHz = OffsetCentre(wanted, FRadio.Rate(), FRadio.Limits());
    TScanSettings scan = ScanSettingsFromConfig(FConfig, FRadio.Rate());
    scan.Averages = kWatchAverages;
    FDetector = std::make_unique<TDetector>(scan);
    // A retune's settle pause ends when the monitor stops.
    if (FRadio.Tune(FConfig, FCentreHz.load(), FDetector->SamplesNeeded(), &TerminatedFlag())) {
      LogFmt("monitor: watching %s via centre %s on %s", FormatMHz(wanted).c_str(),
             FormatMHz(FCentreHz.load()).c_str(), DeviceName().c_str());
      return true;
    }
  }
  SetLastError(FRadio.LastError());
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

// Carries out a retune a poll queued; false (with the error set) when it failed.
bool TMonitorSession::RetuneIfPolled() {
  int64_t pending = 0;
  if (!TakePending(pending)) return true;
  FWantedHz = pending;
  FCentreHz = OffsetCentre(pending, FSampleRate.load(), FRadio.Limits());
  TReceiver& receiver = *FRadio.Receiver();
  if (!receiver.Retune(FCentreHz.load(), FConfig.SettleMs)) {
    SetLastError(receiver.LastError());
    LogFmt("monitor: retune failed: %s", receiver.LastError().c_str());
    return false;
  }
  LogFmt("monitor: watching %s via centre %s", FormatMHz(pending).c_str(),
         FormatMHz(FCentreHz.load()).c_str());
  return true;
}

// One block read: a frame when one is due, then the viewer check; false ends the session.
bool TMonitorSession::OnBlock(const TComplexF* block) {
  ++FBlocksRead;
  const uint64_t now = FClock.NowMs();
  if (FFramePace.Due(now)) {
    FHits.clear();  // every frame gets its own hits
    FDetector->Process(FRadio.Receiver(), block, FCentreHz.load(), std::numeric_limits<int64_t>::min(),
                       std::numeric_limits<int64_t>::max(), "monitor", FHits, -1);
    ++FFrames;
  }
  // A poll after `now` was read makes the difference wrap: that viewer is plainly alive.
  const uint64_t lastPoll = FLastPollTick.load();
  if (FViewerTimeoutMs > 0 && now > lastPoll && now - lastPoll > static_cast<uint64_t>(FViewerTimeoutMs)) {
    LogFmt("monitor: no viewer for %d ms - stopping", static_cast<int>(FViewerTimeoutMs));
    return false;
  }
  return true;
}

void TMonitorSession::Execute() {
  if (!FRadio.Receiver() || !FDetector) {
    SetLastError("the monitor was not prepared");
    return;
  }
  FFramePace.Reset();
  // A failed read checks for a queued retune again, but takes no frame and no viewer time.
  const TReadLoopEnd end = RunReadLoop(
      *FRadio.Receiver(), "monitor", [this] { return !Terminated() && RetuneIfPolled(); },
      [this](TComplexF* block, int32_t) { return OnBlock(block); });
  if (end == leFailed) SetLastError(FRadio.Receiver()->LastError());
}
