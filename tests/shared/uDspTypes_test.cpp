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
