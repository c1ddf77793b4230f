#include "uLive.h"

#include <algorithm>

#include "uAnalyzer.h"
#include "uFreqText.h"
#include "uLevelTap.h"
#include "uLog.h"
#include "uMonitor.h"  // OffsetCentre
#include "uSdrDevices.h"

TLiveSession::TLiveSession(const TTalvConfig& config, int64_t hz, TModulation mode, plat::IClock& clock)
    : FClock(clock),
      FConfig(config),
      FAudioRate(config.AudioRate < 1 ? 48000 : config.AudioRate),
      FLiveHz(hz),
      FRecordHz(hz),
      FCentreHz(hz),
      FMode(mode) {}

TLiveSession::~TLiveSession() {
  StopAndWait();
  FDetector.reset();
  ReleaseAll();
}

// In the order the session owns them: the take closes before the receiver goes.
void TLiveSession::ReleaseAll() {
  FSquelch.reset();
  FRecorder.reset();
  FWav.reset();
  FReceiver.reset();
  FDemod.reset();
  FWaveOut.reset();
  FDevice.reset();
}

bool TLiveSession::Prepare() {
  ReleaseAll();
  SetLastError("");
  FDeviceName.clear();
  const int64_t liveHz = FLiveHz.load();

  std::string error;
  if (!OpenSdrDevice(FConfig, FDevice, FDeviceName, error)) {
    SetLastError(error);
    FDevice.reset();
    return false;
  }
  TSdrLimits limits;
  FDevice->GetLimits(limits);
  if (liveHz < limits.MinHz || liveHz > limits.MaxHz) {
    SetLastError(OutsideTunerRangeText(liveHz, limits));
    ReleaseAll();
    return false;
  }
  double rate = 0;
  if (!SetSessionRate(*FDevice, FConfig, rate, error)) {
    SetLastError(error);
    ReleaseAll();
    return false;
  }
  FSampleRate = rate;
  const int64_t centre = OffsetCentre(liveHz, rate, limits);
  FCentreHz = centre;

  FReceiver = std::make_unique<TReceiver>(FDevice, FClock);
  if (!FReceiver->Configure(rate, FConfig.GainDb, FConfig.PpmCorrection, kBlockSize) ||
      !FReceiver->Retune(centre, 0)) {
    SetLastError(FReceiver->LastError());
    ReleaseAll();
    return false;
  }
  FDemod = std::make_unique<TChannelDemod>(rate, centre, liveHz, FMode, FAudioRate);

  FWaveOut = std::make_unique<TWaveOut>(FAudioRate, FAudioRate / 48, 6);
  if (!FWaveOut->Open()) {
    SetLastError(FWaveOut->LastError());
    ReleaseAll();
    return false;
  }
  if (!WavPath.empty()) {
    FWav = std::make_unique<TWavWriter>(WavPath, wkAudio, FAudioRate, liveHz);
    if (!FWav->IsOpen()) FWav.reset();  // an extra file that cannot be made is not worth failing for
  }
  // The take carries the modulation played, whatever the settings' modulation says.
  if (FConfig.RecordAudio)
    FRecorder = TChannelRecorder::Create(FConfig, ResolveRecordDir(FConfig.RecordDir), FRecordHz.load(),
                                         FMode, FClock);

  ClearLevelLanes();
  LogFmt("live: %s via centre %s (%s), device %s", FormatMHz(liveHz).c_str(), FormatMHz(centre).c_str(),
         ModulationName(FMode).c_str(), FDeviceName.c_str());
  return true;
}

void TLiveSession::Execute() {
  if (!FReceiver || !FDemod) {
    SetLastError("the live session was not prepared");
    return;
  }
  TScanSettings scan;
  DefaultScanSettings(scan);
  scan.SampleRate = FSampleRate.load();
  scan.Averages = 2;
  ApplyConfigToScanSettings(scan, FConfig);
  FDetector = std::make_unique<TDetector>(scan);
  FDetectBuffer.assign(static_cast<size_t>(std::max(FDetector->SamplesNeeded(), 1)), TComplexF{});
  FDetectCount = 0;
  FDetectPace.Reset();

  FSquelch = std::make_unique<TSquelch>(FConfig.HangTimeMs, true, FClock);
  FSquelchOpen = true;

  TSessionReader reader("live");
  while (!Terminated()) {
    TComplexF* block = nullptr;
    int32_t n = 0;
    const TSessionReader::TResult got = reader.Read(*FReceiver, block, n);
    if (got == TSessionReader::rrGiveUp) {
      SetLastError(FReceiver->LastError());
      break;
    }
    if (got == TSessionReader::rrRetry) continue;

    const float* audio = nullptr;
    int32_t count = 0;
    FDemod->Process(block, n, audio, count);
    if (count > 0) {
      if (FSquelch->Update()) {
        if (FSquelch->IsOpen())
          LogFmt("live: squelch open (SNR %.1f dB)", FSquelch->LastSnr());
        else
          LogFmt("live: squelch closed (last SNR %.1f dB)", FSquelch->LastSnr());
      }
      FSquelchOpen = FSquelch->IsOpen();
      FDemod->HoldAgc = !FSquelch->IsOpen();
      const float* gated = FSquelch->Gate(audio, count);
      FWaveOut->Write(gated, count);
      PushLevelSingle(gated, count);
      if (FWav) FWav->WriteMono(gated, count);
      if (FRecorder) {
        if (!FRecorder->StillActive()) FRecorder->Close();
        FRecorder->FeedAudio(audio, count);  // takes keep what was said, squelch or not
        ReportRecordingFailure(*FRecorder);
      }
    }

    if (FillDetectBuffer(FDetectBuffer, FDetectCount, block, n)) Detect();
    ++FBlocksRead;
  }

  FDetector.reset();
  if (FWav) FWav.reset();  // finishes the file
  if (FWaveOut)
    LogFmt("live: stopped after %lld blocks, %lld dropped audio buffer(s)",
           static_cast<long long>(FBlocksRead.load()), static_cast<long long>(FWaveOut->Dropped()));
}

void TLiveSession::Detect() {
  if (!FDetectPace.Due(FClock.NowMs())) return;
  const int64_t liveHz = FLiveHz.load();
  const int64_t half = RoundHalfEven(ModulationWidthHz(FMode) * 0.5);
  FHits.clear();  // a fresh list per detection: the callback sees only this one's hits
  FDetector->Process(FReceiver.get(), FDetectBuffer.data(), FCentreHz.load(), liveHz - half, liveHz + half,
                     "live", FHits, -1);
  ++FDetections;
  if (FHits.empty()) return;
  FSquelch->Trigger(FHits[0].SnrDb);
  if (FRecorder) FRecorder->Trigger(FHits[0].SnrDb);
  if (OnHits != nullptr) OnHits(FHits, OnHitsData);
}
