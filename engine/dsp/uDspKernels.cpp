#include "uDspKernels.h"

#include <algorithm>

#if defined(__x86_64__) || defined(__i386__)
#include <cpuid.h>
#define TALV_HAVE_CPUID 1
#else
#define TALV_HAVE_CPUID 0
#endif

namespace {

constexpr double kPi = 3.14159265358979323846;
constexpr uint32_t kLeaf1Osxsave = 1u << 27;
constexpr uint32_t kLeaf1Avx = 1u << 28;
constexpr uint64_t kXcr0SseAvx = 0x6;  // XMM and YMM state
constexpr uint32_t kLeaf7Avx2 = 1u << 5;
constexpr int kSeedSamples = 4096;

#if TALV_HAVE_CPUID
// XGETBV with ECX = 0 (encoded as bytes: the mnemonic needs an assembler that knows it).
uint64_t ReadXcr0() {
  uint32_t lo = 0, hi = 0;
  __asm__ __volatile__(".byte 0x0f, 0x01, 0xd0" : "=a"(lo), "=d"(hi) : "c"(0));
  return (uint64_t(hi) << 32) | lo;
}
#endif

// The engine records the processor's level before any thread starts (static initialisation of this
// unit, which every engine build links through TDcBlock and KernelDescription).
const bool gKernelsSelected = [] {
  SetKernelLevelProbe(&DetectKernelLevel);
  SelectKernels();
  return true;
}();

}  // namespace

TCpuFeatures ReadCpuFeatures() {
  TCpuFeatures f;
#if TALV_HAVE_CPUID
  f.MaxLeaf = __get_cpuid_max(0, nullptr);
  if (f.MaxLeaf < 1) return f;
  unsigned a = 0, b = 0, c = 0, d = 0;
  __cpuid(1, a, b, c, d);
  f.Leaf1Ecx = c;
  // XGETBV faults unless the OS has enabled it (OSXSAVE).
  if ((f.Leaf1Ecx & kLeaf1Osxsave) != 0) {
    f.Xcr0 = ReadXcr0();
    f.HaveXcr0 = true;
  }
  // Leaf 7 beyond the highest leaf returns another leaf's data.
  if (f.MaxLeaf >= 7) {
    __cpuid_count(7, 0, a, b, c, d);
    f.Leaf7Ebx = b;
    f.HaveLeaf7 = true;
  }
#endif
  return f;
}

int KernelLevelFromFeatures(const TCpuFeatures& f) {
  if (f.MaxLeaf < 1) return 0;
  const bool avxFlags = (f.Leaf1Ecx & kLeaf1Avx) != 0 && (f.Leaf1Ecx & kLeaf1Osxsave) != 0;
  const bool osState = f.HaveXcr0 && (f.Xcr0 & kXcr0SseAvx) == kXcr0SseAvx;
  if (!avxFlags || !osState) return 0;
  if (f.MaxLeaf >= 7 && f.HaveLeaf7 && (f.Leaf7Ebx & kLeaf7Avx2) != 0) return 2;
  return 1;
}

int DetectKernelLevel() {
  return KernelLevelFromFeatures(ReadCpuFeatures());
}

int CpuKernelLevel() {
  static const int level = DetectKernelLevel();
  return level;
}

std::string KernelDescriptionFor(int level) {
  std::string text = "scalar kernels";
  if (level == 2) {
    text += " (CPU has AVX2)";
  } else if (level == 1) {
    text += " (CPU has AVX)";
  }
  return text;
}

std::string KernelDescription() {
  (void)gKernelsSelected;
  return KernelDescriptionFor(KernelLevel());
}

TDcBlock::TDcBlock(double sampleRate, double cornerHz) {
  if (!(sampleRate > 0.0)) sampleRate = 1.0;
  if (!(cornerHz > 0.0)) cornerHz = 500.0;
  Alpha = 2.0 * kPi * cornerHz / sampleRate;
  if (Alpha > 0.5) Alpha = 0.5;
  if (Alpha < 1e-7) Alpha = 1e-7;
}

void TDcBlock::Reset() {
  Primed = false;
  MeanI = 0.0;
  MeanQ = 0.0;
}

void TDcBlock::Process(TComplexF* samples, int count) {
  if (samples == nullptr || count <= 0) return;
  if (!Primed) {
    const int seed = std::min(count, kSeedSamples);
    double sumI = 0.0, sumQ = 0.0;
    for (int k = 0; k < seed; ++k) {
      sumI += samples[k].Re;
      sumQ += samples[k].Im;
    }
    MeanI = sumI / seed;
    MeanQ = sumQ / seed;
    Primed = true;
  }
  const double alpha = Alpha;
  double mi = MeanI, mq = MeanQ;
  for (int k = 0; k < count; ++k) {
    const double i = samples[k].Re;
    const double q = samples[k].Im;
    mi = mi + (i - mi) * alpha;
    mq = mq + (q - mq) * alpha;
    samples[k].Re = static_cast<float>(i - mi);
    samples[k].Im = static_cast<float>(q - mq);
  }
  MeanI = mi;
  MeanQ = mq;
}
