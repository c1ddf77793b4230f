#include "uRing.h"

#include <algorithm>
#include <cstring>

int32_t RingSizeFor(int32_t capacity) {
  // Doubling past 2^30 would overflow the Int32 size: a larger request gets 2^30.
  constexpr int32_t kMaxSize = int32_t(1) << 30;
  int32_t size = 4096;
  while (size < capacity && size < kMaxSize) size *= 2;
  return size;
}

TByteRing::TByteRing(int32_t capacity, int32_t granularity)
    : FSize(RingSizeFor(capacity)), FMask(FSize - 1), FGranularity(granularity > 0 ? granularity : 1) {
  FBuffer = std::make_unique<uint8_t[]>(size_t(FSize));
}

int32_t TByteRing::Available() const {
  uint32_t w = FWritePos.load(std::memory_order_acquire);
  uint32_t r = FReadPos.load(std::memory_order_acquire);
  int32_t fill = int32_t(w - r);
  return std::clamp(fill, int32_t(0), FSize);
}

int32_t TByteRing::Write(const uint8_t* data, int32_t count) {
  if (count <= 0 || !data) return 0;
  int32_t free = FreeSpace();
  if (free < count) {
    FOverflows.store(FOverflows.load(std::memory_order_relaxed) + 1, std::memory_order_relaxed);
    count = free - free % FGranularity;
    if (count <= 0) return 0;
  }
  uint32_t w = FWritePos.load(std::memory_order_relaxed);
  int32_t at = int32_t(w & uint32_t(FMask));
  int32_t first = std::min(count, FSize - at);
  std::memcpy(FBuffer.get() + at, data, size_t(first));
  if (count > first) std::memcpy(FBuffer.get(), data + first, size_t(count - first));
  FWritePos.store(w + uint32_t(count), std::memory_order_release);
  return count;
}

int32_t TByteRing::Read(uint8_t* buffer, int32_t count) {
  if (count <= 0 || !buffer) return 0;
  count = std::min(count, Available());
  if (count <= 0) return 0;
  uint32_t r = FReadPos.load(std::memory_order_relaxed);
  int32_t at = int32_t(r & uint32_t(FMask));
  int32_t first = std::min(count, FSize - at);
  std::memcpy(buffer, FBuffer.get() + at, size_t(first));
  if (count > first) std::memcpy(buffer + first, FBuffer.get(), size_t(count - first));
  FReadPos.store(r + uint32_t(count), std::memory_order_release);
  return count;
}

int32_t TByteRing::Skip(int32_t count) {
  if (count <= 0) return 0;
  count = std::min(count, Available());
  if (count <= 0) return 0;
  FReadPos.store(FReadPos.load(std::memory_order_relaxed) + uint32_t(count), std::memory_order_release);
  return count;
}

void TByteRing::Clear() {
  FReadPos.store(FWritePos.load(std::memory_order_acquire), std::memory_order_release);
  FOverflows.store(0, std::memory_order_relaxed);
}

void TByteRing::SetPositionsForTest(uint32_t pos) {
  FWritePos.store(pos);
  FReadPos.store(pos);
}
