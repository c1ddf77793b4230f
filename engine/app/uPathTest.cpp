#include "uPathTest.h"

#include <algorithm>
#include <cstdlib>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "pConsoleOut.h"
#include "pSystem.h"
#include "uAudioOut.h"
#include "uCliModes.h"
#include "uDwell.h"
#include "uFreqText.h"
#include "uLive.h"
#include "uMonitor.h"
#include "uMultiLive.h"
#include "uScanner.h"
#include "uSdrDevices.h"
#include "uSdrSim.h"
#include "uSpecTap.h"
#include "uTalvConfig.h"

namespace {

constexpr int64_t kCarrierHz = 142950000;
constexpr int64_t kSecondHz = 141600000;
constexpr int64_t kMirrorHz = 141050000;  // the carrier mirrored about the 142 MHz tuning centre
constexpr int64_t kCentreHz = 142000000;
constexpr int64_t kToleranceHz = 5000;

struct TCollected {
  std::mutex Lock;
  std::vector<int64_t> Hz;  // in order of insertion, each once
};
TCollected gCollected;

bool Near(int64_t hz, int64_t target) {
  return std::llabs(hz - target) <= kToleranceHz;
}

// Prepares a session, runs it for ms milliseconds, then stops and waits for it. False (with the
// path's failure line) when it could not be prepared or started.
template <class TSession>
bool RunSessionFor(TSession& session, const char* word, uint32_t ms) {
  if (!session.Prepare()) {
    plat::WriteConsoleLine(std::string("# FAIL ") + word + ": prepare: " + session.LastError());
    return false;
  }
  if (!session.Start()) {
    plat::WriteConsoleLine(std::string("# FAIL ") + word + ": cannot start the session thread");
    return false;
  }
  plat::SleepMs(ms);
  session.Stop();
  session.WaitFor();
  return true;
}

}  // namespace

std::shared_ptr<TSimDevice> MakePathScene() {
  auto sim = std::make_shared<TSimDevice>();
  // Enough noise to dither the 8-bit converter once the gain control has raised the gain: at -85 dB
  // the stream is nearly noiseless and the rounding of the tones leaves products 14 to 15.5 dB above
  // the floor of a two-segment spectrum, so whether a session reported one depended on which blocks
  // it happened to analyse. At -75 dB nothing beyond the scene comes within 3 dB of the threshold.
  sim->NoiseDb = -75;
  sim->SetDcOffset(0.0, 0.0046875);
  sim->AddCarrier(142950000, -40);
  sim->AddCarrier(142930000, -70);
  sim->AddCarrier(142970000, -70);
  sim->AddCarrier(142910000, -72);
  sim->AddCarrier(142990000, -72);
  sim->AddCarrier(141600000, -64);
  sim->Open(0);
  return sim;
}

TTalvConfig PathTestConfig() {
  TTalvConfig c;
  ConfigDefaults(c);
  c.StartHz = 140000000;
  c.StopHz = 144000000;
  c.SampleRate = 10000000;
  c.SnrDb = 15.0;
  c.GridHz = 5000;
  c.GainDb = -1.0;
  c.NFft = 4096;
  c.AvgSegments = 8;
  c.SettleMs = 0;
  c.RecordAudio = false;
  c.MergeChannels = true;
  c.Modulation = modNFM;
  c.MaxDwellMs = 3000;
  return c;
}

TScanSettings PathScanSettings() {
  return ScanSettingsFromConfig(PathTestConfig());
}

void ClearCollected() {
  std::lock_guard<std::mutex> guard(gCollected.Lock);
  gCollected.Hz.clear();
}

void AddCollected(int64_t hz) {
  std::lock_guard<std::mutex> guard(gCollected.Lock);
  if (std::find(gCollected.Hz.begin(), gCollected.Hz.end(), hz) == gCollected.Hz.end())
    gCollected.Hz.push_back(hz);
}

void AddCollectedHits(const TChannelHitArray& hits, void*) {
  for (const TChannelHit& h : hits) AddCollected(h.ChannelHz);
}

bool JudgePath(const char* name, bool secondExpected) {
  std::string list;
  bool carrier = false, second = false, mirror = false;
  int beyond = 0;
  {
    std::lock_guard<std::mutex> guard(gCollected.Lock);
    for (int64_t hz : gCollected.Hz) {
      list += " " + FormatMHz(hz);
      if (Near(hz, kCarrierHz))
        carrier = true;
      else if (Near(hz, kSecondHz))
        second = true;
      else if (Near(hz, kMirrorHz))
        mirror = true;
      else
        ++beyond;  // sidebands included: merging must fold them into the carrier
    }
  }
  bool ok = true;
  if (!carrier) {
    PrintFmt("# FAIL %s: carrier %s not reported", name, FormatMHz(kCarrierHz).c_str());
    ok = false;
  }
  if (secondExpected && !second) {
    PrintFmt("# FAIL %s: second signal %s not reported", name, FormatMHz(kSecondHz).c_str());
    ok = false;
  }
  if (mirror) {
    PrintFmt("# FAIL %s: reported the mirror at %s", name, FormatMHz(kMirrorHz).c_str());
    ok = false;
  }
  if (beyond > 0) {
    PrintFmt("# FAIL %s: %d channel(s) beyond the scene -%s", name, beyond, list.c_str());
    ok = false;
  }
  if (ok) PrintFmt("# OK   %s:%s", name, list.c_str());
  return ok;
}

bool RunScannerPath() {
  ClearCollected();
  auto scanner = std::make_unique<TScanner>(MakePathScene());
  if (!scanner->Configure(PathScanSettings())) {
    plat::WriteConsoleLine("# FAIL scanner: configure: " + scanner->LastError());
    return false;
  }
  TChannelHitArray hits;
  for (int sweep = 0; sweep < 8; ++sweep) {
    hits.clear();
    if (!scanner->Sweep(hits, nullptr, nullptr)) {
      plat::WriteConsoleLine("# FAIL scanner: sweep: " + scanner->LastError());
      return false;
    }
    plat::SleepMs(350);
  }
  AddCollectedHits(hits);
  return JudgePath("scanner ", true);
}

bool RunDwellPath() {
  ClearCollected();
  auto sim = MakePathScene();
  sim->SetSampleRate(10000000);
  sim->SetCenterFreq(kCentreHz);
  {
    TDwellRunner runner(sim, PathTestConfig(), PathScanSettings(), "");
    TChannelHit hit;
    hit.ChannelHz = kCarrierHz;
    hit.PeakHz = kCarrierHz;
    hit.SnrDb = 40.0;
    hit.HopCenterHz = kCentreHz;
    runner.Run(kCentreHz, 140000000, 144000000, TChannelHitArray{hit}, 3000, AddCollectedHits, nullptr,
               nullptr);
  }
  return JudgePath("dwell   ", true);
}

bool RunMultiPath() {
  ClearCollected();
  bool ran = false;
  {
    TDeviceOverrideScope scene(MakePathScene());
    TMultiLiveSession session(PathTestConfig());
    session.OnHits = AddCollectedHits;
    ran = RunSessionFor(session, "multi", 4000);
  }
  return ran && JudgePath("multi   ", true);
}

bool RunLivePath() {
  ClearCollected();
  bool ran = false;
  {
    TDeviceOverrideScope scene(MakePathScene());
    TLiveSession session(PathTestConfig(), kCarrierHz, modNFM);
    session.OnHits = AddCollectedHits;
    ran = RunSessionFor(session, "live", 4000);
  }
  // One tuning beside the carrier cannot see the second signal.
  return ran && JudgePath("live    ", false);
}

bool RunMonitorPath() {
  ClearCollected();
  bool ran = false;
  {
    TDeviceOverrideScope scene(MakePathScene());
    TMonitorSession session(PathTestConfig(), kCentreHz, 0);
    if (!session.Prepare()) {
      plat::WriteConsoleLine("# FAIL monitor: prepare: " + session.LastError());
    } else if (!session.Start()) {
      plat::WriteConsoleLine("# FAIL monitor: cannot start the session thread");
    } else {
      for (int i = 0; i < 40; ++i) {
        plat::SleepMs(100);
        session.Poll(kCentreHz);
        // Only the monitor's own frames: the tap may still hold the live path's last one.
        TSpecFrame frame;
        if (GetSpecFrame(frame, 64, 0, 0) && frame.Label == "monitor")
          for (const TChannelHit& h : frame.Hits) AddCollected(h.ChannelHz);
      }
      session.Stop();
      session.WaitFor();
      ran = true;
    }
  }
  return ran && JudgePath("monitor ", true);
}

bool RunPathTest() {
  plat::WriteConsoleLine("# scene: carrier " + FormatMHz(kCarrierHz) + " + sidebands, second signal " +
                         FormatMHz(kSecondHz) + ", mirror would be " + FormatMHz(kMirrorHz));
  SetNullAudio(true);
  // Every path runs whatever the earlier ones gave.
  const bool results[] = {RunScannerPath(), RunDwellPath(), RunMultiPath(), RunLivePath(), RunMonitorPath()};
  SetNullAudio(false);
  const bool ok = std::all_of(std::begin(results), std::end(results), [](bool r) { return r; });
  plat::WriteConsoleLine(ok ? "# PASS all paths agree on the scene" : "# FAIL paths disagree - see above");
  return ok;
}
