#pragma once
// Session kit: what every session that owns the receiver shares (live, multi-channel live, monitor,
// scan, and the dwell runner inside the scan), so that each says only what is its own.
//
// - TSessionRadio opens the receiver a settings record names, reads its limits, sets the settings'
//   rate and tunes a receiver wrapper (TReceiver) to a centre; each step is false with its text in
//   LastError, so a Prepare chains them and reports the first failure.
// - RunReadLoop is the one read loop with the failure rule: a session rides out up to 50 failed
//   reads in a row and gives up on the 51st, keeping the receiver's text.
// - TPace paces detections, hit reports and frames; FillDetectBuffer gathers blocks for a detection;
//   SessionHangMs keeps the hang time at least as long as the gap between two detections;
//   OffsetCentre places a watched frequency away from the tuner's centre spike.
//
// Threads: a TSessionRadio is opened and tuned on the owner's thread (in Prepare, before the
// session's thread runs), then used by the session's thread only; its device name, limits and rate
// do not change while the thread runs. RunReadLoop, TSessionReader, TPace and the detection buffer
// belong to the thread that reads.
#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "pClock.h"
#include "uDspTypes.h"
#include "uReceiver.h"
#include "uSdrIntf.h"
#include "uTalvConfig.h"

// The tuner centre for watching hz: a quarter of the rate below it (above it when below would leave
// the tuning range), so the watched channel sits away from the tuner's centre spike; hz itself when
// neither placement lies within limits.MinHz..MaxHz.
int64_t OffsetCentre(int64_t hz, double rate, const TSdrLimits& limits);

// "%s is outside the tuner range (%s .. %s)" with the FormatMHz texts of hz and the limits.
std::string OutsideTunerRangeText(int64_t hz, const TSdrLimits& limits);

// Sets the settings' sample rate on the receiver; rate = the rate it reports, or the settings' rate
// when it reports none. False with the receiver's text in error.
bool SetSessionRate(ISdrDevice& device, const TTalvConfig& config, double& rate, std::string& error);

// The averages of a detector that watches one tuning (live, monitor) rather than sweeping.
constexpr int32_t kWatchAverages = 2;

// The receiver of one session, from the settings record to a tuned receiver wrapper.
class TSessionRadio {
 public:
  explicit TSessionRadio(plat::IClock& clock) : FClock(clock) {}
  ~TSessionRadio() { Release(); }
  TSessionRadio(const TSessionRadio&) = delete;
  TSessionRadio& operator=(const TSessionRadio&) = delete;

  // Releases what is held, then opens the receiver the settings name (OpenSdrDevice) and reads its
  // limits. False with the open error; the device name is whatever the opening gave.
  bool Open(const TTalvConfig& config);
  // False with OutsideTunerRangeText when hz lies outside the receiver's tuning range.
  bool Covers(int64_t hz);
  // hz held to the receiver's tuning range.
  int64_t Clamp(int64_t hz) const;
  // Sets the settings' rate (SetSessionRate); Rate() is then the rate in force.
  bool SetRate(const TTalvConfig& config);
  // Makes the receiver wrapper, configures it with Rate(), the settings' gain and correction and
  // blocks of blockSize samples, and tunes it to centreHz without a settle pause. stop (not owned,
  // may be null) cuts short the settle pause of any later retune. False with the wrapper's text.
  bool Tune(const TTalvConfig& config, int64_t centreHz, int32_t blockSize,
            const std::atomic<bool>* stop = nullptr);
  // Frees the receiver wrapper, then lets go of the device (it closes with its last holder).
  void Release();

  const TSdrDeviceRef& Device() const { return FDevice; }
  TReceiver* Receiver() const { return FReceiver.get(); }
  const std::string& DeviceName() const { return FDeviceName; }
  const TSdrLimits& Limits() const { return FLimits; }
  double Rate() const { return FRate; }
  const std::string& LastError() const { return FLastError; }

 private:
  bool Fail(const std::string& text);

  plat::IClock& FClock;
  TSdrDeviceRef FDevice;
  std::unique_ptr<TReceiver> FReceiver;
  std::string FDeviceName;
  TSdrLimits FLimits;
  double FRate = 0;
  std::string FLastError;
};

// Reads a session's blocks and counts consecutive failures: a session rides out up to 50 failed
// reads in a row and gives up on the 51st, keeping the receiver's text (which the reader logs as
// "<component>: read failed: <text>" when it has a component).
class TSessionReader {
 public:
  static constexpr int32_t kMaxReadFailures = 50;
  enum TResult : uint8_t { rrBlock, rrRetry, rrGiveUp };
  // component null: the give-up is not logged.
  explicit TSessionReader(const char* component) : FComponent(component) {}
  TResult Read(TReceiver& receiver, TComplexF*& block, int32_t& count);

 private:
  const char* FComponent;
  int32_t FFailures = 0;
};

// How a read loop ended.
enum TReadLoopEnd : uint8_t {
  leStopped = 0,  // goOn said no before a read
  leDone = 1,     // onBlock said no after a block
  leFailed = 2,   // the 51st consecutive read failed; the receiver keeps the text
};

// The read loop of every session: before every read (a retry too) goOn is asked, false ends the loop
// as leStopped; a failed read is tried again at once without reaching onBlock; each block read goes
// to onBlock(block, n), false ends the loop as leDone. The failure count starts at 0 with every call.
TReadLoopEnd RunReadLoop(TReceiver& receiver, const char* component, const std::function<bool()>& goOn,
                         const std::function<bool(TComplexF* block, int32_t n)>& onBlock);

// At most once every EveryMs, the first time always: the pacing of detections, hit reports and frames.
class TPace {
 public:
  explicit TPace(uint64_t everyMs) : FEveryMs(everyMs) {}
  // True (and counts as done now) when the first time or at least EveryMs after the last time.
  bool Due(uint64_t now);
  // Forgets the last time: the next Due is true.
  void Reset() { FAny = false; }
  // Counts as done at now: the next Due is true from now + EveryMs on.
  void StartAt(uint64_t now);

 private:
  uint64_t FEveryMs;
  uint64_t FLast = 0;
  bool FAny = false;
};

// Appends the block to a detection buffer up to its size; true once the buffer is full, which starts
// it empty again (count = 0). The samples past the room of a block are not kept.
bool FillDetectBuffer(std::vector<TComplexF>& buffer, int32_t& count, const TComplexF* block, int32_t n);

// A detection buffer of samplesNeeded samples (at least one), empty.
void ResetDetectBuffer(std::vector<TComplexF>& buffer, int32_t& count, int32_t samplesNeeded);

// The hang time a session gives its squelches and recorders: the configured one, but never shorter
// than the longest a channel that stays on goes between two triggers, or a steady transmission would
// be dropped (and its take discarded) between every two detections. A session detects at most every
// paceMs on a buffer of samplesNeeded samples gathered from reads of blockSize samples at rate: after
// the pace the next full buffer comes within one buffer's worth of reads, and one more buffer's worth
// allows for a read that comes late.
int32_t SessionHangMs(int32_t hangTimeMs, uint64_t paceMs, int32_t samplesNeeded, int32_t blockSize,
                      double rate);
