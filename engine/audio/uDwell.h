#pragma once
// Dwell runner: after a sweep, stays on one hop and follows its channels. It tunes the receiver to the
// hop, keeps one channel recorder (with its own demodulator) per active channel, optionally records the
// whole hop as an I/Q file, optionally plays one channel (squelched) or every active channel (mixed)
// through the sound card, publishes their audio levels, and repeats the detection every 200 ms to
// follow channels that start, continue or stop. A run ends when every channel has been quiet long
// enough, when the maximum dwell time has passed (0: no maximum), when the owner's abort hook says so,
// or after more than 50 consecutive failed reads. A recording that fails (folder, file, full disk) is
// reported through OnRecordError and ends only that take; the run goes on. The hang time of its
// recorders and of the played channel's squelch is the configured one, but never shorter than the gap
// between two detections (SessionHangMs): a short hang time must not drop a steady transmission.
//
// The owner's play frequency and play-all flag are read every block (other threads change them), so
// switching playback on or off takes effect at once and stopping play-all lets the run end as quiet.
// Without a sound device the playback still demodulates, mixes and publishes levels; only the audio
// write is skipped. Runs on the caller's thread; time is read through plat::IClock. The receiver
// device is shared, the detector and the receiver wrapper are the runner's own.
//
// A run is a fixed order of named steps: tune to the hop, open the outputs for the sweep's hits, then,
// through the sessions' one read loop (uSessionKit), every block is written to the I/Q file, follows
// the owner's playback, plays, feeds the recorders, is gathered for a detection, closes quiet
// recorders and tests the end rules; the run's state (hop, hooks, start and quiet clocks, result)
// lives in one record.
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
#include "uReceiver.h"
#include "uRecorder.h"
#include "uSdrIntf.h"
#include "uSessionKit.h"
#include "uSquelch.h"
#include "uTalvConfig.h"
#include "uWavWriter.h"

enum TDwellResult : uint8_t { drQuiet = 0, drMaxDwell = 1, drAborted = 2, drFailed = 3 };

// Called after every re-detection with its hits.
using TDwellHitsEvent = void (*)(const TChannelHitArray& hits, void* userData);
// Polled before every read; true ends the run as drAborted.
using TDwellAbortEvent = bool (*)(void* userData);
// A recording failed (folder, file, full disk): its text, with the run's user data. The run goes on.
using TDwellRecordErrorEvent = void (*)(const std::string& text, void* userData);

class TDwellRunner {
 public:
  static constexpr int32_t kBlockSize = 32768;
  static constexpr uint64_t kDetectEveryMs = 200;

  TDwellRunner(TSdrDeviceRef device, const TTalvConfig& config, const TScanSettings& scan,
               const std::string& root, plat::IClock& clock = plat::SystemClock());
  ~TDwellRunner();  // finishes takes, the I/Q file and playback, releases the device
  TDwellRunner(const TDwellRunner&) = delete;
  TDwellRunner& operator=(const TDwellRunner&) = delete;

  // Shares the scanner's gain control so its state carries over from the sweep (not owned).
  void SetAutoGain(std::shared_ptr<TAutoGain> autoGain);
  // The owner's stop flag (not owned): the settle pause of a run ends as soon as it is set.
  void SetStopFlag(const std::atomic<bool>* stop);

  // Dwells on the hop tuned to centreHz whose usable span is loHz..hiHz; hits are the sweep's hits of
  // this hop. maxDwellMs 0 or less: no maximum.
  TDwellResult Run(int64_t centreHz, int64_t loHz, int64_t hiHz, const TChannelHitArray& hits,
                   int32_t maxDwellMs, TDwellHitsEvent onHits = nullptr, TDwellAbortEvent abort = nullptr,
                   void* userData = nullptr);

  // Set by the owner before a run. The values behind the references belong to the owner and may change
  // from other threads at any time: the frequency to play through the scan (0: none) and play-all.
  const std::atomic<int64_t>* PlayHzRef = nullptr;
  const std::atomic<bool>* PlayAllRef = nullptr;
  TModulation PlayMode = modNFM;  // single-channel playback
  int32_t PanoSlot = -1;          // the hop's panorama slot (-1: none)
  // Told of every recording failure, with the user data given to Run (null: only logged).
  TDwellRecordErrorEvent OnRecordError = nullptr;

  // The receiver's error text after drFailed.
  const std::string& ErrorText() const { return FErrorText; }
  int64_t BlocksRead() const { return FBlocksRead; }
  int64_t SamplesRead() const { return FSamplesRead; }
  // Channels recorded at this moment (between blocks: during the onHits and abort calls).
  int32_t RecorderCount() const { return static_cast<int32_t>(FRecorders.size()); }
  int64_t PlayHz() const { return FPlayHz; }
  bool PlayAll() const { return FPlayAll; }
  // Audio blocks handed to playback (single channel or mix) in this run, with or without a device.
  int64_t PlayedBlocks() const { return FPlayedBlocks; }
  // The wave output of the playback in progress (none without playback or when it could not open).
  const TWaveOut* WaveOut() const { return FWaveOut.get(); }

 private:
  // One run, from its start to its end: the hop, the owner's hooks, and the clocks of its end rules.
  struct TRun {
    int64_t CentreHz = 0;
    int64_t LoHz = 0;
    int64_t HiHz = 0;
    TChannelHitArray InitialHits;  // the sweep's hits of the hop: playback restarts from them
    int32_t MaxDwellMs = 0;
    TDwellHitsEvent OnHits = nullptr;
    TDwellAbortEvent Abort = nullptr;
    uint64_t StartMs = 0;     // t0
    uint64_t QuietSince = 0;  // 0: not quiet
    TDwellResult Result = drFailed;
  };

  // The steps of a run, in the order they happen.
  bool TuneToHop();                                 // configure once, retune: false ends as drFailed
  void OpenOutputs();                               // takes for the sweep's hits, the I/Q file, playback
  bool AbortWanted() const;                         // before every read
  bool OnBlock(const TComplexF* block, int32_t n);  // every block through the steps below; false: ended
  void WriteIf(const TComplexF* block, int32_t n);
  void FollowOwnerPlayback();
  void PlaySingle(const TComplexF* block, int32_t n);
  void FeedRecorders(const TComplexF* block, int32_t n);
  void Detect();
  void CloseQuietRecorders();
  bool EndDue();  // the quiet rule and the maximum dwell; sets the result
  void FinishRun();

  void OpenOrTrigger(const TChannelHitArray& hits, int64_t centreHz);
  void OpenIf(int64_t centreHz);
  void CloseIf();
  void StartPlayback(int64_t centreHz, int64_t loHz, int64_t hiHz, const TChannelHitArray& hits);
  void StopPlayback();
  void MixAndPlay();
  void TriggerPlaySquelch(const TChannelHitArray& hits);
  bool PlayAllWanted() const { return PlayAllRef != nullptr && PlayAllRef->load(); }
  void RecordFailed(const std::string& text);
  void ReportRecorderErrors();

  plat::IClock& FClock;
  TSdrDeviceRef FDevice;
  TTalvConfig FConfig;
  TScanSettings FScan;
  std::string FRoot;
  std::unique_ptr<TDetector> FDetector;
  std::unique_ptr<TReceiver> FReceiver;
  bool FConfigured = false;
  int32_t FBlockSize = kBlockSize;
  int32_t FHangMs = 0;  // of recorders and the play squelch: SessionHangMs of the settings'
  std::vector<TComplexF> FDetectBuffer;
  int32_t FDetectCount = 0;
  TPace FDetectPace{kDetectEveryMs};
  TRun FRun;
  std::vector<std::unique_ptr<TChannelRecorder>> FRecorders;
  std::unique_ptr<TWavWriter> FIfWriter;
  std::string FErrorText;
  int64_t FBlocksRead = 0;
  int64_t FSamplesRead = 0;
  int64_t FPlayedBlocks = 0;

  int64_t FPlayHz = 0;
  std::unique_ptr<TChannelDemod> FPlayDemod;
  std::unique_ptr<TWaveOut> FWaveOut;
  std::unique_ptr<TSquelch> FPlaySquelch;
  bool FPlayAll = false;
  std::vector<float> FMixBuffer;
  TChannelHitArray FNewHits;
  void* FUserData = nullptr;  // the current run's
};
