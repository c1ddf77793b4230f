#include "uMultiLive.h"

#include <algorithm>

#include "uFreqText.h"
#include "uLevelTap.h"
#include "uLog.h"

// ---------------------------------------------------------------------------------------------
// TAudioMix

void TAudioMix::Begin() {
  FCount = 0;
  FAny = false;
}

void TAudioMix::Add(const float* audio, int32_t n) {
  if (audio == nullptr || n <= 0) return;
  if (!FAny) {
    FAny = true;
    FCount = n;
    if (FBuffer.size() < static_cast<size_t>(n)) FBuffer.resize(static_cast<size_t>(n) + 4096);
    std::fill(FBuffer.begin(), FBuffer.begin() + n, 0.0f);
  } else if (n < FCount) {
    FCount = n;
  }
  for (int32_t i = 0; i < FCount; ++i) FBuffer[static_cast<size_t>(i)] += audio[i];
}

int32_t TAudioMix::Finish() {
  for (int32_t i = 0; i < FCount; ++i)
    FBuffer[static_cast<size_t>(i)] = std::clamp(FBuffer[static_cast<size_t>(i)], -kMixLimit, kMixLimit);
  return FCount;
}

// ---------------------------------------------------------------------------------------------
// TMultiLiveSession

TMultiLiveSession::TMultiLiveSession(const TTalvConfig& config, plat::IClock& clock)
    : FClock(clock),
      FConfig(config),
      FAudioRate(config.AudioRate < 1 ? 48000 : config.AudioRate),
      FRadio(clock) {
  DefaultScanSettings(FScan);
}

TMultiLiveSession::~TMultiLiveSession() {
  StopAndWait();
  ReleaseAll();
}

void TMultiLiveSession::ReleaseAll() {
  // Each channel: recorder first (closing its take), then demodulator and squelch.
  for (TMultiChannel& ch : FChannels) {
    ch.Recorder.reset();
    ch.Demod.reset();
    ch.Squelch.reset();
  }
  FChannels.clear();
  FChannelCount = 0;
  FDetector.reset();
  FWaveOut.reset();
  FRadio.Release();
}

bool TMultiLiveSession::Fail(const std::string& text) {
  SetLastError(text);
  ReleaseAll();
  return false;
}

bool TMultiLiveSession::Prepare() {
  ReleaseAll();
  SetLastError("");
  if (!FRadio.Open(FConfig) || !FRadio.SetRate(FConfig)) return Fail(FRadio.LastError());
  const double rate = FRadio.Rate();

  TScanHopArray hops;
  BuildHops(hops, FConfig.StartHz, FConfig.StopHz, rate, 0.075);
  if (hops.empty()) return Fail("the configured range is empty");
  // One tuning covers at most one hop: a wider range is served from its middle.
  const TScanHop& mid = hops[hops.size() / 2];
  FCentreHz = mid.CenterHz;
  FLoHz = mid.LoHz;
  FHiHz = mid.HiHz;
  if (!FRadio.Covers(mid.CenterHz) || !FRadio.Tune(FConfig, mid.CenterHz, kBlockSize))
    return Fail(FRadio.LastError());

  FScan = ScanSettingsFromConfig(FConfig, rate);
  FDetector = std::make_unique<TDetector>(FScan);
  FHangMs = SessionHangMs(FConfig.HangTimeMs, kDetectEveryMs, FDetector->SamplesNeeded(), kBlockSize, rate);

  FWaveOut = std::make_unique<TWaveOut>(FAudioRate, FAudioRate / 48, 6);
  if (!FWaveOut->Open()) return Fail(FWaveOut->LastError());

  ResetDetectBuffer(FDetectBuffer, FDetectCount, FDetector->SamplesNeeded());
  ClearLevelLanes();
  LogFmt("multi: listening to %s .. %s via centre %s on %s", FormatMHz(mid.LoHz).c_str(),
         FormatMHz(mid.HiHz).c_str(), FormatMHz(mid.CenterHz).c_str(), DeviceName().c_str());
  return true;
}

void TMultiLiveSession::Execute() {
  if (!FRadio.Receiver() || !FDetector || !FWaveOut) {
    SetLastError("the multi-channel session was not prepared");
    return;
  }
  FDetectPace.Reset();
  FHitsPace.Reset();
  TReceiver& receiver = *FRadio.Receiver();
  const TReadLoopEnd end = RunReadLoop(
      receiver, "multi", [this] { return !Terminated(); },
      [this](TComplexF* block, int32_t n) {
        PlayBlock(block, n);
        return true;
      });
  if (end == leFailed) SetLastError(receiver.LastError());

  LogFmt("multi: stopped after %lld blocks, %lld dropped audio buffer(s)",
         static_cast<long long>(FBlocksRead.load()), static_cast<long long>(FWaveOut->Dropped()));
}

// One block: every followed channel demodulated, recorded, gated and mixed, the mix played, then the
// block gathered for detection.
void TMultiLiveSession::PlayBlock(const TComplexF* block, int32_t n) {
  ++FBlocksRead;
  FMix.Begin();
  for (TMultiChannel& ch : FChannels) {
    const float* audio = nullptr;
    int32_t count = 0;
    ch.Demod->Process(block, n, audio, count);
    if (count <= 0) continue;
    if (ch.Recorder) {
      if (!ch.Recorder->StillActive()) ch.Recorder->Close();
      ch.Recorder->FeedAudio(audio, count);  // takes keep what was said, squelch or not
      ReportRecordingFailure(*ch.Recorder);
    }
    if (ch.Squelch->Update()) {
      if (ch.Squelch->IsOpen())
        LogFmt("multi: squelch open on %s", FormatMHz(ch.Hz).c_str());
      else
        LogFmt("multi: squelch closed on %s", FormatMHz(ch.Hz).c_str());
    }
    ch.Demod->HoldAgc = !ch.Squelch->IsOpen();
    const float* gated = ch.Squelch->Gate(audio, count);
    PushLevel(ch.Hz, gated, count);
    FMix.Add(gated, count);
  }
  const int32_t m = FMix.Finish();
  if (m > 0) FWaveOut->Write(FMix.Data(), m);

  if (FillDetectBuffer(FDetectBuffer, FDetectCount, block, n)) Detect();
}

void TMultiLiveSession::Detect() {
  const uint64_t now = FClock.NowMs();
  if (!FDetectPace.Due(now)) return;
  FHits.clear();  // a fresh list per detection: the callback sees only this one's hits
  FDetector->Process(FRadio.Receiver(), FDetectBuffer.data(), FCentreHz.load(), FLoHz.load(), FHiHz.load(),
                     "multi", FHits, -1);
  OpenOrTrigger(FHits);
  if (OnHits != nullptr && FHitsPace.Due(now)) OnHits(FHits, OnHitsData);
  CloseStale();
}

void TMultiLiveSession::OpenOrTrigger(const TChannelHitArray& hits) {
  const size_t limit = static_cast<size_t>(
      FConfig.MaxParallel < 1 || FConfig.MaxParallel > kLevelLanes ? kLevelLanes : FConfig.MaxParallel);
  const uint64_t now = FClock.NowMs();
  bool added = false;
  for (const TChannelHit& hit : hits) {
    auto it = std::find_if(FChannels.begin(), FChannels.end(),
                           [&](const TMultiChannel& ch) { return ch.Hz == hit.ChannelHz; });
    if (it != FChannels.end()) {
      it->LastSeen = now;
      it->Squelch->Trigger(hit.SnrDb);
      if (it->Recorder) it->Recorder->Trigger(hit.SnrDb);
      continue;
    }
    if (FChannels.size() >= limit) continue;
    TMultiChannel ch;
    ch.Hz = hit.ChannelHz;
    ch.Demod = std::make_unique<TChannelDemod>(FScan.SampleRate, FCentreHz.load(), hit.ChannelHz,
                                               FConfig.Modulation, FAudioRate);
    ch.LastSeen = now;
    ch.Squelch = std::make_unique<TSquelch>(FHangMs, true, FClock);
    if (FConfig.RecordAudio) {
      ch.Recorder = TChannelRecorder::Create(FConfig, ResolveRecordDir(FConfig.RecordDir), hit.ChannelHz,
                                             ch.Demod->Mode(), FClock);
      ch.Recorder->SetHangTimeMs(FHangMs);
    }
    FChannels.push_back(std::move(ch));
    added = true;
    LogFmt("multi: opened %s (snr %.1f dB)", FormatMHz(hit.ChannelHz).c_str(), hit.SnrDb);
  }
  if (added) UpdateLanes();
}

void TMultiLiveSession::CloseStale() {
  // A negative or tiny hang time counts as the squelch's least hold, 100 ms; a channel is never
  // dropped while its squelch or recorder still holds it.
  const uint64_t staleMs =
      std::max(4 * static_cast<uint64_t>(std::max(FConfig.HangTimeMs, 100)), static_cast<uint64_t>(FHangMs));
  const uint64_t now = FClock.NowMs();
  bool removed = false;
  for (size_t i = 0; i < FChannels.size();) {
    TMultiChannel& ch = FChannels[i];
    if (now - ch.LastSeen > staleMs) {
      LogFmt("multi: closed %s", FormatMHz(ch.Hz).c_str());
      ch.Recorder.reset();  // closes the take
      ch.Demod.reset();
      ch.Squelch.reset();
      FChannels.erase(FChannels.begin() + static_cast<std::ptrdiff_t>(i));
      removed = true;
    } else {
      ++i;
    }
  }
  if (removed) UpdateLanes();
}

void TMultiLiveSession::UpdateLanes() {
  std::vector<int64_t> keys;
  keys.reserve(FChannels.size());
  for (const TMultiChannel& ch : FChannels) keys.push_back(ch.Hz);
  std::sort(keys.begin(), keys.end());
  SetLevelLanes(keys);
  const int32_t count = static_cast<int32_t>(FChannels.size());
  FChannelCount = count;
  if (count > FMostChannels.load()) FMostChannels = count;
}
