#pragma once
// --selftest: the scan chain proved without hardware. Every check builds its own simulated receiver
// (TSimDevice) with chosen noise, DC offset, settle behaviour and carriers, runs the real scanner,
// analyzer, receiver wrapper, automatic gain, spectrum tap, byte ring or HackRF gain mapping on it,
// and prints one verdict line per finding ("# OK   ...", "# FAIL ...", "# WARN ..."). The driver
// sweeps three tones first and checks the spectrum tap; then eleven scenarios run in a fixed order,
// each whatever the earlier ones gave. Any failure sets exit code 1; a clean run ends "# PASS ...".
//
// Single-threaded. Waits (gain settling between sweeps and reads) go through the clock handed in, so
// the program runs in real time and a test may hand in a manual clock. Each scenario owns and
// releases its receiver and objects; they share only the spectrum tap, which every sweep overwrites.
#include "pClock.h"

// The mode; console lines and exit code 1 on any failure.
void RunSelfTest(plat::IClock& clock = plat::SystemClock());

// The scenarios, in the driver's order; true = passed.
bool TestHackRfGain();
bool TestDcOffset(plat::IClock& clock = plat::SystemClock());
bool TestRing();
bool TestAgc(plat::IClock& clock = plat::SystemClock());
bool TestMerge(plat::IClock& clock = plat::SystemClock());
bool TestMirror(plat::IClock& clock = plat::SystemClock());
bool TestReceiver(plat::IClock& clock = plat::SystemClock());
bool TestLevel(plat::IClock& clock = plat::SystemClock());
bool TestGhost(plat::IClock& clock = plat::SystemClock());
bool TestRange(plat::IClock& clock = plat::SystemClock());
bool TestSettle(plat::IClock& clock = plat::SystemClock());
