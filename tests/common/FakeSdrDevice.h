#pragma once
// A scriptable receiver for tests of the units that drive an ISdrDevice (gain control, receiver
// wrapper, device list, scanner): it records every call, fills reads from a replaceable byte source,
// and can be told to fail, to deliver short reads, or to move a manual clock on every read (so that
// time passes between blocks without sleeping). Header-only: only test programs that link the
// receiver interface include it.
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "pClock.h"
#include "uSdrIntf.h"

class TFakeSdrDevice : public ISdrDevice {
 public:
  // Behaviour the test sets.
  TSdrKind FakeKind = skNone;
  std::string Name = "Fake SDR";
  bool HardwareAgc = false;
  bool DcBlockWanted = false;
  bool Signed = false;
  bool Opened = true;
  bool OpenSucceeds = true;
  std::string OpenError = "fake open failed";
  double ReportedRate = -1;  // below 0: the rate last set
  bool RateSucceeds = true;
  bool TuneSucceeds = true;
  bool ReadFails = false;
  std::string ReadError = "fake read failed";
  int32_t MaxReadBytes = -1;  // at or above 0: reads deliver at most this many bytes
  plat::TManualClock* Clock = nullptr;
  uint64_t MsPerRead = 0;  // the clock moves this far on every read
  // Fills `count` bytes; the default gives offset-binary silence (127).
  std::function<void(uint8_t* buffer, int32_t count)> Source;

  // What the test reads back.
  int32_t OpenIndex = -1;
  int32_t OpenCalls = 0;
  int32_t CloseCalls = 0;
  int64_t CenterHz = 0;
  double Rate = 0;
  std::vector<double> GainCalls;
  std::vector<int32_t> PpmCalls;
  std::vector<int64_t> TuneCalls;
  std::vector<int32_t> ReadSizes;
  int32_t ResetCalls = 0;
  std::string LastError;

  TSdrKind Kind() override { return FakeKind; }
  std::string GetName() override { return Name; }
  std::string GetLastError() override { return LastError; }
  bool NeedsDcBlock() override { return DcBlockWanted; }
  bool HasHardwareAgc() override { return HardwareAgc; }
  bool Open(int32_t index) override {
    ++OpenCalls;
    OpenIndex = index;
    if (!OpenSucceeds) {
      LastError = OpenError;
      return false;
    }
    Opened = true;
    return true;
  }
  void Close() override {
    ++CloseCalls;
    Opened = false;
  }
  bool IsOpen() override { return Opened; }
  void GetLimits(TSdrLimits& limits) override {
    limits.MinHz = 1000000;
    limits.MaxHz = 6000000000LL;
    limits.MinRate = 100000;
    limits.MaxRate = 20000000;
  }
  bool SamplesSigned() override { return Signed; }
  bool SetCenterFreq(int64_t hz) override {
    TuneCalls.push_back(hz);
    if (!TuneSucceeds) {
      LastError = "fake tune failed";
      return false;
    }
    CenterHz = hz;
    return true;
  }
  int64_t GetCenterFreq() override { return CenterHz; }
  bool SetSampleRate(double sps) override {
    if (!RateSucceeds) {
      LastError = "fake rate refused";
      return false;
    }
    Rate = sps;
    return true;
  }
  double GetSampleRate() override { return ReportedRate >= 0 ? ReportedRate : Rate; }
  bool SetGain(double db) override {
    GainCalls.push_back(db);
    return true;
  }
  bool SetFreqCorrection(int32_t ppm) override {
    PpmCalls.push_back(ppm);
    return true;
  }
  bool ReadSync(uint8_t* buffer, int32_t count, int32_t& bytesRead) override {
    bytesRead = 0;
    ReadSizes.push_back(count);
    if (Clock) Clock->Advance(MsPerRead);
    if (ReadFails || !Opened) {
      LastError = ReadFails ? ReadError : "not open";
      return false;
    }
    int32_t n = MaxReadBytes >= 0 && MaxReadBytes < count ? MaxReadBytes : count;
    if (Source)
      Source(buffer, n);
    else
      for (int32_t k = 0; k < n; ++k) buffer[k] = 127;
    bytesRead = n;
    return true;
  }
  bool ResetBuffer() override {
    ++ResetCalls;
    return true;
  }
  bool StartAsync(TSdrSampleCallback, void*) override {
    LastError = "streaming not implemented";
    return false;
  }
  void StopAsync() override {}
  bool IsStreaming() override { return false; }
};
