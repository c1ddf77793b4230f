#pragma once
// The one path by which the signal chain talks to an opened receiver. TReceiver configures rate,
// gain and frequency correction, retunes with a settle pause and a 2 ms discard of samples still in
// flight from the old frequency, and reads fixed-size blocks of I/Q bytes that it converts to
// TComplexF, frees of DC when the receiver asks for it, and hands to the automatic gain, reading
// again (at most twice) when the gain was just changed.
//
// The scanner, the dwell runner, the sessions and the self tests each make their own TReceiver on a
// shared device reference; only one of them reads at a time, as the sessions arrange. A receiver is
// used by one thread at a time. Buffers are allocated by Configure only; reading allocates nothing.
// Every operation returns false with LastError set and keeps the configuration, so a caller may
// simply try again. Time (settle pauses) comes from a plat::IClock so tests never really sleep.
#include <atomic>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "pClock.h"
#include "uAutoGain.h"
#include "uDspKernels.h"
#include "uDspTypes.h"
#include "uSdrIntf.h"
#include "uTalvConfig.h"

class TReceiver {
 public:
  static constexpr double kDcCornerHz = 500;
  static constexpr int kMaxGainRereads = 2;
  static constexpr uint32_t kGainPauseMs = 5;

  explicit TReceiver(TSdrDeviceRef device, plat::IClock& clock = plat::SystemClock());
  ~TReceiver() = default;
  TReceiver(const TReceiver&) = delete;
  TReceiver& operator=(const TReceiver&) = delete;

  // Sets rate, gain (negative: automatic), frequency correction and block size (samples). Makes the
  // automatic gain when there is none, and makes it anew when it is the receiver's own and the
  // requested gain changed; one given by SetAutoGain is kept. May be called again at any time.
  bool Configure(double sampleRate, double gainDb, int32_t ppm, int32_t blockSize);
  // Tunes, drops the device's buffer, resets the DC block, sleeps settleMs (held to 0..kMaxSettleMs,
  // cut short when the stop flag is set), then reads and throws away 2 ms of samples (in whole
  // 512-byte units; nothing below 512 bytes).
  bool Retune(int64_t centreHz, int32_t settleMs);
  // The owner's stop flag (not owned; null: none): a settle pause ends as soon as it is set, so a
  // session asked to stop never waits out a pause first.
  void SetStopFlag(const std::atomic<bool>* stop) { FStop = stop; }
  // Reads one block of BlockSize samples. The samples belong to the receiver and stay valid until its
  // next read or configuration.
  bool ReadBlock(TComplexF*& samples, int32_t& count);
  // Shares another reader's gain control (not owned; the dwell runner shares the scanner's this way).
  // The receiver's own is freed. An empty reference leaves none until the next Configure.
  void SetAutoGain(std::shared_ptr<TAutoGain> agc);
  // True without automatic gain or when it has settled.
  bool AgcSettled();
  // lsUnknown without automatic gain.
  TLevelClass AgcLevelClass();

  const std::string& LastError() const { return FLastError; }
  const TSdrDeviceRef& Device() const { return FDevice; }
  const std::shared_ptr<TAutoGain>& AutoGain() const { return FAutoGain; }
  bool OwnsAutoGain() const { return FOwnsAutoGain; }
  const TDcBlock* DcBlock() const { return FDcBlock.get(); }
  int32_t BlockSize() const { return FBlockSize; }
  double SampleRate() const { return FSampleRate; }
  double GainDb() const { return FGainDb; }
  bool Configured() const { return FConfigured; }
  // Bytes Retune reads and discards at the configured rate.
  int32_t DiscardBytes() const { return static_cast<int32_t>(FScratch.size()); }

 private:
  bool Fail(const std::string& text);
  bool ReadOnce();

  TSdrDeviceRef FDevice;
  plat::IClock& FClock;
  std::unique_ptr<TDcBlock> FDcBlock;
  std::shared_ptr<TAutoGain> FAutoGain;
  bool FOwnsAutoGain = false;
  std::vector<uint8_t> FBytes;
  TComplexFArray FSamples;
  std::vector<uint8_t> FScratch;  // the retune discard
  int32_t FBlockSize = 0;
  double FSampleRate = 0;
  double FGainDb = 0;
  std::optional<int32_t> FPpmSet;  // the correction last set on the device by this receiver
  std::string FLastError;
  bool FConfigured = false;
  const std::atomic<bool>* FStop = nullptr;
};
