#pragma once
// The one interface through which the engine reaches a receiver: the RTL-SDR and HackRF classes and
// the simulated receiver all implement ISdrDevice. Holders share a receiver through TSdrDeviceRef
// (std::shared_ptr, whose count is changed atomically); the receiver closes itself when the last
// holder lets go, because every class's destructor closes it.
//
// Samples are always interleaved 8-bit I and Q bytes, I first. With SamplesSigned() false the bytes
// are offset binary (zero near 127.4), with true they are two's complement.
//
// A receiver is driven by one thread at a time. The engine reads only through ReadSync; the
// asynchronous operations (StartAsync, StopAsync, IsStreaming) exist for the classes that offer them.
// Every receiver is also the gain stage the automatic gain steps (IGainStage, beside it in engine/dsp).
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "uGainStage.h"

// Receiver kinds; skNone is also the kind of the simulated receiver.
enum TSdrKind : uint8_t { skNone = 0, skRtlSdr = 1, skHackRf = 2 };

// "rtlsdr", "hackrf", or "none" for every other value.
std::string SdrKindName(TSdrKind kind);
// Trims and lower-cases the text: "rtlsdr", "rtl-sdr", "rtl", "nooelec" give skRtlSdr; "hackrf",
// "hack-rf" give skHackRf; anything else gives skNone. (Both live in uSdrDevices.cpp.)
TSdrKind ParseSdrKind(std::string_view text);

// One connected receiver. Index counts within its kind from 0 and is the value Open takes;
// Serial is empty when unknown.
struct TSdrDeviceInfo {
  int32_t Index = 0;
  TSdrKind Kind = skNone;
  std::string Name;
  std::string Serial;
};
using TSdrDeviceInfoArray = std::vector<TSdrDeviceInfo>;

// Fixed limits of a receiver class: tuning range in Hz, sample rates in samples per second.
struct TSdrLimits {
  int64_t MinHz = 0;
  int64_t MaxHz = 0;
  double MinRate = 0;
  double MaxRate = 0;
};

// Called by callback streaming with the received bytes, their count and StartAsync's user data.
using TSdrSampleCallback = void (*)(const uint8_t* data, uint32_t count, void* userData);

class ISdrDevice : public IGainStage {
 public:
  virtual ~ISdrDevice() = default;

  // 1. The receiver kind.
  virtual TSdrKind Kind() = 0;
  // 2. Display name; the classes append " [" serial "]" when they know a serial.
  virtual std::string GetName() = 0;
  // 3. Text of the last failure, kept until the next failure.
  virtual std::string GetLastError() = 0;
  // 4. True when the owner must remove a DC offset from the samples (the receiver wrapper then
  //    inserts a DC block with a 500 Hz corner).
  virtual bool NeedsDcBlock() = 0;
  // 5. True when the receiver has its own automatic gain.
  bool HasHardwareAgc() override = 0;
  // 6. Opens the receiver with this index within its kind.
  virtual bool Open(int32_t index) = 0;
  // 7. Closes; safe when already closed.
  virtual void Close() = 0;
  // 8. Open state.
  virtual bool IsOpen() = 0;
  // 9. Fixed limits of the class.
  virtual void GetLimits(TSdrLimits& limits) = 0;
  // 10. Sample byte format (see above).
  virtual bool SamplesSigned() = 0;
  // 11. Tunes; the class stores the value on success.
  virtual bool SetCenterFreq(int64_t hz) = 0;
  // 12. Tuned frequency, Hz.
  virtual int64_t GetCenterFreq() = 0;
  // 13. Sets the rate; a class may clamp or refuse it.
  virtual bool SetSampleRate(double samplesPerSecond) = 0;
  // 14. The rate in force.
  virtual double GetSampleRate() = 0;
  // 15. Gain in dB; any negative value means automatic gain.
  bool SetGain(double db) override = 0;
  // 16. Frequency correction in ppm.
  virtual bool SetFreqCorrection(int32_t ppm) = 0;
  // 17. Blocking read of up to `count` bytes into `buffer`; `bytesRead` gets the number read.
  //     True when at least one byte was read (the simulated receiver: whenever it is open);
  //     false with GetLastError set.
  virtual bool ReadSync(uint8_t* buffer, int32_t count, int32_t& bytesRead) = 0;
  // 18. Drops samples buffered before this call.
  virtual bool ResetBuffer() = 0;
  // 19. Starts callback streaming.
  virtual bool StartAsync(TSdrSampleCallback callback, void* userData) = 0;
  // 20. Stops callback streaming.
  virtual void StopAsync() = 0;
  // 21. Callback streaming state.
  virtual bool IsStreaming() = 0;
};

// A shared reference to a receiver; an empty reference means no receiver.
using TSdrDeviceRef = std::shared_ptr<ISdrDevice>;
