#pragma once
// TByteRing: a lock-free byte queue between exactly one producer thread and one consumer thread (the
// HackRF library's streaming thread and the thread that reads samples). The size is a power of two so
// that the free-running positions map to buffer indices with a mask; positions wrap modulo 2^32 and the
// fill is their difference read as a signed 32-bit value.
//
// A write that does not fit stores as much as fits, rounded down to the granularity (2 for I/Q pairs),
// so records stay whole; the end of the caller's block is dropped and the call counted in Overflows.
//
// Never allocates after construction, never locks, never calls the system: the producer runs on a
// library's thread and must return quickly. Overflows is for reporting only (the producer counts, the
// consumer's Clear resets; a lost increment in that race does no harm).
#include <atomic>
#include <cstdint>
#include <memory>

// The smallest power of two that is at least 4096 and at least `capacity`, never above 2^30 (the
// largest power of two an Int32 size holds).
int32_t RingSizeFor(int32_t capacity);

class TByteRing {
 public:
  TByteRing(int32_t capacity, int32_t granularity);
  TByteRing(const TByteRing&) = delete;
  TByteRing& operator=(const TByteRing&) = delete;

  int32_t Size() const { return FSize; }
  int32_t Granularity() const { return FGranularity; }
  // Unread bytes, 0..Size. Either side.
  int32_t Available() const;
  // Size - Available. Producer side.
  int32_t FreeSpace() const { return FSize - Available(); }
  // Write calls that did not fit whole since construction or the last Clear.
  int32_t Overflows() const { return FOverflows.load(std::memory_order_relaxed); }

  // Producer: stores up to `count` bytes (see above); returns the number stored.
  int32_t Write(const uint8_t* data, int32_t count);
  // Consumer: copies up to `count` unread bytes in order; returns the number copied.
  int32_t Read(uint8_t* buffer, int32_t count);
  // Consumer: drops up to `count` unread bytes without copying them; returns the number dropped.
  int32_t Skip(int32_t count);
  // Consumer side, while the producer may write: drops every unread byte and resets Overflows.
  // Bytes the producer publishes afterwards are kept.
  void Clear();

  // Positions, for tests that start them near the wrap. Only while neither side runs.
  void SetPositionsForTest(uint32_t pos);

 private:
  std::unique_ptr<uint8_t[]> FBuffer;
  int32_t FSize;
  int32_t FMask;
  std::atomic<uint32_t> FWritePos{0};
  std::atomic<uint32_t> FReadPos{0};
  std::atomic<int32_t> FOverflows{0};
  int32_t FGranularity;
};
