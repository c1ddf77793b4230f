#pragma once
// The service's scan thread. START creates one from the request's settings; Prepare opens the
// receiver and configures a scanner; the thread then sweeps the range again and again, merges every
// sweep's hits into the channel store, and after a sweep dwells on hops (recording, or playing audio
// through the scan when live-through is set). It runs until it is stopped or a sweep fails.
//
// Progress (sweeps, hop index and count, noise floor, input level class) is written by the scan
// thread into atomics, so STATUS on a connection thread reads whole values on every build; the error
// text is the session base's locked one; a recording failure puts its text there too while the scan
// goes on. Live-through values are atomics written by the service
// (ApplyLiveThrough) and read by the dwell runner block by block.
// Never: touches the store's Scanning flag (the service's stop and reap routines do), frees itself.
#include <atomic>
#include <cstdint>
#include <memory>
#include <string>

#include "pClock.h"
#include "uAnalyzer.h"
#include "uAutoGain.h"
#include "uChannelStore.h"
#include "uScanner.h"
#include "uSdrIntf.h"
#include "uSessionThread.h"
#include "uTalvConfig.h"

class TScanSession : public TSessionThread {
 public:
  // Copies the settings and keeps the store (not owned); the thread does not run yet.
  TScanSession(const TTalvConfig& config, TChannelStore* store, plat::IClock& clock = plat::SystemClock());
  ~TScanSession() override;

  // Opens the receiver and configures the scanner; false with LastError set.
  bool Prepare();
  // Asks the thread to end and makes a running sweep end at its next hop; does not wait.
  void Stop();
  // The input level class last measured by the scanner's gain control (lsUnknown before any).
  TLevelClass LevelClass() const { return static_cast<TLevelClass>(FLevelClass.load()); }
  // Copies the live-through values; they take effect in the running dwell and the next pass.
  void ApplyLiveThrough(int64_t hz, TModulation mod, bool multi);

  const TTalvConfig& Config() const { return FConfig; }
  // Set by Prepare, constant while the thread runs.
  const std::string& DeviceName() const { return FDeviceName; }
  double StartedAt() const { return FStartedAt; }
  const TScanSettings& Settings() const { return FSettings; }
  const std::string& RecordDir() const { return FRecordDir; }

  int32_t Sweeps() const { return FSweeps.load(); }
  int32_t HopIndex() const { return FHopIndex.load(); }
  int32_t HopCount() const { return FHopCount.load(); }
  double NoiseDb() const { return FNoiseDb.load(); }
  int32_t DwellCount() const { return FDwellCount.load(); }
  int64_t LiveHz() const { return FLiveHz.load(); }
  TModulation LiveMod() const { return static_cast<TModulation>(FLiveMod.load()); }
  bool LiveMulti() const { return FLiveMulti.load(); }

 protected:
  void Execute() override;

 private:
  static bool OnSweepProgress(int32_t hopIndex, int32_t hopCount, int64_t hopCenterHz, double noiseDb,
                              void* userData);
  static void OnDwellHits(const TChannelHitArray& hits, void* userData);
  static bool OnDwellAbort(void* userData);
  static void OnRecordError(const std::string& text, void* userData);
  void DwellPass(const TChannelHitArray& hits);
  void PublishLevelClass();

  TTalvConfig FConfig;
  TChannelStore* FStore;
  plat::IClock& FClock;
  TSdrDeviceRef FDevice;
  std::unique_ptr<TScanner> FScanner;
  std::string FDeviceName;
  double FStartedAt = 0;
  TScanSettings FSettings;
  std::string FRecordDir;

  std::atomic<int32_t> FSweeps{0};
  std::atomic<int32_t> FHopIndex{0};
  std::atomic<int32_t> FHopCount{0};
  std::atomic<double> FNoiseDb{0};
  std::atomic<int32_t> FDwellCount{0};
  std::atomic<uint8_t> FLevelClass{lsUnknown};
  std::atomic<int64_t> FLiveHz{0};
  std::atomic<uint8_t> FLiveMod{modNFM};
  std::atomic<bool> FLiveMulti{false};
};
