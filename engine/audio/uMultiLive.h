#pragma once
// Multi-channel live session: plays and records every channel active inside one tuning of the
// configured range. It tunes once (the middle hop of the range: a range wider than one hop is served
// from its middle part only), runs the detector on the whole tuning every 200 ms, follows each
// detected channel with its own demodulator, squelch and (when recording is on) recorder, mixes the
// gated audio of all followed channels into one stream for the sound card, and pushes each channel's
// level into its own lane of the level tap (lanes keyed by frequency, ascending). A channel is
// followed from its first detection until it was not detected for four hang times; at most
// MaxParallel channels (16 when outside 1..16, as there are 16 lanes) are followed at once. The hang
// time of squelches and recorders is the configured one, but never shorter than the gap between two
// detections (SessionHangMs), so a steady transmission is not dropped between them.
//
// Owner, threads and errors as for the one-channel live session: Prepare on the owner's thread, then
// Start; Stop sets the terminate flag only; more than 50 consecutive failed reads end the thread with
// the receiver's text. OnHits runs on the session's thread, at most once a second, with the hits of
// one detection. Time is read through plat::IClock.
#include <atomic>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "pClock.h"
#include "uAnalyzer.h"
#include "uAudioOut.h"
#include "uDemod.h"
#include "uDetector.h"
#include "uDwell.h"  // TDwellHitsEvent
#include "uReceiver.h"
#include "uRecorder.h"
#include "uSdrIntf.h"
#include "uSessionKit.h"
#include "uSessionThread.h"
#include "uSquelch.h"
#include "uTalvConfig.h"

// Largest magnitude of any sample sent to the sound card.
constexpr float kMixLimit = 0.98f;

// Sums the audio of several channels into one block. The first channel added sets the length, later
// ones shorten it when theirs is shorter; Finish clips the sum to -kMixLimit..kMixLimit. The buffer
// grows (with room to spare) and is reused; nothing else allocates.
class TAudioMix {
 public:
  void Begin();
  // n <= 0 or a null pointer adds nothing.
  void Add(const float* audio, int32_t n);
  // Clips and returns the mixed length (0 when nothing was added).
  int32_t Finish();
  const float* Data() const { return FBuffer.data(); }
  int32_t Count() const { return FCount; }

 private:
  std::vector<float> FBuffer;
  int32_t FCount = 0;
  bool FAny = false;
};

// One followed channel.
struct TMultiChannel {
  int64_t Hz = 0;
  std::unique_ptr<TChannelDemod> Demod;
  std::unique_ptr<TChannelRecorder> Recorder;  // none when recording is off
  uint64_t LastSeen = 0;                       // tick ms of its last detection
  std::unique_ptr<TSquelch> Squelch;
};

class TMultiLiveSession : public TSessionThread {
 public:
  static constexpr int32_t kBlockSize = 32768;
  static constexpr uint64_t kDetectEveryMs = 200;
  static constexpr uint64_t kHitsEveryMs = 1000;

  // Copies the settings; nothing is opened and the thread does not run until Start.
  explicit TMultiLiveSession(const TTalvConfig& config, plat::IClock& clock = plat::SystemClock());
  ~TMultiLiveSession() override;  // stops the thread, closes every take, releases the receiver

  // Opens the receiver, tunes it to the middle hop of the range and builds the detector and audio
  // output, on the owner's thread before Start. False with ErrorText() set.
  bool Prepare();
  // Asks the thread to end; the owner waits for it (WaitFor) and frees it.
  void Stop() { Terminate(); }

  // Set by the owner before Start.
  TDwellHitsEvent OnHits = nullptr;
  void* OnHitsData = nullptr;

  const TTalvConfig& Config() const { return FConfig; }
  int64_t CentreHz() const { return FCentreHz.load(); }
  int64_t LoHz() const { return FLoHz.load(); }
  int64_t HiHz() const { return FHiHz.load(); }
  double SampleRate() const { return FScan.SampleRate; }  // fixed once prepared
  // Set by Prepare, unchanged while the thread runs.
  const std::string& DeviceName() const { return FRadio.DeviceName(); }
  std::string ErrorText() const { return LastError(); }
  int64_t BlocksRead() const { return FBlocksRead.load(); }
  // Channels followed at this moment.
  int32_t ChannelCount() const { return FChannelCount.load(); }
  // The most channels followed at once during this run.
  int32_t MostChannels() const { return FMostChannels.load(); }

  // For the owner once the thread has ended (or before it starts).
  const TWaveOut* WaveOut() const { return FWaveOut.get(); }
  const std::vector<TMultiChannel>& Channels() const { return FChannels; }

 protected:
  void Execute() override;

 private:
  bool Fail(const std::string& text);
  void ReleaseAll();
  void PlayBlock(const TComplexF* block, int32_t n);
  void OpenOrTrigger(const TChannelHitArray& hits);
  void CloseStale();
  void UpdateLanes();
  void Detect();

  plat::IClock& FClock;
  TTalvConfig FConfig;
  int32_t FAudioRate;
  TScanSettings FScan;
  std::atomic<int64_t> FCentreHz{0};
  std::atomic<int64_t> FLoHz{0};
  std::atomic<int64_t> FHiHz{0};
  TSessionRadio FRadio;
  std::unique_ptr<TWaveOut> FWaveOut;
  std::unique_ptr<TDetector> FDetector;
  int32_t FHangMs = 0;  // of squelches and recorders: SessionHangMs of the settings'
  std::vector<TComplexF> FDetectBuffer;
  int32_t FDetectCount = 0;
  std::atomic<int64_t> FBlocksRead{0};
  std::vector<TMultiChannel> FChannels;
  TAudioMix FMix;
  TPace FDetectPace{kDetectEveryMs};
  TPace FHitsPace{kHitsEveryMs};
  TChannelHitArray FHits;
  std::atomic<int32_t> FChannelCount{0};
  std::atomic<int32_t> FMostChannels{0};
};
