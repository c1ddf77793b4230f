#pragma once
// Power sums to decibels, the last step of every spectrum: out[k] = Single(10 log10(max(sums[k] / scale,
// floor))), bit for bit what that plain expression gives with the C library's log10 on the build at
// hand (and so the same spectra on every build, as before).
//
// The C library has no vector logarithm on Windows, so the step carries its own: PowerDb evaluates
// 10 log10(p) in Double four values at a time (exponent and mantissa split by bits, the mantissa taken
// into [sqrt(1/2), sqrt(2)), ln of it by the atanh series of (m - 1) / (m + 1) to the tenth term), with
// an absolute error below PowerDbErrorBound for every p from 1e-30 to 1e35. The step then rounds that
// value to Single; where it lies closer than PowerDbMargin to a point where the rounding turns (a
// chance of about one in 30000 per value at the levels of a spectrum), or p is not finite or beyond
// the checked range, that one value is taken from the C library instead. Both errors together stay far
// inside the margin, so the rounded result is the library's in every case.
// Pure arithmetic: no allocation, no state; any thread. The vector path is SSE2 (every build) or AVX
// where the processor runs it; both do the same Double operations in the same order.
#include <cstdint>

// Absolute error of PowerDb in dB (measured far below: about 1e-13 over the range).
constexpr double PowerDbErrorBound = 1e-12;
// Distance from a rounding turn below which a value is taken from the C library.
constexpr double PowerDbMargin = 1e-10;

// 10 log10(p) by the step's own logarithm, for p in 1e-30 .. 1e35 (the range the step trusts it).
double PowerDb(double p);

// out[k] = Single(10 log10(max(Double(sums[k]) / scale, floorPower))) for k < count. Returns how many
// values were taken from the C library.
int32_t PowerSumsToDb(const float* sums, float* out, int32_t count, double scale, double floorPower);
// The same on the SSE2 path whatever the processor (for tests; the results are identical).
int32_t PowerSumsToDbSse2(const float* sums, float* out, int32_t count, double scale, double floorPower);
