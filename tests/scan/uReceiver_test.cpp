#include "uReceiver.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cmath>
#include <memory>
#include <vector>

#include "FakeSdrDevice.h"
#include "uSdrSim.h"

namespace {

struct ReceiverFixture : ::testing::Test {
  std::shared_ptr<TFakeSdrDevice> Dev = std::make_shared<TFakeSdrDevice>();
  plat::TManualClock Clock{1000};
};

double Rms(const TComplexF* s, int32_t n) {
  double sum = 0;
  for (int32_t k = 0; k < n; ++k) sum += double(s[k].Re) * s[k].Re + double(s[k].Im) * s[k].Im;
  return std::sqrt(sum / n);
}

}  // namespace

// ---- Configuration ------------------------------------------------------------------------------------

TEST_F(ReceiverFixture, ConfigureFailuresNameTheCause) {
  TReceiver none(nullptr, Clock);
  EXPECT_FALSE(none.Configure(2048000, -1, 0, 4096));
  EXPECT_EQ(none.LastError(), "no device");

  Dev->Opened = false;
  TReceiver closed(Dev, Clock);
  EXPECT_FALSE(closed.Configure(2048000, -1, 0, 4096));
  EXPECT_EQ(closed.LastError(), "device not open");

  Dev->Opened = true;
  Dev->RateSucceeds = false;
  TReceiver refused(Dev, Clock);
  EXPECT_FALSE(refused.Configure(2048000, -1, 0, 4096));
  EXPECT_EQ(refused.LastError(), "fake rate refused");
  EXPECT_FALSE(refused.Configured());

  Dev->RateSucceeds = true;
  EXPECT_FALSE(refused.Configure(2048000, -1, 0, 0));
  EXPECT_EQ(refused.LastError(), "invalid block size 0");
  EXPECT_TRUE(refused.Configure(2048000, -1, 0, 4096));
  EXPECT_TRUE(refused.Configured());
}

TEST_F(ReceiverFixture, RateIsWhatTheDeviceReportsOrTheRequestedOne) {
  TReceiver rx(Dev, Clock);
  Dev->ReportedRate = 2400000;
  ASSERT_TRUE(rx.Configure(2048000, 10, 0, 1024));
  EXPECT_EQ(rx.SampleRate(), 2400000);
  Dev->ReportedRate = 0;
  ASSERT_TRUE(rx.Configure(1024000, 10, 0, 1024));
  EXPECT_EQ(rx.SampleRate(), 1024000);
}

TEST_F(ReceiverFixture, GainIsSetAsAskedAndAutomaticMakesAnOwnGainControl) {
  TReceiver fixed(Dev, Clock);
  ASSERT_TRUE(fixed.Configure(2048000, 25, 0, 1024));
  EXPECT_EQ(Dev->GainCalls, std::vector<double>{25});
  ASSERT_NE(fixed.AutoGain(), nullptr);
  EXPECT_TRUE(fixed.OwnsAutoGain());
  EXPECT_FALSE(fixed.AutoGain()->Active());

  Dev->GainCalls.clear();
  TReceiver automatic(Dev, Clock);
  ASSERT_TRUE(automatic.Configure(2048000, -1, 0, 1024));
  EXPECT_EQ(Dev->GainCalls, (std::vector<double>{-1, 40}));  // automatic asked, then the control's start
  EXPECT_TRUE(automatic.AutoGain()->Active());
}

TEST_F(ReceiverFixture, DcBlockOnlyForDevicesThatNeedItFreshEachConfiguration) {
  TReceiver rx(Dev, Clock);
  ASSERT_TRUE(rx.Configure(2048000, 10, 0, 1024));
  EXPECT_EQ(rx.DcBlock(), nullptr);
  Dev->DcBlockWanted = true;
  ASSERT_TRUE(rx.Configure(2048000, 10, 0, 1024));
  ASSERT_NE(rx.DcBlock(), nullptr);
  EXPECT_NEAR(rx.DcBlock()->Alpha, 2 * 3.14159265358979 * 500 / 2048000, 1e-9);
  TComplexF* s;
  int32_t n;
  ASSERT_TRUE(rx.ReadBlock(s, n));
  EXPECT_TRUE(rx.DcBlock()->Primed);
  ASSERT_TRUE(rx.Configure(1024000, 10, 0, 1024));
  EXPECT_FALSE(rx.DcBlock()->Primed);
  EXPECT_NEAR(rx.DcBlock()->Alpha, 2 * 3.14159265358979 * 500 / 1024000, 1e-9);
}

// ---- Frequency correction --------------------------------------------------------------------------------

TEST_F(ReceiverFixture, CorrectionIsSentWhenItDiffersFromTheLastOneSet) {
  TReceiver rx(Dev, Clock);
  ASSERT_TRUE(rx.Configure(2048000, 10, 5, 1024));
  ASSERT_TRUE(rx.Configure(2048000, 10, 5, 1024));
  ASSERT_TRUE(rx.Configure(2048000, 10, 0, 1024));  // back to 0 must reach the device
  ASSERT_TRUE(rx.Configure(2048000, 10, -3, 1024));
  EXPECT_EQ(Dev->PpmCalls, (std::vector<int32_t>{5, 0, -3}));
}

TEST_F(ReceiverFixture, FirstConfigurationSendsEvenZero) {
  // Another holder of the device may have left a correction on it.
  TReceiver rx(Dev, Clock);
  ASSERT_TRUE(rx.Configure(2048000, 10, 0, 1024));
  ASSERT_TRUE(rx.Configure(2048000, 10, 0, 1024));
  EXPECT_EQ(Dev->PpmCalls, std::vector<int32_t>{0});
}

// ---- Gain control ownership
// --------------------------------------------------------------------------------

TEST_F(ReceiverFixture, OwnGainControlIsMadeAnewWhenTheRequestedGainChanges) {
  Dev->Clock = &Clock;
  Dev->MsPerRead = 400;
  TReceiver rx(Dev, Clock);
  ASSERT_TRUE(rx.Configure(2048000, -1, 0, 1024));
  TComplexF* s;
  int32_t n;
  ASSERT_TRUE(rx.ReadBlock(s, n));  // silence: the automatic gain steps up
  EXPECT_GT(rx.AutoGain()->GainDb(), 40);

  ASSERT_TRUE(rx.Configure(2048000, 20, 0, 1024));  // now a fixed gain
  EXPECT_FALSE(rx.AutoGain()->Active());
  Dev->GainCalls.clear();
  for (int k = 0; k < 5; ++k) ASSERT_TRUE(rx.ReadBlock(s, n));
  EXPECT_TRUE(Dev->GainCalls.empty()) << "an old automatic control overrode the fixed gain";
  EXPECT_EQ(rx.AgcLevelClass(), lsQuiet);
}

TEST_F(ReceiverFixture, OwnGainControlIsKeptForTheSameGainAndItsGainStaysInForce) {
  Dev->Clock = &Clock;
  Dev->MsPerRead = 400;
  TReceiver rx(Dev, Clock);
  ASSERT_TRUE(rx.Configure(2048000, -1, 0, 1024));
  TAutoGain* first = rx.AutoGain().get();
  TComplexF* s;
  int32_t n;
  ASSERT_TRUE(rx.ReadBlock(s, n));
  int32_t chosen = rx.AutoGain()->GainDb();
  Dev->GainCalls.clear();
  ASSERT_TRUE(rx.Configure(1024000, -1, 0, 2048));
  EXPECT_EQ(rx.AutoGain().get(), first);
  EXPECT_EQ(Dev->GainCalls, (std::vector<double>{-1, double(chosen)}));
}

TEST_F(ReceiverFixture, SharedGainControlIsKeptWhateverTheGain) {
  auto shared = std::make_shared<TAutoGain>(Dev, -1, Clock);
  TReceiver rx(Dev, Clock);
  ASSERT_TRUE(rx.Configure(2048000, -1, 0, 1024));
  rx.SetAutoGain(shared);
  EXPECT_FALSE(rx.OwnsAutoGain());
  ASSERT_TRUE(rx.Configure(2048000, 30, 0, 1024));
  EXPECT_EQ(rx.AutoGain(), shared);
  EXPECT_FALSE(rx.OwnsAutoGain());
}

TEST_F(ReceiverFixture, WithoutGainControlItIsSettledAndUnknown) {
  TReceiver rx(Dev, Clock);
  EXPECT_TRUE(rx.AgcSettled());
  EXPECT_EQ(rx.AgcLevelClass(), lsUnknown);
  ASSERT_TRUE(rx.Configure(2048000, -1, 0, 1024));
  EXPECT_FALSE(rx.AgcSettled());  // active and nothing measured yet
  rx.SetAutoGain(nullptr);
  EXPECT_TRUE(rx.AgcSettled());
  EXPECT_EQ(rx.AgcLevelClass(), lsUnknown);
}

// ---- Retune and discard
// -------------------------------------------------------------------------------------

TEST_F(ReceiverFixture, DiscardIsTwoMillisecondsInWhole512ByteUnits) {
  TReceiver rx(Dev, Clock);
  struct {
    double rate;
    int32_t bytes;
  } cases[] = {{2048000, 8192}, {250000, 512}, {100000, 0}, {2400000, 9216}};
  for (const auto& c : cases) {
    ASSERT_TRUE(rx.Configure(c.rate, 10, 0, 1024));
    EXPECT_EQ(rx.DiscardBytes(), c.bytes) << c.rate;
    Dev->ReadSizes.clear();
    ASSERT_TRUE(rx.Retune(145000000, 0));
    if (c.bytes > 0)
      EXPECT_EQ(Dev->ReadSizes, std::vector<int32_t>{c.bytes});
    else
      EXPECT_TRUE(Dev->ReadSizes.empty());
  }
}

TEST_F(ReceiverFixture, RetuneTunesResetsSettlesAndDiscards) {
  Dev->DcBlockWanted = true;
  TReceiver rx(Dev, Clock);
  EXPECT_FALSE(rx.Retune(145000000, 30));
  EXPECT_EQ(rx.LastError(), "not configured");
  ASSERT_TRUE(rx.Configure(2048000, 10, 0, 1024));
  TComplexF* s;
  int32_t n;
  ASSERT_TRUE(rx.ReadBlock(s, n));
  int resets = Dev->ResetCalls;
  uint64_t before = Clock.NowMs();
  ASSERT_TRUE(rx.Retune(145012500, 30));
  EXPECT_EQ(Dev->TuneCalls.back(), 145012500);
  EXPECT_EQ(Dev->ResetCalls, resets + 1);
  EXPECT_FALSE(rx.DcBlock()->Primed);
  EXPECT_EQ(Clock.NowMs(), before + 30);
}

// A clock whose sleeps raise a stop flag once stopAfterMs have been slept in all.
class TStoppingClock : public plat::IClock {
 public:
  explicit TStoppingClock(uint64_t stopAfterMs) : FStopAfter(stopAfterMs) {}
  uint64_t NowMs() override { return FNow; }
  void SleepMs(uint32_t ms) override {
    FNow += ms;
    if (FNow >= FStopAfter) Stop = true;
  }
  std::atomic<bool> Stop{false};

 private:
  uint64_t FNow = 0;
  uint64_t FStopAfter;
};

TEST_F(ReceiverFixture, ASettlePauseIsBoundedAndEndsOnTheStopFlag) {
  TReceiver rx(Dev, Clock);
  ASSERT_TRUE(rx.Configure(2048000, 10, 0, 1024));
  const uint64_t before = Clock.NowMs();
  ASSERT_TRUE(rx.Retune(145000000, 2147483647));
  EXPECT_EQ(Clock.NowMs(), before + static_cast<uint64_t>(kMaxSettleMs));

  // Stopped 100 ms into a long pause: the pause ends within one check step, and the retune itself
  // still holds (tuned, buffer dropped), so the caller decides what the stop means.
  TStoppingClock stopping(100);
  TReceiver rx2(Dev, stopping);
  rx2.SetStopFlag(&stopping.Stop);
  ASSERT_TRUE(rx2.Configure(2048000, 10, 0, 1024));
  EXPECT_TRUE(rx2.Retune(145012500, kMaxSettleMs));
  EXPECT_EQ(Dev->TuneCalls.back(), 145012500);
  EXPECT_GE(stopping.NowMs(), 100u);
  EXPECT_LT(stopping.NowMs(), 100u + plat::kStopCheckMs);

  // Already stopped: no pause at all.
  const uint64_t at = stopping.NowMs();
  EXPECT_TRUE(rx2.Retune(145025000, 500));
  EXPECT_EQ(stopping.NowMs(), at);
}

TEST_F(ReceiverFixture, FailedRetuneKeepsTheConfiguration) {
  TReceiver rx(Dev, Clock);
  ASSERT_TRUE(rx.Configure(2048000, 10, 0, 1024));
  Dev->TuneSucceeds = false;
  EXPECT_FALSE(rx.Retune(145000000, 0));
  EXPECT_EQ(rx.LastError(), "fake tune failed");
  Dev->TuneSucceeds = true;
  EXPECT_TRUE(rx.Retune(145000000, 0));
}

TEST_F(ReceiverFixture, DiscardFailureIsIgnored) {
  TReceiver rx(Dev, Clock);
  ASSERT_TRUE(rx.Configure(2048000, 10, 0, 1024));
  Dev->ReadFails = true;
  EXPECT_TRUE(rx.Retune(145000000, 0));
}

// ---- Reading
// ------------------------------------------------------------------------------------------------

TEST_F(ReceiverFixture, ReadBeforeConfiguringFails) {
  TReceiver rx(Dev, Clock);
  TComplexF* s = reinterpret_cast<TComplexF*>(this);
  int32_t n = 7;
  EXPECT_FALSE(rx.ReadBlock(s, n));
  EXPECT_EQ(s, nullptr);
  EXPECT_EQ(n, 0);
  EXPECT_EQ(rx.LastError(), "not configured");
}

TEST_F(ReceiverFixture, ShortReadFailsWithBothCountsAndCanBeRetried) {
  TReceiver rx(Dev, Clock);
  ASSERT_TRUE(rx.Configure(2048000, 10, 0, 32768));
  Dev->MaxReadBytes = 1000;
  TComplexF* s;
  int32_t n;
  EXPECT_FALSE(rx.ReadBlock(s, n));
  EXPECT_EQ(rx.LastError(), "short read: 1000 of 65536 bytes");
  EXPECT_EQ(n, 0);
  Dev->MaxReadBytes = -1;
  EXPECT_TRUE(rx.ReadBlock(s, n));
  EXPECT_EQ(n, 32768);
}

TEST_F(ReceiverFixture, FailedReadCarriesTheDeviceText) {
  TReceiver rx(Dev, Clock);
  ASSERT_TRUE(rx.Configure(2048000, 10, 0, 1024));
  Dev->ReadFails = true;
  TComplexF* s;
  int32_t n;
  EXPECT_FALSE(rx.ReadBlock(s, n));
  EXPECT_EQ(rx.LastError(), "fake read failed");
}

TEST_F(ReceiverFixture, BytesAreConvertedByTheDevicesFormat) {
  Dev->Source = [](uint8_t* b, int32_t count) {
    for (int32_t k = 0; k + 1 < count; k += 2) {
      b[k] = 0x80;
      b[k + 1] = 0x7F;
    }
  };
  TReceiver rx(Dev, Clock);
  ASSERT_TRUE(rx.Configure(2048000, 10, 0, 16));
  TComplexF* s;
  int32_t n;
  ASSERT_TRUE(rx.ReadBlock(s, n));
  EXPECT_FLOAT_EQ(s[5].Re, 0.0046875f);  // offset binary: zero at 127.4
  EXPECT_FLOAT_EQ(s[5].Im, -0.003125f);
  Dev->Signed = true;
  ASSERT_TRUE(rx.ReadBlock(s, n));
  EXPECT_FLOAT_EQ(s[5].Re, -1.0f);
  EXPECT_FLOAT_EQ(s[5].Im, 0.9921875f);
}

TEST_F(ReceiverFixture, GainChangeOnEveryBlockReadsThreeAndReturnsTheThird) {
  Dev->Clock = &Clock;
  Dev->MsPerRead = 300;  // every block arrives after the gain control's pause
  int block = 0;
  Dev->Source = [&block](uint8_t* b, int32_t count) {
    ++block;
    for (int32_t k = 0; k < count; ++k) b[k] = static_cast<uint8_t>(block == 3 ? 126 : 127);
  };
  TReceiver rx(Dev, Clock);
  ASSERT_TRUE(rx.Configure(2048000, -1, 0, 1024));
  Dev->ReadSizes.clear();
  Dev->GainCalls.clear();
  int resets = Dev->ResetCalls;
  uint64_t before = Clock.NowMs();
  TComplexF* s;
  int32_t n;
  ASSERT_TRUE(rx.ReadBlock(s, n));
  EXPECT_EQ(Dev->ReadSizes, (std::vector<int32_t>{2048, 2048, 2048}));
  EXPECT_EQ(Dev->GainCalls, (std::vector<double>{52, 64, 76}));  // the third changed it once more
  EXPECT_EQ(Dev->ResetCalls, resets + 3);
  EXPECT_EQ(Clock.NowMs(), before + 3 * 300 + 3 * 5);
  EXPECT_EQ(s[0].Re, U8ToFloatTable[126]);  // the third block
}

TEST_F(ReceiverFixture, SettledGainReadsOnce) {
  Dev->Source = [](uint8_t* b, int32_t count) {
    for (int32_t k = 0; k < count; ++k) b[k] = static_cast<uint8_t>(k % 4 < 2 ? 140 : 115);  // rms ~0.1
  };
  TReceiver rx(Dev, Clock);
  ASSERT_TRUE(rx.Configure(2048000, -1, 0, 1024));
  Dev->ReadSizes.clear();
  TComplexF* s;
  int32_t n;
  ASSERT_TRUE(rx.ReadBlock(s, n));
  EXPECT_EQ(Dev->ReadSizes.size(), 1u);
  EXPECT_EQ(rx.AgcLevelClass(), lsGood);
  EXPECT_TRUE(rx.AgcSettled());
}

// ---- On the simulated receiver ----------------------------------------------------------------------------

TEST(ReceiverOnSim, DiscardDropsTheSettlingSamplesAndDcIsRemoved) {
  plat::TManualClock clock;
  auto sim = std::make_shared<TSimDevice>();
  sim->Open(0);
  sim->SettleSamples = 2000;
  sim->DcI = 0.05;
  sim->AddCarrier(sim->CenterHz + 100000, -6);  // heard only at the first centre
  TReceiver rx(sim, clock);
  ASSERT_TRUE(rx.Configure(2048000, 0, 0, 4096));
  ASSERT_NE(rx.DcBlock(), nullptr);
  TComplexF* s;
  int32_t n;
  ASSERT_TRUE(rx.ReadBlock(s, n));
  EXPECT_GT(Rms(s, n), 0.4);
  ASSERT_TRUE(rx.Retune(sim->CenterHz + 5000000, 0));
  ASSERT_TRUE(rx.ReadBlock(s, n));
  EXPECT_LT(Rms(s, n), 0.01) << "samples from the old centre reached the caller";
  double meanI = 0;
  for (int32_t k = 0; k < n; ++k) meanI += s[k].Re;
  EXPECT_NEAR(meanI / n, 0.0, 0.002);
}
