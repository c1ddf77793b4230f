#pragma once
// The scene the session tests run on: a simulated receiver whose reads move a manual clock by the
// time their samples take, so a session's squelch, detection pacing, hang times and time-outs follow
// the samples it has read, however fast or slow the machine (or TSan, or Wine) runs it. A script hook
// runs on the reading thread before every read: it is where a test stops the session, clears or adds
// tones, polls the monitor or breaks the receiver, at an exact read, with no race against the thread.
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "TestSupport.h"
#include "pClock.h"
#include "uAnalyzer.h"
#include "uAudioOut.h"
#include "uLevelTap.h"
#include "uSdrDevices.h"
#include "uSdrSim.h"
#include "uSessionThread.h"
#include "uTalvConfig.h"

namespace sessiontest {

class TPacedSim : public TSimDevice {
 public:
  explicit TPacedSim(plat::TManualClock& clock) : FClock(clock) {}

  bool Open(int32_t index) override {
    if (!OpenError.empty()) {
      LastError = OpenError;
      return false;
    }
    return TSimDevice::Open(index);
  }
  bool SetSampleRate(double samplesPerSecond) override {
    if (!RateError.empty()) {
      LastError = RateError;
      return false;
    }
    return TSimDevice::SetSampleRate(samplesPerSecond);
  }
  double GetSampleRate() override { return ReportNoRate ? 0.0 : TSimDevice::GetSampleRate(); }
  bool SetCenterFreq(int64_t hz) override {
    ++Tunes;
    return TSimDevice::SetCenterFreq(hz);
  }
  bool ReadSync(uint8_t* buffer, int32_t count, int32_t& bytesRead) override {
    ++Reads;
    if (OnRead) OnRead(Reads);
    if (FailReads > 0) {
      --FailReads;
      ++FailedReads;
      bytesRead = 0;
      LastError = FailText;
      return false;
    }
    const bool ok = TSimDevice::ReadSync(buffer, count, bytesRead);
    // Whole milliseconds of the samples read so far; the remainder carries to the next read.
    FSamples += bytesRead / 2;
    const auto ms = static_cast<uint64_t>(static_cast<double>(FSamples) * 1000.0 / SampleRate);
    FClock.Advance(ms - FAdvancedMs);
    FAdvancedMs = ms;
    return ok;
  }

  // Runs on the reading thread before read number `read` (from 1; Prepare's retune discard is one).
  std::function<void(int64_t read)> OnRead;
  int32_t FailReads = 0;  // this many next reads fail with FailText
  std::string FailText = "usb transfer failed (-5)";
  std::string OpenError;      // non-empty: Open fails with it
  std::string RateError;      // non-empty: SetSampleRate fails with it
  bool ReportNoRate = false;  // GetSampleRate reports 0, as some receivers do before streaming
  int64_t Reads = 0;
  int64_t FailedReads = 0;
  int32_t Tunes = 0;

 private:
  plat::TManualClock& FClock;
  int64_t FSamples = 0;
  uint64_t FAdvancedMs = 0;
};

// Holds the device override for one test and clears it at the end, whatever the test's outcome.
using TOverride = TDeviceOverrideScope;

// A session scene: settings with the recordings in a temporary folder (fixed gain, SNR 20 dB, hang
// time and shortest take 500 ms), a paced simulated receiver with dithering noise held as the device
// override, null audio and no level lanes. Listen makes a session report its hits here.
struct TSessionScene {
  plat::TManualClock Clock;
  std::shared_ptr<TPacedSim> Sim = std::make_shared<TPacedSim>(Clock);
  testsupport::TTempDir Dir;
  TTalvConfig Cfg;
  TOverride Override{Sim};
  std::mutex HitsLock;
  std::vector<TChannelHitArray> HitCalls;
  std::vector<uint64_t> HitCallTimes;  // the clock at each call

  TSessionScene() {
    ConfigDefaults(Cfg);
    Cfg.GainDb = 0;  // fixed gain: no gain steps
    Cfg.SnrDb = 20;
    Cfg.HangTimeMs = 500;
    Cfg.MinRecordMs = 500;
    Cfg.RecordDir = Dir.Path();
    Sim->NoiseDb = -45;  // dithers the 8-bit samples
    SetNullAudio(true);
    ClearLevelLanes();
  }
  ~TSessionScene() {
    ClearLevelLanes();
    SetNullAudio(false);
  }
  TSessionScene(const TSessionScene&) = delete;
  TSessionScene& operator=(const TSessionScene&) = delete;

  template <class TSession>
  void Listen(TSession& session) {
    session.OnHits = &TSessionScene::OnHits;
    session.OnHitsData = this;
  }
  static void OnHits(const TChannelHitArray& hits, void* p) {
    auto* s = static_cast<TSessionScene*>(p);
    std::lock_guard<std::mutex> guard(s->HitsLock);
    s->HitCalls.push_back(hits);
    s->HitCallTimes.push_back(s->Clock.NowMs());
  }
};

// Stops the session at read number `lastRead`, its last block (read 1 is Prepare's retune discard, so
// reads 2 .. lastRead are its blocks); `more` runs first on every read.
inline void StopAt(TPacedSim& sim, TSessionThread& session, int64_t lastRead,
                   std::function<void(int64_t)> more = nullptr) {
  sim.OnRead = [&session, lastRead, more](int64_t read) {
    if (more) more(read);
    if (read == lastRead) session.Terminate();
  };
}

using testsupport::FilesIn;
using testsupport::WaitUntil;

// Waits (really, in 1 ms steps) until the session's thread has ended; false after timeoutMs.
inline bool WaitFinished(const TSessionThread& s, uint32_t timeoutMs = 120000) {
  return WaitUntil([&s] { return s.Finished(); }, timeoutMs);
}

}  // namespace sessiontest
