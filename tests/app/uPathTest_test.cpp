#include "uPathTest.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "TestSupport.h"

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
