#include "uPathTest.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <limits>
#include <string>
#include <vector>

#include "TestSupport.h"
#include "pClock.h"
#include "uDetector.h"
#include "uFreqText.h"
#include "uMonitor.h"
#include "uReceiver.h"
#include "uSessionKit.h"

using namespace testsupport;

namespace {

// The lines JudgePath prints for the frequencies given, and its result.
std::vector<std::string> Judge(const std::vector<int64_t>& reported, bool secondExpected, bool& result) {
  ClearCollected();
  for (int64_t hz : reported) AddCollected(hz);
  ::testing::internal::CaptureStdout();
  result = JudgePath("dwell   ", secondExpected);
  return SplitLines(::testing::internal::GetCapturedStdout());
}

}  // namespace

TEST(PathJudgement, CarrierAndSecondSignalInTheOrderReported) {
  bool ok = false;
  EXPECT_EQ(Judge({142950000, 141600000}, true, ok),
            std::vector<std::string>{"# OK   dwell   : 142.950000 MHz 141.600000 MHz"});
  EXPECT_TRUE(ok);
  // Within 5 kHz (bound included) counts as the signal; a repeat is held once.
  EXPECT_EQ(Judge({142954000, 141595000, 142954000}, true, ok),
            std::vector<std::string>{"# OK   dwell   : 142.954000 MHz 141.595000 MHz"});
  EXPECT_TRUE(ok);
}

TEST(PathJudgement, MissingSignalsMirrorAndExtrasEachGetTheirLine) {
  bool ok = true;
  EXPECT_EQ(Judge({142950000, 142930000}, true, ok),
            (std::vector<std::string>{
                "# FAIL dwell   : second signal 141.600000 MHz not reported",
                "# FAIL dwell   : 1 channel(s) beyond the scene - 142.950000 MHz 142.930000 MHz"}));
  EXPECT_FALSE(ok);
  EXPECT_EQ(Judge({142950000, 141600000, 141050000}, true, ok),
            std::vector<std::string>{"# FAIL dwell   : reported the mirror at 141.050000 MHz"});
  EXPECT_FALSE(ok);
  EXPECT_EQ(Judge({}, true, ok),
            (std::vector<std::string>{"# FAIL dwell   : carrier 142.950000 MHz not reported",
                                      "# FAIL dwell   : second signal 141.600000 MHz not reported"}));
  EXPECT_FALSE(ok);
}

TEST(PathJudgement, ThePathThatCannotSeeTheSecondSignalPassesWithoutIt) {
  bool ok = false;
  EXPECT_EQ(Judge({142950000}, false, ok), std::vector<std::string>{"# OK   dwell   : 142.950000 MHz"});
  EXPECT_TRUE(ok);
  AddCollectedHits(TChannelHitArray{TChannelHit{141600000, 141600100, 20, -40, -60, 142000000}});
  ::testing::internal::CaptureStdout();
  EXPECT_TRUE(JudgePath("live    ", false));  // seen anyway: no harm
  EXPECT_EQ(SplitLines(::testing::internal::GetCapturedStdout()),
            std::vector<std::string>{"# OK   live    : 142.950000 MHz 141.600000 MHz"});
}

// The monitor and the live sessions analyse whichever block is current when a frame is due, so every
// block of the scene must give the same verdict. This reads the scene as the monitor (tuned a quarter
// of the rate below 142 MHz) and the multi-channel session (tuned to 142 MHz) do, with their
// two-segment spectra, analyses every block after the gain control has settled, and asks that nothing
// beyond the scene comes within 3 dB of the threshold.
TEST(PathScene, NothingBeyondTheSceneNearsTheThresholdInAnyBlock) {
  const TTalvConfig cfg = PathTestConfig();
  TSdrLimits limits;
  MakePathScene()->GetLimits(limits);
  for (int64_t centre : {OffsetCentre(142000000, double(cfg.SampleRate), limits), int64_t(142000000)}) {
    SCOPED_TRACE(centre);
    plat::TManualClock clock;
    auto scene = MakePathScene();
    TScanSettings scan = ScanSettingsFromConfig(cfg);
    scan.Averages = kWatchAverages;  // as the monitor's and the live session's detectors
    scan.ThresholdDb = cfg.SnrDb - 3.0;
    TDetector detector(scan);
    TReceiver receiver(scene, clock);
    ASSERT_TRUE(receiver.Configure(double(cfg.SampleRate), cfg.GainDb, 0, detector.SamplesNeeded()));
    ASSERT_TRUE(receiver.Retune(centre, 0));
    int analysed = 0, beyond = 0;
    std::string first;
    for (int block = 0; block < 300; ++block) {
      TComplexF* samples = nullptr;
      int32_t n = 0;
      ASSERT_TRUE(receiver.ReadBlock(samples, n));
      clock.Advance(40);  // one frame every 40 ms, as the monitor publishes them
      if (!receiver.AgcSettled()) continue;
      ++analysed;
      TChannelHitArray hits;
      detector.Process(&receiver, samples, centre, std::numeric_limits<int64_t>::min(),
                       std::numeric_limits<int64_t>::max(), "scene", hits, -1);
      for (const TChannelHit& h : hits) {
        const bool inScene =
            std::llabs(h.ChannelHz - 142950000) <= 5000 || std::llabs(h.ChannelHz - 141600000) <= 5000;
        if (!inScene && beyond++ == 0)
          first = "block " + std::to_string(block) + ": " + FormatMHz(h.ChannelHz) + " at " +
                  std::to_string(h.SnrDb) + " dB";
      }
    }
    EXPECT_EQ(beyond, 0) << "first: " << first;
    EXPECT_GT(analysed, 200);
  }
}

// The whole mode as a user runs it: five paths on the same scene, each with the real sessions. A path
// lists its channels in the order they were first reported, which the sessions' timing may change.
TEST(PathSelfTest, EveryPathAgreesOnTheScene) {
  const plat::TProcessResult r = RunEngine({"--selftest-record", "--selftest-paths", "--live"});
  ASSERT_TRUE(r.Started) << r.Error;
  EXPECT_EQ(r.ExitCode, 0) << r.Output;
  const std::vector<std::string> lines = SplitLines(r.Output);
  ASSERT_EQ(lines.size(), 7u) << r.Output;
  EXPECT_EQ(lines[0],
            "# scene: carrier 142.950000 MHz + sidebands, second signal 141.600000 MHz, mirror would be "
            "141.050000 MHz");
  const char* both[2] = {" 141.600000 MHz 142.950000 MHz", " 142.950000 MHz 141.600000 MHz"};
  int at = 1;
  for (const char* name : {"scanner ", "dwell   ", "multi   ", "live    ", "monitor "}) {
    const std::string head = std::string("# OK   ") + name + ":";
    if (std::string(name) == "live    ")
      EXPECT_EQ(lines[at], head + " 142.950000 MHz");
    else
      EXPECT_TRUE(lines[at] == head + both[0] || lines[at] == head + both[1]) << lines[at];
    ++at;
  }
  EXPECT_EQ(lines[6], "# PASS all paths agree on the scene");
}
