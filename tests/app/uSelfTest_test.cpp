#include "uSelfTest.h"

#include <gtest/gtest.h>

#include <regex>
#include <string>
#include <vector>

#include "TestSupport.h"

using namespace testsupport;

namespace {

bool StartsWith(const std::string& s, const std::string& prefix) {
  return s.rfind(prefix, 0) == 0;
}

bool IsVerdict(const std::string& line) {
  return StartsWith(line, "# OK") || StartsWith(line, "# FAIL") || StartsWith(line, "# WARN") ||
         StartsWith(line, "# PASS");
}

}  // namespace

// The whole mode as a user runs it: the three-tone sweep, the tap checks and the eleven scenarios.
// The simulated receiver and the chain compute the same bits on every build, so the HIT lines are
// fixed; the scenario lines carry measured figures and are checked by their verdict.
TEST(ScanChainSelfTest, PassesWithEveryVerdictInOrder) {
  // Later modes on the command line must not run instead.
  const plat::TProcessResult r = RunEngine({"--scan", "--live", "--service", "--selftest"});
  ASSERT_TRUE(r.Started) << r.Error;
  EXPECT_EQ(r.ExitCode, 0) << r.Output;
  const std::vector<std::string> lines = SplitLines(r.Output);
  ASSERT_GE(lines.size(), 9u) << r.Output;
  EXPECT_EQ(lines[0], "# selftest: synthetic device, no hardware required");
  EXPECT_TRUE(StartsWith(lines[1], "# SIMD: scalar kernels")) << lines[1];
  EXPECT_EQ(lines[2], "# 2 hops, bin 500.0 Hz, usable 1740800 Hz");
  EXPECT_TRUE(std::regex_match(lines[3], std::regex(R"(# sweep took \d+ ms)"))) << lines[3];
  const std::vector<std::string> hits(lines.begin() + 4, lines.begin() + 8);
  EXPECT_EQ(hits, (std::vector<std::string>{"HIT\t144312500\t144312500\t59.1\t-26.8\t-85.8",
                                            "HIT\t145187500\t145187500\t59.1\t-26.7\t-85.8",
                                            "HIT\t145737500\t145741294\t57.9\t-27.7\t-85.6",
                                            "# 3 channel(s) above threshold"}));

  const std::vector<std::string> expected = {
      "# OK   144.312500 MHz  snr ",
      "# OK   145.187500 MHz  snr ",
      "# OK   145.737500 MHz  snr ",
      "# OK   spectrum tap: 256 bin(s), 3 mark(s) on the last hop",
      "# OK   off-grid tone: channel 145.737500 MHz, peak 145.741294 MHz (3794 Hz apart, 6 Hz off the tone)",
      "# OK   cropped view: ",
      "# OK   hackrf gain mapping (lna 8 dB steps, vga 2 dB steps)",
      "# OK   dc: sweep 1 centre bin ",
      "# OK   dc: sweep 2 centre bin ",
      "# OK   ring keeps I/Q pairs whole when it overflows",
      "# OK   agc: quiet -> ",
      "# OK   merge: 5 grid slot(s) -> 1 channel at 145.000000 MHz (",
      "# OK   mirror: gain 0 dB -> ",
      "# OK   receiver: 142.950000 MHz, noise ",
      "# OK   level: fixed gain classifies quiet/good/loud correctly (2/1/",
      "# OK   ghost: ",
      "# OK   range: 141.600000 MHz in, 144.500000 MHz correctly dropped",
      "# OK   settle: reported within ",
      "# PASS 3/3 tones, worst peak error 6 Hz (bin 500.0 Hz)",
  };
  std::vector<std::string> verdicts;
  for (const std::string& l : lines)
    if (IsVerdict(l)) verdicts.push_back(l);
  ASSERT_EQ(verdicts.size(), expected.size()) << r.Output;
  for (size_t i = 0; i < expected.size(); ++i)
    EXPECT_TRUE(StartsWith(verdicts[i], expected[i])) << verdicts[i] << "\nexpected: " << expected[i];
  EXPECT_EQ(lines.back(), expected.back());
}

TEST(ScanChainSelfTest, ScenariosWithoutReceiverSayOkOnce) {
  ::testing::internal::CaptureStdout();
  EXPECT_TRUE(TestRing());
  EXPECT_TRUE(TestHackRfGain());
  EXPECT_EQ(SplitLines(::testing::internal::GetCapturedStdout()),
            (std::vector<std::string>{"# OK   ring keeps I/Q pairs whole when it overflows",
                                      "# OK   hackrf gain mapping (lna 8 dB steps, vga 2 dB steps)"}));
}

TEST(ScanChainSelfTest, ScenariosOnAManualClockGiveTheSameVerdicts) {
  // The waits between sweeps and reads go through the clock: a manual one runs them at once.
  plat::TManualClock clock;
  ::testing::internal::CaptureStdout();
  EXPECT_TRUE(TestSettle(clock));
  EXPECT_TRUE(TestMirror(clock));
  EXPECT_TRUE(TestAgc(clock));
  const std::vector<std::string> lines = SplitLines(::testing::internal::GetCapturedStdout());
  ASSERT_EQ(lines.size(), 3u);
  EXPECT_TRUE(StartsWith(lines[0], "# OK   settle: reported within ")) << lines[0];
  EXPECT_TRUE(StartsWith(lines[1], "# OK   mirror: gain 0 dB -> ")) << lines[1];
  EXPECT_TRUE(StartsWith(lines[2], "# OK   agc: quiet -> ")) << lines[2];
  EXPECT_GT(clock.NowMs(), 1000u + 3 * 320u);  // the gain control had its pauses
}
