#include "uDemodTest.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <regex>
#include <string>
#include <utility>
#include <vector>

#include "TestSupport.h"
#include "pFile.h"
#include "pFs.h"
#include "pSystem.h"
#include "uEngineMain.h"
#include "uOptions.h"
#include "uWavWriter.h"

using namespace testsupport;

namespace {

constexpr double kPi = 3.14159265358979323846;

bool StartsWith(const std::string& s, const std::string& prefix) {
  return s.rfind(prefix, 0) == 0;
}

std::vector<float> Sine(double hz, double amplitude, int n) {
  std::vector<float> x(static_cast<size_t>(n));
  for (int i = 0; i < n; ++i)
    x[static_cast<size_t>(i)] = static_cast<float>(amplitude * std::sin(2 * kPi * hz * i / 48000));
  return x;
}

void WriteWav(const std::string& path, const std::vector<float>& x) {
  TWavWriter w(path, wkAudio, 48000, 145000000);
  w.WriteMono(x.data(), static_cast<int32_t>(x.size()));
}

// The temporary folder of the program (both the system's names for it) pointed into a fresh folder,
// for this test only, so runs side by side never share "talvoran_rectest".
class TTempRedirect {
 public:
  TTempRedirect() {
    for (const char* name : kNames) {
      FOld.emplace_back(plat::HasEnv(name), plat::GetEnv(name));
      plat::SetEnv(name, FDir.Path());
    }
  }
  ~TTempRedirect() {
    for (size_t i = 0; i < FOld.size(); ++i) {
      if (FOld[i].first)
        plat::SetEnv(kNames[i], FOld[i].second);
      else
        plat::UnsetEnv(kNames[i]);
    }
  }
  const TTempDir& Dir() const { return FDir; }
  std::vector<std::pair<std::string, std::string>> Env() const {
    return {{"TMPDIR", FDir.Path()}, {"TMP", FDir.Path()}, {"TEMP", FDir.Path()}};
  }

 private:
  static constexpr const char* kNames[3] = {"TMPDIR", "TMP", "TEMP"};
  TTempDir FDir;
  std::vector<std::pair<bool, std::string>> FOld;
};

// Take names carry local time stamps; everything else of the record test is fixed.
std::string WithoutStamps(const std::string& line) {
  return std::regex_replace(line, std::regex(R"(_\d{8}_\d{6})"), "_<stamp>");
}

}  // namespace

// ---------------------------------------------------------------------------------------------
// Tone and file measurement

TEST(ToneMeasurement, StrongestBinOfTheHannWindowedSpectrum) {
  const std::vector<float> x = Sine(1000, 0.5, 8192);
  EXPECT_DOUBLE_EQ(MeasureTone(x.data(), 8192, 48000), 171 * 48000.0 / 8192);  // 1001.95 Hz
  // Fewer samples are padded with silence; a tone on a bin is found exactly.
  const std::vector<float> y = Sine(3000, 0.1, 4096);
  std::vector<double> power;
  EXPECT_DOUBLE_EQ(MeasureTone(y.data(), 4096, 48000, &power), 3000.0);
  ASSERT_EQ(power.size(), 4096u);
  EXPECT_GT(power[512], 1000 * power[400]);
  // Silence: the lowest bin wins the tie.
  const std::vector<float> z(8192, 0.0f);
  EXPECT_DOUBLE_EQ(MeasureTone(z.data(), 8192, 48000), 48000.0 / 8192);
}

TEST(WavMeasurement, ToneAndRmsOfATakeAndShortOrMissingFiles) {
  TTempDir dir;
  const std::string take = dir.File("take.wav");
  WriteWav(take, Sine(440, 0.5, 48000));
  double tone = -1, rms = -1;
  ASSERT_TRUE(MeasureWavFile(take, 48000, tone, rms));
  EXPECT_DOUBLE_EQ(tone, 75 * 48000.0 / 8192);  // 439.45 Hz
  EXPECT_NEAR(rms, 0.5 / std::sqrt(2.0), 0.001);

  const std::string shortTake = dir.File("short.wav");
  WriteWav(shortTake, Sine(440, 0.5, 8192));  // 16428 bytes: not more than the header and 8192 samples
  EXPECT_FALSE(MeasureWavFile(shortTake, 48000, tone, rms));
  EXPECT_EQ(tone, 0.0);
  EXPECT_EQ(rms, 0.0);
  WriteWav(shortTake, Sine(440, 0.5, 8193));
  EXPECT_TRUE(MeasureWavFile(shortTake, 48000, tone, rms));
  EXPECT_FALSE(MeasureWavFile(dir.File("missing.wav"), 48000, tone, rms));
  EXPECT_EQ(tone, 0.0);
}

TEST(TestFolder, ClearTestDirEmptiesOneLevelOfSubFoldersAndRemovesTheFolder) {
  TTempDir dir;
  const std::string root = dir.File("talvoran_rectest");
  ASSERT_TRUE(plat::MakeDirectory(root));
  ASSERT_TRUE(plat::MakeDirectory(root + plat::PathSeparator() + "145.500000 MHz"));
  ASSERT_TRUE(WriteWholeFile(root + plat::PathSeparator() + "a.wav", "x"));
  ASSERT_TRUE(
      WriteWholeFile(root + plat::PathSeparator() + "145.500000 MHz" + plat::PathSeparator() + "b.wav", "y"));
  ClearTestDir(root);
  EXPECT_FALSE(plat::PathExists(root));
  ClearTestDir(root);  // nothing there: nothing happens
  EXPECT_FALSE(plat::PathExists(root));
}

// ---------------------------------------------------------------------------------------------
// Demodulation cases

TEST(DemodCases, SpectrumListingComesBeforeTheVerdictAndNoiseIsAnOption) {
  SetProgramArgs({"x", "--spectrum", "--noise=-40"});
  ::testing::internal::CaptureStdout();
  EXPECT_TRUE(TestDemodTone("NFM", modNFM, 1000, 3000, false, 0));
  const std::vector<std::string> lines = SplitLines(::testing::internal::GetCapturedStdout());
  SetProgramArgs({});
  ASSERT_GE(lines.size(), 2u);
  for (size_t i = 0; i + 1 < lines.size(); ++i)
    EXPECT_TRUE(std::regex_match(lines[i], std::regex(R"(#    NFM  +\d+\.\d Hz  +-?\d+\.\d dBc)")))
        << lines[i];
  // The tone's own bin is the reference of the listing.
  EXPECT_NE(std::find(lines.begin(), lines.end(), "#    NFM    1002.0 Hz     0.0 dBc"), lines.end())
      << ::testing::PrintToString(lines);
  EXPECT_TRUE(StartsWith(lines.back(), "# OK   NFM  tone 1000 Hz -> 1002.0 Hz (err 2.0 Hz), rms "))
      << lines.back();
}

TEST(DemodCases, BesideTheChannelIsReportedWithoutAVerdictWord) {
  SetProgramArgs({"x"});
  ::testing::internal::CaptureStdout();
  EXPECT_FALSE(TestDemodTone("NFM", modNFM, 1000, 3000, true, 5000));
  const std::vector<std::string> lines = SplitLines(::testing::internal::GetCapturedStdout());
  SetProgramArgs({});
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_TRUE(StartsWith(lines[0], "#      NFM  tone 1000 Hz -> ")) << lines[0];
}

// The whole mode as a user runs it: the chain computes the same bits on every build.
TEST(DemodSelfTest, EveryCaseAndTheWavCheckAsTheProgram) {
  TTempRedirect temp;
  const plat::TProcessResult r = RunEngine({"--selftest", "--selftest-demod", "--scan"}, temp.Env());
  ASSERT_TRUE(r.Started) << r.Error;
  EXPECT_EQ(r.ExitCode, 0) << r.Output;
  std::vector<std::string> lines = SplitLines(r.Output);
  ASSERT_EQ(lines.size(), 12u) << r.Output;
  EXPECT_TRUE(StartsWith(lines[1], "# SIMD: scalar kernels")) << lines[1];
  lines[1] = "# SIMD: -";
  EXPECT_EQ(lines, (std::vector<std::string>{
                       "# demod selftest: synthetic signals, no hardware required",
                       "# SIMD: -",
                       "# OK   NFM  tone 1000 Hz -> 1002.0 Hz (err 2.0 Hz), rms 0.171",
                       "# OK   NFM  tone 2400 Hz -> 2402.3 Hz (err 2.3 Hz), rms 0.154",
                       "# OK   WFM  tone 1000 Hz -> 1002.0 Hz (err 2.0 Hz), rms 0.177",
                       "# OK   AM   tone 1000 Hz -> 1002.0 Hz (err 2.0 Hz), rms 0.102",
                       "# tuned beside the channel on purpose - these are SUPPOSED to be bad:",
                       "#      NFM  tone 1000 Hz -> 1002.0 Hz (err 2.0 Hz), rms 0.162",
                       "#      NFM  tone 1000 Hz -> 1998.0 Hz (err 998.0 Hz), rms 0.098",
                       "# wav duration 1.000 s",
                       "# OK   wav  96044 bytes",
                       "# PASS demod chain",
                   }));
  // The WAV check leaves nothing behind.
  std::vector<plat::TDirEntry> left;
  plat::ListDirectory(temp.Dir().Path(), left);
  EXPECT_TRUE(left.empty());
}

// ---------------------------------------------------------------------------------------------
// Recording

TEST(RecordSelfTest, LiveRecordingKeepsTheToneAndDropsTheSilentHangTime) {
  TTempDir dir;
  plat::TManualClock clock;  // no waiting: signal time is what the recorder measures
  ::testing::internal::CaptureStdout();
  EXPECT_TRUE(TestLiveRecording(dir.Path(), clock));
  const std::vector<std::string> lines = SplitLines(::testing::internal::GetCapturedStdout());
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_EQ(lines[0], "# live recording: demodulated audio -> recorder, no device");
  // 96 rounds of tone (2.048 s) until the hang time ran out; its silent 2 s are not kept.
  EXPECT_EQ(WithoutStamps(lines[1]),
            "# 145.012500MHz_<stamp>_12.5kHz_<stamp>.wav  1.93 s  tone 1002 Hz  rms 0.354");
  EXPECT_GE(clock.NowMs(), 1000u + 2048u + 2000u);  // paced: the rounds took their real time
}

// The mode in this process on a manual clock, then as the program in real time: the same lines.
TEST(RecordSelfTest, SameVerdictsHoweverFastItRuns) {
  TTempRedirect temp;
  SetProgramArgs({"x"});
  SetExitCode(0);
  plat::TManualClock clock;
  ::testing::internal::CaptureStdout();
  RunRecordSelfTest(clock);
  std::vector<std::string> fast = SplitLines(::testing::internal::GetCapturedStdout());
  EXPECT_EQ(ExitCode(), 0);
  SetProgramArgs({});

  ASSERT_EQ(fast.size(), 9u);
  EXPECT_EQ(fast[0], "# record selftest: synthetic device, no hardware required");
  EXPECT_EQ(fast[2], "# dwell finished, result 1");  // the carrier never stops: maximum dwell
  EXPECT_TRUE(std::regex_match(
      fast[3], std::regex(R"(# play-all: 1 lane\(s\), [1-9]\d* sample\(s\) published to 145\.500000 MHz)")))
      << fast[3];
  EXPECT_TRUE(std::regex_match(
      WithoutStamps(fast[4]),
      std::regex(
          R"(# 145\.500000MHz_<stamp>_12\.5kHz_<stamp>\.wav  4\.\d\d s  tone 1002 Hz \(err 2 Hz\)  rms 0\.\d{3})")))
      << fast[4];
  EXPECT_TRUE(
      std::regex_match(fast[5], std::regex(R"(# 1 file\(s\), 4\.\d\d s total, signal was on for 4\.00 s)")))
      << fast[5];
  EXPECT_EQ(fast[6], "# live recording: demodulated audio -> recorder, no device");
  EXPECT_EQ(fast[8], "# PASS record chain");

  // The takes stay in the test folder until the next run.
  std::vector<plat::TDirEntry> takes;
  EXPECT_TRUE(plat::ListDirectory(
      temp.Dir().File("talvoran_rectest") + plat::PathSeparator() + "145.500000 MHz", takes));
  EXPECT_EQ(takes.size(), 1u);

  const plat::TProcessResult r = RunEngine({"--selftest-demod", "--selftest-record"}, temp.Env());
  ASSERT_TRUE(r.Started) << r.Error;
  EXPECT_EQ(r.ExitCode, 0) << r.Output;
  std::vector<std::string> real = SplitLines(r.Output);
  ASSERT_EQ(real.size(), fast.size()) << r.Output;
  for (size_t i = 0; i < real.size(); ++i) EXPECT_EQ(WithoutStamps(real[i]), WithoutStamps(fast[i]));
  // A second run started from an empty folder.
  takes.clear();
  plat::ListDirectory(temp.Dir().File("talvoran_rectest") + plat::PathSeparator() + "145.500000 MHz", takes);
  EXPECT_EQ(takes.size(), 1u);
}
