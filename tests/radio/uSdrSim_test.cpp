#include "uSdrSim.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <complex>
#include <cstdint>
#include <vector>

#include "TestSupport.h"

namespace {

constexpr double kPi = 3.14159265358979323846;

std::vector<uint8_t> Read(TSimDevice& dev, int32_t bytes) {
  std::vector<uint8_t> buf(bytes > 0 ? bytes : 1, 0xEE);
  int32_t got = -1;
  EXPECT_TRUE(dev.ReadSync(buf.data(), bytes, got));
  EXPECT_EQ(got, bytes - bytes % 2);
  buf.resize(got);
  return buf;
}

// A busy scene: noise, DC offset, a carrier, an FM and an AM tone, one tone out of band, gain and a
// retune with settling in the middle.
void BuildScene(TSimDevice& dev) {
  dev.Open(0);
  dev.NoiseDb = -30;
  dev.SetDcOffset(0.02, -0.01);
  dev.AddCarrier(100000000 + 250000, -12);
  dev.AddFmTone(100000000 - 400000, -9, 1000, 5000);
  dev.AddAmTone(100000000 + 700000, -15, 440, 0.8);
  dev.AddTone(103000000, -3);  // out of band at the first centre
  dev.SetGain(3);
  dev.SettleSamples = 2000;
}

double Value(uint8_t b) {
  return (b - 127.4) / 128.0;
}

}  // namespace

// ---- Determinism -----------------------------------------------------------------------------------

TEST(SimDeterminism, TwoInstancesGiveIdenticalBytes) {
  TSimDevice a, b;
  BuildScene(a);
  BuildScene(b);
  for (int block = 0; block < 4; ++block) EXPECT_EQ(Read(a, 16384), Read(b, 16384)) << block;
}

// The same bytes on every run and on every build (native, Win64, Win32): the constant was taken from
// the first build and must never change.
TEST(SimDeterminism, ChecksumOfFirstBlocksIsFixed) {
  TSimDevice dev;
  BuildScene(dev);
  uint64_t h = testsupport::kHashStart;
  for (int block = 0; block < 4; ++block) {
    const std::vector<uint8_t> bytes = Read(dev, 16384);
    h = testsupport::Fnv1a(bytes.data(), bytes.size(), h);
    if (block == 1) dev.SetCenterFreq(102900000);  // the out-of-band tone comes in after settling
  }
  EXPECT_EQ(h, 0x593117add6b624c0ULL);
}

TEST(SimDeterminism, ReadsSplitAnyWayContinueOneSignal) {
  TSimDevice whole, pieces;
  BuildScene(whole);
  BuildScene(pieces);
  std::vector<uint8_t> all = Read(whole, 20000);
  std::vector<uint8_t> joined;
  for (int32_t size : {2, 998, 4096, 14, 7000, 7890}) {
    std::vector<uint8_t> part = Read(pieces, size);
    joined.insert(joined.end(), part.begin(), part.end());
  }
  EXPECT_EQ(joined, all);
}

TEST(SimDeterminism, CloseAndOpenKeepTheSignalRunning) {
  TSimDevice a, b;
  BuildScene(a);
  BuildScene(b);
  std::vector<uint8_t> first = Read(a, 4000);
  a.Close();
  a.Open(3);
  std::vector<uint8_t> second = Read(a, 4000);
  first.insert(first.end(), second.begin(), second.end());
  EXPECT_EQ(first, Read(b, 8000));
}

// ---- Signals -----------------------------------------------------------------------------------------

TEST(SimSignals, QuietReceiverSitsAt127) {
  TSimDevice dev;
  dev.Open(0);
  std::vector<uint8_t> bytes = Read(dev, 20000);
  int at127 = 0;
  for (uint8_t b : bytes) at127 += b == 127;
  EXPECT_GE(at127, 19800);  // 127.4 rounds up only beyond 2.5 noise deviations
}

TEST(SimSignals, CarrierAboveCentreRotatesCounterClockwise) {
  TSimDevice dev;
  dev.Open(0);
  dev.NoiseDb = -200;
  dev.AddCarrier(dev.CenterHz + 1000, -1);
  std::vector<uint8_t> bytes = Read(dev, 2 * 2048);
  const double step = 2 * kPi * 1000 / 2048000;
  double amp = std::pow(10.0, -1 / 20.0);
  for (size_t k = 0; k < bytes.size() / 2; ++k) {
    // I = cos, Q = sin of a phase that advances by step per sample; one quantisation step of slack.
    EXPECT_NEAR(Value(bytes[2 * k]), amp * std::cos(step * k), 0.5 / 128 + 1e-9) << k;
    EXPECT_NEAR(Value(bytes[2 * k + 1]), amp * std::sin(step * k), 0.5 / 128 + 1e-9) << k;
  }
}

TEST(SimSignals, ToneBeyondHalfTheRateContributesNothing) {
  TSimDevice dev;
  dev.Open(0);
  dev.NoiseDb = -200;
  dev.SampleRate = 1000000;
  dev.AddCarrier(dev.CenterHz + 500001, 0);
  dev.AddCarrier(dev.CenterHz - 600000, 0);
  for (uint8_t b : Read(dev, 1000)) EXPECT_EQ(b, 127);
  EXPECT_EQ(dev.CarrierPhases[0], 0.0);
  EXPECT_EQ(dev.CarrierPhases[1], 0.0);
}

TEST(SimSignals, ToneAtTheBandEdgeStillCounts) {
  TSimDevice dev;
  dev.Open(0);
  dev.NoiseDb = -200;
  dev.SampleRate = 1000000;
  dev.AddCarrier(dev.CenterHz - 500000, -6);  // phase step -pi: I alternates, Q stays 0
  std::vector<uint8_t> bytes = Read(dev, 8);
  EXPECT_GT(bytes[0], 180);
  EXPECT_LT(bytes[2], 80);
  EXPECT_GT(bytes[4], 180);
  EXPECT_NE(dev.CarrierPhases[0], 0.0);
}

TEST(SimSignals, FmToneSwingsByItsDeviation) {
  TSimDevice dev;
  dev.Open(0);
  dev.NoiseDb = -200;
  dev.AddFmTone(dev.CenterHz + 20000, -3, 1000, 5000);
  std::vector<uint8_t> bytes = Read(dev, 2 * 20480);  // ten modulation periods
  double lo = 1e9, hi = -1e9;
  const size_t lag = 16;  // phase differences over 16 samples keep quantisation out of the estimate
  for (size_t k = lag; k < bytes.size() / 2; ++k) {
    double d = std::arg(
        std::complex<double>(Value(bytes[2 * k]), Value(bytes[2 * k + 1])) *
        std::conj(std::complex<double>(Value(bytes[2 * (k - lag)]), Value(bytes[2 * (k - lag) + 1]))));
    double hz = d * 2048000 / (2 * kPi * lag);
    lo = std::min(lo, hz);
    hi = std::max(hi, hz);
  }
  EXPECT_NEAR(hi, 25000, 600);
  EXPECT_NEAR(lo, 15000, 600);
}

TEST(SimSignals, AmToneEnvelopeFollowsItsDepth) {
  TSimDevice dev;
  dev.Open(0);
  dev.NoiseDb = -200;
  dev.AddAmTone(dev.CenterHz + 30000, -6, 1000, 0.5);
  std::vector<uint8_t> bytes = Read(dev, 2 * 8192);
  double lo = 1e9, hi = 0;
  for (size_t k = 0; k < bytes.size() / 2; ++k) {
    double m = std::hypot(Value(bytes[2 * k]), Value(bytes[2 * k + 1]));
    lo = std::min(lo, m);
    hi = std::max(hi, m);
  }
  double a = std::pow(10.0, -6 / 20.0);
  EXPECT_NEAR(hi, a * 1.5, 0.012);
  EXPECT_NEAR(lo, a * 0.5, 0.012);
}

TEST(SimSignals, DcOffsetShiftsTheMeanAndAsksForDcRemoval) {
  TSimDevice dev;
  dev.Open(0);
  EXPECT_FALSE(dev.NeedsDcBlock());
  dev.DcI = 0.1;  // Q takes the I offset until SetDcOffset is called
  EXPECT_TRUE(dev.NeedsDcBlock());
  std::vector<uint8_t> bytes = Read(dev, 2000);
  EXPECT_EQ(bytes[0], 140);  // 0.1 * 128 + 127.4 = 140.2
  EXPECT_EQ(bytes[1], 140);
  dev.SetDcOffset(0, -0.1);
  EXPECT_TRUE(dev.NeedsDcBlock());
  bytes = Read(dev, 2);
  EXPECT_EQ(bytes[0], 127);
  EXPECT_EQ(bytes[1], 115);  // -12.8 + 127.4 = 114.6
  dev.SetDcOffset(0, 0);
  EXPECT_FALSE(dev.NeedsDcBlock());
}

TEST(SimSignals, NegativeGainEqualsZeroDbAndPositiveGainScales) {
  TSimDevice a, b;
  for (TSimDevice* d : {&a, &b}) {
    d->Open(0);
    d->NoiseDb = -20;
    d->AddCarrier(d->CenterHz + 5000, -10);
  }
  a.SetGain(-1);
  b.SetGain(0);
  EXPECT_EQ(a.GainLin, 1.0);
  EXPECT_EQ(b.GainLin, 1.0);
  EXPECT_EQ(Read(a, 4096), Read(b, 4096));
  a.SetGain(20);
  EXPECT_NEAR(a.GainLin, 10.0, 1e-14);
}

TEST(SimSignals, OutputClipsAtTheByteRange) {
  TSimDevice dev;
  dev.Open(0);
  dev.SetDcOffset(2.0, -2.0);
  std::vector<uint8_t> bytes = Read(dev, 100);
  for (size_t k = 0; k < bytes.size(); k += 2) {
    EXPECT_EQ(bytes[k], 255);
    EXPECT_EQ(bytes[k + 1], 0);
  }
}

// ---- Settling after a retune -----------------------------------------------------------------------------

TEST(SimSettle, RetuneKeepsTheOldCentreForTheSettleSamples) {
  TSimDevice dev;
  dev.Open(0);
  dev.NoiseDb = -200;
  dev.SettleSamples = 2000;
  dev.AddCarrier(dev.CenterHz + 10000, -3);  // only within reach of the first centre
  EXPECT_TRUE(dev.SetCenterFreq(dev.CenterHz + 5000000));
  EXPECT_EQ(dev.GetCenterFreq(), 105000000);
  std::vector<uint8_t> bytes = Read(dev, 2 * 3000);
  for (int k = 0; k < 2000; ++k)
    EXPECT_GT(std::hypot(Value(bytes[2 * k]), Value(bytes[2 * k + 1])), 0.6) << k;
  for (int k = 2000; k < 3000; ++k) {
    EXPECT_EQ(bytes[2 * k], 127) << k;
    EXPECT_EQ(bytes[2 * k + 1], 127) << k;
  }
}

TEST(SimSettle, RetuneToTheSameCentreDoesNotRestartSettling) {
  TSimDevice dev;
  dev.Open(0);
  dev.SettleSamples = 2000;
  dev.SetCenterFreq(120000000);
  EXPECT_EQ(dev.SettleRemaining, 2000);
  EXPECT_EQ(dev.PrevCenterHz, 100000000);
  Read(dev, 2 * 1500);
  EXPECT_EQ(dev.SettleRemaining, 500);
  dev.SetCenterFreq(120000000);
  EXPECT_EQ(dev.SettleRemaining, 500);
  Read(dev, 2 * 1500);
  EXPECT_EQ(dev.SettleRemaining, 0);
}

TEST(SimSettle, NoSettlingByDefaultAndRetuneWorksWhileClosed) {
  TSimDevice dev;
  EXPECT_TRUE(dev.SetCenterFreq(433920000));
  EXPECT_EQ(dev.GetCenterFreq(), 433920000);
  EXPECT_EQ(dev.SettleRemaining, 0);
}

// ---- Interface contract ------------------------------------------------------------------------------

TEST(SimInterface, OddAndTinyReadsWriteWholePairsOnly) {
  TSimDevice dev;
  dev.Open(0);
  uint8_t buf[8];
  std::fill(buf, buf + 8, 0xEE);
  int32_t got = -1;
  EXPECT_TRUE(dev.ReadSync(buf, 7, got));
  EXPECT_EQ(got, 6);
  EXPECT_EQ(buf[6], 0xEE);
  std::fill(buf, buf + 8, 0xEE);
  EXPECT_TRUE(dev.ReadSync(buf, 1, got));
  EXPECT_EQ(got, 0);
  EXPECT_EQ(buf[0], 0xEE);
}

TEST(SimInterface, ClosedReadFailsWithNotOpen) {
  TSimDevice dev;
  uint8_t buf[4];
  int32_t got = -1;
  EXPECT_FALSE(dev.ReadSync(buf, 4, got));
  EXPECT_EQ(got, 0);
  EXPECT_EQ(dev.GetLastError(), "not open");
  EXPECT_TRUE(dev.Open(7));
  EXPECT_TRUE(dev.IsOpen());
  dev.Close();
  dev.Close();
  EXPECT_FALSE(dev.IsOpen());
}

TEST(SimInterface, FixedAnswers) {
  TSimDevice dev;
  EXPECT_EQ(dev.Kind(), skNone);
  EXPECT_EQ(dev.GetName(), "Simulated SDR");
  EXPECT_FALSE(dev.HasHardwareAgc());
  EXPECT_FALSE(dev.SamplesSigned());
  TSdrLimits lim;
  dev.GetLimits(lim);
  EXPECT_EQ(lim.MinHz, 1000000);
  EXPECT_EQ(lim.MaxHz, 6000000000LL);
  EXPECT_EQ(lim.MinRate, 100000);
  EXPECT_EQ(lim.MaxRate, 20000000);
  EXPECT_TRUE(dev.SetSampleRate(12345));  // no limit check
  EXPECT_EQ(dev.GetSampleRate(), 12345);
  EXPECT_TRUE(dev.SetFreqCorrection(50));
  EXPECT_TRUE(dev.ResetBuffer());
  EXPECT_FALSE(dev.StartAsync(nullptr, nullptr));
  EXPECT_EQ(dev.GetLastError(), "streaming not implemented in the simulator");
  EXPECT_FALSE(dev.IsStreaming());
}

TEST(SimInterface, TonesAndPhasesGrowAndClearTogether) {
  TSimDevice dev;
  EXPECT_EQ(dev.AddTone(1, 0), 0);
  EXPECT_EQ(dev.AddFmTone(2, -1, 3, 4), 1);
  EXPECT_EQ(dev.AddAmTone(5, -2, 6, 0.7), 2);
  EXPECT_EQ(dev.Tones[1].Kind, 1);
  EXPECT_EQ(dev.Tones[1].DeviationHz, 4);
  EXPECT_EQ(dev.Tones[2].Kind, 2);
  EXPECT_EQ(dev.Tones[2].Depth, 0.7);
  EXPECT_EQ(dev.CarrierPhases.size(), 3u);
  EXPECT_EQ(dev.ModPhases.size(), 3u);
  dev.ClearTones();
  EXPECT_TRUE(dev.Tones.empty());
  EXPECT_TRUE(dev.CarrierPhases.empty());
  EXPECT_TRUE(dev.ModPhases.empty());
}

TEST(SimInterface, RandomGeneratorFollowsItsRecurrence) {
  TSimDevice dev;
  float u = dev.NextUniform();
  EXPECT_EQ(dev.Seed, 22051977u * 1664525u + 1013904223u);
  EXPECT_EQ(u, static_cast<float>(dev.Seed / 4294967296.0));
  // A state whose successor is 2^32 - 1, which rounds up to 1.0 in single precision: solve the
  // recurrence backwards with the multiplier's inverse.
  uint32_t inv = 1;
  for (int i = 0; i < 5; ++i) inv *= 2 - 1664525u * inv;  // Newton steps for the inverse mod 2^32
  dev.Seed = (0xFFFFFFFFu - 1013904223u) * inv;
  EXPECT_EQ(dev.NextUniform(), 1.0f);
}

// ---- Build-independent maths -----------------------------------------------------------------------------

TEST(SimMaths, AgreesWithTheCLibrary) {
  for (int k = -4000; k <= 4000; ++k) {
    double x = k * 0.00321;
    double s, c;
    SimSinCos(x, s, c);
    EXPECT_NEAR(s, std::sin(x), 4e-16) << x;
    EXPECT_NEAR(c, std::cos(x), 4e-16) << x;
  }
  for (double x : {1e-12, 1e-9, 0.001, 0.3, 0.70710678, 0.9999999, 1.0, 2.5, 1e6}) {
    EXPECT_NEAR(SimLn(x), std::log(x), 4e-16 * std::fabs(std::log(x)) + 1e-300) << x;
  }
  for (double db : {-200.0, -85.0, -70.0, -3.0, 0.0, 0.5, 6.0, 20.0, 80.0}) {
    double want = std::pow(10.0, db / 20);
    EXPECT_NEAR(SimDbToLin(db), want, want * 1e-14) << db;
  }
  EXPECT_EQ(SimDbToLin(0), 1.0);
  EXPECT_EQ(SimLn(1.0), 0.0);
  EXPECT_EQ(SimExp(0.0), 1.0);
}

TEST(SimMaths, QuantiseRoundsHalfToEvenAndClamps) {
  EXPECT_EQ(SimQuantise(127.4), 127);
  EXPECT_EQ(SimQuantise(127.5), 128);
  EXPECT_EQ(SimQuantise(128.5), 128);
  EXPECT_EQ(SimQuantise(0.5), 0);
  EXPECT_EQ(SimQuantise(1.5), 2);
  EXPECT_EQ(SimQuantise(-3), 0);
  EXPECT_EQ(SimQuantise(254.5), 254);
  EXPECT_EQ(SimQuantise(254.6), 255);
  EXPECT_EQ(SimQuantise(1e300), 255);
  EXPECT_EQ(SimQuantise(std::nan("")), 0);
}
