#include "uSdrRtlSdr.h"

#include <gtest/gtest.h>

#include <atomic>
#include <type_traits>

#include "TestSupport.h"
#include "pDynLib.h"
#include "pSystem.h"

#if !defined(_WIN32) && __has_include(<rtl-sdr.h>)
#include <rtl-sdr.h>
#define TALV_HAVE_RTLSDR_HEADER 1
#endif

namespace {

// --- Our declarations against the library's published header (native builds that have it) ---------

#ifdef TALV_HAVE_RTLSDR_HEADER
static_assert(std::is_same_v<decltype(&rtlsdr_get_device_count), TRtlGetDeviceCount>);
static_assert(std::is_same_v<decltype(&rtlsdr_get_device_name), TRtlGetDeviceName>);
static_assert(std::is_same_v<decltype(&rtlsdr_get_device_usb_strings), TRtlGetDeviceUsbStrings>);
static_assert(std::is_same_v<decltype(&rtlsdr_open), TRtlOpen>);
static_assert(std::is_same_v<decltype(&rtlsdr_close), TRtlClose>);
static_assert(std::is_same_v<decltype(&rtlsdr_set_center_freq), TRtlSetCenterFreq>);
static_assert(std::is_same_v<decltype(&rtlsdr_get_center_freq), TRtlGetCenterFreq>);
static_assert(std::is_same_v<decltype(&rtlsdr_set_sample_rate), TRtlSetSampleRate>);
static_assert(std::is_same_v<decltype(&rtlsdr_get_sample_rate), TRtlGetSampleRate>);
static_assert(std::is_same_v<decltype(&rtlsdr_set_tuner_gain_mode), TRtlSetTunerGainMode>);
static_assert(std::is_same_v<decltype(&rtlsdr_set_tuner_gain), TRtlSetTunerGain>);
static_assert(std::is_same_v<decltype(&rtlsdr_get_tuner_gains), TRtlGetTunerGains>);
static_assert(std::is_same_v<decltype(&rtlsdr_set_agc_mode), TRtlSetAgcMode>);
static_assert(std::is_same_v<decltype(&rtlsdr_set_freq_correction), TRtlSetFreqCorrection>);
static_assert(std::is_same_v<decltype(&rtlsdr_set_tuner_bandwidth), TRtlSetTunerBandwidth>);
static_assert(std::is_same_v<decltype(&rtlsdr_reset_buffer), TRtlResetBuffer>);
static_assert(std::is_same_v<decltype(&rtlsdr_read_sync), TRtlReadSync>);
static_assert(std::is_same_v<decltype(&rtlsdr_read_async), TRtlReadAsync>);
static_assert(std::is_same_v<decltype(&rtlsdr_cancel_async), TRtlCancelAsync>);
static_assert(std::is_same_v<rtlsdr_read_async_cb_t, TRtlReadAsyncCb>);
#endif

}  // namespace

// --- Operations on a receiver that is not open -----------------------------------------------------

TEST(RtlSdrClosed, OperationsFailWithNotOpen) {
  TRtlSdrDevice dev;
  EXPECT_EQ(dev.Kind(), skRtlSdr);
  EXPECT_FALSE(dev.IsOpen());
  EXPECT_EQ(dev.Index(), -1);
  EXPECT_FALSE(dev.NeedsDcBlock());
  EXPECT_TRUE(dev.HasHardwareAgc());
  EXPECT_FALSE(dev.SamplesSigned());
  TSdrLimits limits;
  dev.GetLimits(limits);
  EXPECT_EQ(limits.MinHz, 24000000);
  EXPECT_EQ(limits.MaxHz, 1766000000);
  EXPECT_EQ(limits.MinRate, 225001);
  EXPECT_EQ(limits.MaxRate, 2560000);

  EXPECT_FALSE(dev.SetCenterFreq(100000000));
  EXPECT_EQ(dev.GetLastError(), "not open");
  EXPECT_FALSE(dev.SetSampleRate(2048000));
  EXPECT_EQ(dev.GetLastError(), "not open");
  EXPECT_FALSE(dev.SetGain(20));
  EXPECT_EQ(dev.GetLastError(), "not open");
  uint8_t buf[16];
  int32_t got = 99;
  EXPECT_FALSE(dev.ReadSync(buf, 16, got));
  EXPECT_EQ(got, 0);
  EXPECT_EQ(dev.GetLastError(), "not open");
  EXPECT_FALSE(dev.StartAsync(nullptr, nullptr));
  EXPECT_FALSE(dev.IsStreaming());
  // These two only answer false, without a text.
  EXPECT_FALSE(dev.ResetBuffer());
  EXPECT_FALSE(dev.SetFreqCorrection(3));
  dev.Close();
  dev.Close();
  EXPECT_EQ(dev.GetCenterFreq(), 0);
  EXPECT_EQ(dev.GetSampleRate(), 0);
}

#ifndef _WIN32

// --- The real library with no receiver attached -------------------------------------------------

class RtlSdrRealLibrary : public ::testing::Test {
 protected:
  void SetUp() override {
    ResetRtlSdrLibrary("");
    if (!RtlSdrAvailable() && !testsupport::InCI()) GTEST_SKIP() << "librtlsdr.so.0 is not installed";
  }
};

TEST_F(RtlSdrRealLibrary, EveryExportResolves) {
  EXPECT_TRUE(RtlSdrAvailable());
  EXPECT_EQ(RtlSdrLoadError(), "");
  EXPECT_EQ(RtlSdrMissingExports(), std::vector<std::string>{});
}

TEST_F(RtlSdrRealLibrary, NothingConnectedListsNothingAndOpenFails) {
  EXPECT_TRUE(EnumerateRtlSdr().empty());
  TRtlSdrDevice dev;
  EXPECT_FALSE(dev.Open(0));
  EXPECT_EQ(dev.GetLastError(), "no RTL-SDR device found");
  EXPECT_FALSE(dev.IsOpen());
  EXPECT_EQ(dev.Index(), -1);
}

#else  // _WIN32

// --- Binding against the stand-in libraries beside the test program --------------------------------

namespace {

std::string FakeFolder(const std::string& name) {
  return plat::ModuleDir() + "fakes\\" + name;
}

// Keys of the stand-in's control table (see tests/fakes/fake_rtlsdr.c).
enum {
  kOpens,
  kCloses,
  kCenter,
  kRate,
  kBandwidth,
  kGainMode,
  kGain,
  kAgc,
  kPpm,
  kResets,
  kChunk,
  kReadStatus,
  kReadLimit,
  kReadTotal,
  kOpenStatus,
  kCount,
  kRateStatus,
  kFreqStatus
};

class RtlSdrFake : public ::testing::Test {
 protected:
  void UseFolder(const std::string& folder) { ResetRtlSdrLibrary(folder); }
  void SetUp() override {
    UseFolder(FakeFolder("one"));
    ASSERT_TRUE(RtlSdrAvailable()) << RtlSdrLoadError();
    FLib = plat::LoadDynLib(FakeFolder("one") + "\\rtlsdr.dll");
    ASSERT_TRUE(plat::BindDynLib(FLib, "fake_rtl_get", FGet));
    ASSERT_TRUE(plat::BindDynLib(FLib, "fake_rtl_control", FControl));
  }
  void TearDown() override {
    FDev.reset();
    plat::FreeDynLib(FLib);
    ResetRtlSdrLibrary("");
  }
  int64_t Get(int key) { return FGet(key); }
  void Control(int key, int64_t value) { FControl(key, value); }
  TRtlSdrDevice& OpenDevice() {
    FDev = std::make_unique<TRtlSdrDevice>();
    EXPECT_TRUE(FDev->Open(0)) << FDev->GetLastError();
    return *FDev;
  }

  plat::TDynLib FLib = nullptr;
  int64_t(__cdecl* FGet)(int) = nullptr;
  void(__cdecl* FControl)(int, int64_t) = nullptr;
  std::unique_ptr<TRtlSdrDevice> FDev;
};

}  // namespace

TEST(RtlSdrBinding, MissingLibraryGivesTheNotFoundText) {
  testsupport::TTempDir empty;
  ResetRtlSdrLibrary(empty.Path());
  EXPECT_FALSE(RtlSdrAvailable());
  EXPECT_EQ(RtlSdrLoadError(), "rtlsdr.dll not found (looked in " + empty.Path() + "\\ and PATH)");
  EXPECT_EQ(RtlSdrMissingExports().size(), 19u);
  EXPECT_TRUE(EnumerateRtlSdr().empty());
  TRtlSdrDevice dev;
  EXPECT_FALSE(dev.Open(0));
  EXPECT_EQ(dev.GetLastError(), RtlSdrLoadError());
  ResetRtlSdrLibrary("");
}

TEST(RtlSdrBinding, TheProgramFolderIsSearchedByDefault) {
  ResetRtlSdrLibrary("");
  // No stand-in lies beside the test program itself, and none is on the search path.
  EXPECT_EQ(RtlSdrLoadError(), "rtlsdr.dll not found (looked in " + plat::ModuleDir() + " and PATH)");
}

TEST(RtlSdrBinding, LibraryWithoutReadSyncCountsAsNotLoaded) {
  ResetRtlSdrLibrary(FakeFolder("noexport"));
  EXPECT_FALSE(RtlSdrAvailable());
  EXPECT_EQ(RtlSdrLoadError(), "rtlsdr.dll loaded but required exports are missing");
  EXPECT_TRUE(EnumerateRtlSdr().empty());
  TRtlSdrDevice dev;
  EXPECT_FALSE(dev.Open(0));
  EXPECT_EQ(dev.GetLastError(), "rtlsdr.dll loaded but required exports are missing");
  ResetRtlSdrLibrary("");
}

TEST(RtlSdrBinding, SecondFileNameIsTriedInTheFolder) {
  ResetRtlSdrLibrary(FakeFolder("altname"));  // holds librtlsdr.dll only
  EXPECT_TRUE(RtlSdrAvailable()) << RtlSdrLoadError();
  EXPECT_EQ(EnumerateRtlSdr().size(), 1u);
  ResetRtlSdrLibrary("");
}

TEST_F(RtlSdrFake, EveryExportResolvesAndOneReceiverIsListed) {
  EXPECT_EQ(RtlSdrLoadError(), "");
  EXPECT_EQ(RtlSdrMissingExports(), std::vector<std::string>{});
  TSdrDeviceInfoArray list = EnumerateRtlSdr();
  ASSERT_EQ(list.size(), 1u);
  EXPECT_EQ(list[0].Index, 0);
  EXPECT_EQ(list[0].Kind, skRtlSdr);
  EXPECT_EQ(list[0].Name, "Fake RTL2832U");
  EXPECT_EQ(list[0].Serial, "00000001");
}

TEST_F(RtlSdrFake, OpenNamesTheReceiverAndTurnsTheDigitalAgcOff) {
  TRtlSdrDevice& dev = OpenDevice();
  EXPECT_TRUE(dev.IsOpen());
  EXPECT_EQ(dev.Index(), 0);
  EXPECT_EQ(dev.GetName(), "Fake RTL2832U [00000001]");
  EXPECT_EQ(Get(kAgc), 10);  // set_agc_mode(dev, 0)
  dev.Close();
  EXPECT_FALSE(dev.IsOpen());
  EXPECT_EQ(dev.Index(), -1);
  EXPECT_EQ(Get(kCloses), 1);
}

TEST_F(RtlSdrFake, IndexOutOfRangeAndLibraryOpenFailure) {
  TRtlSdrDevice dev;
  EXPECT_FALSE(dev.Open(-1));
  EXPECT_EQ(dev.GetLastError(), "device index -1 out of range (1 present)");
  EXPECT_FALSE(dev.Open(1));
  EXPECT_EQ(dev.GetLastError(), "device index 1 out of range (1 present)");
  Control(kOpenStatus, -3);
  EXPECT_FALSE(dev.Open(0));
  EXPECT_EQ(dev.GetLastError(), "rtlsdr_open failed (-3) - is the WinUSB driver installed?");
  EXPECT_FALSE(dev.IsOpen());
  EXPECT_EQ(dev.GetName(), "Fake RTL2832U [00000001]");  // name and serial stay after the failure
  Control(kCount, 0);
  EXPECT_FALSE(dev.Open(0));
  EXPECT_EQ(dev.GetLastError(), "no RTL-SDR device found");
}

TEST_F(RtlSdrFake, TuningStoresTheFrequencyAndRefusesWhatThirtyTwoBitsCannotHold) {
  TRtlSdrDevice& dev = OpenDevice();
  EXPECT_TRUE(dev.SetCenterFreq(433920000));
  EXPECT_EQ(Get(kCenter), 433920000);
  EXPECT_EQ(dev.GetCenterFreq(), 433920000);
  // 2^32 + 100 MHz must not wrap to 100 MHz; a negative value must not wrap either.
  EXPECT_FALSE(dev.SetCenterFreq(4294967296LL + 100000000));
  EXPECT_EQ(dev.GetLastError(), "set_center_freq(4394967296) refused: outside 0 .. 4294967295 Hz");
  EXPECT_FALSE(dev.SetCenterFreq(-1));
  EXPECT_EQ(Get(kCenter), 433920000);
  Control(kFreqStatus, -1);
  EXPECT_FALSE(dev.SetCenterFreq(100000000));
  EXPECT_EQ(dev.GetLastError(), "set_center_freq(100000000) failed (-1)");
}

TEST_F(RtlSdrFake, SampleRateIsClampedAndTheChipsRateIsKept) {
  TRtlSdrDevice& dev = OpenDevice();
  EXPECT_TRUE(dev.SetSampleRate(3200000));
  EXPECT_EQ(Get(kRate), 2560000);
  EXPECT_TRUE(dev.SetSampleRate(100000));
  EXPECT_EQ(Get(kRate), 225000);  // 225001 asked; the stand-in's chip runs at a multiple of 8
  EXPECT_EQ(dev.GetSampleRate(), 225000);
  EXPECT_EQ(Get(kBandwidth), 225000);
  Control(kRateStatus, -22);
  EXPECT_FALSE(dev.SetSampleRate(3000000));
  EXPECT_EQ(dev.GetLastError(), "set_sample_rate(2560000) failed (-22)");
}

TEST_F(RtlSdrFake, ManualGainPicksTheNearestTunerGainEarlierOnATie) {
  TRtlSdrDevice& dev = OpenDevice();  // tuner gains 0, 197, 207, 297 tenths of dB
  EXPECT_TRUE(dev.SetGain(20.0));
  EXPECT_EQ(Get(kGainMode), 1);
  EXPECT_EQ(Get(kGain), 197);
  EXPECT_TRUE(dev.SetGain(20.2));  // 197 and 207 both 5 away
  EXPECT_EQ(Get(kGain), 197);
  EXPECT_TRUE(dev.SetGain(25.3));
  EXPECT_EQ(Get(kGain), 297);
  EXPECT_TRUE(dev.SetGain(0));
  EXPECT_EQ(Get(kGain), 0);
  EXPECT_TRUE(dev.SetGain(-1));
  EXPECT_EQ(Get(kGainMode), 0);
}

TEST_F(RtlSdrFake, FrequencyCorrectionAndBufferReset) {
  TRtlSdrDevice& dev = OpenDevice();
  EXPECT_TRUE(dev.SetFreqCorrection(5));
  EXPECT_EQ(Get(kPpm), 5);
  EXPECT_TRUE(dev.SetFreqCorrection(5));  // the library's "unchanged" status is no failure
  EXPECT_TRUE(dev.ResetBuffer());
  EXPECT_EQ(Get(kResets), 1);
}

TEST_F(RtlSdrFake, ReadSyncKeepsReadingShortReadsUntilFull) {
  TRtlSdrDevice& dev = OpenDevice();
  Control(kChunk, 1000);
  std::vector<uint8_t> buf(4096);
  int32_t got = 0;
  ASSERT_TRUE(dev.ReadSync(buf.data(), 4096, got));
  EXPECT_EQ(got, 4096);
  for (int i = 0; i < 4096; ++i) ASSERT_EQ(buf[size_t(i)], uint8_t(i)) << i;
}

TEST_F(RtlSdrFake, ReadSyncStopsWhenTheLibraryHasNothingAndReportsErrors) {
  TRtlSdrDevice& dev = OpenDevice();
  Control(kChunk, 700);
  Control(kReadLimit, 1500);
  std::vector<uint8_t> buf(4096);
  int32_t got = 0;
  EXPECT_TRUE(dev.ReadSync(buf.data(), 4096, got));  // a partial block is a success
  EXPECT_EQ(got, 1500);
  EXPECT_FALSE(dev.ReadSync(buf.data(), 4096, got));  // nothing at all: false, no text
  EXPECT_EQ(got, 0);
  EXPECT_FALSE(dev.ReadSync(buf.data(), 0, got));
  Control(kReadStatus, -7);
  EXPECT_FALSE(dev.ReadSync(buf.data(), 4096, got));
  EXPECT_EQ(dev.GetLastError(), "read_sync failed (-7)");
}

namespace {
std::atomic<uint32_t> gAsyncBytes{0};
void CountBytes(const uint8_t*, uint32_t count, void* user) {
  if (user == &gAsyncBytes) gAsyncBytes += count;
}
}  // namespace

TEST_F(RtlSdrFake, AsyncStreamingHandsBuffersToTheCallbackUntilStopped) {
  TRtlSdrDevice& dev = OpenDevice();
  gAsyncBytes = 0;
  ASSERT_TRUE(dev.StartAsync(&CountBytes, &gAsyncBytes));
  EXPECT_TRUE(dev.IsStreaming());
  EXPECT_TRUE(dev.StartAsync(&CountBytes, &gAsyncBytes));  // already streaming
  EXPECT_EQ(Get(kResets), 1);
  for (int i = 0; i < 10000 && gAsyncBytes < 3 * 16384; ++i) plat::SleepMs(1);
  EXPECT_EQ(gAsyncBytes.load(), 3u * 16384u);
  dev.StopAsync();
  EXPECT_FALSE(dev.IsStreaming());
  dev.Close();
}

#endif  // _WIN32
