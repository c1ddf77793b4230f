#pragma once
// Level measurement and software gain control for one receiver. TAutoGain measures every block the
// receiver delivers (RMS of the complex samples, peak of any single I or Q value, on the converter's
// scale where 1.0 is full scale), classifies it (TLevelClass) and logs when the class changes.
//
// For a receiver without gain control of its own whose gain is set to automatic, it also steps the
// receiver's gain (0..80 dB, at most 12 dB a step, at most one step per 300 ms) until the RMS lies in
// the band 0.04..0.16 without clipping. It never hunts for ever: after more than 8 steps without
// reaching the band, or when a stage is at its limit, it gives up, says so once in the log, and only
// measures from then on until the level is back in the band.
//
// Time comes from a plat::IClock so tests step through the 300 ms pauses without sleeping. Used only
// by the thread that reads the receiver; the receiver's gain is set from that thread. The receiver is
// reached only through IGainStage (uGainStage.h), so this unit knows nothing of receiver classes.
#include <cstdint>

#include "pClock.h"
#include "uDspTypes.h"
#include "uGainStage.h"

// Level of the last block; tested in the order clipping, loud, quiet, good.
enum TLevelClass : uint8_t {
  lsUnknown = 0,   // no block measured yet
  lsGood = 1,      // 0.04 <= rms <= 0.16 and peak < 0.85
  lsQuiet = 2,     // rms < 0.04
  lsLoud = 3,      // rms > 0.16
  lsClipping = 4,  // peak >= 0.85
};

class TAutoGain {
 public:
  static constexpr int32_t kStartGainDb = 40;
  static constexpr uint64_t kSettleMs = 300;
  static constexpr int32_t kMaxSteps = 8;

  // Active when the device is present, the requested gain is below 0 (automatic) and the device has
  // no automatic gain of its own; an active object sets the device to 40 dB at once.
  TAutoGain(TGainStageRef device, double requestedGainDb, plat::IClock& clock = plat::SystemClock());
  TAutoGain(const TAutoGain&) = delete;
  TAutoGain& operator=(const TAutoGain&) = delete;

  // Measures and classifies the block and, when active, takes one step if one is due. True when the
  // device gain was changed (the caller should drop what it has buffered and read again).
  bool Update(const TComplexF* samples, int32_t count);
  // True when inactive; otherwise when the level is in the band (or control gave up) and the last
  // step's 300 ms have passed.
  bool IsSettled();
  TLevelClass LevelClass() const;
  // Sets the device to the gain this object last chose (when active), for an owner that has just
  // reset the device's gain to automatic while keeping this object.
  void ReapplyGain();

  bool Active() const { return FActive; }
  int32_t GainDb() const { return FGainDb; }
  int32_t PrevGainDb() const { return FPrevGainDb; }
  int32_t Steps() const { return FSteps; }
  double Rms() const { return FRms; }
  double Peak() const { return FPeak; }
  bool Measured() const { return FMeasured; }

 private:
  TGainStageRef FDevice;
  plat::IClock& FClock;
  bool FActive = false;
  int32_t FGainDb = kStartGainDb;
  double FRms = 0;
  double FPeak = 0;
  uint64_t FSettleAt = 0;
  bool FSettled = false;
  bool FWarned = false;  // one flag for both give-up messages
  int32_t FPrevGainDb = kStartGainDb;
  int32_t FSteps = 0;
  TLevelClass FLastClass = lsUnknown;
  bool FMeasured = false;
};
