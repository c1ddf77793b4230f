#include <windows.h>
// after windows.h
#include <mmsystem.h>

#include <atomic>
#include <vector>

#include "pWaveOut.h"

namespace plat {

namespace {
std::atomic<bool> GHidden{false};
}

int32_t WaveOutDeviceCount() {
  if (GHidden.load()) return 0;
  return static_cast<int32_t>(waveOutGetNumDevs());
}

void SetWaveOutHidden(bool hidden) {
  GHidden.store(hidden);
}

struct TWaveDevice::TImpl {
  HWAVEOUT Handle = nullptr;
  // Headers live apart from each other on the heap: the device keeps pointers to them while playing.
  std::vector<std::unique_ptr<WAVEHDR>> Headers;
  std::vector<std::vector<int16_t>> Buffers;
};

TWaveDevice::TWaveDevice() : FImpl(std::make_unique<TImpl>()) {}

TWaveDevice::~TWaveDevice() {
  Close();
  FreeBuffers();
}

uint32_t TWaveDevice::Open(int32_t rate) {
  Close();
  WAVEFORMATEX fmt{};
  fmt.wFormatTag = WAVE_FORMAT_PCM;
  fmt.nChannels = 1;
  fmt.nSamplesPerSec = static_cast<DWORD>(rate);
  fmt.wBitsPerSample = 16;
  fmt.nBlockAlign = 2;
  fmt.nAvgBytesPerSec = static_cast<DWORD>(rate) * 2;
  fmt.cbSize = 0;
  HWAVEOUT h = nullptr;
  MMRESULT r = waveOutOpen(&h, WAVE_MAPPER, &fmt, 0, 0, CALLBACK_NULL);
  if (r != MMSYSERR_NOERROR) return static_cast<uint32_t>(r);
  FImpl->Handle = h;
  return 0;
}

bool TWaveDevice::IsOpen() const {
  return FImpl->Handle != nullptr;
}

void TWaveDevice::AllocateBuffers(int32_t count, int32_t bytes) {
  FreeBuffers();
  const size_t samples = static_cast<size_t>(bytes + 1) / 2;
  for (int32_t i = 0; i < count; ++i) {
    FImpl->Buffers.emplace_back(samples, int16_t{0});
    auto hdr = std::make_unique<WAVEHDR>();
    ZeroMemory(hdr.get(), sizeof(WAVEHDR));
    hdr->lpData = reinterpret_cast<LPSTR>(FImpl->Buffers.back().data());
    hdr->dwBufferLength = static_cast<DWORD>(bytes);
    hdr->dwFlags = WHDR_DONE;
    FImpl->Headers.push_back(std::move(hdr));
  }
}

void TWaveDevice::FreeBuffers() {
  FImpl->Headers.clear();
  FImpl->Buffers.clear();
}

int32_t TWaveDevice::BufferCount() const {
  return static_cast<int32_t>(FImpl->Headers.size());
}

int16_t* TWaveDevice::BufferData(int32_t i) {
  return FImpl->Buffers[static_cast<size_t>(i)].data();
}

bool TWaveDevice::BufferDone(int32_t i) const {
  // The device sets the flag from its own thread.
  const volatile DWORD& flags = FImpl->Headers[static_cast<size_t>(i)]->dwFlags;
  return (flags & WHDR_DONE) != 0;
}

void TWaveDevice::MarkDone(int32_t i) {
  FImpl->Headers[static_cast<size_t>(i)]->dwFlags = WHDR_DONE;
}

uint32_t TWaveDevice::Prepare(int32_t i, int32_t bytes) {
  WAVEHDR* hdr = FImpl->Headers[static_cast<size_t>(i)].get();
  hdr->lpData = reinterpret_cast<LPSTR>(FImpl->Buffers[static_cast<size_t>(i)].data());
  hdr->dwBufferLength = static_cast<DWORD>(bytes);
  hdr->dwFlags = 0;
  hdr->dwLoops = 0;
  if (FImpl->Handle == nullptr) return MMSYSERR_INVALHANDLE;
  return waveOutPrepareHeader(FImpl->Handle, hdr, sizeof(WAVEHDR));
}

uint32_t TWaveDevice::Unprepare(int32_t i) {
  if (FImpl->Handle == nullptr) return MMSYSERR_INVALHANDLE;
  return waveOutUnprepareHeader(FImpl->Handle, FImpl->Headers[static_cast<size_t>(i)].get(), sizeof(WAVEHDR));
}

uint32_t TWaveDevice::Write(int32_t i) {
  if (FImpl->Handle == nullptr) return MMSYSERR_INVALHANDLE;
  return waveOutWrite(FImpl->Handle, FImpl->Headers[static_cast<size_t>(i)].get(), sizeof(WAVEHDR));
}

void TWaveDevice::Reset() {
  if (FImpl->Handle != nullptr) waveOutReset(FImpl->Handle);
}

void TWaveDevice::Close() {
  if (FImpl->Handle == nullptr) return;
  waveOutClose(FImpl->Handle);
  FImpl->Handle = nullptr;
}

}  // namespace plat
