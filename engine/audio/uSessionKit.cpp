#include "uSessionKit.h"

#include <algorithm>
#include <cmath>
#include <limits>

#include "uFreqText.h"
#include "uLog.h"
#include "uSdrDevices.h"

int64_t OffsetCentre(int64_t hz, double rate, const TSdrLimits& limits) {
  const int64_t q = RoundHalfEven(rate * 0.25);
  int64_t c = hz - q;
  if (c < limits.MinHz) c = hz + q;
  if (c > limits.MaxHz) c = hz - q;
  if (c < limits.MinHz || c > limits.MaxHz) c = hz;
  return c;
}

std::string OutsideTunerRangeText(int64_t hz, const TSdrLimits& limits) {
  return FormatMHz(hz) + " is outside the tuner range (" + FormatMHz(limits.MinHz) + " .. " +
         FormatMHz(limits.MaxHz) + ")";
}

bool SetSessionRate(ISdrDevice& device, const TTalvConfig& config, double& rate, std::string& error) {
  rate = static_cast<double>(config.SampleRate);
  if (!device.SetSampleRate(rate)) {
    error = device.GetLastError();
    return false;
  }
  const double reported = device.GetSampleRate();
  if (reported > 0) rate = reported;
  return true;
}

// ---------------------------------------------------------------------------------------------
// TSessionRadio

bool TSessionRadio::Fail(const std::string& text) {
  FLastError = text;
  return false;
}

bool TSessionRadio::Open(const TTalvConfig& config) {
  Release();
  FDeviceName.clear();
  FLastError.clear();
  FLimits = TSdrLimits{};
  FRate = 0;
  std::string error;
  if (!OpenSdrDevice(config, FDevice, FDeviceName, error)) {
    FDevice.reset();
    return Fail(error);
  }
  FDevice->GetLimits(FLimits);
  return true;
}

bool TSessionRadio::Covers(int64_t hz) {
  if (hz >= FLimits.MinHz && hz <= FLimits.MaxHz) return true;
  return Fail(OutsideTunerRangeText(hz, FLimits));
}

int64_t TSessionRadio::Clamp(int64_t hz) const {
  return std::min(std::max(hz, FLimits.MinHz), FLimits.MaxHz);
}

bool TSessionRadio::SetRate(const TTalvConfig& config) {
  if (!FDevice) return Fail("no device");
  std::string error;
  if (!SetSessionRate(*FDevice, config, FRate, error)) return Fail(error);
  return true;
}

bool TSessionRadio::Tune(const TTalvConfig& config, int64_t centreHz, int32_t blockSize,
                         const std::atomic<bool>* stop) {
  if (!FDevice) return Fail("no device");
  FReceiver = std::make_unique<TReceiver>(FDevice, FClock);
  FReceiver->SetStopFlag(stop);
  if (FReceiver->Configure(FRate, config.GainDb, config.PpmCorrection, blockSize) &&
      FReceiver->Retune(centreHz, 0))
    return true;
  return Fail(FReceiver->LastError());
}

void TSessionRadio::Release() {
  FReceiver.reset();
  FDevice.reset();
}

// ---------------------------------------------------------------------------------------------
// Reading

TSessionReader::TResult TSessionReader::Read(TReceiver& receiver, TComplexF*& block, int32_t& count) {
  if (receiver.ReadBlock(block, count)) {
    FFailures = 0;
    return rrBlock;
  }
  if (++FFailures <= kMaxReadFailures) return rrRetry;
  if (FComponent != nullptr) LogFmt("%s: read failed: %s", FComponent, receiver.LastError().c_str());
  return rrGiveUp;
}

TReadLoopEnd RunReadLoop(TReceiver& receiver, const char* component, const std::function<bool()>& goOn,
                         const std::function<bool(TComplexF* block, int32_t n)>& onBlock) {
  TSessionReader reader(component);
  while (goOn()) {
    TComplexF* block = nullptr;
    int32_t n = 0;
    const TSessionReader::TResult got = reader.Read(receiver, block, n);
    if (got == TSessionReader::rrGiveUp) return leFailed;
    if (got == TSessionReader::rrRetry) continue;
    if (!onBlock(block, n)) return leDone;
  }
  return leStopped;
}

// ---------------------------------------------------------------------------------------------
// Pacing and the detection buffer

bool TPace::Due(uint64_t now) {
  if (FAny && now - FLast < FEveryMs) return false;
  FAny = true;
  FLast = now;
  return true;
}

void TPace::StartAt(uint64_t now) {
  FAny = true;
  FLast = now;
}

bool FillDetectBuffer(std::vector<TComplexF>& buffer, int32_t& count, const TComplexF* block, int32_t n) {
  const int32_t size = static_cast<int32_t>(buffer.size());
  const int32_t take = std::min(n, size - count);
  if (take > 0) {
    std::copy(block, block + take, buffer.begin() + count);
    count += take;
  }
  if (count < size) return false;
  count = 0;
  return true;
}

void ResetDetectBuffer(std::vector<TComplexF>& buffer, int32_t& count, int32_t samplesNeeded) {
  buffer.assign(static_cast<size_t>(std::max(samplesNeeded, 1)), TComplexF{});
  count = 0;
}

int32_t SessionHangMs(int32_t hangTimeMs, uint64_t paceMs, int32_t samplesNeeded, int32_t blockSize,
                      double rate) {
  const int64_t block = std::max(blockSize, 1);
  const int64_t blocksPerBuffer = (std::max<int64_t>(samplesNeeded, 1) + block - 1) / block;
  const double fillMs =
      rate > 0 ? std::ceil(static_cast<double>(blocksPerBuffer * block) * 1000.0 / rate) : 0.0;
  const double gapMs = static_cast<double>(paceMs) + 2.0 * fillMs;
  if (gapMs >= static_cast<double>(std::numeric_limits<int32_t>::max()))
    return std::numeric_limits<int32_t>::max();
  return std::max(hangTimeMs, static_cast<int32_t>(gapMs));
}
