// No wave output on this system: no device is ever reported and every open fails the way Windows
// fails without a driver. The buffers still behave, so the ring code above them runs unchanged.
#include <atomic>
#include <vector>

#include "pWaveOut.h"

namespace plat {

namespace {
constexpr uint32_t kNoDriver = 6;   // the wave output's "no driver" result
constexpr uint32_t kBadHandle = 5;  // the wave output's "invalid handle" result
std::atomic<bool> GHidden{false};
}  // namespace

int32_t WaveOutDeviceCount() {
  return 0;
}

void SetWaveOutHidden(bool hidden) {
  GHidden.store(hidden);
}

struct TWaveDevice::TImpl {
  std::vector<std::vector<int16_t>> Buffers;
  std::vector<bool> Done;
};

TWaveDevice::TWaveDevice() : FImpl(std::make_unique<TImpl>()) {}
TWaveDevice::~TWaveDevice() = default;

uint32_t TWaveDevice::Open(int32_t) {
  return kNoDriver;
}
bool TWaveDevice::IsOpen() const {
  return false;
}

void TWaveDevice::AllocateBuffers(int32_t count, int32_t bytes) {
  FreeBuffers();
  for (int32_t i = 0; i < count; ++i)
    FImpl->Buffers.emplace_back(static_cast<size_t>(bytes + 1) / 2, int16_t{0});
  FImpl->Done.assign(static_cast<size_t>(count), true);
}

void TWaveDevice::FreeBuffers() {
  FImpl->Buffers.clear();
  FImpl->Done.clear();
}

int32_t TWaveDevice::BufferCount() const {
  return static_cast<int32_t>(FImpl->Buffers.size());
}
int16_t* TWaveDevice::BufferData(int32_t i) {
  return FImpl->Buffers[static_cast<size_t>(i)].data();
}
bool TWaveDevice::BufferDone(int32_t i) const {
  return FImpl->Done[static_cast<size_t>(i)];
}
void TWaveDevice::MarkDone(int32_t i) {
  FImpl->Done[static_cast<size_t>(i)] = true;
}

uint32_t TWaveDevice::Prepare(int32_t i, int32_t) {
  FImpl->Done[static_cast<size_t>(i)] = false;
  return kBadHandle;
}
uint32_t TWaveDevice::Unprepare(int32_t) {
  return kBadHandle;
}
uint32_t TWaveDevice::Write(int32_t) {
  return kBadHandle;
}
void TWaveDevice::Reset() {}
void TWaveDevice::Close() {}

}  // namespace plat
