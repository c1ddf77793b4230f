#include "uDspTypes.h"

namespace {

// Both tables are built at compile time: they exist before any other unit's start-up code runs.
constexpr TByteTable MakeU8Table() {
  TByteTable t{};
  for (int i = 0; i < 256; ++i) t[i] = static_cast<float>((static_cast<double>(i) - 127.4) / 128.0);
  return t;
}

constexpr TByteTable MakeS8Table() {
  TByteTable t{};
  for (int i = 0; i < 256; ++i) {
    const int v = i < 128 ? i : i - 256;
    t[i] = static_cast<float>(static_cast<double>(v) / 128.0);
  }
  return t;
}

int gKernelLevel = 0;
TKernelLevelProbe gKernelLevelProbe = nullptr;

}  // namespace

extern constinit const TByteTable U8ToFloatTable = MakeU8Table();
extern constinit const TByteTable S8ToFloatTable = MakeS8Table();

void ConvertU8ToComplexScalar(const uint8_t* bytes, TComplexF* samples, int count) {
  for (int k = 0; k < count; ++k) {
    samples[k].Re = U8ToFloatTable[bytes[2 * k]];
    samples[k].Im = U8ToFloatTable[bytes[2 * k + 1]];
  }
}

void ConvertS8ToComplexScalar(const uint8_t* bytes, TComplexF* samples, int count) {
  for (int k = 0; k < count; ++k) {
    samples[k].Re = S8ToFloatTable[bytes[2 * k]];
    samples[k].Im = S8ToFloatTable[bytes[2 * k + 1]];
  }
}

void AccumulatePowerScalar(const TComplexF* samples, float* sums, int count) {
  for (int k = 0; k < count; ++k) {
    const float re = samples[k].Re;
    const float im = samples[k].Im;
    float s = sums[k] + re * re;
    s = s + im * im;
    sums[k] = s;
  }
}

// Constant-initialised, so the routines work even before SelectKernels has run.
constinit TConvertKernel ConvertU8Kernel = &ConvertU8ToComplexScalar;
constinit TConvertKernel ConvertS8Kernel = &ConvertS8ToComplexScalar;
constinit TPowerKernel AccumulatePowerKernel = &AccumulatePowerScalar;

int KernelLevel() {
  return gKernelLevel;
}

void SetKernelLevelProbe(TKernelLevelProbe probe) {
  gKernelLevelProbe = probe;
}

void SelectKernels() {
  ConvertU8Kernel = &ConvertU8ToComplexScalar;
  ConvertS8Kernel = &ConvertS8ToComplexScalar;
  AccumulatePowerKernel = &AccumulatePowerScalar;
  int level = gKernelLevelProbe != nullptr ? gKernelLevelProbe() : 0;
  if (level < 0 || level > 2) level = 0;
  gKernelLevel = level;
}
