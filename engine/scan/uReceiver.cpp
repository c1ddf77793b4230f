#include "uReceiver.h"

#include <algorithm>
#include <cstdio>

#include "uTalvConfig.h"

namespace {
// Blocks beyond this would overflow the byte count of one read.
constexpr int32_t kMaxBlockSize = 1 << 28;
}  // namespace

TReceiver::TReceiver(TSdrDeviceRef device, plat::IClock& clock) : FDevice(std::move(device)), FClock(clock) {}

bool TReceiver::Fail(const std::string& text) {
  FLastError = text;
  return false;
}

bool TReceiver::Configure(double sampleRate, double gainDb, int32_t ppm, int32_t blockSize) {
  FConfigured = false;
  if (!FDevice) return Fail("no device");
  if (!FDevice->IsOpen()) return Fail("device not open");
  if (blockSize < 1 || blockSize > kMaxBlockSize) {
    char text[64];
    std::snprintf(text, sizeof text, "invalid block size %d", static_cast<int>(blockSize));
    return Fail(text);
  }
  if (!FDevice->SetSampleRate(sampleRate)) return Fail(FDevice->GetLastError());
  FSampleRate = FDevice->GetSampleRate();
  if (!(FSampleRate > 0)) FSampleRate = sampleRate;

  double previousGain = FGainDb;
  FGainDb = gainDb;
  FDevice->SetGain(gainDb);

  // An own gain control made for another requested gain would override the new one (an automatic
  // one would keep stepping a fixed gain): make it anew. A shared one belongs to its owner.
  if (FAutoGain && FOwnsAutoGain && gainDb != previousGain) FAutoGain.reset();
  if (!FAutoGain) {
    FAutoGain = std::make_shared<TAutoGain>(FDevice, gainDb, FClock);
    FOwnsAutoGain = true;
  } else {
    // The device was just set to the requested (automatic) gain; the kept control's gain is the one
    // in force.
    FAutoGain->ReapplyGain();
  }

  // Sent whenever it differs from the value this receiver last set (always the first time, as the
  // device may still carry an earlier holder's correction), so that 0 after 5 ppm takes effect.
  if (!FPpmSet || *FPpmSet != ppm) {
    if (FDevice->SetFreqCorrection(ppm)) FPpmSet = ppm;
  }

  FDcBlock.reset();
  if (FDevice->NeedsDcBlock()) FDcBlock = std::make_unique<TDcBlock>(FSampleRate, kDcCornerHz);

  FBlockSize = blockSize;
  FBytes.assign(static_cast<size_t>(blockSize) * 2, 0);
  FSamples.assign(static_cast<size_t>(blockSize), TComplexF{0, 0});
  // 2 ms of samples, as whole 512-byte units.
  int64_t discardSamples = RoundHalfEven(FSampleRate * 0.002);
  int64_t discardBytes = discardSamples > 0 ? (2 * discardSamples) / 512 * 512 : 0;
  if (discardBytes > 2 * static_cast<int64_t>(kMaxBlockSize))
    discardBytes = 2 * static_cast<int64_t>(kMaxBlockSize);
  FScratch.assign(static_cast<size_t>(discardBytes), 0);

  FConfigured = true;
  return true;
}

bool TReceiver::Retune(int64_t centreHz, int32_t settleMs) {
  if (!FConfigured) return Fail("not configured");
  if (!FDevice->SetCenterFreq(centreHz)) return Fail(FDevice->GetLastError());
  FDevice->ResetBuffer();
  if (FDcBlock) FDcBlock->Reset();
  if (settleMs > 0)
    plat::SleepUnlessStopped(FClock, static_cast<uint32_t>(std::min(settleMs, kMaxSettleMs)), FStop);
  if (!FScratch.empty()) {
    int32_t got = 0;
    FDevice->ReadSync(FScratch.data(), static_cast<int32_t>(FScratch.size()), got);  // outcome ignored
  }
  return true;
}

bool TReceiver::ReadOnce() {
  int32_t want = FBlockSize * 2;
  int32_t got = 0;
  if (!FDevice->ReadSync(FBytes.data(), want, got)) return Fail(FDevice->GetLastError());
  if (got < want) {
    char text[80];
    std::snprintf(text, sizeof text, "short read: %d of %d bytes", static_cast<int>(got),
                  static_cast<int>(want));
    return Fail(text);
  }
  if (FDevice->SamplesSigned())
    ConvertS8ToComplex(FBytes.data(), FSamples.data(), FBlockSize);
  else
    ConvertU8ToComplex(FBytes.data(), FSamples.data(), FBlockSize);
  if (FDcBlock) FDcBlock->Process(FSamples.data(), FBlockSize);
  return true;
}

bool TReceiver::ReadBlock(TComplexF*& samples, int32_t& count) {
  samples = nullptr;
  count = 0;
  if (!FConfigured) return Fail("not configured");
  for (int read = 0;; ++read) {
    if (!ReadOnce()) return false;
    if (!FAutoGain || !FAutoGain->Update(FSamples.data(), FBlockSize)) break;
    // The gain changed: what is buffered was received at the old gain.
    FDevice->ResetBuffer();
    if (FDcBlock) FDcBlock->Reset();
    FClock.SleepMs(kGainPauseMs);
    if (read >= kMaxGainRereads) break;
  }
  samples = FSamples.data();
  count = FBlockSize;
  return true;
}

void TReceiver::SetAutoGain(std::shared_ptr<TAutoGain> agc) {
  FAutoGain = std::move(agc);
  FOwnsAutoGain = false;
}

bool TReceiver::AgcSettled() {
  return !FAutoGain || FAutoGain->IsSettled();
}

TLevelClass TReceiver::AgcLevelClass() {
  return FAutoGain ? FAutoGain->LevelClass() : lsUnknown;
}
