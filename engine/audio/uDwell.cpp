#include "uDwell.h"

#include <algorithm>

#include "pFs.h"
#include "uFreqText.h"
#include "uLevelTap.h"
#include "uLog.h"

TDwellRunner::TDwellRunner(TSdrDeviceRef device, const TTalvConfig& config, const TScanSettings& scan,
                           const std::string& root, plat::IClock& clock)
    : FClock(clock), FDevice(std::move(device)), FConfig(config), FScan(scan), FRoot(root) {
  FDetector = std::make_unique<TDetector>(FScan);
  FReceiver = std::make_unique<TReceiver>(FDevice, FClock);
  ResetDetectBuffer(FDetectBuffer, FDetectCount, FDetector->SamplesNeeded());
  FHangMs = SessionHangMs(FConfig.HangTimeMs, kDetectEveryMs, FDetector->SamplesNeeded(), FBlockSize,
                          FScan.SampleRate);
}

TDwellRunner::~TDwellRunner() {
  FRecorders.clear();  // each recorder finishes its take
  CloseIf();
  StopPlayback();
  FReceiver.reset();
  FDetector.reset();
  FDevice.reset();
}

void TDwellRunner::SetAutoGain(std::shared_ptr<TAutoGain> autoGain) {
  FReceiver->SetAutoGain(std::move(autoGain));
}

void TDwellRunner::SetStopFlag(const std::atomic<bool>* stop) {
  FReceiver->SetStopFlag(stop);
}

TDwellResult TDwellRunner::Run(int64_t centreHz, int64_t loHz, int64_t hiHz, const TChannelHitArray& hits,
                               int32_t maxDwellMs, TDwellHitsEvent onHits, TDwellAbortEvent abort,
                               void* userData) {
  FErrorText.clear();
  FUserData = userData;
  FBlocksRead = 0;
  FSamplesRead = 0;
  FPlayedBlocks = 0;
  FRun = TRun{};
  FRun.CentreHz = centreHz;
  FRun.LoHz = loHz;
  FRun.HiHz = hiHz;
  FRun.InitialHits = hits;
  FRun.MaxDwellMs = maxDwellMs;
  FRun.OnHits = onHits;
  FRun.Abort = abort;
  if (!TuneToHop()) return drFailed;

  OpenOutputs();
  FRun.StartMs = FClock.NowMs();
  FDetectCount = 0;
  FDetectPace.StartAt(FRun.StartMs);  // the first detection comes 200 ms into the run
  const TReadLoopEnd end = RunReadLoop(
      *FReceiver, nullptr, [this] { return !AbortWanted(); },
      [this](TComplexF* block, int32_t n) { return OnBlock(block, n); });
  if (end == leStopped) {
    FRun.Result = drAborted;
  } else if (end == leFailed) {
    FErrorText = FReceiver->LastError();
    FRun.Result = drFailed;
  }
  FinishRun();
  return FRun.Result;
}

bool TDwellRunner::TuneToHop() {
  if (!FConfigured) {
    if (!FReceiver->Configure(FScan.SampleRate, FScan.GainDb, FScan.Ppm, FBlockSize)) {
      FErrorText = FReceiver->LastError();
      return false;
    }
    FConfigured = true;
  }
  if (!FReceiver->Retune(FRun.CentreHz, FConfig.SettleMs)) {
    FErrorText = FReceiver->LastError();
    return false;
  }
  return true;
}

void TDwellRunner::OpenOutputs() {
  OpenOrTrigger(FRun.InitialHits, FRun.CentreHz);
  OpenIf(FRun.CentreHz);
  StartPlayback(FRun.CentreHz, FRun.LoHz, FRun.HiHz, FRun.InitialHits);
}

bool TDwellRunner::AbortWanted() const {
  return FRun.Abort != nullptr && FRun.Abort(FUserData);
}

bool TDwellRunner::OnBlock(const TComplexF* block, int32_t n) {
  ++FBlocksRead;
  FSamplesRead += n;
  WriteIf(block, n);
  FollowOwnerPlayback();
  PlaySingle(block, n);
  FeedRecorders(block, n);
  if (FPlayAll) MixAndPlay();
  if (FillDetectBuffer(FDetectBuffer, FDetectCount, block, n) && FDetectPace.Due(FClock.NowMs())) Detect();
  CloseQuietRecorders();
  return !EndDue();
}

void TDwellRunner::WriteIf(const TComplexF* block, int32_t n) {
  if (!FIfWriter) return;
  FIfWriter->WriteIQ(block, n);
  if (FIfWriter->WriteFailed()) CloseIf();  // ends the file with what reached it, and says why
}

// The owner may switch playback at any time: follow both its frequency and its play-all flag.
void TDwellRunner::FollowOwnerPlayback() {
  const int64_t wantHz = PlayHzRef != nullptr ? PlayHzRef->load() : FPlayHz;
  if ((PlayHzRef != nullptr && wantHz != FPlayHz) || (PlayAllWanted() != FPlayAll)) {
    StopPlayback();
    StartPlayback(FRun.CentreHz, FRun.LoHz, FRun.HiHz, FRun.InitialHits);
  }
}

void TDwellRunner::PlaySingle(const TComplexF* block, int32_t n) {
  if (!FPlayDemod) return;
  const float* audio = nullptr;
  int32_t count = 0;
  FPlayDemod->Process(block, n, audio, count);
  if (count <= 0) return;
  if (FPlaySquelch->Update()) {
    if (FPlaySquelch->IsOpen())
      LogFmt("dwell: squelch open on %s (snr %.1f dB)", FormatMHz(FPlayHz).c_str(), FPlaySquelch->LastSnr());
    else
      LogFmt("dwell: squelch closed on %s", FormatMHz(FPlayHz).c_str());
  }
  FPlayDemod->HoldAgc = !FPlaySquelch->IsOpen();
  audio = FPlaySquelch->Gate(audio, count);
  if (FWaveOut) FWaveOut->Write(audio, count);
  PushLevel(FPlayHz, audio, count);
  ++FPlayedBlocks;
}

void TDwellRunner::FeedRecorders(const TComplexF* block, int32_t n) {
  for (auto& rec : FRecorders)
    if (rec->StillActive()) rec->FeedIQ(block, n);
  ReportRecorderErrors();
}

void TDwellRunner::Detect() {
  FNewHits.clear();
  FDetector->Process(FReceiver.get(), FDetectBuffer.data(), FRun.CentreHz, FRun.LoHz, FRun.HiHz, "dwell",
                     FNewHits, PanoSlot);
  OpenOrTrigger(FNewHits, FRun.CentreHz);
  ReportRecorderErrors();  // a trigger writes the held-back tail
  if (FPlaySquelch) TriggerPlaySquelch(FNewHits);
  if (FRun.OnHits != nullptr) FRun.OnHits(FNewHits, FUserData);
}

void TDwellRunner::CloseQuietRecorders() {
  for (size_t i = 0; i < FRecorders.size();) {
    if (!FRecorders[i]->StillActive()) {
      LogFmt("dwell: closed %s", FormatMHz(FRecorders[i]->ChannelHz()).c_str());
      FRecorders[i]->Close();
      const std::string error = FRecorders[i]->TakeError();
      if (!error.empty() && OnRecordError != nullptr) OnRecordError(error, FUserData);
      FRecorders.erase(FRecorders.begin() + static_cast<std::ptrdiff_t>(i));  // closes its take
    } else {
      ++i;
    }
  }
}

// While anything records or plays the run is not quiet; quiet for longer than the hang time (at
// least 500 ms) ends it, and so does the maximum dwell.
bool TDwellRunner::EndDue() {
  const uint64_t now = FClock.NowMs();
  const uint64_t quietAfter = static_cast<uint64_t>(std::max(FConfig.HangTimeMs, 500));
  if (!FRecorders.empty() || FPlayDemod || FPlayAll) {
    FRun.QuietSince = 0;
  } else if (FRun.QuietSince == 0) {
    FRun.QuietSince = now;
  } else if (now - FRun.QuietSince > quietAfter) {
    FRun.Result = drQuiet;
    return true;
  }
  if (FRun.MaxDwellMs > 0 && now - FRun.StartMs > static_cast<uint64_t>(FRun.MaxDwellMs)) {
    FRun.Result = drMaxDwell;
    return true;
  }
  return false;
}

void TDwellRunner::FinishRun() {
  FRecorders.clear();
  CloseIf();
  StopPlayback();
  const double rate = FScan.SampleRate;
  if (FSamplesRead <= 0 || rate <= 0) return;
  const double elapsed = static_cast<double>(FClock.NowMs() - FRun.StartMs) / 1000.0;
  const double got = static_cast<double>(FSamplesRead) / rate;
  if (elapsed <= 0.5) return;
  if (got < 0.98 * elapsed)
    LogFmt("dwell: NOT keeping up - %.2f s of samples in %.2f s (%.0f %%), the receiver dropped the rest",
           got, elapsed, 100.0 * got / elapsed);
  else
    LogFmt("dwell: real time ok - %.2f s of samples in %.2f s (%.0f %%)", got, elapsed,
           100.0 * got / elapsed);
}

void TDwellRunner::OpenOrTrigger(const TChannelHitArray& hits, int64_t centreHz) {
  const size_t limit = FConfig.MaxParallel > 0 ? static_cast<size_t>(FConfig.MaxParallel) : SIZE_MAX;
  for (const TChannelHit& hit : hits) {
    auto it = std::find_if(FRecorders.begin(), FRecorders.end(),
                           [&](const auto& r) { return r->ChannelHz() == hit.ChannelHz; });
    if (it != FRecorders.end()) {
      (*it)->Trigger(hit.SnrDb);
    } else if (FRecorders.size() < limit) {
      FRecorders.push_back(TChannelRecorder::CreateWithDemod(FConfig, FRoot, FScan.SampleRate, centreHz,
                                                             hit.ChannelHz, FClock));
      FRecorders.back()->SetHangTimeMs(FHangMs);
      FRecorders.back()->Trigger(hit.SnrDb);
      LogFmt("dwell: opened %s (snr %.1f dB)", FormatMHz(hit.ChannelHz).c_str(), hit.SnrDb);
    }
  }
}

void TDwellRunner::OpenIf(int64_t centreHz) {
  if (!FConfig.IfRecording) return;
  const std::string folder = JoinPath(FRoot, "IF");
  if (!EnsureFolder(folder)) LogFmt("dwell: cannot create IF folder %s", folder.c_str());
  const int64_t rate = RoundHalfEven(FScan.SampleRate);
  const std::string head = "IF_" + StripBlanks(FormatMHz(centreHz)) + "_";
  const std::string tail = "_" + StripBlanks(FormatHz(rate)) + ".wav";
  std::string error;
  FIfWriter = CreateUniqueWav(
      TimeStamp(), [&](const std::string& stamp) { return JoinPath(folder, head + stamp + tail); }, wkIq,
      static_cast<int32_t>(rate), centreHz, error);
  if (FIfWriter) {
    LogFmt("dwell: IF recording -> %s (%.1f MB/s)", FIfWriter->FileName().c_str(),
           FScan.SampleRate * 4.0 / 1048576.0);
  } else {
    RecordFailed("IF file: " + error);
  }
}

void TDwellRunner::CloseIf() {
  if (!FIfWriter) return;
  const std::string name = FIfWriter->FileName();
  const bool writeFailed = FIfWriter->WriteFailed();
  FIfWriter.reset();  // finishes the file
  if (writeFailed) RecordFailed("cannot write " + name + " (disk full?)");
  std::string error;
  if (KeepWithEndStamp(name, TimeStamp(), error).empty()) LogFmt("dwell: %s", error.c_str());
}

void TDwellRunner::RecordFailed(const std::string& text) {
  LogFmt("dwell: %s", text.c_str());
  if (OnRecordError != nullptr) OnRecordError(text, FUserData);
}

void TDwellRunner::ReportRecorderErrors() {
  for (auto& rec : FRecorders) {
    const std::string error = rec->TakeError();
    if (!error.empty() && OnRecordError != nullptr) OnRecordError(error, FUserData);
  }
}

void TDwellRunner::TriggerPlaySquelch(const TChannelHitArray& hits) {
  const int64_t near = RoundHalfEven(ModulationWidthHz(PlayMode) * 0.5);
  for (const TChannelHit& hit : hits) {
    const int64_t d = hit.ChannelHz - FPlayHz;
    if (d >= -near && d <= near) {
      FPlaySquelch->Trigger(hit.SnrDb);
      return;
    }
  }
}

void TDwellRunner::StartPlayback(int64_t centreHz, int64_t loHz, int64_t hiHz, const TChannelHitArray& hits) {
  StopPlayback();
  FPlayAll = PlayAllWanted();
  FPlayHz = 0;
  if (!FPlayAll && PlayHzRef != nullptr) FPlayHz = PlayHzRef->load();
  if (!FPlayAll && !(FPlayHz > 0 && loHz <= FPlayHz && FPlayHz <= hiHz)) return;

  const int32_t audioRate = FConfig.AudioRate < 1 ? 48000 : FConfig.AudioRate;
  FWaveOut = std::make_unique<TWaveOut>(audioRate, audioRate / 48, 6);
  if (!FWaveOut->Open()) {
    LogFmt("dwell: cannot open audio output: %s", FWaveOut->LastError().c_str());
    FWaveOut.reset();
  }
  if (FPlayAll) {
    LogFmt("dwell: playing every open channel of this hop through the scan");
    return;
  }
  FPlayDemod =
      std::make_unique<TChannelDemod>(FScan.SampleRate, centreHz, FPlayHz, PlayMode, FConfig.AudioRate);
  FPlaySquelch = std::make_unique<TSquelch>(FHangMs, false, FClock);
  TriggerPlaySquelch(hits);
  SetLevelLanes({FPlayHz});
  LogFmt("dwell: playing %s through the scan", FormatMHz(FPlayHz).c_str());
}

void TDwellRunner::StopPlayback() {
  FWaveOut.reset();
  FPlayDemod.reset();
  FPlaySquelch.reset();
  FPlayAll = false;
}

void TDwellRunner::MixAndPlay() {
  int32_t n = 0;
  for (const auto& rec : FRecorders)
    if (rec->Active()) n = std::max(n, rec->LastAudioCount());
  if (n <= 0) return;
  if (FMixBuffer.size() < static_cast<size_t>(n)) FMixBuffer.resize(static_cast<size_t>(n) + 4096);
  std::fill(FMixBuffer.begin(), FMixBuffer.begin() + n, 0.0f);
  for (const auto& rec : FRecorders) {
    if (!rec->Active() || rec->LastAudio() == nullptr) continue;
    const int32_t m = std::min(n, rec->LastAudioCount());
    const float* a = rec->LastAudio();
    for (int32_t i = 0; i < m; ++i) FMixBuffer[static_cast<size_t>(i)] += a[i];
    PushLevel(rec->ChannelHz(), a, m);
  }
  for (int32_t i = 0; i < n; ++i)
    FMixBuffer[static_cast<size_t>(i)] = std::clamp(FMixBuffer[static_cast<size_t>(i)], -0.98f, 0.98f);
  // Without a sound device the mix still publishes its levels; only the write is skipped.
  if (FWaveOut) FWaveOut->Write(FMixBuffer.data(), n);
  ++FPlayedBlocks;
}
