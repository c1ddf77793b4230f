#include "uCliModes.h"

#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <memory>
#include <regex>
#include <string>
#include <vector>

#include "FakeSdrDevice.h"
#include "TestSupport.h"
#include "pFile.h"
#include "pSystem.h"
#include "pThread.h"
#include "uAudioOut.h"
#include "uDspKernels.h"
#include "uEngineMain.h"
#include "uOptions.h"
#include "uSdrDevices.h"
#include "uSdrSim.h"

using namespace testsupport;

namespace {

const bool kWindows = plat::PathSeparator() == '\\';

bool StartsWith(const std::string& s, const std::string& prefix) {
  return s.rfind(prefix, 0) == 0;
}

std::string Lower(std::string s) {
  for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return s;
}

// Runs a mode in this process on the given command line (without the program name), capturing its
// console lines and exit code. The stop flag is cleared first: another test may have set it.
struct TModeRun {
  std::vector<std::string> Lines;
  int ExitCode = 0;
};
TModeRun RunMode(void (*mode)(), const std::vector<std::string>& args) {
  std::vector<std::string> all{"talvoran_engine"};
  all.insert(all.end(), args.begin(), args.end());
  SetProgramArgs(all);
  StopRequested = false;
  SetExitCode(0);
  ::testing::internal::CaptureStdout();
  mode();
  TModeRun r;
  r.Lines = SplitLines(::testing::internal::GetCapturedStdout());
  r.ExitCode = ExitCode();
  SetExitCode(0);
  SetProgramArgs({});
  return r;
}

// The receiver every OpenSdrDevice hands out during one test ("Test" is its name then).
class TOverride {
 public:
  explicit TOverride(TSdrDeviceRef device) { SetDeviceOverride(std::move(device), "Test"); }
  ~TOverride() { SetDeviceOverride(nullptr, "Test"); }
};

// A simulated receiver that breaks after a number of good reads, as a pulled USB plug does.
class TBreakingSim : public TSimDevice {
 public:
  int32_t GoodReads = 0;
  bool ReadSync(uint8_t* buffer, int32_t count, int32_t& bytesRead) override {
    if (GoodReads <= 0) {
      bytesRead = 0;
      LastError = "usb transfer failed (-5)";
      return false;
    }
    --GoodReads;
    return TSimDevice::ReadSync(buffer, count, bytesRead);
  }
};

// Carriers at -20 dB over noise strong enough to dither the 8-bit converter (no quantisation spurs).
std::shared_ptr<TSimDevice> Scene(double noiseDb, const std::vector<int64_t>& carriers) {
  auto sim = std::make_shared<TSimDevice>();
  sim->NoiseDb = noiseDb;
  for (int64_t hz : carriers) sim->AddCarrier(hz, -20);
  return sim;
}

std::string Joined(const std::vector<std::string>& lines) {
  std::string t;
  for (const std::string& l : lines) t += l + "\n";
  return t;
}

int CountPrefix(const std::vector<std::string>& lines, const std::string& prefix) {
  int n = 0;
  for (const std::string& l : lines) n += StartsWith(l, prefix) ? 1 : 0;
  return n;
}

}  // namespace

// ---------------------------------------------------------------------------------------------
// Options

TEST(ScanOptions, DefaultsThenEveryOptionOverwritesItsField) {
  SetProgramArgs({"x"});
  TScanSettings s;
  ApplyScanOptions(s);
  TScanSettings d;
  DefaultScanSettings(d);
  EXPECT_EQ(s.StartHz, d.StartHz);
  EXPECT_EQ(s.StopHz, d.StopHz);
  EXPECT_EQ(s.SampleRate, d.SampleRate);
  EXPECT_EQ(s.GainDb, d.GainDb);
  EXPECT_TRUE(s.Merge);

  SetProgramArgs({"x", "--start=430M", "--stop=440,5M", "--rate=2,4M", "--nfft=8192", "--avg=3", "--snr=9.5",
                  "--grid=6.25k", "--gain=20", "--ppm=-3", "--settle=0", "--NOMERGE"});
  ApplyScanOptions(s);
  EXPECT_EQ(s.StartHz, 430000000);
  EXPECT_EQ(s.StopHz, 440500000);
  EXPECT_EQ(s.SampleRate, 2400000.0);
  EXPECT_EQ(s.FftSize, 8192);
  EXPECT_EQ(s.Averages, 3);
  EXPECT_EQ(s.ThresholdDb, 9.5);
  EXPECT_EQ(s.GridHz, 6250);
  EXPECT_EQ(s.GainDb, 20.0);
  EXPECT_EQ(s.Ppm, -3);
  EXPECT_EQ(s.SettleMs, 0);
  EXPECT_FALSE(s.Merge);
  EXPECT_EQ(s.EdgeFraction, d.EdgeFraction);  // never taken from options
  EXPECT_EQ(s.DcBins, d.DcBins);

  // Unreadable values leave the field's default; nothing is judged here.
  SetProgramArgs({"x", "--rate=fast", "--nfft=", "--stop=1M"});
  ApplyScanOptions(s);
  EXPECT_EQ(s.SampleRate, d.SampleRate);
  EXPECT_EQ(s.FftSize, d.FftSize);
  EXPECT_EQ(s.StopHz, 1000000);
  SetProgramArgs({});
}

TEST(ReceiverOptions, EveryNameOfAReceiverKindIsUnderstood) {
  struct TCase {
    const char* Arg;
    const char* Type;
  } cases[] = {{nullptr, "rtlsdr"},          {"--sdr=rtl", "rtlsdr"},    {"--sdr=RTL-SDR", "rtlsdr"},
               {"--sdr=nooelec", "rtlsdr"},  {"--sdr=hackrf", "hackrf"}, {"--sdr=Hack-RF", "hackrf"},
               {"--sdr= hackrf ", "hackrf"}, {"--sdr=airspy", "rtlsdr"}};
  for (const TCase& c : cases) {
    std::vector<std::string> args{"x"};
    if (c.Arg) args.push_back(c.Arg);
    SetProgramArgs(args);
    TTalvConfig cfg;
    ConfigDefaults(cfg);
    ApplyReceiverOptions(cfg);
    EXPECT_EQ(cfg.DeviceType, c.Type) << (c.Arg ? c.Arg : "(none)");
  }
  SetProgramArgs(
      {"x", "--device=2", "--serial=AbC1", "--gain=33.5", "--lna=24", "--vga=30", "--amp", "--BIAS"});
  TTalvConfig cfg;
  ConfigDefaults(cfg);
  ApplyReceiverOptions(cfg);
  EXPECT_EQ(cfg.DeviceIndex, 2);
  EXPECT_EQ(cfg.DeviceSerial, "AbC1");
  EXPECT_EQ(cfg.GainDb, 33.5);
  EXPECT_EQ(cfg.HackRfLnaDb, 24);
  EXPECT_EQ(cfg.HackRfVgaDb, 30);
  EXPECT_TRUE(cfg.HackRfAmp);
  EXPECT_TRUE(cfg.HackRfBiasTee);

  // Live reads more; --record is a flag that replaces the setting's default (on).
  SetProgramArgs({"x", "--rate=1024k", "--audiorate=44100", "--hang=500", "--snr=8", "--grid=25k"});
  ConfigDefaults(cfg);
  ApplyLiveOptions(cfg);
  EXPECT_EQ(cfg.SampleRate, 1024000);
  EXPECT_EQ(cfg.AudioRate, 44100);
  EXPECT_EQ(cfg.HangTimeMs, 500);
  EXPECT_EQ(cfg.SnrDb, 8.0);
  EXPECT_EQ(cfg.GridHz, 25000);
  EXPECT_FALSE(cfg.RecordAudio);
  EXPECT_FALSE(cfg.HackRfAmp);
  SetProgramArgs({"x", "--record"});
  ApplyLiveOptions(cfg);
  EXPECT_TRUE(cfg.RecordAudio);
  SetProgramArgs({});
}

// ---------------------------------------------------------------------------------------------
// I/Q figures

TEST(IqFigures, QuadratureToneIsHealthy) {
  // A proper complex tone: I = cos, Q = sin, offset binary, 64 samples per turn.
  std::vector<uint8_t> b(2 * 4096);
  for (int k = 0; k < 4096; ++k) {
    const double ph = 2 * 3.14159265358979 * k / 64;
    b[2 * k] = static_cast<uint8_t>(std::lround(127.5 + 100 * std::cos(ph)));
    b[2 * k + 1] = static_cast<uint8_t>(std::lround(127.5 + 100 * std::sin(ph)));
  }
  const TIqStats st = MeasureIq(b.data(), 4096, false);
  EXPECT_EQ(st.Pairs, 4096);
  EXPECT_NEAR(st.MeanI, 0.0, 0.005);
  EXPECT_NEAR(st.MeanQ, 0.0, 0.005);
  EXPECT_NEAR(st.RmsI, 100 / 127.5 / std::sqrt(2.0), 0.005);
  EXPECT_NEAR(st.Correlation, 0.0, 0.01);
  EXPECT_NEAR(st.ImbalanceDb, 0.0, 0.05);
  EXPECT_EQ(IqVerdict(st), "# I/Q look healthy");
}

TEST(IqFigures, CorrelatedAndUnbalancedStreamsAreNamed) {
  std::vector<uint8_t> b(2 * 1000);
  for (int k = 0; k < 1000; ++k) b[2 * k] = b[2 * k + 1] = static_cast<uint8_t>(k * 37 % 256);
  TIqStats st = MeasureIq(b.data(), 1000, false);
  EXPECT_NEAR(st.Correlation, 1.0, 1e-9);
  EXPECT_EQ(IqVerdict(st), "# I and Q are correlated - the stream is not proper quadrature");

  // Two's complement: I twice Q, uncorrelated signs: 6 dB imbalance.
  const int8_t is[4] = {40, -40, 40, -40}, qs[4] = {20, 20, -20, -20};
  for (int k = 0; k < 1000; ++k) {
    b[2 * k] = static_cast<uint8_t>(is[k % 4]);
    b[2 * k + 1] = static_cast<uint8_t>(qs[k % 4]);
  }
  st = MeasureIq(b.data(), 1000, true);
  EXPECT_DOUBLE_EQ(st.MeanI, 0.0);
  EXPECT_NEAR(st.RmsI, 40 / 127.0, 1e-6);
  EXPECT_NEAR(st.ImbalanceDb, 20 * std::log10(2.0), 1e-6);
  EXPECT_NEAR(st.Correlation, 0.0, 1e-9);
  EXPECT_EQ(IqVerdict(st), "# channel levels differ - amplitude imbalance");
}

TEST(IqFigures, AStuckStreamHasNoCorrelationRatherThanNaN) {
  std::vector<uint8_t> b(200, 127);
  const TIqStats st = MeasureIq(b.data(), 100, false);
  EXPECT_NEAR(st.MeanI, -0.5 / 127.5, 1e-7);
  EXPECT_GT(st.RmsI, 0.0);
  EXPECT_EQ(st.Correlation, 0.0);
  EXPECT_FALSE(std::isnan(st.ImbalanceDb));
}

// ---------------------------------------------------------------------------------------------
// HIT and hop lines

TEST(HitLines, TabSeparatedFiveFieldsThenTheCount) {
  TChannelHitArray hits(2);
  hits[0] = {145000000, 145000123, 20.54, -30.0, -50.54, 144000000};
  hits[1] = {7000000000LL, 6999999999LL, 3.27, -0.04, -3.29, 1};
  ::testing::internal::CaptureStdout();
  PrintHits(hits, false);
  PrintHits({}, false);
  PrintHits(hits, true);
  EXPECT_EQ(
      SplitLines(::testing::internal::GetCapturedStdout()),
      (std::vector<std::string>{
          "HIT\t145000000\t145000123\t20.5\t-30.0\t-50.5", "HIT\t7000000000\t6999999999\t3.3\t-0.0\t-3.3",
          "# 2 channel(s) above threshold", "# 0 channel(s) above threshold",
          "HIT\t145000000\t145000123\t20.5\t-30.0\t-50.5", "HIT\t7000000000\t6999999999\t3.3\t-0.0\t-3.3"}));
}

TEST(HitLines, HopProgressPrintsOnlyWithUserDataAndStopsOnTheStopFlag) {
  StopRequested = false;
  int data = 0;
  ::testing::internal::CaptureStdout();
  EXPECT_TRUE(HopProgress(0, 3, 145012500, -80.25, &data));
  EXPECT_TRUE(HopProgress(2, 3, 146000000, -79.0, nullptr));
  StopRequested = true;
  EXPECT_FALSE(HopProgress(1, 3, 145500000, -81.0, nullptr));
  StopRequested = false;
  EXPECT_EQ(SplitLines(::testing::internal::GetCapturedStdout()),
            std::vector<std::string>{"# hop 1/3  145.012500 MHz  noise -80.2 dBFS"});
}

// ---------------------------------------------------------------------------------------------
// --iqstat on a receiver handed in

TEST(IqStatMode, NoiseOfTheSimulatorLooksHealthy) {
  auto sim = Scene(-30, {});
  TOverride hold(sim);
  const TModeRun r =
      RunMode(RunIqStat, {"--iqstat", "--samples=1000", "--settle=0", "--freq=100M", "--rate=1M"});
  EXPECT_EQ(r.ExitCode, 0);
  ASSERT_EQ(r.Lines.size(), 5u);
  EXPECT_EQ(r.Lines[0], "# Test at 1000000 S/s, 1000 samples");
  EXPECT_TRUE(std::regex_match(r.Lines[1], std::regex(R"(IQ\tmeanI -?0\.\d{5}\tmeanQ -?0\.\d{5})")))
      << r.Lines[1];
  EXPECT_TRUE(std::regex_match(r.Lines[2],
                               std::regex(R"(IQ\trmsI  0\.\d{5}\trmsQ  0\.\d{5}\timbalance -?\d\.\d\d dB)")))
      << r.Lines[2];
  EXPECT_TRUE(std::regex_match(r.Lines[3], std::regex(R"(IQ\tcorrelation -?0\.\d{4})"))) << r.Lines[3];
  EXPECT_EQ(r.Lines[4], "# I/Q look healthy");
  EXPECT_EQ(sim->CenterHz, 100000000);
  EXPECT_EQ(sim->SampleRate, 1000000.0);
}

TEST(IqStatMode, SampleCountIsBroughtIntoRange) {
  struct TCase {
    const char* Arg;
    int32_t Bytes;
  } cases[] = {{"--samples=1", 2},
               {"--samples=1000", 2000},
               {"--samples=99999999999", 2 * MaxIqStatSamples},
               {"--samples=lots", 2 * 262144}};
  for (const TCase& c : cases) {
    auto fake = std::make_shared<TFakeSdrDevice>();
    TOverride hold(fake);
    const TModeRun r = RunMode(RunIqStat, {"--iqstat", "--settle=0", c.Arg});
    EXPECT_EQ(r.ExitCode, 0) << c.Arg;
    EXPECT_EQ(fake->ReadSizes, std::vector<int32_t>{c.Bytes}) << c.Arg;
    ASSERT_FALSE(r.Lines.empty());
    EXPECT_EQ(r.Lines.back(), "# I/Q look healthy") << c.Arg;  // a stuck level: no correlation, no NaN
  }
}

TEST(IqStatMode, ASampleCountBelowOneIsAnErrorAndReadsNothing) {
  for (const char* arg : {"--samples=0", "--samples=-5"}) {
    auto fake = std::make_shared<TFakeSdrDevice>();
    TOverride hold(fake);
    const TModeRun r = RunMode(RunIqStat, {"--iqstat", "--settle=0", arg});
    EXPECT_EQ(r.ExitCode, 3) << arg;
    EXPECT_EQ(r.Lines, std::vector<std::string>{"# error: --samples must be at least 1"}) << arg;
    EXPECT_TRUE(fake->ReadSizes.empty()) << arg;
  }
}

TEST(IqStatMode, AnEndlessSettleTimeEndsOnCtrlCAndStillMeasures) {
  auto fake = std::make_shared<TFakeSdrDevice>();
  TOverride hold(fake);
  plat::TThread ctrlC;
  ctrlC.Start([] {
    plat::SleepMs(50);
    StopRequested = true;
  });
  const TModeRun r = RunMode(RunIqStat, {"--iqstat", "--settle=2147483647", "--samples=100"});
  ctrlC.Join();
  StopRequested = false;
  EXPECT_EQ(r.ExitCode, 0);
  EXPECT_EQ(fake->ReadSizes, std::vector<int32_t>{200});
}

TEST(IqStatMode, NumbersFollowTheUsersDecimalSeparatorFrequenciesDoNot) {
  auto fake = std::make_shared<TFakeSdrDevice>();
  TOverride hold(fake);
  SetLocalDecimalSeparatorForTest(",");
  const TModeRun r = RunMode(RunIqStat, {"--iqstat", "--settle=0", "--samples=1000"});
  SetLocalDecimalSeparatorForTest("");
  ASSERT_GE(r.Lines.size(), 4u);
  EXPECT_EQ(r.Lines[0], "# Test at 2048000 S/s, 1000 samples");
  EXPECT_TRUE(StartsWith(r.Lines[1], "IQ\tmeanI ")) << r.Lines[1];
  EXPECT_EQ(r.Lines[1].find('.'), std::string::npos) << r.Lines[1];
  EXPECT_NE(r.Lines[1].find(','), std::string::npos) << r.Lines[1];
  EXPECT_NE(r.Lines[3].find("0,0000"), std::string::npos) << r.Lines[3];
}

TEST(IqStatMode, GainIsAppliedAndAFewBytesAreMeasuredAsTheyCame) {
  auto fake = std::make_shared<TFakeSdrDevice>();
  fake->MaxReadBytes = 301;  // 150 whole pairs and a lone byte
  TOverride hold(fake);
  TModeRun r = RunMode(RunIqStat, {"--iqstat", "--settle=0", "--samples=1000", "--gain=20"});
  EXPECT_EQ(r.ExitCode, 0);
  EXPECT_EQ(fake->GainCalls, std::vector<double>{20.0});
  EXPECT_EQ(fake->ResetCalls, 1);
  ASSERT_FALSE(r.Lines.empty());
  EXPECT_EQ(r.Lines[0], "# Test at 2048000 S/s, 150 samples");
  EXPECT_EQ(fake->TuneCalls, std::vector<int64_t>{142000000});

  fake->GainCalls.clear();
  r = RunMode(RunIqStat, {"--iqstat", "--settle=0", "--samples=10"});
  EXPECT_EQ(fake->GainCalls, std::vector<double>{-1.0});  // automatic unless asked
}

TEST(IqStatMode, FailuresOfTheReceiverEndWithItsTextAndExitCode3) {
  struct TCase {
    const char* Name;
    void (*Break)(TFakeSdrDevice&);
    const char* Line;
  } cases[] = {
      {"rate", [](TFakeSdrDevice& f) { f.RateSucceeds = false; }, "# error: fake rate refused"},
      {"tune", [](TFakeSdrDevice& f) { f.TuneSucceeds = false; }, "# error: fake tune failed"},
      {"read", [](TFakeSdrDevice& f) { f.ReadFails = true; }, "# error: fake read failed"},
      {"lone byte", [](TFakeSdrDevice& f) { f.MaxReadBytes = 1; }, "# error: no samples read"},
      {"nothing", [](TFakeSdrDevice& f) { f.MaxReadBytes = 0; }, "# error: no samples read"},
  };
  for (const TCase& c : cases) {
    auto fake = std::make_shared<TFakeSdrDevice>();
    c.Break(*fake);
    TOverride hold(fake);
    const TModeRun r = RunMode(RunIqStat, {"--iqstat", "--settle=0", "--samples=100"});
    EXPECT_EQ(r.ExitCode, 3) << c.Name;
    EXPECT_EQ(r.Lines, std::vector<std::string>{c.Line}) << c.Name;
  }
}

TEST(IqStatMode, AReceiverThatCannotOpenEndsWithExitCode2) {
  auto fake = std::make_shared<TFakeSdrDevice>();
  fake->Opened = false;
  fake->OpenSucceeds = false;
  TOverride hold(fake);
  const TModeRun r = RunMode(RunIqStat, {"--iqstat"});
  EXPECT_EQ(r.ExitCode, 2);
  EXPECT_EQ(r.Lines, std::vector<std::string>{"# error: fake open failed"});
  EXPECT_TRUE(fake->ReadSizes.empty());
}

// ---------------------------------------------------------------------------------------------
// --scan on a receiver handed in

TEST(ScanMode, HeadersHopsSweepsAndHitsInOrder) {
  TOverride hold(Scene(-40, {144312500, 145187500}));
  const TModeRun r = RunMode(RunScan, {"--scan", "--gain=0", "--settle=0", "--sweeps=2"});
  EXPECT_EQ(r.ExitCode, 0);
  ASSERT_EQ(r.Lines.size(), 4u + 2 * (2 + 1 + 2 + 1)) << Joined(r.Lines);
  EXPECT_EQ(r.Lines[0], "# device: Test");
  EXPECT_EQ(r.Lines[1], "# range : 144.000000 MHz .. 146.000000 MHz");
  EXPECT_EQ(r.Lines[2], "# rate  : 2048000 Hz, 2 hops, bin 500.0 Hz");
  EXPECT_EQ(r.Lines[3], "# snr   : 12.0 dB, grid 12500 Hz, simd " + KernelDescription());
  for (int sweep = 0; sweep < 2; ++sweep) {
    const size_t at = 4 + static_cast<size_t>(sweep) * 6;
    EXPECT_TRUE(StartsWith(r.Lines[at], "# hop 1/2  ")) << r.Lines[at];
    EXPECT_TRUE(
        std::regex_match(r.Lines[at + 1], std::regex(R"(# hop 2/2  14\d\.\d{6} MHz  noise -\d+\.\d dBFS)")))
        << r.Lines[at + 1];
    EXPECT_TRUE(std::regex_match(r.Lines[at + 2],
                                 std::regex("# sweep " + std::to_string(sweep + 1) + R"( took \d+ ms)")))
        << r.Lines[at + 2];
    EXPECT_TRUE(StartsWith(r.Lines[at + 3], "HIT\t144312500\t"));
    EXPECT_TRUE(StartsWith(r.Lines[at + 4], "HIT\t145187500\t"));
    EXPECT_EQ(r.Lines[at + 5], "# 2 channel(s) above threshold");
  }
}

TEST(ScanMode, QuietPrintsHitLinesOnly) {
  TOverride hold(Scene(-40, {145187500}));
  const TModeRun r = RunMode(RunScan, {"--scan", "--gain=0", "--settle=0", "--sweeps=3", "--quiet"});
  EXPECT_EQ(r.ExitCode, 0);
  ASSERT_EQ(r.Lines.size(), 3u) << Joined(r.Lines);
  for (const std::string& l : r.Lines) EXPECT_TRUE(StartsWith(l, "HIT\t145187500\t145187500\t")) << l;
}

TEST(ScanMode, ConfigurationAndSweepFailuresHaveTheirExitCodes) {
  TModeRun r;
  {
    TOverride hold(Scene(-60, {}));
    r = RunMode(RunScan, {"--scan", "--start=146M", "--stop=144M"});
    EXPECT_EQ(r.ExitCode, 3);
    EXPECT_EQ(r.Lines, std::vector<std::string>{"# error: stop frequency must be above start frequency"});
  }
  {
    auto fake = std::make_shared<TFakeSdrDevice>();
    fake->ReadFails = true;
    TOverride hold(fake);
    r = RunMode(RunScan, {"--scan", "--gain=0", "--settle=0", "--sweeps=5"});
    EXPECT_EQ(r.ExitCode, 4);
    ASSERT_FALSE(r.Lines.empty());
    EXPECT_TRUE(StartsWith(r.Lines.back(), "# error: ")) << r.Lines.back();
    EXPECT_NE(r.Lines.back().find("fake read failed"), std::string::npos) << r.Lines.back();
    EXPECT_EQ(CountPrefix(r.Lines, "# sweep "), 0);
  }
  {
    // The stop flag before the first sweep: no sweep, no error, exit code 0.
    TOverride hold(Scene(-60, {}));
    SetProgramArgs({"x", "--scan", "--sweeps=0", "--quiet"});
    StopRequested = true;
    SetExitCode(0);
    ::testing::internal::CaptureStdout();
    RunScan();
    EXPECT_EQ(::testing::internal::GetCapturedStdout(), "");
    EXPECT_EQ(ExitCode(), 0);
    StopRequested = false;
    SetProgramArgs({});
  }
  {
    // An endless settle time: Ctrl+C still ends the sweep within a pause step, without an error.
    TOverride hold(Scene(-60, {}));
    plat::TThread ctrlC;
    ctrlC.Start([] {
      plat::SleepMs(50);
      StopRequested = true;
    });
    const TModeRun r = RunMode(RunScan, {"--scan", "--sweeps=0", "--quiet", "--settle=2147483647"});
    ctrlC.Join();
    StopRequested = false;
    EXPECT_EQ(r.ExitCode, 0);
    EXPECT_EQ(CountPrefix(r.Lines, "# error"), 0);
  }
}

// ---------------------------------------------------------------------------------------------
// --live on a receiver handed in (null audio: no sound device needed)

class LiveMode : public ::testing::Test {
 protected:
  void SetUp() override { SetNullAudio(true); }
  void TearDown() override { SetNullAudio(false); }
};

TEST_F(LiveMode, ATimedRunPlaysAndEndsWithExitCode0) {
  TOverride hold(Scene(-60, {145000000}));
  const TModeRun r = RunMode(RunLive, {"--live", "--freq=145M", "--seconds=1", "--mod=am"});
  EXPECT_EQ(r.ExitCode, 0);
  ASSERT_EQ(r.Lines.size(), 4u);
  EXPECT_TRUE(std::regex_match(r.Lines[0], std::regex(R"(# audio output devices: \d+)"))) << r.Lines[0];
  EXPECT_TRUE(std::regex_match(
      r.Lines[1], std::regex(R"(# playing 145\.000000 MHz \(AM\) via centre \d+\.\d{6} MHz on Test)")))
      << r.Lines[1];
  EXPECT_EQ(r.Lines[2], "# stopping after 1 s");
  EXPECT_TRUE(std::regex_match(r.Lines[3], std::regex(R"(# [1-9]\d* blocks played)"))) << r.Lines[3];
}

TEST_F(LiveMode, AReceiverFailingMidRunIsAnErrorNotASuccess) {
  auto sim = std::make_shared<TBreakingSim>();
  sim->GoodReads = 12;
  sim->AddCarrier(145000000, -25);
  TOverride hold(sim);
  const TModeRun r = RunMode(RunLive, {"--live", "--freq=145M", "--seconds=60"});
  EXPECT_EQ(r.ExitCode, 4);
  ASSERT_EQ(r.Lines.size(), 5u);
  EXPECT_TRUE(std::regex_match(r.Lines[3], std::regex(R"(# [1-9]\d* blocks played)"))) << r.Lines[3];
  EXPECT_TRUE(StartsWith(r.Lines[4], "# error: ")) << r.Lines[4];
  EXPECT_NE(r.Lines[4].find("usb transfer failed (-5)"), std::string::npos) << r.Lines[4];
}

TEST_F(LiveMode, PreparationFailuresAndAMissingFrequency) {
  auto fake = std::make_shared<TFakeSdrDevice>();
  fake->Opened = false;
  fake->OpenSucceeds = false;
  TOverride hold(fake);
  TModeRun r = RunMode(RunLive, {"--live", "--freq=145M"});
  EXPECT_EQ(r.ExitCode, 3);
  ASSERT_EQ(r.Lines.size(), 2u);
  EXPECT_EQ(r.Lines[1], "# error: fake open failed");

  fake->OpenCalls = 0;
  for (const char* freq : {"--freq=0", "--freq=-145M", "--freq=abc"}) {
    r = RunMode(RunLive, {"--live", freq});
    EXPECT_EQ(r.ExitCode, 2) << freq;
    EXPECT_EQ(r.Lines, std::vector<std::string>{"# error: --freq is required, e.g. --freq=92.3M"}) << freq;
  }
  EXPECT_EQ(fake->OpenCalls, 0);  // nothing was opened
}

// ---------------------------------------------------------------------------------------------
// The program as a user runs it, with no receiver attached

TEST(CliProcess, ListWithoutReceiverNamesTheLibrariesAndSaysNoneIsConnected) {
  const plat::TProcessResult r = RunEngine({"--list"});
  ASSERT_TRUE(r.Started) << r.Error;
  EXPECT_EQ(r.ExitCode, 0);
  const std::vector<std::string> lines = SplitLines(r.Output);
  ASSERT_GE(lines.size(), 3u) << r.Output;
  EXPECT_TRUE(StartsWith(lines[0], "# SIMD: scalar kernels")) << lines[0];
  EXPECT_EQ(lines[1], "# record dir: " + plat::ModuleDir() + "recordings");
  EXPECT_EQ(lines.back(), "# no receiver connected");
  for (size_t i = 2; i + 1 < lines.size(); ++i)
    EXPECT_TRUE(StartsWith(lines[i], "# rtlsdr: ") || StartsWith(lines[i], "# hackrf: ")) << lines[i];
  if (kWindows) {
    // No receiver library lies beside the program here.
    ASSERT_EQ(lines.size(), 5u) << r.Output;
    EXPECT_TRUE(StartsWith(lines[2], "# rtlsdr: ")) << lines[2];
    EXPECT_TRUE(StartsWith(lines[3], "# hackrf: ")) << lines[3];
  }
}

TEST(CliProcess, ReceiverModesWithoutReceiverExitWith2Or3) {
  // --sdr synonyms reach the receiver they name.
  plat::TProcessResult r = RunEngine({"--scan", "--sdr=hack-rf"});
  EXPECT_EQ(r.ExitCode, 2);
  std::vector<std::string> lines = SplitLines(r.Output);
  ASSERT_EQ(lines.size(), 1u) << r.Output;
  EXPECT_TRUE(StartsWith(lines[0], "# error: ")) << lines[0];
  EXPECT_NE(Lower(lines[0]).find("hackrf"), std::string::npos) << lines[0];

  r = RunEngine({"--iqstat", "--sdr=NooElec", "--scan"});
  EXPECT_EQ(r.ExitCode, 2);
  lines = SplitLines(r.Output);
  ASSERT_EQ(lines.size(), 1u) << r.Output;
  EXPECT_TRUE(StartsWith(lines[0], "# error: ")) << lines[0];
  EXPECT_NE(Lower(lines[0]).find("rtl"), std::string::npos) << lines[0];

  r = RunEngine({"--live", "--freq=145M"});
  EXPECT_EQ(r.ExitCode, 3);
  lines = SplitLines(r.Output);
  ASSERT_EQ(lines.size(), 2u) << r.Output;
  EXPECT_TRUE(std::regex_match(lines[0], std::regex(R"(# audio output devices: \d+)"))) << lines[0];
  EXPECT_TRUE(StartsWith(lines[1], "# error: ")) << lines[1];
}

// Windows builds: the engine beside the project's stand-in receiver libraries (one RTL-SDR with the
// serial 00000001 delivering a byte counter, one HackRF).
TEST(CliProcess, StandInReceiversAreListedAndTheirStreamJudged) {
  if (!kWindows) GTEST_SKIP() << "stand-in libraries exist in the Windows builds only";
  const std::string fakes = plat::ModuleDir() + "fakes\\one\\";
  if (!plat::FileExists(fakes + "rtlsdr.dll") || !plat::FileExists(fakes + "hackrf.dll")) {
    if (InCI()) FAIL() << "stand-in libraries not built in " << fakes;
    GTEST_SKIP() << "stand-in libraries not built";
  }
  TTempDir dir;
  const std::string engine = EnginePath();
  const std::string program = dir.File(engine.substr(engine.find_last_of("\\/") + 1));
  std::error_code ec;
  namespace fs = std::filesystem;
  fs::copy_file(fs::u8path(engine), fs::u8path(program), ec);
  ASSERT_FALSE(ec) << ec.message();
  for (const char* lib : {"rtlsdr.dll", "hackrf.dll"}) {
    fs::copy_file(fs::u8path(fakes + lib), fs::u8path(dir.File(lib)), ec);
    ASSERT_FALSE(ec) << ec.message();
  }

  plat::TProcessResult r = plat::RunProcess(program, {"--list"}, {}, 120000);
  EXPECT_EQ(r.ExitCode, 0);
  std::vector<std::string> lines = SplitLines(r.Output);
  ASSERT_GE(lines.size(), 3u) << r.Output;
  EXPECT_EQ(CountPrefix(lines, "# rtlsdr: ") + CountPrefix(lines, "# hackrf: "), 0) << r.Output;
  EXPECT_EQ(CountPrefix(lines, "DEVICE\t0\trtlsdr\t"), 1) << r.Output;
  EXPECT_EQ(CountPrefix(lines, "DEVICE\t0\thackrf\t"), 1) << r.Output;
  for (const std::string& l : lines) {
    if (!StartsWith(l, "DEVICE\t0\trtlsdr\t")) continue;
    EXPECT_EQ(l.substr(l.rfind('\t')), "\t00000001") << l;
  }

  // The stand-in's stream is a byte counter from 0: I and Q rise together.
  r = plat::RunProcess(program, {"--iqstat", "--samples=1000", "--settle=0"}, {}, 120000);
  EXPECT_EQ(r.ExitCode, 0) << r.Output;
  lines = SplitLines(r.Output);
  ASSERT_EQ(lines.size(), 5u) << r.Output;
  EXPECT_TRUE(std::regex_match(lines[0], std::regex(R"(# .+ at 2048000 S/s, 1000 samples)"))) << lines[0];
  std::vector<uint8_t> counter(2000);
  for (size_t i = 0; i < counter.size(); ++i) counter[i] = static_cast<uint8_t>(i);
  const TIqStats st = MeasureIq(counter.data(), 1000, false);
  EXPECT_EQ(lines[1], FormatText("IQ\tmeanI %.5f\tmeanQ %.5f", st.MeanI, st.MeanQ));
  EXPECT_EQ(lines[2],
            FormatText("IQ\trmsI  %.5f\trmsQ  %.5f\timbalance %.2f dB", st.RmsI, st.RmsQ, st.ImbalanceDb));
  EXPECT_EQ(lines[3], FormatText("IQ\tcorrelation %.4f", st.Correlation));
  EXPECT_EQ(lines[4], "# I and Q are correlated - the stream is not proper quadrature");
}
