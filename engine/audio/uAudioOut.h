#pragma once
// Audio output for a real-time producer that must never wait: demodulated audio is converted to
// 16-bit mono PCM and handed to the default sound device through a small ring of prepared buffers.
// A free buffer is found by polling each buffer's done flag (no callback, no event, no thread of its
// own); when every buffer is still playing, the block is dropped and counted. A module-wide switch
// (SetNullAudio) turns every output opened afterwards into a null output that accepts and counts
// blocks without a device, so self tests run on machines without sound.
// One output is used by one thread (a session's worker). Nothing here blocks or retries.
#include <cstdint>
#include <string>
#include <vector>

#include "pWaveOut.h"

// Number of wave output devices of the system.
int32_t AudioDeviceCount();

// Module-wide: outputs opened while on discard instead of playing. Takes effect at the next Open.
void SetNullAudio(bool on);

class TWaveOut {
 public:
  // rate <= 0 gives 48000 S/s; blocks of at least 256 samples; at least 2 buffers. Nothing is opened.
  TWaveOut(int32_t rate, int32_t blockSamples, int32_t bufferCount);
  ~TWaveOut();
  TWaveOut(const TWaveOut&) = delete;
  TWaveOut& operator=(const TWaveOut&) = delete;

  // A null output while the null switch is on, else the default device. False with LastError set
  // ("no audio output device", "waveOutOpen failed (%d)"); true when already open.
  bool Open();
  // Null mode or a device held.
  bool IsActive() const;
  // Converts (as the WAV writer does: x * 32767, rounded to nearest even, clamped) and queues the samples;
  // every full block goes to WriteBlock, and a dropped block is lost. Does nothing unless active.
  void Write(const float* samples, int32_t count);
  // Plays one block: true when it was queued (or counted in null mode).
  bool WriteBlock(const int16_t* block, int32_t count);
  // Stops playing and frees the buffers; the staging block and its fill survive.
  void Close();

  int32_t Rate() const { return FRate; }
  int32_t BlockSamples() const { return FBlockSamples; }
  int32_t BufferCount() const { return FBufferCount; }
  int64_t Dropped() const { return FDropped; }
  bool NullMode() const { return FNullMode; }
  int64_t NullBlocks() const { return FNullBlocks; }
  const std::string& LastError() const { return FLastError; }
  int32_t StagingFill() const { return FStagingFill; }

 private:
  int32_t FindFreeBuffer();

  plat::TWaveDevice FDevice;
  int32_t FRate;
  int32_t FBlockSamples;
  int32_t FBufferCount;
  std::vector<bool> FPrepared;
  int32_t FNext = 0;
  std::vector<int16_t> FStaging;
  int32_t FStagingFill = 0;
  int64_t FDropped = 0;
  bool FNullMode = false;
  int64_t FNullBlocks = 0;
  std::string FLastError;
};
