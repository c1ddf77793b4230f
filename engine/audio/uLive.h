#pragma once
// Live session: listens to one frequency. It opens the receiver, tunes a quarter of the sample rate
// beside the frequency (away from the tuner's centre spike), demodulates it, gates the audio with a
// squelch that the detector keeps open, plays it, pushes its levels into the single live lane of the
// level tap, and optionally writes everything played into one extra WAV file (WavPath) and records
// takes of the ungated audio with a channel recorder. Every 100 ms at most a spectrum of the tuning is
// analysed and published (label "live"); only hits within half a channel width of the frequency count.
// The squelch and the recorder hold the channel for the hang time, but never for less than the gap
// between two detections (SessionHangMs).
//
// The owner (the service's LIVE command, the command-line live mode) creates it, sets WavPath and
// OnHits, calls Prepare on its own thread, then Start; it runs until Stop or until more than 50
// consecutive reads failed (the receiver's text is kept as the error). Takes are named with the
// modulation actually played. The owner reads the frequency, tuning, mode, device name and error text
// (STATUS) from other threads; those fields are atomic or fixed once prepared. Levels and spectra
// leave the thread only through the taps; OnHits is called on the session's thread with a fresh hit
// list per detection. Time is read through plat::IClock.
#include <atomic>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "pClock.h"
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
#include "uWavWriter.h"

class TLiveSession : public TSessionThread {
 public:
  static constexpr int32_t kBlockSize = 32768;
  static constexpr uint64_t kDetectEveryMs = 100;

  // Copies the settings; nothing is opened and the thread does not run until Start.
  TLiveSession(const TTalvConfig& config, int64_t hz, TModulation mode,
               plat::IClock& clock = plat::SystemClock());
  ~TLiveSession() override;  // stops the thread, closes a take still open, releases the receiver

  // Opens and tunes the receiver and builds the chain, on the owner's thread before Start. False with
  // ErrorText() set (receiver, tuner range, rate, audio output).
  bool Prepare();
  // Asks the thread to end; the owner waits for it (WaitFor) and frees it.
  void Stop() { Terminate(); }

  // Set by the owner before Prepare: an extra file of everything played (empty: none).
  std::string WavPath;
  // Set by the owner before Start: called after every detection that found the channel.
  TDwellHitsEvent OnHits = nullptr;
  void* OnHitsData = nullptr;

  const TTalvConfig& Config() const { return FConfig; }
  int64_t LiveHz() const { return FLiveHz.load(); }
  int64_t RecordHz() const { return FRecordHz.load(); }
  int64_t CentreHz() const { return FCentreHz.load(); }
  double SampleRate() const { return FSampleRate.load(); }
  TModulation Mode() const { return FMode; }
  // Set by Prepare, unchanged while the thread runs.
  const std::string& DeviceName() const { return FRadio.DeviceName(); }
  std::string ErrorText() const { return LastError(); }
  int64_t BlocksRead() const { return FBlocksRead.load(); }
  bool SquelchOpen() const { return FSquelchOpen.load(); }
  int64_t Detections() const { return FDetections.load(); }

  // Owned parts, for the owner once the thread has ended (or before it starts).
  const TWaveOut* WaveOut() const { return FWaveOut.get(); }
  const TChannelRecorder* Recorder() const { return FRecorder.get(); }
  const TChannelDemod* Demod() const { return FDemod.get(); }

 protected:
  void Execute() override;

 private:
  bool Fail(const std::string& text);
  void ReleaseAll();
  void PlayBlock(const TComplexF* block, int32_t n);
  void Detect();

  plat::IClock& FClock;
  TTalvConfig FConfig;
  int32_t FAudioRate;
  std::atomic<int64_t> FLiveHz;
  std::atomic<int64_t> FRecordHz;
  std::atomic<int64_t> FCentreHz;
  std::atomic<double> FSampleRate{0.0};
  TModulation FMode;
  TSessionRadio FRadio;
  std::unique_ptr<TChannelDemod> FDemod;
  std::unique_ptr<TWaveOut> FWaveOut;
  std::atomic<int64_t> FBlocksRead{0};
  std::unique_ptr<TWavWriter> FWav;
  std::unique_ptr<TChannelRecorder> FRecorder;
  std::unique_ptr<TSquelch> FSquelch;
  int32_t FHangMs = 0;  // of the squelch and the recorder: SessionHangMs of the settings'
  std::unique_ptr<TDetector> FDetector;
  std::vector<TComplexF> FDetectBuffer;
  int32_t FDetectCount = 0;
  TPace FDetectPace{kDetectEveryMs};
  TChannelHitArray FHits;
  std::atomic<bool> FSquelchOpen{true};
  std::atomic<int64_t> FDetections{0};
};
