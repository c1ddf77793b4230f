#include "uSelfTest.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <limits>
#include <memory>
#include <string>
#include <vector>

#include "pConsoleOut.h"
#include "uAnalyzer.h"
#include "uAutoGain.h"
#include "uCliModes.h"
#include "uDspKernels.h"
#include "uEngineMain.h"
#include "uFreqText.h"
#include "uReceiver.h"
#include "uRing.h"
#include "uScanner.h"
#include "uSdrHackRf.h"
#include "uSdrSim.h"
#include "uSpecTap.h"

namespace {

// ---------------------------------------------------------------------------------------------
// Scenes on the simulated receiver

struct TCarrier {
  int64_t Hz;
  double Db;
};

// A simulator with this noise and these carriers, opened. The caller sets DC and settling before
// reading (the simulator takes them at any time).
std::shared_ptr<TSimDevice> NewSim(double noiseDb, const std::vector<TCarrier>& carriers) {
  auto sim = std::make_shared<TSimDevice>();
  sim->NoiseDb = noiseDb;
  for (const TCarrier& c : carriers) sim->AddCarrier(c.Hz, c.Db);
  sim->Open(0);
  return sim;
}

// Scan settings of a scenario: the defaults with these values, 4096 bins and no settle time.
TScanSettings SceneSettings(int64_t startHz, int64_t stopHz, double rate, int32_t averages,
                            double thresholdDb, int64_t gridHz, double gainDb) {
  TScanSettings s;
  DefaultScanSettings(s);
  s.StartHz = startHz;
  s.StopHz = stopHz;
  s.SampleRate = rate;
  s.FftSize = 4096;
  s.Averages = averages;
  s.ThresholdDb = thresholdDb;
  s.GridHz = gridHz;
  s.GainDb = gainDb;
  s.SettleMs = 0;
  return s;
}

bool Configure(const char* word, TScanner& scanner, const TScanSettings& s) {
  if (scanner.Configure(s)) return true;
  plat::WriteConsoleLine(std::string("# FAIL ") + word + ": configure: " + scanner.LastError());
  return false;
}

bool Sweep(const char* word, TScanner& scanner, TChannelHitArray& hits) {
  hits.clear();
  if (scanner.Sweep(hits, nullptr, nullptr)) return true;
  plat::WriteConsoleLine(std::string("# FAIL ") + word + ": sweep: " + scanner.LastError());
  return false;
}

// The first hit whose channel lies within grid of hz (bound included), or nullptr.
const TChannelHit* FindNear(const TChannelHitArray& hits, int64_t hz, int64_t grid) {
  for (const TChannelHit& h : hits)
    if (std::llabs(h.ChannelHz - hz) <= grid) return &h;
  return nullptr;
}

std::string MHz(int64_t hz) {
  return FormatMHz(hz);
}

// ---------------------------------------------------------------------------------------------
// Probes

// Four sweeps of the mirror scene at this gain; judged on the last.
bool MirrorSweep(plat::IClock& clock, double gainDb, int& count, bool& mirror, double& carrierSnr) {
  count = 0;
  mirror = false;
  carrierSnr = 0;
  auto sim = NewSim(-62, {{142950000, -65}});
  sim->SetDcOffset(0.0, 0.0046875);
  TScanner scanner(sim, clock);
  if (!Configure("mirror", scanner, SceneSettings(140000000, 144000000, 10000000, 8, 15, 5000, gainDb)))
    return false;
  TChannelHitArray hits;
  for (int i = 0; i < 4; ++i)
    if (!Sweep("mirror", scanner, hits)) return false;
  count = static_cast<int>(hits.size());
  if (const TChannelHit* c = FindNear(hits, 142950000, 5000)) carrierSnr = c->SnrDb;
  mirror = FindNear(hits, 141050000, 5000) != nullptr;
  return true;
}

// One sweep of the merge scene; the hit count, or -1 after a printed failure.
int MergeSweep(plat::IClock& clock, bool merge, int64_t& strongestHz, double& strongestSnr) {
  strongestHz = 0;
  strongestSnr = -999;
  auto sim =
      NewSim(-55, {{145000000, -6}, {144980000, -36}, {144960000, -38}, {145020000, -36}, {145040000, -38}});
  TScanner scanner(sim, clock);
  TScanSettings s = SceneSettings(144600000, 145800000, 2048000, 4, 12, 5000, 0);
  s.Merge = merge;
  if (!Configure("merge", scanner, s)) return -1;
  TChannelHitArray hits;
  if (!Sweep("merge", scanner, hits)) return -1;
  for (const TChannelHit& h : hits) {
    if (h.SnrDb > strongestSnr) {
      strongestSnr = h.SnrDb;
      strongestHz = h.ChannelHz;
    }
  }
  return static_cast<int>(hits.size());
}

// A receiver at fixed 0 dB on one block of this scene; the input level class it reports.
TLevelClass LevelProbe(plat::IClock& clock, double gainDb, double noiseDb, double carrierDb) {
  auto sim = NewSim(noiseDb, {{142950000, carrierDb}});
  TReceiver rx(sim, clock);
  rx.Configure(2048000, gainDb, 0, 32768);
  rx.Retune(142000000, 0);
  TComplexF* block = nullptr;
  int32_t n = 0;
  rx.ReadBlock(block, n);
  return rx.AgcLevelClass();
}

// Reads one 16384-pair block and hands it to the gain control; true when the gain changed.
bool AgcRound(ISdrDevice& dev, TAutoGain& agc, std::vector<uint8_t>& bytes, TComplexFArray& samples) {
  int32_t got = 0;
  dev.ReadSync(bytes.data(), static_cast<int32_t>(bytes.size()), got);
  const int32_t pairs = std::clamp(got, 0, static_cast<int32_t>(bytes.size())) / 2;
  ConvertU8ToComplex(bytes.data(), samples.data(), pairs);
  return agc.Update(samples.data(), pairs);
}

// Noise only at this level under automatic gain: settles, then must stay put for four rounds.
bool AgcProbe(plat::IClock& clock, double noiseDb, int& gainDb, double& rms, double& peak) {
  auto sim = NewSim(noiseDb, {});
  sim->SetSampleRate(2048000);
  sim->SetCenterFreq(145000000);
  TAutoGain agc(sim, -1, clock);
  if (!agc.Active()) {
    plat::WriteConsoleLine("# FAIL agc: not active although the device has no AGC");
    return false;
  }
  std::vector<uint8_t> bytes(32768);
  TComplexFArray samples(16384);
  for (int round = 0; round < 12; ++round) {
    if (!AgcRound(*sim, agc, bytes, samples)) break;
    clock.SleepMs(320);
  }
  gainDb = agc.GainDb();
  rms = agc.Rms();
  peak = agc.Peak();
  for (int round = 0; round < 4; ++round) {
    clock.SleepMs(320);
    if (AgcRound(*sim, agc, bytes, samples)) {
      PrintFmt("# FAIL agc: still moving after settling - %d dB (rms %.4f)", agc.GainDb(), agc.Rms());
      return false;
    }
  }
  return true;
}

bool InBand(double rms) {
  return rms >= 0.04 && rms <= 0.16;
}

}  // namespace

// ---------------------------------------------------------------------------------------------
// Scenarios

bool TestHackRfGain() {
  bool ok = true;
  struct TClampCase {
    const char* Label;
    int32_t (*Clamp)(int32_t);
    int32_t In, Want;
  };
  const TClampCase clamps[] = {
      {"lna 0", ClampLnaGain, 0, 0},    {"lna 7", ClampLnaGain, 7, 0},    {"lna 8", ClampLnaGain, 8, 8},
      {"lna 15", ClampLnaGain, 15, 8},  {"lna 40", ClampLnaGain, 40, 40}, {"lna 99", ClampLnaGain, 99, 40},
      {"lna -5", ClampLnaGain, -5, 0},  {"vga 1", ClampVgaGain, 1, 0},    {"vga 21", ClampVgaGain, 21, 20},
      {"vga 62", ClampVgaGain, 62, 62}, {"vga 99", ClampVgaGain, 99, 62},
  };
  for (const TClampCase& c : clamps) {
    const int32_t got = c.Clamp(c.In);
    if (got != c.Want) {
      PrintFmt("# FAIL %s gave %d, expected %d", c.Label, got, c.Want);
      ok = false;
    }
  }
  struct TSplitCase {
    int32_t Total, Lna, Vga;
  };
  const TSplitCase splits[] = {{0, 0, 0}, {20, 16, 4}, {40, 40, 0}, {50, 40, 10}, {200, 40, 62}};
  for (const TSplitCase& c : splits) {
    int32_t lna = -1, vga = -1;
    SplitHackRfGain(c.Total, lna, vga);
    if (lna != c.Lna || vga != c.Vga) {
      PrintFmt("# FAIL %d dB -> lna %d, vga %d (expected %d / %d)", c.Total, lna, vga, c.Lna, c.Vga);
      ok = false;
    }
  }
  if (ok) plat::WriteConsoleLine("# OK   hackrf gain mapping (lna 8 dB steps, vga 2 dB steps)");
  return ok;
}

bool TestDcOffset(plat::IClock& clock) {
  auto sim = NewSim(-40, {});
  sim->DcI = 0.05;  // Q takes the same offset
  TScanner scanner(sim, clock);
  if (!Configure("dc", scanner, SceneSettings(144000000, 152000000, 2048000, 4, 12, 12500, 0))) return false;
  TChannelHitArray hits;
  double worst = -1e30;
  for (int sweep = 1; sweep <= 2; ++sweep) {
    if (!Sweep("dc", scanner, hits)) return false;
    TSpecFrame frame;
    if (!GetSpecFrame(frame, 0, 0, 0) || frame.Bins.empty()) {
      plat::WriteConsoleLine("# FAIL dc: no frame published");
      return false;
    }
    const size_t count = frame.Bins.size();
    const double centre = frame.Bins[count / 2];
    TSingleArray sorted = frame.Bins;
    std::sort(sorted.begin(), sorted.end());
    const double floor = sorted[count / 2];
    const double excess = centre - floor;
    PrintFmt("# OK   dc: sweep %d centre bin %.1f dB, floor %.1f dB, excess %.1f dB", sweep, centre, floor,
             excess);
    worst = std::max(worst, excess);
  }
  if (worst > 20) {
    PrintFmt("# FAIL dc: the offset is not being removed (%.1f dB)", worst);
    return false;
  }
  return true;
}

bool TestRing() {
  std::vector<uint8_t> source(4096);
  for (size_t i = 0; i < source.size(); ++i) source[i] = static_cast<uint8_t>(i % 256);
  TByteRing ring(4096, 2);
  ring.Write(source.data(), 4095);
  int32_t n = ring.Write(source.data(), 100);
  if (n != 0) {
    PrintFmt("# FAIL ring wrote %d byte(s) into 1 byte of space", n);
    return false;
  }
  uint8_t two[2];
  ring.Read(two, 2);
  n = ring.Write(source.data(), 100);
  if (n != 2) {
    PrintFmt("# FAIL ring wrote %d byte(s) into 3 bytes of space (expected 2)", n);
    return false;
  }
  plat::WriteConsoleLine("# OK   ring keeps I/Q pairs whole when it overflows");
  return true;
}

bool TestAgc(plat::IClock& clock) {
  int quietGain = 0, loudGain = 0;
  double quietRms = 0, quietPeak = 0, loudRms = 0, loudPeak = 0;
  if (!AgcProbe(clock, -80, quietGain, quietRms, quietPeak)) return false;
  bool ok = true;
  if (!InBand(quietRms)) {
    PrintFmt("# FAIL agc: quiet signal left at rms %.4f (want %.2f..%.2f), gain %d dB", quietRms, 0.04, 0.16,
             quietGain);
    ok = false;
  }
  if (!AgcProbe(clock, -30, loudGain, loudRms, loudPeak)) return false;
  if (loudPeak >= 0.85) {
    PrintFmt("# FAIL agc: loud signal still peaks at %.3f, gain %d dB", loudPeak, loudGain);
    ok = false;
  }
  if (!InBand(loudRms)) {
    PrintFmt("# FAIL agc: loud signal left at rms %.4f (want %.2f..%.2f), gain %d dB", loudRms, 0.04, 0.16,
             loudGain);
    ok = false;
  }
  if (loudGain >= quietGain) {
    PrintFmt("# FAIL agc: loud signal got %d dB, quiet one %d dB", loudGain, quietGain);
    ok = false;
  }
  if (ok)
    PrintFmt("# OK   agc: quiet -> %d dB (rms %.3f), loud -> %d dB (peak %.3f)", quietGain, quietRms,
             loudGain, loudPeak);
  return ok;
}

bool TestMerge(plat::IClock& clock) {
  int64_t hzA = 0, hzB = 0;
  double snrA = 0, snrB = 0;
  const int a = MergeSweep(clock, false, hzA, snrA);
  if (a < 0) return false;
  const int b = MergeSweep(clock, true, hzB, snrB);
  if (b < 0) return false;
  bool ok = true;
  if (a <= 2) {
    PrintFmt("# FAIL merge: only %d hit(s) without merging - the test signal is not producing sidebands", a);
    ok = false;
  }
  if (b != 1) {
    PrintFmt("# FAIL merge: %d channel(s) with merging (expected 1), %d without", b, a);
    ok = false;
  }
  if (hzB != 145000000) {
    PrintFmt("# FAIL merge: kept %s instead of the carrier", MHz(hzB).c_str());
    ok = false;
  }
  if (ok) PrintFmt("# OK   merge: %d grid slot(s) -> 1 channel at %s (%.1f dB)", a, MHz(hzB).c_str(), snrB);
  return ok;
}

bool TestMirror(plat::IClock& clock) {
  int fixedCount = 0, autoCount = 0;
  bool fixedMirror = false, autoMirror = false;
  double fixedSnr = 0, autoSnr = 0;
  if (!MirrorSweep(clock, 0, fixedCount, fixedMirror, fixedSnr)) return false;
  if (!MirrorSweep(clock, -1, autoCount, autoMirror, autoSnr)) return false;
  bool ok = true;
  if (!fixedMirror) {
    PrintFmt(
        "# FAIL mirror: gain 0 dB produced no mirror at all (%d channel(s)) - the test signal no longer "
        "reproduces the fault",
        fixedCount);
    ok = false;
  }
  if (autoMirror) {
    PrintFmt("# FAIL mirror: still mirrored with automatic gain (%d channel(s), carrier %.1f dB)", autoCount,
             autoSnr);
    ok = false;
  }
  if (ok)
    PrintFmt("# OK   mirror: gain 0 dB -> %d channel(s) incl. mirror, automatic -> %d, carrier %.1f dB",
             fixedCount, autoCount, autoSnr);
  return ok;
}

bool TestReceiver(plat::IClock& clock) {
  auto sim = NewSim(-62, {{142950000, -65}});
  sim->SetDcOffset(0.0, 0.0046875);
  TScanSettings s;
  DefaultScanSettings(s);
  s.SampleRate = 10000000;
  s.FftSize = 4096;
  s.Averages = 8;
  s.ThresholdDb = 15;
  s.GridHz = 5000;
  TReceiver rx(sim, clock);
  TSpectrumAnalyzer analyzer(s);
  if (!rx.Configure(10000000, -1, 0, analyzer.SamplesNeeded())) {
    plat::WriteConsoleLine("# FAIL receiver: configure: " + rx.LastError());
    return false;
  }
  if (!rx.Retune(142000000, 0)) {
    plat::WriteConsoleLine("# FAIL receiver: retune: " + rx.LastError());
    return false;
  }
  TComplexF* block = nullptr;
  int32_t n = 0;
  int rounds = 0;
  bool settled = false;
  while (rounds < 10) {
    ++rounds;
    if (!rx.ReadBlock(block, n)) {
      plat::WriteConsoleLine("# FAIL receiver: read: " + rx.LastError());
      return false;
    }
    if (rx.AgcSettled()) {
      settled = true;
      break;
    }
    clock.SleepMs(350);
  }
  if (!settled) {
    plat::WriteConsoleLine("# FAIL receiver: gain control never settled");
    return false;
  }
  TChannelHitArray hits;
  const double floor = analyzer.Analyze(block, 142000000, std::numeric_limits<int64_t>::min(),
                                        std::numeric_limits<int64_t>::max(), hits);
  bool ok = true;
  if (!FindNear(hits, 142950000, 5000)) {
    plat::WriteConsoleLine("# FAIL receiver: carrier " + MHz(142950000) + " not reported");
    ok = false;
  }
  if (FindNear(hits, 141050000, 5000)) {
    plat::WriteConsoleLine("# FAIL receiver: mirror " + MHz(141050000) +
                           " reported - the gain control settled but the level is still wrong");
    ok = false;
  }
  if (ok)
    PrintFmt("# OK   receiver: %s, noise %.1f dB, %d round(s) to settle", MHz(142950000).c_str(), floor,
             rounds);
  return ok;
}

bool TestLevel(plat::IClock& clock) {
  const TLevelClass quiet = LevelProbe(clock, 0, -85, -60);
  const TLevelClass good = LevelProbe(clock, 0, -40, -25);
  const TLevelClass loud = LevelProbe(clock, 0, -3, 3);
  bool ok = true;
  if (quiet != lsQuiet) {
    PrintFmt("# FAIL level: expected lsQuiet, got %d", static_cast<int>(quiet));
    ok = false;
  }
  if (good != lsGood) {
    PrintFmt("# FAIL level: expected lsGood, got %d", static_cast<int>(good));
    ok = false;
  }
  if (loud != lsLoud && loud != lsClipping) {
    PrintFmt("# FAIL level: expected lsLoud or lsClipping, got %d", static_cast<int>(loud));
    ok = false;
  }
  if (ok)
    PrintFmt("# OK   level: fixed gain classifies quiet/good/loud correctly (%d/%d/%d)",
             static_cast<int>(quiet), static_cast<int>(good), static_cast<int>(loud));
  return ok;
}

bool TestGhost(plat::IClock& clock) {
  auto sim = NewSim(-70, {{142950000, -20}});
  sim->SettleSamples = 2000;
  TScanner scanner(sim, clock);
  if (!Configure("ghost", scanner, SceneSettings(141000000, 145000000, 2048000, 8, 40, 5000, 0)))
    return false;
  if (scanner.HopCount() < 2) {
    plat::WriteConsoleLine("# FAIL ghost: test needs at least 2 hops, got " +
                           std::to_string(scanner.HopCount()));
    return false;
  }
  TChannelHitArray hits;
  if (!Sweep("ghost", scanner, hits)) return false;
  bool ok = true;
  if (!FindNear(hits, 142950000, 5000)) {
    plat::WriteConsoleLine("# FAIL ghost: real signal " + MHz(142950000) + " not reported");
    ok = false;
  }
  const TChannelHit* phantom = nullptr;
  for (const TChannelHit& h : hits)
    if (std::llabs(h.ChannelHz - 142950000) > 50000) phantom = &h;
  if (phantom) {
    plat::WriteConsoleLine("# FAIL ghost: phantom at " + MHz(phantom->ChannelHz) +
                           " - previous hop's data leaked into this one");
    ok = false;
  }
  if (ok) PrintFmt("# OK   ghost: %d hop(s), only %s reported", scanner.HopCount(), MHz(142950000).c_str());
  return ok;
}

bool TestRange(plat::IClock& clock) {
  auto sim = NewSim(-70, {{141600000, -20}, {144500000, -15}});
  TScanner scanner(sim, clock);
  if (!Configure("range", scanner, SceneSettings(141000000, 143000000, 4096000, 8, 40, 5000, 0)))
    return false;
  TChannelHitArray hits;
  if (!Sweep("range", scanner, hits)) return false;
  bool ok = true;
  if (!FindNear(hits, 141600000, 5000)) {
    plat::WriteConsoleLine("# FAIL range: in-range signal " + MHz(141600000) + " missing");
    ok = false;
  }
  if (FindNear(hits, 144500000, 5000)) {
    plat::WriteConsoleLine("# FAIL range: out-of-range signal " + MHz(144500000) +
                           " reported despite being outside Start..Stop");
    ok = false;
  }
  if (ok)
    PrintFmt("# OK   range: %s in, %s correctly dropped", MHz(141600000).c_str(), MHz(144500000).c_str());
  return ok;
}

bool TestSettle(plat::IClock& clock) {
  auto sim = NewSim(-45, {{142950000, -40}});
  TScanner scanner(sim, clock);
  if (!Configure("settle", scanner, SceneSettings(141000000, 145000000, 2048000, 4, 12, 5000, -1)))
    return false;
  TChannelHitArray hits;
  for (int sweep = 1; sweep <= 10; ++sweep) {
    if (!Sweep("settle", scanner, hits)) return false;
    if (!hits.empty()) {
      PrintFmt("# OK   settle: reported within %d sweep(s)", sweep);
      return true;
    }
    clock.SleepMs(350);
  }
  plat::WriteConsoleLine(
      "# FAIL settle: still nothing reported after 10 sweeps - the gain control never signalled settled");
  return false;
}

// ---------------------------------------------------------------------------------------------
// Driver

void RunSelfTest(plat::IClock& clock) {
  plat::WriteConsoleLine("# selftest: synthetic device, no hardware required");
  plat::WriteConsoleLine("# SIMD: " + KernelDescription());

  const int64_t tones[3] = {144312500, 145187500, 145741300};  // the third lies off the raster
  auto sim = NewSim(-60, {{tones[0], -25}, {tones[1], -25}, {tones[2], -25}});
  const TScanSettings s = SceneSettings(144000000, 146000000, 2048000, 8, 12, 12500, 0);
  auto scanner = std::make_unique<TScanner>(sim, clock);
  if (!scanner->Configure(s)) {
    plat::WriteConsoleLine("# FAIL configure: " + scanner->LastError());
    SetExitCode(1);
    return;
  }
  PrintFmt("# %d hops, bin %.1f Hz, usable %.0f Hz", scanner->HopCount(), scanner->BinWidth(),
           scanner->UsableSpan());
  TChannelHitArray hits;
  const uint64_t t0 = clock.NowMs();
  if (!scanner->Sweep(hits, nullptr, nullptr)) {
    plat::WriteConsoleLine("# FAIL sweep: " + scanner->LastError());
    SetExitCode(1);
    return;
  }
  PrintFmt("# sweep took %d ms", static_cast<int>(clock.NowMs() - t0));
  PrintHits(hits, false);

  bool ok = true;
  int found = 0;
  int64_t worstPeakError = 0;
  for (int64_t tone : tones) {
    const int64_t channel = RoundToStep(tone, s.GridHz);
    const auto hit =
        std::find_if(hits.begin(), hits.end(), [&](const TChannelHit& h) { return h.ChannelHz == channel; });
    if (hit == hits.end()) {
      PrintFmt("# FAIL tone %s not detected on channel %s", MHz(tone).c_str(), MHz(channel).c_str());
      ok = false;
      continue;
    }
    ++found;
    const int64_t peakError = std::llabs(hit->PeakHz - tone);
    worstPeakError = std::max(worstPeakError, peakError);
    PrintFmt("# OK   %s  snr %.1f dB  peak error %lld Hz", MHz(channel).c_str(), hit->SnrDb,
             static_cast<long long>(peakError));
  }
  if (hits.size() > 3)
    PrintFmt("# WARN %d extra detection(s) - noise or spectral leakage", static_cast<int>(hits.size()) - 3);

  // The spectrum tap holds what the sweep's last hop published.
  TSpecFrame frame;
  if (!GetSpecFrame(frame, 256, 0, 0)) {
    plat::WriteConsoleLine("# FAIL the sweep published no spectrum frame");
    ok = false;
  } else {
    for (const TChannelHit& mark : frame.Hits) {
      const bool known = std::any_of(hits.begin(), hits.end(),
                                     [&](const TChannelHit& h) { return h.ChannelHz == mark.ChannelHz; });
      if (!known) {
        PrintFmt("# FAIL mark %s is not a detected channel", MHz(mark.ChannelHz).c_str());
        ok = false;
      }
    }
    PrintFmt("# OK   spectrum tap: %d bin(s), %d mark(s) on the last hop",
             static_cast<int>(frame.Bins.size()), static_cast<int>(frame.Hits.size()));
    const int64_t offChannel = RoundToStep(tones[2], s.GridHz);
    const auto mark = std::find_if(frame.Hits.begin(), frame.Hits.end(),
                                   [&](const TChannelHit& h) { return h.ChannelHz == offChannel; });
    if (mark == frame.Hits.end()) {
      plat::WriteConsoleLine("# FAIL no mark for the off-grid tone");
      ok = false;
    } else {
      const int64_t apart = std::llabs(mark->PeakHz - mark->ChannelHz);
      const int64_t offTone = std::llabs(mark->PeakHz - tones[2]);
      PrintFmt("# OK   off-grid tone: channel %s, peak %s (%lld Hz apart, %lld Hz off the tone)",
               MHz(mark->ChannelHz).c_str(), MHz(mark->PeakHz).c_str(), static_cast<long long>(apart),
               static_cast<long long>(offTone));
      if (RoundHalfEven(scanner->BinWidth()) < offTone) {
        plat::WriteConsoleLine("# FAIL the measured peak is not on the tone");
        ok = false;
      }
    }

    TSpecFrame crop;
    if (!GetSpecFrame(crop, 256, offChannel - 10000, offChannel + 10000)) {
      plat::WriteConsoleLine("# FAIL no cropped frame");
      ok = false;
    } else {
      double lo = 1e30, hi = -1e30;
      for (float b : crop.Bins) {
        lo = std::min(lo, static_cast<double>(b));
        hi = std::max(hi, static_cast<double>(b));
      }
      PrintFmt("# OK   cropped view: %d bin(s), %s .. %s, %.0f .. %.0f dB",
               static_cast<int>(crop.Bins.size()), MHz(crop.LoHz).c_str(), MHz(crop.HiHz).c_str(), lo, hi);
      if (hi - lo < 20) {
        plat::WriteConsoleLine("# FAIL cropped view is flat - the signal is not in it");
        ok = false;
      }
      if (tones[2] < crop.LoHz || tones[2] > crop.HiHz) {
        plat::WriteConsoleLine("# FAIL cropped view does not contain the tone");
        ok = false;
      }
    }
  }
  const double binWidth = scanner->BinWidth();
  scanner.reset();
  sim.reset();

  // Every scenario runs whatever the earlier ones gave.
  const bool scenarios[] = {TestHackRfGain(), TestDcOffset(clock), TestRing(),          TestAgc(clock),
                            TestMerge(clock), TestMirror(clock),   TestReceiver(clock), TestLevel(clock),
                            TestGhost(clock), TestRange(clock),    TestSettle(clock)};
  for (bool passed : scenarios) ok = ok && passed;

  if (ok)
    PrintFmt("# PASS %d/%d tones, worst peak error %lld Hz (bin %.1f Hz)", found, 3,
             static_cast<long long>(worstPeakError), binWidth);
  else
    SetExitCode(1);
}
