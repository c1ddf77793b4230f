#pragma once
// Monitor session: keeps the receiver on one frequency for a spectrum viewer while nothing else uses
// it. Reads blocks without pause and publishes at most one spectrum frame every 40 ms (label
// "monitor") through the detector and the spectrum tap; the blocks in between are dropped unanalysed.
// It never merges channels, records or plays audio.
//
// It lives only while a viewer keeps polling: every Poll refreshes the viewer time and may queue a
// retune, which the session's own thread carries out before its next read. With a viewer time-out
// above 0 the thread ends by itself once no Poll came for that long; the owner then reaps it. It also
// ends after a retune that fails or after more than 50 consecutive failed reads, keeping the
// receiver's text as its error.
//
// Poll runs on the owner's threads (the service's connection threads) while the session runs: the
// poll time is an atomic tick and the queued frequency is handed over under the session's own lock,
// which guards nothing else. Frames reach readers only through the spectrum tap. Time is read through
// plat::IClock, so tests drive the 40 ms pacing and the viewer time-out without sleeping.
#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "pClock.h"
#include "uDetector.h"
#include "uReceiver.h"
#include "uSdrIntf.h"
#include "uSessionKit.h"
#include "uSessionThread.h"
#include "uTalvConfig.h"

class TMonitorSession : public TSessionThread {
 public:
  static constexpr uint64_t kFrameEveryMs = 40;
  // The viewer time-out the service gives (SPECTRUM).
  static constexpr int32_t kDefaultViewerTimeoutMs = 4000;

  // viewerTimeoutMs 0 or less: never times out. The thread does not run until Start.
  TMonitorSession(const TTalvConfig& config, int64_t wantedHz, int32_t viewerTimeoutMs,
                  plat::IClock& clock = plat::SystemClock());
  ~TMonitorSession() override;

  // Opens the receiver, sets the rate and tunes beside the (clamped) frequency. On the owner's thread
  // before Start; false with LastError() holding the reason.
  bool Prepare();
  // The viewer is alive; hz > 0 that differs from the watched frequency queues a retune (a later poll
  // overwrites one not yet taken). Any thread.
  void Poll(int64_t hz);
  // Asks the thread to end; the owner waits for it (WaitFor) and frees it.
  void Stop() { Terminate(); }

  const TTalvConfig& Config() const { return FConfig; }
  int64_t CentreHz() const { return FCentreHz.load(); }
  int64_t WantedHz() const { return FWantedHz.load(); }
  double SampleRate() const { return FSampleRate.load(); }
  // Set by Prepare, unchanged while the thread runs.
  const std::string& DeviceName() const { return FRadio.DeviceName(); }
  int32_t ViewerTimeoutMs() const { return FViewerTimeoutMs; }
  uint64_t LastPollTick() const { return FLastPollTick.load(); }
  int64_t Frames() const { return FFrames.load(); }
  int64_t BlocksRead() const { return FBlocksRead.load(); }

 protected:
  void Execute() override;

 private:
  bool TakePending(int64_t& hz);
  bool RetuneIfPolled();
  bool OnBlock(const TComplexF* block);
  void ReleaseDevice();

  plat::IClock& FClock;
  TTalvConfig FConfig;
  std::atomic<int64_t> FCentreHz;
  std::atomic<int64_t> FWantedHz;
  std::atomic<double> FSampleRate{0.0};
  TSessionRadio FRadio;
  std::unique_ptr<TDetector> FDetector;
  std::atomic<uint64_t> FLastPollTick;
  int32_t FViewerTimeoutMs;
  std::mutex FPendingLock;
  int64_t FPendingHz = 0;
  std::atomic<int64_t> FFrames{0};
  std::atomic<int64_t> FBlocksRead{0};
  TPace FFramePace{kFrameEveryMs};
  TChannelHitArray FHits;
};
