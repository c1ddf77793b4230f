#pragma once
// --selftest-paths: every way the engine finds channels must report the same channels for one
// simulated scene. The scanner's sweep, the dwell runner, the multi-channel live session, the
// one-channel live session and the monitor session each run on a fresh simulated receiver holding a
// strong carrier with weak sidebands and a second signal, and report the channel frequencies they
// find into one shared list (TCollected). Each path is judged against the scene: the carrier must be
// found, the second signal too where the path can see it, the carrier's mirror image about the tuning
// centre never, and nothing else at all.
//
// The sessions get the scene through the device override and play into null audio, so no receiver
// and no sound device are needed. Session threads add to the list through its own lock; each path
// stops and waits for its session before judging, so no report arrives during a judgement.
// The run takes about 15 s of real time (the sessions run as they would for a user).
#include <cstdint>
#include <memory>

#include "uAnalyzer.h"
#include "uSdrSim.h"
#include "uTalvConfig.h"

// The mode; true when every path passed (the program turns false into exit code 1).
bool RunPathTest();

// The scene (opened, on a fresh simulated receiver), the test settings of every path and the scan
// settings of the scanner and dwell paths.
std::shared_ptr<TSimDevice> MakePathScene();
TTalvConfig PathTestConfig();
TScanSettings PathScanSettings();

// The shared list: emptied, one frequency added (once), every hit's channel added. AddCollectedHits
// has the shape of the sessions' and the dwell runner's hits callback.
void ClearCollected();
void AddCollected(int64_t hz);
void AddCollectedHits(const TChannelHitArray& hits, void* userData = nullptr);

// Judges the collected list for one path and prints its verdict lines; name is 8 characters wide.
bool JudgePath(const char* name, bool secondExpected);

// The paths, each on its own scene; true = passed.
bool RunScannerPath();
bool RunDwellPath();
bool RunMultiPath();
bool RunLivePath();
bool RunMonitorPath();
