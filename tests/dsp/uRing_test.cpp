#include "uRing.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstdint>
#include <thread>
#include <vector>

namespace {

std::vector<uint8_t> Counting(int n, int start = 0) {
  std::vector<uint8_t> v(static_cast<size_t>(n));
  for (int i = 0; i < n; ++i) v[size_t(i)] = uint8_t(start + i);
  return v;
}

// Fills the ring until exactly `freeBytes` remain.
void FillLeaving(TByteRing& ring, int32_t freeBytes) {
  std::vector<uint8_t> junk(size_t(ring.Size() - freeBytes), 0xEE);
  ASSERT_EQ(ring.Write(junk.data(), int32_t(junk.size())), int32_t(junk.size()));
  ASSERT_EQ(ring.FreeSpace(), freeBytes);
}

}  // namespace

// --- Size and granularity ---------------------------------------------------------------------------

TEST(ByteRingSize, SmallestPowerOfTwoFromFourKiB) {
  EXPECT_EQ(RingSizeFor(0), 4096);
  EXPECT_EQ(RingSizeFor(-5), 4096);
  EXPECT_EQ(RingSizeFor(4096), 4096);
  EXPECT_EQ(RingSizeFor(4097), 8192);
  EXPECT_EQ(RingSizeFor(5000), 8192);
  EXPECT_EQ(RingSizeFor(2097152), 2097152);
  EXPECT_EQ(TByteRing(2097152, 2).Size(), 2097152);
}

TEST(ByteRingSize, CappedBelowTwoToThe31) {
  // Doubling past 2^30 would overflow a 32-bit size; the computation stops at 2^30.
  EXPECT_EQ(RingSizeFor((1 << 30) - 1), 1 << 30);
  EXPECT_EQ(RingSizeFor(1 << 30), 1 << 30);
  EXPECT_EQ(RingSizeFor((1 << 30) + 1), 1 << 30);
  EXPECT_EQ(RingSizeFor(INT32_MAX), 1 << 30);
}

TEST(ByteRingSize, GranularityZeroOrNegativeActsAsOne) {
  EXPECT_EQ(TByteRing(0, 0).Granularity(), 1);
  EXPECT_EQ(TByteRing(0, -3).Granularity(), 1);
  TByteRing ring(0, 0);
  FillLeaving(ring, 7);
  auto data = Counting(10);
  EXPECT_EQ(ring.Write(data.data(), 10), 7);  // no rounding with granularity 1
  EXPECT_EQ(ring.Overflows(), 1);
}

// --- Overflow keeps whole pairs -------------------------------------------------------------------

TEST(ByteRingOverflow, PartialWriteKeepsWholePairsAndCountsOnce) {
  TByteRing ring(0, 2);
  FillLeaving(ring, 7);
  auto data = Counting(10, 100);
  EXPECT_EQ(ring.Write(data.data(), 10), 6);
  EXPECT_EQ(ring.Overflows(), 1);
  EXPECT_EQ(ring.FreeSpace(), 1);
  // What was stored is the start of the block, in order.
  std::vector<uint8_t> out(size_t(ring.Size()));
  ASSERT_EQ(ring.Read(out.data(), ring.Size()), ring.Size() - 1);
  std::vector<uint8_t> tail(out.end() - 7, out.end() - 1);
  EXPECT_EQ(tail, std::vector<uint8_t>(data.begin(), data.begin() + 6));
}

TEST(ByteRingOverflow, OneByteFreeStoresNothing) {
  TByteRing ring(0, 2);
  FillLeaving(ring, 1);
  auto data = Counting(10);
  EXPECT_EQ(ring.Write(data.data(), 10), 0);
  EXPECT_EQ(ring.Overflows(), 1);
  EXPECT_EQ(ring.Available(), ring.Size() - 1);
  EXPECT_EQ(ring.Write(data.data(), 4), 0);
  EXPECT_EQ(ring.Overflows(), 2);  // once per call
}

TEST(ByteRingOverflow, BadArgumentsWriteNothingAndCountNothing) {
  TByteRing ring(0, 2);
  uint8_t b[4] = {1, 2, 3, 4};
  EXPECT_EQ(ring.Write(nullptr, 4), 0);
  EXPECT_EQ(ring.Write(b, 0), 0);
  EXPECT_EQ(ring.Write(b, -1), 0);
  EXPECT_EQ(ring.Read(nullptr, 4), 0);
  EXPECT_EQ(ring.Read(b, -4), 0);
  EXPECT_EQ(ring.Available(), 0);
  EXPECT_EQ(ring.Overflows(), 0);
}

// --- Order, wrap-around and positions ---------------------------------------------------------------

TEST(ByteRingOrder, WriteAndReadAcrossTheEndArriveInOrder) {
  TByteRing ring(0, 1);
  auto first = Counting(4000);
  std::vector<uint8_t> out(4096);
  ASSERT_EQ(ring.Write(first.data(), 4000), 4000);
  ASSERT_EQ(ring.Read(out.data(), 4000), 4000);
  // The next block starts 96 bytes before the end of the buffer.
  auto second = Counting(1000, 7);
  ASSERT_EQ(ring.Write(second.data(), 1000), 1000);
  ASSERT_EQ(ring.Available(), 1000);
  out.assign(1000, 0);
  ASSERT_EQ(ring.Read(out.data(), 1000), 1000);
  EXPECT_EQ(out, second);
}

TEST(ByteRingOrder, ReadReturnsWhatIsAvailable) {
  TByteRing ring(0, 2);
  uint8_t out[16] = {};
  EXPECT_EQ(ring.Read(out, 16), 0);
  auto data = Counting(6);
  ring.Write(data.data(), 6);
  EXPECT_EQ(ring.Read(out, 16), 6);
  EXPECT_EQ(std::vector<uint8_t>(out, out + 6), data);
  EXPECT_EQ(ring.Read(out, 16), 0);
}

TEST(ByteRingOrder, SkipDropsWithoutCopying) {
  TByteRing ring(0, 2);
  auto data = Counting(10);
  ring.Write(data.data(), 10);
  EXPECT_EQ(ring.Skip(4), 4);
  EXPECT_EQ(ring.Skip(-1), 0);
  uint8_t out[10] = {};
  ASSERT_EQ(ring.Read(out, 10), 6);
  EXPECT_EQ(out[0], 4);
  EXPECT_EQ(ring.Skip(100), 0);
}

TEST(ByteRingOrder, PositionsWrappingPast2To31And2To32) {
  for (uint32_t start : {0x7FFFFFF0u, 0xFFFFFFF0u, 0xFFFFFFFFu}) {
    TByteRing ring(0, 2);
    ring.SetPositionsForTest(start);
    EXPECT_EQ(ring.Available(), 0) << start;
    EXPECT_EQ(ring.FreeSpace(), 4096) << start;
    auto data = Counting(64, 3);
    ASSERT_EQ(ring.Write(data.data(), 64), 64) << start;
    EXPECT_EQ(ring.Available(), 64) << start;
    std::vector<uint8_t> out(64);
    ASSERT_EQ(ring.Read(out.data(), 40), 40);
    EXPECT_EQ(ring.Available(), 24);
    ASSERT_EQ(ring.Read(out.data() + 40, 40), 24);
    EXPECT_EQ(out, data) << start;
    EXPECT_EQ(ring.Available(), 0);
  }
}

TEST(ByteRingClear, DropsUnreadAndResetsOverflowsLaterWritesReadNormally) {
  TByteRing ring(0, 2);
  FillLeaving(ring, 2);
  auto data = Counting(8);
  ring.Write(data.data(), 8);
  ASSERT_EQ(ring.Overflows(), 1);
  ring.Clear();
  EXPECT_EQ(ring.Available(), 0);
  EXPECT_EQ(ring.Overflows(), 0);
  ASSERT_EQ(ring.Write(data.data(), 8), 8);
  uint8_t out[8] = {};
  ASSERT_EQ(ring.Read(out, 8), 8);
  EXPECT_EQ(std::vector<uint8_t>(out, out + 8), data);
}

// --- One producer, one consumer on two threads (run under ThreadSanitizer too) ---------------------

TEST(ByteRingThreads, LosslessStreamArrivesIntactWhenTheProducerWaitsForSpace) {
  TByteRing ring(4096, 2);
  constexpr int kTotal = 1 << 21;
  std::thread producer([&] {
    std::vector<uint8_t> chunk(1500);
    int sent = 0, len = 2;
    while (sent < kTotal) {
      len = 2 + (len * 7 + 13) % 1498;  // varying lengths across the buffer's end
      len = std::min(len, kTotal - sent);
      for (int i = 0; i < len; ++i) chunk[size_t(i)] = uint8_t((sent + i) * 31 >> 3);
      while (ring.FreeSpace() < len) std::this_thread::yield();
      ASSERT_EQ(ring.Write(chunk.data(), len), len);
      sent += len;
    }
  });
  std::vector<uint8_t> buf(977);
  int got = 0;
  bool ok = true;
  while (got < kTotal) {
    int n = ring.Read(buf.data(), int32_t(buf.size()));
    if (n == 0) {
      std::this_thread::yield();
      continue;
    }
    for (int i = 0; i < n && ok; ++i) ok = buf[size_t(i)] == uint8_t((got + i) * 31 >> 3);
    got += n;
  }
  producer.join();
  EXPECT_TRUE(ok);
  EXPECT_EQ(ring.Overflows(), 0);
}

TEST(ByteRingThreads, OverflowingProducerLeavesWholeOrderedPairs) {
  // Pair k carries a 14-bit counter: I = low 7 bits (top bit clear), Q = high 7 bits with the top bit
  // set, so a reader that ever sees a pair split across its boundary sees a Q byte where an I belongs.
  // The producer never waits and loses data on overflow; what arrives must still be whole pairs, each
  // a different counter from the one before.
  TByteRing ring(4096, 2);
  constexpr int kPairs = 200000;
  std::atomic<bool> done{false};
  std::thread producer([&] {
    std::vector<uint8_t> chunk(1000);
    int k = 0;
    while (k < kPairs) {
      int pairs = std::min(500, kPairs - k);
      for (int i = 0; i < pairs; ++i) {
        uint32_t c = uint32_t(k + i);
        chunk[size_t(2 * i)] = uint8_t(c & 0x7F);
        chunk[size_t(2 * i + 1)] = uint8_t(0x80 | ((c >> 7) & 0x7F));
      }
      ring.Write(chunk.data(), 2 * pairs);
      k += pairs;
    }
    done = true;
  });
  std::vector<uint8_t> buf(600);
  int last = -1, pairsSeen = 0, split = 0, repeated = 0;
  for (;;) {
    bool finished = done.load();
    int n = ring.Read(buf.data(), int32_t(buf.size()));
    for (int i = 0; i + 1 < n; i += 2) {
      uint8_t iByte = buf[size_t(i)], qByte = buf[size_t(i + 1)];
      if (iByte >= 0x80 || qByte < 0x80) ++split;
      int c = iByte | ((qByte & 0x7F) << 7);
      if (c == last) ++repeated;
      last = c;
      ++pairsSeen;
    }
    if (n % 2 != 0) ++split;
    if (n == 0) {
      if (finished) break;
      std::this_thread::yield();
    }
  }
  producer.join();
  EXPECT_EQ(split, 0);
  EXPECT_EQ(repeated, 0);
  EXPECT_GT(pairsSeen, 0);
  EXPECT_LE(pairsSeen, kPairs);
}
