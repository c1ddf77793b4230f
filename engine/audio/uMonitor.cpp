#include "uMonitor.h"

#include <algorithm>
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

std::string OutsideTunerRangeText(int64_t hz, const TSdrLimits& limits) {
  return FormatMHz(hz) + " is outside the tuner range (" + FormatMHz(limits.MinHz) + " .. " +
         FormatMHz(limits.MaxHz) + ")";
}

bool SetSessionRate(ISdrDevice& device, const TTalvConfig& config, double& rate, std::string& error) {
  rate = static_cast<double>(config.SampleRate);
  if (!device.SetSampleRate(rate)) {
    error = device.GetLastError();
    return false;
  }
  const double reported = device.GetSampleRate();
  if (reported > 0) rate = reported;
  return true;
}

TSessionReader::TResult TSessionReader::Read(TReceiver& receiver, TComplexF*& block, int32_t& count) {
  if (receiver.ReadBlock(block, count)) {
    FFailures = 0;
    return rrBlock;
  }
  if (++FFailures <= kMaxReadFailures) return rrRetry;
  LogFmt("%s: read failed: %s", FComponent, receiver.LastError().c_str());
  return rrGiveUp;
}

bool TPace::Due(uint64_t now) {
  if (FAny && now - FLast < FEveryMs) return false;
  FAny = true;
  FLast = now;
  return true;
}

bool FillDetectBuffer(std::vector<TComplexF>& buffer, int32_t& count, const TComplexF* block, int32_t n) {
  const int32_t size = static_cast<int32_t>(buffer.size());
  const int32_t take = std::min(n, size - count);
  if (take > 0) {
    std::copy(block, block + take, buffer.begin() + count);
    count += take;
  }
  if (count < size) return false;
  count = 0;
  return true;
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

  double rate = 0;
  if (!SetSessionRate(*FDevice, FConfig, rate, error)) {
    SetLastError(error);
    ReleaseDevice();
    return false;
  }
  FSampleRate = rate;
  FCentreHz = OffsetCentre(wanted, rate, limits);

  TScanSettings scan;
  DefaultScanSettings(scan);
  scan.SampleRate = rate;
  scan.Averages = 2;
  ApplyConfigToScanSettings(scan, FConfig);
  FDetector = std::make_unique<TDetector>(scan);
  FReceiver = std::make_unique<TReceiver>(FDevice, FClock);
  FReceiver->SetStopFlag(&TerminatedFlag());  // a retune's settle pause ends when the monitor stops

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
  TSessionReader reader("monitor");
  FFramePace.Reset();
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
    const TSessionReader::TResult got = reader.Read(*FReceiver, block, n);
    if (got == TSessionReader::rrGiveUp) {
      SetLastError(FReceiver->LastError());
      return;
    }
    if (got == TSessionReader::rrRetry) continue;  // no frame and no viewer check on a failed read
    ++FBlocksRead;

    const uint64_t now = FClock.NowMs();
    if (FFramePace.Due(now)) {
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
