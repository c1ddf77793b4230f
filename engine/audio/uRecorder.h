#pragma once
// Channel recorder: records one channel into WAV takes while it is active, and the folder and file
// naming of recordings that the plug-in finds them by.
//
// A recorder is active from its creation or from a detector trigger until no trigger came for the
// hang time (at least 100 ms). While active, the first audio opens a take lazily; the newest hang time
// of audio is held back in a tail, so when the channel goes quiet the silent hang time after the last
// trigger is dropped instead of written. Close ends the take: a take shorter than MinRecordMs is
// deleted, a long enough one is renamed with its end stamp. Close is idempotent (nothing happens
// without an open take), and a take whose file could not be created, or whose writing failed (a full
// disk), is not tried again until the next take, so a broken folder costs one log line per take, not
// one per block; the failure's text waits in TakeError for the owner to report it. A take whose
// writing failed is closed with a header that counts what reached the file.
// Takes are named with the modulation actually demodulated, not merely the configured one.
//
// Names on disk: channel folder = root + FormatMHz(hz) ("145.500000 MHz"); take =
// "145.500000MHz_20250101_120000_12.5kHz.wav", kept as "..._12.5kHz_20250101_120130.wav". No take
// ever replaces a file: when a name is taken (two takes within one second), a counter follows the
// stamp ("..._20250101_120000-2_12.5kHz.wav", kept as "..._12.5kHz_20250101_120130-2.wav").
// Time stamps are local time; activity times come from plat::IClock. One thread per recorder.
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "pClock.h"
#include "pSystem.h"
#include "uDemod.h"
#include "uDspTypes.h"
#include "uTalvConfig.h"
#include "uWavWriter.h"

// Creates a folder and every missing folder above it. False for an empty path or when a folder of
// the chain cannot be made.
bool EnsureFolder(const std::string& path);
// root + separator + FormatMHz(hz).
std::string ChannelFolder(const std::string& root, int64_t hz);
// Local time now as "YYYYMMDD_hhmmss".
std::string TimeStamp();
std::string TimeStampOf(const plat::TLocalTime& t);
// text without any blank.
std::string StripBlanks(const std::string& text);
// fileName with "_" + stamp before its extension (the last "." after the last "\" or "/"); without
// such a dot the stamp goes at the end.
std::string AppendEndStampWith(const std::string& fileName, const std::string& stamp);
// The take file of a channel started at stamp: folder + StripBlanks(FormatMHz(hz)) + "_" + stamp + "_"
// + StripBlanks(FormatHz(width of mode)) + ".wav".
std::string TakeFileName(const std::string& root, int64_t hz, const std::string& stamp, TModulation mode);
// stamp for the first try, stamp + "-" + n for try n >= 2: how a taken name is made unique.
std::string CountedStamp(const std::string& stamp, int n);
// Most names tried before a file is given up on.
constexpr int kMaxNameTries = 100;
// A new WAV file at nameFor(stamp), nameFor(stamp-2), ... never over an existing file. Null when none
// could be made, or when not even its header could be written (the file is then removed again);
// error then says why.
std::unique_ptr<TWavWriter> CreateUniqueWav(const std::string& stamp,
                                            const std::function<std::string(const std::string&)>& nameFor,
                                            TWavKind kind, int32_t rate, int64_t centreHz,
                                            std::string& error);
// Renames a finished file to AppendEndStampWith(file, stamp), with a counter after the stamp when
// that name is taken; never over an existing file. The new name, or empty (error set) when it failed.
std::string KeepWithEndStamp(const std::string& file, const std::string& stamp, std::string& error);

class TChannelRecorder {
 public:
  // Fed with audio (FeedAudio) demodulated elsewhere in mode.
  static std::unique_ptr<TChannelRecorder> Create(const TTalvConfig& config, const std::string& root,
                                                  int64_t channelHz, TModulation mode,
                                                  plat::IClock& clock = plat::SystemClock());
  // Owns a demodulator for channelHz in the configured modulation and is fed with I/Q (FeedIQ).
  static std::unique_ptr<TChannelRecorder> CreateWithDemod(const TTalvConfig& config, const std::string& root,
                                                           double inputRate, int64_t centreHz,
                                                           int64_t channelHz,
                                                           plat::IClock& clock = plat::SystemClock());
  ~TChannelRecorder();  // closes the take
  TChannelRecorder(const TChannelRecorder&) = delete;
  TChannelRecorder& operator=(const TChannelRecorder&) = delete;

  // A detection: writes the held-back tail (it belongs to an ongoing transmission) and (re)activates.
  void Trigger(double snr);
  // Active and a trigger at most max(HangTimeMs, 100) ms old; the first false marks the take expired.
  bool StillActive();
  // The hang time in force instead of the configured one (the owner's SessionHangMs, which allows for
  // the gap between its detections); the held-back tail follows it. Before the first audio.
  void SetHangTimeMs(int32_t hangMs);
  // Demodulates the block (while active) and records its audio; LastAudio shows it for mixing.
  void FeedIQ(const TComplexF* iq, int32_t n);
  void FeedAudio(const float* audio, int32_t n);
  // Ends the take: kept under its end-stamped name when long enough, else deleted.
  void Close();

  int64_t ChannelHz() const { return FChannelHz; }
  int64_t CentreHz() const { return FCentreHz; }
  TModulation Mode() const { return FMode; }
  const float* LastAudio() const { return FLastAudio; }
  int32_t LastAudioCount() const { return FLastAudioCount; }
  bool Active() const { return FActive; }
  // The take being written; empty between takes.
  const std::string& CurrentFile() const { return FCurrentFile; }
  // Where the last closed take ended up (end-stamped or start-only name); empty when it was discarded.
  const std::string& LastKeptFile() const { return FLastKeptFile; }
  TChannelDemod* Demod() { return FDemod.get(); }
  // The text of a recording failure since the last call (folder, file or write), then empty again.
  std::string TakeError();
  int32_t TailCapacity() const { return FTailCapacity; }

 private:
  TChannelRecorder(const TTalvConfig& config, const std::string& root, int64_t channelHz, int64_t centreHz,
                   TModulation mode, plat::IClock& clock);
  bool OpenTake();
  void WriteTail(int32_t count);
  void Failed(const std::string& text);
  // Keeps (end-stamped) or deletes the open take; nothing without one.
  void FinishTake();

  plat::IClock& FClock;
  TTalvConfig FConfig;
  int64_t FChannelHz;
  int64_t FCentreHz;
  TModulation FMode;
  int32_t FAudioRate;
  std::unique_ptr<TChannelDemod> FDemod;
  std::unique_ptr<TWavWriter> FWav;
  std::string FRoot;
  bool FActive = true;
  uint64_t FLastTrigger;
  std::string FCurrentFile;
  std::string FStartStamp;
  std::string FLastKeptFile;
  std::vector<float> FTail;
  int32_t FTailCount = 0;
  int32_t FTailCapacity = 0;
  bool FExpired = false;
  bool FOpenFailed = false;  // this take's file could not be made: no retry before the next take
  std::string FTakeError;
  const float* FLastAudio = nullptr;
  int32_t FLastAudioCount = 0;
};
