#include "uLive.h"

#include <algorithm>

#include "uAnalyzer.h"
#include "uFreqText.h"
#include "uLevelTap.h"
#include "uLog.h"

TLiveSession::TLiveSession(const TTalvConfig& config, int64_t hz, TModulation mode, plat::IClock& clock)
    : FClock(clock),
      FConfig(config),
      FAudioRate(config.AudioRate < 1 ? 48000 : config.AudioRate),
      FLiveHz(hz),
      FRecordHz(hz),
      FCentreHz(hz),
      FMode(mode),
      FRadio(clock) {}

TLiveSession::~TLiveSession() {
  StopAndWait();
  ReleaseAll();
}

// In the order the session owns them: the take closes before the receiver goes.
void TLiveSession::ReleaseAll() {
  FDetector.reset();
  FSquelch.reset();
  FRecorder.reset();
  FWav.reset();
  FDemod.reset();
  FWaveOut.reset();
  FRadio.Release();
}

bool TLiveSession::Fail(const std::string& text) {
  SetLastError(text);
  ReleaseAll();
  return false;
}

bool TLiveSession::Prepare() {
  ReleaseAll();
  SetLastError("");
  const int64_t liveHz = FLiveHz.load();
  if (!FRadio.Open(FConfig) || !FRadio.Covers(liveHz) || !FRadio.SetRate(FConfig))
    return Fail(FRadio.LastError());
  const double rate = FRadio.Rate();
  FSampleRate = rate;
  const int64_t centre = OffsetCentre(liveHz, rate, FRadio.Limits());
  FCentreHz = centre;
  if (!FRadio.Tune(FConfig, centre, kBlockSize)) return Fail(FRadio.LastError());
  FDemod = std::make_unique<TChannelDemod>(rate, centre, liveHz, FMode, FAudioRate);
  TScanSettings scan = ScanSettingsFromConfig(FConfig, rate);
  scan.Averages = kWatchAverages;
  FDetector = std::make_unique<TDetector>(scan);
  ResetDetectBuffer(FDetectBuffer, FDetectCount, FDetector->SamplesNeeded());
  FHangMs = SessionHangMs(FConfig.HangTimeMs, kDetectEveryMs, FDetector->SamplesNeeded(), kBlockSize, rate);

  FWaveOut = std::make_unique<TWaveOut>(FAudioRate, FAudioRate / 48, 6);
  if (!FWaveOut->Open()) return Fail(FWaveOut->LastError());
  if (!WavPath.empty()) {
    FWav = std::make_unique<TWavWriter>(WavPath, wkAudio, FAudioRate, liveHz);
    if (!FWav->IsOpen()) FWav.reset();  // an extra file that cannot be made is not worth failing for
  }
  // The take carries the modulation played, whatever the settings' modulation says.
  if (FConfig.RecordAudio) {
    FRecorder = TChannelRecorder::Create(FConfig, ResolveRecordDir(FConfig.RecordDir), FRecordHz.load(),
                                         FMode, FClock);
    FRecorder->SetHangTimeMs(FHangMs);
  }

  ClearLevelLanes();
  LogFmt("live: %s via centre %s (%s), device %s", FormatMHz(liveHz).c_str(), FormatMHz(centre).c_str(),
         ModulationName(FMode).c_str(), DeviceName().c_str());
  return true;
}

void TLiveSession::Execute() {
  if (!FRadio.Receiver() || !FDemod || !FDetector) {
    SetLastError("the live session was not prepared");
    return;
  }
  FDetectPace.Reset();

  FSquelch = std::make_unique<TSquelch>(FHangMs, true, FClock);
  FSquelchOpen = true;

  TReceiver& receiver = *FRadio.Receiver();
  const TReadLoopEnd end = RunReadLoop(
      receiver, "live", [this] { return !Terminated(); },
      [this](TComplexF* block, int32_t n) {
        PlayBlock(block, n);
        return true;
      });
  if (end == leFailed) SetLastError(receiver.LastError());

  FDetector.reset();
  if (FWav) FWav.reset();  // finishes the file
  if (FWaveOut)
    LogFmt("live: stopped after %lld blocks, %lld dropped audio buffer(s)",
           static_cast<long long>(FBlocksRead.load()), static_cast<long long>(FWaveOut->Dropped()));
}

// One block: demodulated, gated, played, written and recorded, then gathered for detection.
void TLiveSession::PlayBlock(const TComplexF* block, int32_t n) {
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

void TLiveSession::Detect() {
  if (!FDetectPace.Due(FClock.NowMs())) return;
  const int64_t liveHz = FLiveHz.load();
  const int64_t half = RoundHalfEven(ModulationWidthHz(FMode) * 0.5);
  FHits.clear();  // a fresh list per detection: the callback sees only this one's hits
  FDetector->Process(FRadio.Receiver(), FDetectBuffer.data(), FCentreHz.load(), liveHz - half, liveHz + half,
                     "live", FHits, -1);
  ++FDetections;
  if (FHits.empty()) return;
  FSquelch->Trigger(FHits[0].SnrDb);
  if (FRecorder) FRecorder->Trigger(FHits[0].SnrDb);
  if (OnHits != nullptr) OnHits(FHits, OnHitsData);
}
