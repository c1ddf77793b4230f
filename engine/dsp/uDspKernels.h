#pragma once
// The engine-only half of the sample kernels: the processor probe that tells which vector extensions
// are usable (named in status texts only; the scalar routines run in every case), the kernel
// description text, and TDcBlock, the DC remover for receivers whose samples carry a DC offset.
// The plug-in links uDspTypes without this unit. TDcBlock is a pure block: samples in place, its
// running means kept in the object, no allocation, no OS call.
#include <cstdint>
#include <string>

#include "uDspTypes.h"

// What the processor reports; the probe fills only what it may ask safely (leaf 7 only when the
// highest leaf allows it, XCR0 only when the OS has set OSXSAVE).
struct TCpuFeatures {
  uint32_t MaxLeaf = 0;    // highest standard CPUID leaf
  uint32_t Leaf1Ecx = 0;   // feature flags of leaf 1 (bit 27 OSXSAVE, bit 28 AVX)
  bool HaveXcr0 = false;   // XGETBV was run
  uint64_t Xcr0 = 0;       // bit 1 SSE state, bit 2 AVX state enabled by the OS
  bool HaveLeaf7 = false;  // leaf 7 was queried
  uint32_t Leaf7Ebx = 0;   // bit 5 AVX2
};

// Asks the processor (x86 only; elsewhere everything stays zero).
TCpuFeatures ReadCpuFeatures();
// 2 when AVX2 is usable, 1 when AVX is usable, else 0.
int KernelLevelFromFeatures(const TCpuFeatures& f);
// ReadCpuFeatures + KernelLevelFromFeatures: the probe the engine installs for SelectKernels.
int DetectKernelLevel();
// The processor's level, probed once (thread-safe) and never changed afterwards: what the vector paths
// of the signal chain dispatch on. Every path computes the same bits, so this only decides the speed.
int CpuKernelLevel();

// "scalar kernels", plus " (CPU has AVX2)" for level 2 or " (CPU has AVX)" for level 1.
std::string KernelDescriptionFor(int level);
// The description of the recorded KernelLevel (for list mode, status lines and STATUS's Simd).
std::string KernelDescription();

// Removes the DC offset of I and Q with a one-pole running mean per component (Double state).
// The first block after creation or Reset seeds the means with the plain averages of its first
// 4096 samples (at most), so a constant offset is gone from the first sample on. The means run on
// across blocks; a retune must Reset.
class TDcBlock {
 public:
  // A rate not above 0 counts as 1, a corner not above 0 as 500 Hz; Alpha = 2 pi corner / rate,
  // kept within 1e-7 .. 0.5.
  TDcBlock(double sampleRate, double cornerHz);

  double MeanI = 0.0;
  double MeanQ = 0.0;
  double Alpha = 0.0;
  bool Primed = false;

  // Forgets the means: the next block seeds them again.
  void Reset();
  // Removes the DC in place; nothing happens for a null block or a count not above 0.
  void Process(TComplexF* samples, int count);
};
