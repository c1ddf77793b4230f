#pragma once
// --selftest-demod and --selftest-record: the audio side proved without hardware.
//
// The demodulation test feeds simulated FM and AM carriers through the channel demodulator, measures
// the tone that comes out (8192-point Hann-windowed FFT, strongest bin), and checks the size of a WAV
// file written by the WAV writer, which it deletes again. The recording test dwells on a simulated FM
// carrier with recording and play-all on (null audio, so no sound device is needed), checks the takes
// written and the level lane published, and then feeds synthetic audio straight into a channel
// recorder. Both print "# ..." lines, end with "# PASS ..." on success and set exit code 1 otherwise.
//
// The simulated receiver never waits, yet recorders, the squelch and the dwell runner measure hang,
// detection and dwell times on a clock. The recording test runs them on signal time: a clock moved
// only by the samples handed over, so every time they measure follows the signal exactly and the
// verdict depends neither on the timer's granularity nor on how fast the machine runs. The blocks
// and audio rounds are handed out at a receiver's pace on the real clock's tick count (a late
// wake-up is caught up by the next steps, never lost), so the run takes as long as the signal lasts.
// Files go to the user's temporary folder: the demodulation test leaves nothing, the recording test
// leaves its takes in "talvoran_rectest" until its next run empties it.
// Main thread only; the block hook runs on it too (the dwell is synchronous).
#include <cstdint>
#include <string>
#include <vector>

#include "pClock.h"
#include "uTalvConfig.h"

// The modes.
void RunDemodSelfTest();
// realClock paces the run (a manual clock runs it without waiting).
void RunRecordSelfTest(plat::IClock& realClock = plat::SystemClock());

// One demodulation case on the simulator; `beside` marks an informational run (no verdict word).
bool TestDemodTone(const char* name, TModulation modulation, double toneHz, double deviationHz, bool beside,
                   int64_t offsetHz);

// The strongest of bins 1..4095 of an 8192-point Hann-windowed FFT of the first 8192 samples (fewer
// are padded with zeros), as bin x sampleRate / 8192 Hz. power, when given, receives the power of
// bins 0..4095.
double MeasureTone(const float* samples, int32_t count, double sampleRate,
                   std::vector<double>* power = nullptr);

// Tone and RMS of a 16-bit mono WAV (44-byte header assumed), the tone over the middle 8192 samples.
// False, with both outputs 0, when the file cannot be read or holds 8192 samples or fewer.
bool MeasureWavFile(const std::string& path, double sampleRate, double& toneHz, double& rms);

// Synthetic audio into a channel recorder under root: one take of about 2 s must come out.
bool TestLiveRecording(const std::string& root, plat::IClock& realClock = plat::SystemClock());

// Deletes the files in path and in its direct sub-folders, those sub-folders and path itself;
// failures are ignored.
void ClearTestDir(const std::string& path);

// The user's temporary folder (UTF-8, no trailing separator unless it is a root).
std::string TempFolder();
