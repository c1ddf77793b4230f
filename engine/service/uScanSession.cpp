#include "uScanSession.h"

#include <utility>

#include "pSystem.h"
#include "uDwell.h"
#include "uLevelTap.h"
#include "uLog.h"
#include "uSdrDevices.h"

TScanSession::TScanSession(const TTalvConfig& config, TChannelStore* store, plat::IClock& clock)
    : FConfig(config), FStore(store), FClock(clock) {}

TScanSession::~TScanSession() {
  // The thread reads the scanner and the device: it must be gone before they are.
  Stop();
  StopAndWait();
  FScanner.reset();
  FDevice.reset();
}

bool TScanSession::Prepare() {
  FDevice.reset();
  FDeviceName.clear();
  SetLastError("");
  std::string error;
  if (!OpenSdrDevice(FConfig, FDevice, FDeviceName, error)) {
    FDevice.reset();
    SetLastError(error);
    return false;
  }

  TScanSettings s;
  DefaultScanSettings(s);
  s.StartHz = FConfig.StartHz;
  s.StopHz = FConfig.StopHz;
  s.SampleRate = static_cast<double>(FConfig.SampleRate);
  s.Averages = FConfig.AvgSegments;
  s.GainDb = FConfig.GainDb;
  s.Ppm = FConfig.PpmCorrection;
  s.SettleMs = FConfig.SettleMs;
  ApplyConfigToScanSettings(s, FConfig);

  FScanner = std::make_unique<TScanner>(FDevice, FClock);
  FScanner->SetStopFlag(&TerminatedFlag());
  if (!FScanner->Configure(s)) {
    SetLastError(FScanner->LastError());
    return false;
  }
  FSettings = FScanner->Settings();
  FRecordDir = ResolveRecordDir(FConfig.RecordDir);
  FHopCount = FScanner->HopCount();
  FStartedAt = plat::LocalDateTimeNow();
  return true;
}

void TScanSession::Stop() {
  Terminate();
  if (FScanner) FScanner->Abort();
}

void TScanSession::ApplyLiveThrough(int64_t hz, TModulation mod, bool multi) {
  FLiveMod = mod;
  FLiveHz = hz;
  FLiveMulti = multi;
}

void TScanSession::PublishLevelClass() {
  // The gain control belongs to the scan thread; readers get its class through this atomic only.
  std::shared_ptr<TAutoGain> agc = FScanner ? FScanner->AutoGain() : nullptr;
  FLevelClass = agc ? static_cast<uint8_t>(agc->LevelClass()) : static_cast<uint8_t>(lsUnknown);
}

bool TScanSession::OnSweepProgress(int32_t hopIndex, int32_t hopCount, int64_t hopCenterHz, double noiseDb,
                                   void* userData) {
  auto* self = static_cast<TScanSession*>(userData);
  self->FHopIndex = hopIndex;
  self->FHopCount = hopCount;
  self->FNoiseDb = noiseDb;
  self->PublishLevelClass();
  return !self->Terminated();
}

void TScanSession::OnDwellHits(const TChannelHitArray& hits, void* userData) {
  auto* self = static_cast<TScanSession*>(userData);
  if (self->FStore) self->FStore->Merge(hits);
}

void TScanSession::OnRecordError(const std::string& text, void* userData) {
  // STATUS shows it; the scan goes on.
  static_cast<TScanSession*>(userData)->RecordingFailed(text);
}

bool TScanSession::OnDwellAbort(void* userData) {
  return static_cast<TScanSession*>(userData)->Terminated();
}

void TScanSession::Execute() {
  LogFmt("session: scan started, %d hops, recording=%d, if=%d", HopCount(), FConfig.RecordAudio ? 1 : 0,
         FConfig.IfRecording ? 1 : 0);
  while (!Terminated()) {
    TChannelHitArray hits;  // every sweep gets a fresh list
    if (!FScanner->Sweep(hits, &TScanSession::OnSweepProgress, this)) {
      if (Terminated()) break;
      SetLastError(FScanner->LastError());
      LogFmt("session: sweep failed: %s", FScanner->LastError().c_str());
      break;
    }
    if (FStore) FStore->Merge(hits);
    ++FSweeps;
    PublishLevelClass();

    if (FLiveMulti.load()) {
      std::vector<int64_t> keys;
      keys.reserve(hits.size());
      for (const TChannelHit& h : hits) keys.push_back(h.ChannelHz);
      // Exchange sort: equal frequencies keep their order.
      for (size_t i = 0; i + 1 < keys.size(); ++i)
        for (size_t j = i + 1; j < keys.size(); ++j)
          if (keys[j] < keys[i]) std::swap(keys[i], keys[j]);
      SetLevelLanes(keys);
    }
    if (Terminated()) break;

    if ((FConfig.RecordAudio || FConfig.IfRecording) && !hits.empty())
      DwellPass(hits);
    else if (FLiveHz.load() > 0 || FLiveMulti.load())
      DwellPass(hits);
  }
  LogFmt("session: scan stopped after %d sweeps", Sweeps());
}

void TScanSession::DwellPass(const TChannelHitArray& hits) {
  TDwellRunner runner(FDevice, FConfig, FSettings, FRecordDir, FClock);
  runner.PlayHzRef = &FLiveHz;
  runner.PlayAllRef = &FLiveMulti;
  runner.PlayMode = LiveMod();
  runner.SetAutoGain(FScanner->AutoGain());
  runner.SetStopFlag(&TerminatedFlag());
  runner.OnRecordError = &TScanSession::OnRecordError;

  const int32_t hopCount = FScanner->HopCount();
  const int32_t maxDwell = hopCount == 1 ? 0 : FConfig.MaxDwellMs;
  for (int32_t i = 0; i < hopCount; ++i) {
    if (Terminated()) break;
    const TScanHop hop = FScanner->GetHop(i);
    TChannelHitArray hopHits;
    for (const TChannelHit& h : hits)
      if (h.HopCenterHz == hop.CenterHz) hopHits.push_back(h);
    const int64_t liveHz = FLiveHz.load();
    const bool dwell =
        !hopHits.empty() || FLiveMulti.load() || (liveHz > 0 && liveHz >= hop.LoHz && liveHz <= hop.HiHz);
    if (!dwell) continue;
    runner.PanoSlot = i;
    const TDwellResult r = runner.Run(hop.CenterHz, hop.LoHz, hop.HiHz, hopHits, maxDwell,
                                      &TScanSession::OnDwellHits, &TScanSession::OnDwellAbort, this);
    PublishLevelClass();
    if (r == drFailed) {
      SetLastError(runner.ErrorText());
      LogFmt("session: dwell failed: %s", runner.ErrorText().c_str());
      break;
    }
    ++FDwellCount;
  }
}
