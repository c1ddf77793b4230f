#include "uRecorder.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <utility>

#include "pFile.h"
#include "pFs.h"
#include "pSystem.h"
#include "uFreqText.h"
#include "uLog.h"

namespace {

bool IsSeparator(char c) {
  return c == '/' || (plat::PathSeparator() == '\\' && c == '\\');
}

// The folder part of path (up to its last separator); empty when there is none.
std::string ParentFolder(const std::string& path) {
  size_t end = path.size();
  while (end > 0 && IsSeparator(path[end - 1])) --end;  // "a/b/" is the folder "a/b"
  while (end > 0 && !IsSeparator(path[end - 1])) --end;
  while (end > 1 && IsSeparator(path[end - 1])) --end;
  if (end == 1 && IsSeparator(path[0])) return path.substr(0, 1);  // the root "/"
  return path.substr(0, end);
}

}  // namespace

bool EnsureFolder(const std::string& path) {
  if (path.empty()) return false;
  if (plat::DirectoryExists(path)) return true;
  const std::string parent = ParentFolder(path);
  if (!parent.empty() && parent != path && !EnsureFolder(parent)) return false;
  return plat::MakeDirectory(path) || plat::DirectoryExists(path);
}

std::string ChannelFolder(const std::string& root, int64_t hz) {
  return JoinPath(root, FormatMHz(hz));
}

std::string TimeStampOf(const plat::TLocalTime& t) {
  char buf[32];
  std::snprintf(buf, sizeof(buf), "%.4d%.2d%.2d_%.2d%.2d%.2d", t.Year, t.Month, t.Day, t.Hour, t.Minute,
                t.Second);
  return buf;
}

std::string TimeStamp() {
  return TimeStampOf(plat::LocalTimeNow());
}

std::string StripBlanks(const std::string& text) {
  std::string r;
  r.reserve(text.size());
  for (char c : text)
    if (c != ' ') r += c;
  return r;
}

std::string AppendEndStampWith(const std::string& fileName, const std::string& stamp) {
  const size_t slash = fileName.find_last_of("\\/");
  const size_t dot = fileName.rfind('.');
  if (dot == std::string::npos || (slash != std::string::npos && dot < slash)) return fileName + "_" + stamp;
  return fileName.substr(0, dot) + "_" + stamp + fileName.substr(dot);
}

std::string TakeFileName(const std::string& root, int64_t hz, const std::string& stamp, TModulation mode) {
  const std::string width = FormatHz(RoundHalfEven(ModulationWidthHz(mode)));
  return JoinPath(ChannelFolder(root, hz),
                  StripBlanks(FormatMHz(hz)) + "_" + stamp + "_" + StripBlanks(width) + ".wav");
}

std::string CountedStamp(const std::string& stamp, int n) {
  return n <= 1 ? stamp : stamp + "-" + std::to_string(n);
}

std::unique_ptr<TWavWriter> CreateUniqueWav(const std::string& stamp,
                                            const std::function<std::string(const std::string&)>& nameFor,
                                            TWavKind kind, int32_t rate, int64_t centreHz,
                                            std::string& error) {
  std::string name;
  for (int n = 1; n <= kMaxNameTries; ++n) {
    name = nameFor(CountedStamp(stamp, n));
    auto wav = std::make_unique<TWavWriter>(name, kind, rate, centreHz, wcNewOnly);
    if (wav->IsOpen() && !wav->WriteFailed()) return wav;
    if (wav->IsOpen()) {
      // Made (new, so ours), but not even its header could be written: a full disk. What is no WAV
      // file does not stay behind.
      wav.reset();
      plat::RemoveFile(name);
      error = "cannot write " + name + " (disk full?)";
      return nullptr;
    }
    if (!plat::PathExists(name)) break;  // not a taken name: the folder refuses
  }
  error = "cannot create " + name;
  return nullptr;
}

std::string KeepWithEndStamp(const std::string& file, const std::string& stamp, std::string& error) {
  uint32_t err = 0;
  std::string name;
  for (int n = 1; n <= kMaxNameTries; ++n) {
    name = AppendEndStampWith(file, CountedStamp(stamp, n));
    if (plat::MoveFileNoReplace(file, name, &err)) return name;
    if (!plat::PathExists(name)) break;
  }
  error = FormatText("cannot rename %s (error %u)", file.c_str(), err);
  return std::string();
}

// ---------------------------------------------------------------------------------------------

TChannelRecorder::TChannelRecorder(const TTalvConfig& config, const std::string& root, int64_t channelHz,
                                   int64_t centreHz, TModulation mode, plat::IClock& clock)
    : FClock(clock),
      FConfig(config),
      FChannelHz(channelHz),
      FCentreHz(centreHz),
      FMode(mode),
      FAudioRate(config.AudioRate < 1 ? 48000 : config.AudioRate),
      FRoot(root),
      FLastTrigger(clock.NowMs()) {
  SetHangTimeMs(config.HangTimeMs);
}

void TChannelRecorder::SetHangTimeMs(int32_t hangMs) {
  FConfig.HangTimeMs = hangMs;
  // One hang time of audio, computed in single precision as the settings intend.
  const float cap = static_cast<float>(FAudioRate) * (static_cast<float>(hangMs) / 1000.0f);
  FTailCapacity = cap < 0.0f ? 0 : static_cast<int32_t>(RoundHalfEven(cap));
}

std::unique_ptr<TChannelRecorder> TChannelRecorder::Create(const TTalvConfig& config, const std::string& root,
                                                           int64_t channelHz, TModulation mode,
                                                           plat::IClock& clock) {
  return std::unique_ptr<TChannelRecorder>(
      new TChannelRecorder(config, root, channelHz, channelHz, mode, clock));
}

std::unique_ptr<TChannelRecorder> TChannelRecorder::CreateWithDemod(const TTalvConfig& config,
                                                                    const std::string& root, double inputRate,
                                                                    int64_t centreHz, int64_t channelHz,
                                                                    plat::IClock& clock) {
  auto rec = std::unique_ptr<TChannelRecorder>(
      new TChannelRecorder(config, root, channelHz, centreHz, config.Modulation, clock));
  rec->FDemod =
      std::make_unique<TChannelDemod>(inputRate, centreHz, channelHz, config.Modulation, config.AudioRate);
  // The take carries the demodulator's own mode and rate.
  rec->FMode = rec->FDemod->Mode();
  rec->FAudioRate = rec->FDemod->AudioRate();
  return rec;
}

TChannelRecorder::~TChannelRecorder() {
  Close();
}

void TChannelRecorder::Failed(const std::string& text) {
  LogFmt("recorder: %s", text.c_str());
  FTakeError = text;
}

std::string TChannelRecorder::TakeError() {
  return std::exchange(FTakeError, std::string());
}

void TChannelRecorder::WriteTail(int32_t count) {
  count = std::min(count, FTailCount);
  if (count <= 0) return;
  if (FWav) FWav->WriteMono(FTail.data(), count);
  FTailCount -= count;
  if (FTailCount > 0)
    std::memmove(FTail.data(), FTail.data() + count, static_cast<size_t>(FTailCount) * sizeof(float));
  if (FWav && FWav->WriteFailed()) {
    // A full disk or a vanished file: the take ends with what reached the file, and this take is
    // not tried again.
    Failed("cannot write " + FCurrentFile + " (disk full?)");
    FTailCount = 0;
    FinishTake();
    FOpenFailed = true;
  }
}

void TChannelRecorder::Trigger(double /*snr*/) {
  WriteTail(FTailCount);
  FExpired = false;
  FLastTrigger = FClock.NowMs();
  FActive = true;
}

bool TChannelRecorder::StillActive() {
  if (!FActive) return false;
  const uint64_t hang = static_cast<uint64_t>(std::max(FConfig.HangTimeMs, 100));
  if (FClock.NowMs() - FLastTrigger <= hang) return true;
  FActive = false;
  FExpired = true;
  return false;
}

void TChannelRecorder::FeedIQ(const TComplexF* iq, int32_t n) {
  FLastAudio = nullptr;
  FLastAudioCount = 0;
  if (!FActive || !FDemod) return;
  const float* audio = nullptr;
  int32_t count = 0;
  FDemod->Process(iq, n, audio, count);
  FLastAudio = audio;
  FLastAudioCount = count;
  FeedAudio(audio, count);
}

bool TChannelRecorder::OpenTake() {
  const std::string folder = ChannelFolder(FRoot, FChannelHz);
  if (!EnsureFolder(folder)) {
    Failed("cannot create " + folder);
    return false;
  }
  FStartStamp = TimeStamp();
  std::string error;
  FWav = CreateUniqueWav(
      FStartStamp, [this](const std::string& stamp) { return TakeFileName(FRoot, FChannelHz, stamp, FMode); },
      wkAudio, FAudioRate, FChannelHz, error);
  if (!FWav) {
    Failed(error);
    return false;
  }
  FCurrentFile = FWav->FileName();
  LogFmt("recorder: %s -> %s", FormatMHz(FChannelHz).c_str(), FCurrentFile.c_str());
  return true;
}

void TChannelRecorder::FeedAudio(const float* audio, int32_t n) {
  if (!FActive || audio == nullptr || n <= 0 || !FConfig.RecordAudio) return;
  if (!FWav) {
    if (FOpenFailed) return;
    if (!OpenTake()) {
      FOpenFailed = true;
      return;
    }
  }
  const size_t need = static_cast<size_t>(FTailCount) + static_cast<size_t>(n);
  if (FTail.size() < need) FTail.resize(need + 4096);
  std::memcpy(FTail.data() + FTailCount, audio, static_cast<size_t>(n) * sizeof(float));
  FTailCount += n;
  if (FTailCount > FTailCapacity) WriteTail(FTailCount - FTailCapacity);
}

void TChannelRecorder::Close() {
  FActive = false;
  FOpenFailed = false;  // the next take may try again
  if (FExpired)
    FTailCount = 0;  // the quiet hang time after the last trigger
  else
    WriteTail(FTailCount);
  FTailCount = 0;
  FinishTake();
}

void TChannelRecorder::FinishTake() {
  if (!FWav) return;  // no take open: nothing to keep or delete

  const double seconds = FWav->Seconds();
  FWav.reset();  // finishes the file
  const std::string file = FCurrentFile;
  FCurrentFile.clear();
  if (seconds * 1000.0 >= static_cast<double>(FConfig.MinRecordMs)) {
    std::string error;
    std::string name = KeepWithEndStamp(file, TimeStamp(), error);
    if (name.empty()) {
      LogFmt("recorder: %s", error.c_str());
      name = file;
    }
    FLastKeptFile = name;
    LogFmt("recorder: closed %s (%.2f s)", name.c_str(), seconds);
  } else {
    plat::RemoveFile(file);
    FLastKeptFile.clear();
    LogFmt("recorder: discarded %s (%.2f s < %d ms)", file.c_str(), seconds, FConfig.MinRecordMs);
  }
}
