#include "uDspTypes.h"

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

namespace {

TEST(ByteTables, OffsetBinaryZeroPointIs127Point4) {
  EXPECT_FLOAT_EQ(U8ToFloatTable[127], -0.003125f);
  EXPECT_FLOAT_EQ(U8ToFloatTable[128], 0.0046875f);
  EXPECT_EQ(U8ToFloatTable[0], static_cast<float>(-127.4 / 128.0));
  EXPECT_EQ(U8ToFloatTable[255], static_cast<float>(127.6 / 128.0));
  for (int i = 1; i < 256; ++i) EXPECT_LT(U8ToFloatTable[i - 1], U8ToFloatTable[i]) << i;
}

TEST(ByteTables, SignedTableIsTwosComplement) {
  EXPECT_EQ(S8ToFloatTable[0x80], -1.0f);
  EXPECT_EQ(S8ToFloatTable[0x7F], 0.9921875f);
  EXPECT_EQ(S8ToFloatTable[0x00], 0.0f);
  EXPECT_EQ(S8ToFloatTable[0xFF], -1.0f / 128.0f);
  EXPECT_EQ(S8ToFloatTable[0x01], 1.0f / 128.0f);
}

TEST(Conversion, U8PairsBecomeIQAndNothingBeyondIsTouched) {
  const uint8_t bytes[6] = {0, 255, 127, 128, 200, 13};
  TComplexF out[4];
  const TComplexF sentinel{123.0f, -456.0f};
  for (auto& s : out) s = sentinel;
  ConvertU8ToComplex(bytes, out, 3);
  EXPECT_EQ(out[0].Re, U8ToFloatTable[0]);
  EXPECT_EQ(out[0].Im, U8ToFloatTable[255]);
  EXPECT_EQ(out[1].Re, U8ToFloatTable[127]);
  EXPECT_EQ(out[1].Im, U8ToFloatTable[128]);
  EXPECT_EQ(out[2].Re, U8ToFloatTable[200]);
  EXPECT_EQ(out[2].Im, U8ToFloatTable[13]);
  EXPECT_EQ(out[3].Re, sentinel.Re);
  EXPECT_EQ(out[3].Im, sentinel.Im);
}

TEST(Conversion, S8ExtremesAndZeroCount) {
  const uint8_t bytes[4] = {0x80, 0x7F, 0xFF, 0x00};
  TComplexF out[2] = {{9.0f, 9.0f}, {9.0f, 9.0f}};
  ConvertS8ToComplex(bytes, out, 0);
  EXPECT_EQ(out[0].Re, 9.0f);
  ConvertS8ToComplex(bytes, out, 2);
  EXPECT_EQ(out[0].Re, -1.0f);
  EXPECT_EQ(out[0].Im, 0.9921875f);
  EXPECT_EQ(out[1].Re, -0.0078125f);
  EXPECT_EQ(out[1].Im, 0.0f);
}

TEST(Power, SumsInTheFixedOrderExistingThenIThenQ) {
  // 1 + 2^-24 rounds back to 1 (tie to even) twice; summing I^2 + Q^2 first would give 1 + 2^-23.
  const float tiny = 1.0f / 4096.0f;  // squared: 2^-24
  TComplexF s[2] = {{tiny, tiny}, {3.0f, -4.0f}};
  float sums[3] = {1.0f, 0.5f, 77.0f};
  AccumulatePower(s, sums, 2);
  EXPECT_EQ(sums[0], 1.0f);
  EXPECT_EQ(sums[1], 25.5f);
  EXPECT_EQ(sums[2], 77.0f);  // beyond count: untouched
  AccumulatePower(s, sums, 2);
  EXPECT_EQ(sums[1], 50.5f);
}

// Every byte value in both positions, at every count round the widths of the vector path and from
// unaligned starts: each sample is its two table entries, and nothing beyond count is written.
TEST(Conversion, EveryByteAtEveryBlockLengthEqualsItsTableEntry) {
  std::vector<uint8_t> bytes(2 * 300 + 1);
  for (size_t i = 0; i < bytes.size(); ++i) bytes[i] = uint8_t((i * 7 + i / 256) & 0xFF);
  using TConvert = void (*)(const uint8_t*, TComplexF*, int);
  const struct {
    TConvert Convert;
    const TByteTable& Table;
  } kinds[] = {{&ConvertU8ToComplex, U8ToFloatTable}, {&ConvertS8ToComplex, S8ToFloatTable}};
  for (const auto& kind : kinds) {
    for (int start : {0, 1}) {
      for (int count : {0, 1, 7, 8, 9, 15, 16, 17, 300}) {
        std::vector<TComplexF> out(size_t(count) + 1, TComplexF{-9.0f, -9.0f});
        kind.Convert(bytes.data() + start, out.data(), count);
        for (int k = 0; k < count; ++k) {
          ASSERT_EQ(out[k].Re, kind.Table[bytes[start + 2 * k]]) << count << " " << k;
          ASSERT_EQ(out[k].Im, kind.Table[bytes[start + 2 * k + 1]]) << count << " " << k;
        }
        EXPECT_EQ(out[count].Re, -9.0f);
        EXPECT_EQ(out[count].Im, -9.0f);
      }
    }
    // All 256 values as I and as Q.
    std::vector<uint8_t> all(512);
    for (int i = 0; i < 256; ++i) all[2 * i] = all[511 - 2 * i] = uint8_t(i);
    std::vector<TComplexF> out(256);
    kind.Convert(all.data(), out.data(), 256);
    for (int i = 0; i < 256; ++i) {
      ASSERT_EQ(out[i].Re, kind.Table[i]) << i;
      ASSERT_EQ(out[255 - i].Im, kind.Table[i]) << i;
    }
  }
}

TEST(Power, EveryLengthAddsInTheOrderOfThePlainLoop) {
  std::vector<TComplexF> x(41);
  uint32_t s = 5;
  auto next = [&s]() {
    s = s * 1664525u + 1013904223u;
    return float(int32_t(s >> 8) - (1 << 23)) / float(1 << 12);
  };
  for (auto& v : x) v = {next(), next()};
  for (int count = 0; count <= 40; ++count) {
    std::vector<float> sums(41), plain(41);
    for (size_t k = 0; k < sums.size(); ++k) sums[k] = plain[k] = next() * 1e3f;
    AccumulatePower(x.data(), sums.data(), count);
    for (int k = 0; k < count; ++k) {
      float v = plain[k] + x[k].Re * x[k].Re;
      plain[k] = v + x[k].Im * x[k].Im;
    }
    EXPECT_EQ(std::memcmp(sums.data(), plain.data(), sums.size() * sizeof(float)), 0) << count;
  }
}

int ProbeAvx2() {
  return 2;
}
int ProbeNonsense() {
  return 7;
}

TEST(Kernels, SelectKernelsInstallsScalarRoutinesAndRecordsTheProbe) {
  SetKernelLevelProbe(nullptr);
  SelectKernels();
  EXPECT_EQ(KernelLevel(), 0);
  EXPECT_EQ(ConvertU8Kernel, &ConvertU8ToComplexScalar);
  EXPECT_EQ(ConvertS8Kernel, &ConvertS8ToComplexScalar);
  EXPECT_EQ(AccumulatePowerKernel, &AccumulatePowerScalar);
  SetKernelLevelProbe(&ProbeAvx2);
  SelectKernels();
  EXPECT_EQ(KernelLevel(), 2);
  EXPECT_EQ(AccumulatePowerKernel, &AccumulatePowerScalar);  // a level never swaps the routines
  SetKernelLevelProbe(&ProbeNonsense);
  SelectKernels();
  EXPECT_EQ(KernelLevel(), 0);
  SetKernelLevelProbe(nullptr);
  SelectKernels();
}

}  // namespace
