#include "uAudioOut.h"

#include <algorithm>
#include <atomic>
#include <cstring>

#include "uWavWriter.h"

namespace {
std::atomic<bool> GNullAudio{false};

std::string WithCode(const char* what, uint32_t code) {
  return std::string(what) + " failed (" + std::to_string(code) + ")";
}
}  // namespace

int32_t AudioDeviceCount() {
  return plat::WaveOutDeviceCount();
}

void SetNullAudio(bool on) {
  GNullAudio.store(on);
}

TWaveOut::TWaveOut(int32_t rate, int32_t blockSamples, int32_t bufferCount)
    : FRate(rate <= 0 ? 48000 : rate),
      FBlockSamples(std::max(blockSamples, 256)),
      FBufferCount(std::max(bufferCount, 2)),
      FStaging(static_cast<size_t>(FBlockSamples), int16_t{0}) {}

TWaveOut::~TWaveOut() {
  Close();
}

bool TWaveOut::Open() {
  if (FNullMode || FDevice.IsOpen()) return true;
  if (GNullAudio.load()) {
    FNullMode = true;
    FNullBlocks = 0;
    FDropped = 0;
    return true;
  }
  if (plat::WaveOutDeviceCount() == 0) {
    FLastError = "no audio output device";
    return false;
  }
  const uint32_t r = FDevice.Open(FRate);
  if (r != 0) {
    FLastError = WithCode("waveOutOpen", r);
    return false;
  }
  FDevice.AllocateBuffers(FBufferCount, FBlockSamples * 2);
  FPrepared.assign(static_cast<size_t>(FBufferCount), false);
  FNext = 0;
  FStagingFill = 0;
  return true;
}

bool TWaveOut::IsActive() const {
  return FNullMode || FDevice.IsOpen();
}

void TWaveOut::Write(const float* samples, int32_t count) {
  if (!IsActive() || count <= 0 || samples == nullptr) return;
  for (int32_t i = 0; i < count; ++i) {
    FStaging[static_cast<size_t>(FStagingFill++)] = TWavWriter::ToSample(samples[i]);
    if (FStagingFill == FBlockSamples) {
      WriteBlock(FStaging.data(), FBlockSamples);
      FStagingFill = 0;
    }
  }
}

int32_t TWaveOut::FindFreeBuffer() {
  for (int32_t k = 0; k < FBufferCount; ++k) {
    const int32_t i = (FNext + k) % FBufferCount;
    if (FDevice.BufferDone(i)) {
      FNext = (i + 1) % FBufferCount;
      return i;
    }
  }
  return -1;
}

bool TWaveOut::WriteBlock(const int16_t* block, int32_t count) {
  if (FNullMode) {
    ++FNullBlocks;
    return true;
  }
  if (!FDevice.IsOpen() || block == nullptr || count <= 0) return false;
  count = std::min(count, FBlockSamples);
  const int32_t i = FindFreeBuffer();
  if (i < 0) {
    ++FDropped;
    return false;
  }
  if (FPrepared[static_cast<size_t>(i)]) {
    FDevice.Unprepare(i);
    FPrepared[static_cast<size_t>(i)] = false;
  }
  std::memcpy(FDevice.BufferData(i), block, static_cast<size_t>(count) * 2);
  uint32_t r = FDevice.Prepare(i, count * 2);
  if (r != 0) {
    FLastError = WithCode("waveOutPrepareHeader", r);
    FDevice.MarkDone(i);
    return false;
  }
  FPrepared[static_cast<size_t>(i)] = true;
  r = FDevice.Write(i);
  if (r != 0) {
    FLastError = WithCode("waveOutWrite", r);
    FDevice.Unprepare(i);
    FPrepared[static_cast<size_t>(i)] = false;
    FDevice.MarkDone(i);
    return false;
  }
  return true;
}

void TWaveOut::Close() {
  if (FNullMode) {
    FNullMode = false;
    return;
  }
  if (FDevice.IsOpen()) {
    FDevice.Reset();
    for (int32_t i = 0; i < static_cast<int32_t>(FPrepared.size()); ++i)
      if (FPrepared[static_cast<size_t>(i)]) FDevice.Unprepare(i);
    FDevice.Close();
  }
  FDevice.FreeBuffers();
  FPrepared.clear();
}
