// The dwell runner on one hop with 8 active NFM channels, each recorded by its own demodulator,
// plus single-channel playback (squelch and a null wave output) and the level tap: the whole per-block
// work of a dwell at 2.048 MS/s, detection every 200 ms included. The receiver replays 64 blocks
// synthesised once by the simulated receiver, so the synthesis is not measured; takes are written to a
// temporary folder and discarded at the end of each run (their minimum length is never reached).
//   dwell.8rec+play/64blocks   one run of 64 blocks (about 1 s of signal); "xRT" is seconds of signal
//                              per second of work, so 1/xRT is the share of one core it needs.
#include <atomic>
#include <cstring>
#include <string>
#include <vector>

#include "BenchSupport.h"
#include "pClock.h"
#include "pFs.h"
#include "pSystem.h"
#include "uAudioOut.h"
#include "uDwell.h"
#include "uLevelTap.h"
#include "uSdrSim.h"

namespace {

constexpr double InRate = 2048000.0;
constexpr int32_t Block = 32768;
constexpr int32_t Blocks = 64;
constexpr int64_t Centre = 145000000;

// Replays recorded bytes as an open receiver that never fails.
class TReplayDevice : public ISdrDevice {
 public:
  explicit TReplayDevice(std::vector<uint8_t> bytes) : FBytes(std::move(bytes)) {}
  TSdrKind Kind() override { return skNone; }
  std::string GetName() override { return "replay"; }
  std::string GetLastError() override { return ""; }
  bool NeedsDcBlock() override { return false; }
  bool HasHardwareAgc() override { return false; }
  bool Open(int32_t) override { return true; }
  void Close() override {}
  bool IsOpen() override { return true; }
  void GetLimits(TSdrLimits& limits) override { TSimDevice().GetLimits(limits); }
  bool SamplesSigned() override { return false; }
  bool SetCenterFreq(int64_t hz) override { return true; }
  int64_t GetCenterFreq() override { return Centre; }
  bool SetSampleRate(double) override { return true; }
  double GetSampleRate() override { return InRate; }
  bool SetGain(double) override { return true; }
  bool SetFreqCorrection(int32_t) override { return true; }
  bool ReadSync(uint8_t* buffer, int32_t count, int32_t& bytesRead) override {
    for (int32_t done = 0; done < count;) {
      const int32_t n = std::min<int32_t>(count - done, static_cast<int32_t>(FBytes.size() - FPos));
      std::memcpy(buffer + done, FBytes.data() + FPos, static_cast<size_t>(n));
      done += n;
      FPos = (FPos + static_cast<size_t>(n)) % FBytes.size();
    }
    bytesRead = count;
    return true;
  }
  bool ResetBuffer() override { return true; }
  bool StartAsync(TSdrSampleCallback, void*) override { return false; }
  void StopAsync() override {}
  bool IsStreaming() override { return false; }

 private:
  std::vector<uint8_t> FBytes;
  size_t FPos = 0;
};

struct TBenchScene {
  plat::TManualClock Clock;
  int Polls = 0;
  static bool Abort(void* p) {
    static_cast<TBenchScene*>(p)->Clock.Advance(16);  // one block of time per read
    return false;
  }
};

void BM_Dwell8RecordersAndPlayback(benchmark::State& state) {
  TSimDevice sim;
  sim.Open(0);
  sim.SetSampleRate(InRate);
  sim.SetCenterFreq(Centre);
  TChannelHitArray hits;
  for (int k = 0; k < 8; ++k) {
    const int64_t hz = Centre - 400000 + k * 100000;
    sim.AddFmTone(hz, -24, 700 + 100 * k, 2500);
    TChannelHit h;
    h.ChannelHz = h.PeakHz = hz;
    h.SnrDb = 40;
    h.HopCenterHz = Centre;
    hits.push_back(h);
  }
  std::vector<uint8_t> bytes(static_cast<size_t>(Block) * 2 * Blocks);
  int32_t got = 0;
  sim.ReadSync(bytes.data(), static_cast<int32_t>(bytes.size()), got);

  const std::string root =
      plat::GetEnv("TMPDIR").empty() ? "/tmp/talv-dwell-bench" : plat::GetEnv("TMPDIR") + "/talv-dwell-bench";
  TTalvConfig cfg;
  ConfigDefaults(cfg);
  cfg.MinRecordMs = 1000000;  // every take is discarded
  cfg.SnrDb = 20;
  TScanSettings scan;
  DefaultScanSettings(scan);
  ApplyConfigToScanSettings(scan, cfg);
  scan.GainDb = 0;
  SetNullAudio(true);
  std::atomic<int64_t> playHz{hits[3].ChannelHz};
  TBenchScene scene;
  auto device = std::make_shared<TReplayDevice>(std::move(bytes));
  TDwellRunner runner(device, cfg, scan, root, scene.Clock);
  runner.PlayHzRef = &playHz;
  for (auto _ : state) {
    const TDwellResult r = runner.Run(Centre, Centre - 870400, Centre + 870400, hits, Blocks * 16 - 1,
                                      nullptr, &TBenchScene::Abort, &scene);
    if (r != drMaxDwell) state.SkipWithError("the dwell did not run to its maximum");
  }
  SetNullAudio(false);
  ClearLevelLanes();
  // The channel folders are left empty by the discarded takes.
  std::vector<plat::TDirEntry> entries;
  plat::ListDirectory(root, entries);
  for (const auto& e : entries) plat::RemoveEmptyDirectory(JoinPath(root, e.Name));
  plat::RemoveEmptyDirectory(root);
  const double secondsPerIteration = Blocks * static_cast<double>(Block) / InRate;
  state.counters["xRT"] = benchmark::Counter(secondsPerIteration * static_cast<double>(state.iterations()),
                                             benchmark::Counter::kIsRate);
  talvbench::ReportCoreShare(state, secondsPerIteration);
}

}  // namespace

BENCHMARK(BM_Dwell8RecordersAndPlayback)
    ->Name(talvbench::OursName("dwell.8rec+play/64blocks"))
    ->Unit(benchmark::kMillisecond);
// The dwell must keep up with the receiver: less than one core.
const bool gFigure = talvbench::AddFigure("dwell.8rec+play/64blocks", "core_%", "% of a core", 100.0);
