#pragma once
// The system's wave output, narrowed to what the engine's audio output needs: the default device
// (the wave mapper) opened for 16-bit mono PCM without a callback, and a ring of buffers whose done
// flags the device sets from its own context and the owner polls. Nothing here waits, retries or
// decides what to drop: the ring policy lives in the engine (uAudioOut). Systems without the
// Windows wave output report no device and every open fails.
#include <cstdint>
#include <memory>

namespace plat {

// Wave output devices present (waveOutGetNumDevs); 0 where there is no such output.
int32_t WaveOutDeviceCount();

// Makes WaveOutDeviceCount report 0 while on, so the "no device" path can be exercised on a machine
// that has one. Off by default.
void SetWaveOutHidden(bool hidden);

// One opened wave output with its buffers. Used by one thread; the device writes only the done flags.
class TWaveDevice {
 public:
  TWaveDevice();
  ~TWaveDevice();  // closes and frees
  TWaveDevice(const TWaveDevice&) = delete;
  TWaveDevice& operator=(const TWaveDevice&) = delete;

  // Opens the default device for 16-bit mono PCM at rate samples per second. 0 on success, else the
  // system's result code (the device is then closed).
  uint32_t Open(int32_t rate);
  bool IsOpen() const;

  // count buffers of bytes zeroed bytes each, with headers that point at them, span their full length
  // and carry the done flag, so every buffer starts free. Replaces any earlier buffers.
  void AllocateBuffers(int32_t count, int32_t bytes);
  void FreeBuffers();
  int32_t BufferCount() const;
  // Start of buffer i (its bytes as 16-bit samples).
  int16_t* BufferData(int32_t i);
  // The done flag of buffer i as the device last set it.
  bool BufferDone(int32_t i) const;
  // Marks buffer i free again (done flag set) after a failed hand-over.
  void MarkDone(int32_t i);

  // Header i: data = buffer i, length bytes, flags 0, loops 0; then prepared for the device.
  uint32_t Prepare(int32_t i, int32_t bytes);
  uint32_t Unprepare(int32_t i);
  // Queues prepared buffer i for playing.
  uint32_t Write(int32_t i);
  // Stops playing and hands every queued buffer back (done).
  void Reset();
  void Close();

 private:
  struct TImpl;
  std::unique_ptr<TImpl> FImpl;
};

}  // namespace plat
