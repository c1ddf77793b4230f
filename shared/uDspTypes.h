#pragma once
// Sample and spectrum block types of the signal chain, and the kernels every block runs over.
// The receivers deliver interleaved 8-bit I/Q bytes (offset binary or two's complement); the
// converters turn them into complex Single samples through two 256-entry tables, and
// AccumulatePower adds squared magnitudes into power sums. Both run through replaceable routine
// pointers; only the portable routines are installed, so every build (native, Win64, Win32) computes
// bit-identical values. The portable routines use SSE2 where the compiler targets it (every build of
// the engine and plug-in does) with the same Single operations as their plain loops, which the rest
// of the compilers get. The processor's further vector extensions are only recorded, for texts.
// Nothing here allocates, locks or calls the operating system; the tables are constant data.
#include <array>
#include <cstdint>
#include <vector>

// One complex sample: in-phase then quadrature, exactly two Singles with no padding.
struct TComplexF {
  float Re;
  float Im;
};
static_assert(sizeof(TComplexF) == 2 * sizeof(float), "TComplexF must stay two packed Singles");

using TComplexFArray = std::vector<TComplexF>;  // a block of samples
using TSingleArray = std::vector<float>;        // spectrum bins, power sums, audio

using TByteTable = std::array<float, 256>;

// Offset-binary bytes (unsigned receivers): entry i = (i - 127.4) / 128, computed in Double. The
// zero point lies at 127.4, so byte 128 is not zero.
extern const TByteTable U8ToFloatTable;
// Two's-complement bytes (signed receivers): i / 128 for 0..127, (i - 256) / 128 for 128..255.
extern const TByteTable S8ToFloatTable;

using TConvertKernel = void (*)(const uint8_t* bytes, TComplexF* samples, int count);
using TPowerKernel = void (*)(const TComplexF* samples, float* sums, int count);

// The installed routines (read-only once SelectKernels has run at start-up).
extern TConvertKernel ConvertU8Kernel;
extern TConvertKernel ConvertS8Kernel;
extern TPowerKernel AccumulatePowerKernel;

// Sample k takes bytes 2k (I) and 2k+1 (Q); reads count*2 bytes, writes count samples, nothing more.
inline void ConvertU8ToComplex(const uint8_t* bytes, TComplexF* samples, int count) {
  ConvertU8Kernel(bytes, samples, count);
}
inline void ConvertS8ToComplex(const uint8_t* bytes, TComplexF* samples, int count) {
  ConvertS8Kernel(bytes, samples, count);
}
// sums[k] = (sums[k] + Re*Re) + Im*Im in Single, in exactly that order.
inline void AccumulatePower(const TComplexF* samples, float* sums, int count) {
  AccumulatePowerKernel(samples, sums, count);
}

// The portable routines themselves (vectorised replacements must match them bit for bit).
void ConvertU8ToComplexScalar(const uint8_t* bytes, TComplexF* samples, int count);
void ConvertS8ToComplexScalar(const uint8_t* bytes, TComplexF* samples, int count);
void AccumulatePowerScalar(const TComplexF* samples, float* sums, int count);

// Vector extensions the processor offers: 0 none, 1 AVX, 2 AVX2 (names the kernels only).
int KernelLevel();

// Reports the processor's level (0, 1, 2). The engine installs its CPU probe (uDspKernels); the
// plug-in installs none and records 0.
using TKernelLevelProbe = int (*)();
void SetKernelLevelProbe(TKernelLevelProbe probe);

// Installs the scalar routines and records KernelLevel from the probe. Runs at start-up, before
// any thread starts; calling it again is harmless.
void SelectKernels();
