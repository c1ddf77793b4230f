#include "uSdrHackRf.h"

#include <gtest/gtest.h>

#include <cstddef>
#include <functional>
#include <type_traits>
#include <vector>

#include "TestSupport.h"
#include "pDynLib.h"
#include "pSystem.h"

#if !defined(_WIN32) && __has_include(<libhackrf/hackrf.h>)
#include <libhackrf/hackrf.h>
#define TALV_HAVE_HACKRF_HEADER 1
#endif

namespace {

// --- Our declarations against the library's published header (native builds that have it) ---------

#ifdef TALV_HAVE_HACKRF_HEADER
// The library's own types mapped to the ones we declare; everything else must match exactly.
template <typename T>
struct TOurs {
  using Type = T;
};
template <>
struct TOurs<hackrf_transfer*> {
  using Type = THackRfTransfer*;
};
template <>
struct TOurs<hackrf_device_list_t*> {
  using Type = THackRfDeviceList*;
};
template <>
struct TOurs<hackrf_sample_block_cb_fn> {
  using Type = THackRfSampleBlockCb;
};
template <>
struct TOurs<enum hackrf_usb_board_id> {
  using Type = uint32_t;
};
template <>
struct TOurs<enum hackrf_error> {
  using Type = int;
};
template <typename F>
struct TOursFn;
template <typename R, typename... A>
struct TOursFn<R (*)(A...)> {
  using Type = typename TOurs<R>::Type (*)(typename TOurs<A>::Type...);
};
template <typename Theirs, typename Ours>
constexpr bool kSame = std::is_same_v<typename TOursFn<Theirs>::Type, Ours>;

static_assert(kSame<decltype(&hackrf_init), THackRfInit>);
static_assert(kSame<decltype(&hackrf_exit), THackRfExit>);
static_assert(kSame<decltype(&hackrf_device_list), THackRfDeviceListFn>);
static_assert(kSame<decltype(&hackrf_device_list_free), THackRfDeviceListFree>);
static_assert(kSame<decltype(&hackrf_usb_board_id_name), THackRfUsbBoardIdName>);
static_assert(kSame<decltype(&hackrf_error_name), THackRfErrorName>);
static_assert(kSame<decltype(&hackrf_open), THackRfOpen>);
static_assert(kSame<decltype(&hackrf_open_by_serial), THackRfOpenBySerial>);
static_assert(kSame<decltype(&hackrf_device_list_open), THackRfDeviceListOpen>);
static_assert(kSame<decltype(&hackrf_close), THackRfClose>);
static_assert(kSame<decltype(&hackrf_set_freq), THackRfSetFreq>);
static_assert(kSame<decltype(&hackrf_set_sample_rate), THackRfSetSampleRate>);
static_assert(kSame<decltype(&hackrf_set_baseband_filter_bandwidth), THackRfSetBasebandFilterBandwidth>);
static_assert(kSame<decltype(&hackrf_compute_baseband_filter_bw), THackRfComputeBasebandFilterBw>);
static_assert(kSame<decltype(&hackrf_set_lna_gain), THackRfSetLnaGain>);
static_assert(kSame<decltype(&hackrf_set_vga_gain), THackRfSetVgaGain>);
static_assert(kSame<decltype(&hackrf_set_amp_enable), THackRfSetAmpEnable>);
static_assert(kSame<decltype(&hackrf_set_antenna_enable), THackRfSetAntennaEnable>);
static_assert(kSame<decltype(&hackrf_start_rx), THackRfStartRx>);
static_assert(kSame<decltype(&hackrf_stop_rx), THackRfStopRx>);
static_assert(kSame<decltype(&hackrf_is_streaming), THackRfIsStreaming>);
static_assert(kSame<hackrf_sample_block_cb_fn, THackRfSampleBlockCb>);
static_assert(sizeof(enum hackrf_usb_board_id) == sizeof(uint32_t));
static_assert(sizeof(enum hackrf_error) == sizeof(int));

// The two structures we read, field by field.
static_assert(sizeof(hackrf_transfer) == sizeof(THackRfTransfer));
static_assert(offsetof(hackrf_transfer, device) == offsetof(THackRfTransfer, device));
static_assert(offsetof(hackrf_transfer, buffer) == offsetof(THackRfTransfer, buffer));
static_assert(offsetof(hackrf_transfer, buffer_length) == offsetof(THackRfTransfer, buffer_length));
static_assert(offsetof(hackrf_transfer, valid_length) == offsetof(THackRfTransfer, valid_length));
static_assert(offsetof(hackrf_transfer, rx_ctx) == offsetof(THackRfTransfer, rx_ctx));
static_assert(offsetof(hackrf_transfer, tx_ctx) == offsetof(THackRfTransfer, tx_ctx));
static_assert(sizeof(hackrf_device_list_t) == sizeof(THackRfDeviceList));
static_assert(offsetof(hackrf_device_list_t, serial_numbers) == offsetof(THackRfDeviceList, serial_numbers));
static_assert(offsetof(hackrf_device_list_t, usb_board_ids) == offsetof(THackRfDeviceList, usb_board_ids));
static_assert(offsetof(hackrf_device_list_t, usb_device_index) ==
              offsetof(THackRfDeviceList, usb_device_index));
static_assert(offsetof(hackrf_device_list_t, devicecount) == offsetof(THackRfDeviceList, devicecount));
static_assert(offsetof(hackrf_device_list_t, usb_devices) == offsetof(THackRfDeviceList, usb_devices));
static_assert(offsetof(hackrf_device_list_t, usb_devicecount) ==
              offsetof(THackRfDeviceList, usb_devicecount));
#endif

}  // namespace

// --- Gain rules ---------------------------------------------------------------------------------------

TEST(HackRfGain, StagesClampToTheirSteps) {
  EXPECT_EQ(ClampLnaGain(-3), 0);
  EXPECT_EQ(ClampLnaGain(15), 8);
  EXPECT_EQ(ClampLnaGain(16), 16);
  EXPECT_EQ(ClampLnaGain(41), 40);
  EXPECT_EQ(ClampLnaGain(1000), 40);
  EXPECT_EQ(ClampVgaGain(-1), 0);
  EXPECT_EQ(ClampVgaGain(7), 6);
  EXPECT_EQ(ClampVgaGain(62), 62);
  EXPECT_EQ(ClampVgaGain(63), 62);
}

TEST(HackRfGain, TotalGainSplitsLnaFirst) {
  int32_t lna = -1, vga = -1;
  SplitHackRfGain(30, lna, vga);
  EXPECT_EQ(lna, 24);
  EXPECT_EQ(vga, 6);
  SplitHackRfGain(45, lna, vga);
  EXPECT_EQ(lna, 40);
  EXPECT_EQ(vga, 4);
  SplitHackRfGain(100, lna, vga);
  EXPECT_EQ(lna, 40);
  EXPECT_EQ(vga, 60);
  SplitHackRfGain(-5, lna, vga);
  EXPECT_EQ(lna, 0);
  EXPECT_EQ(vga, 0);
}

// --- A receiver that is not open ------------------------------------------------------------------

TEST(HackRfClosed, FixedAnswersAndNotOpenFailures) {
  plat::TManualClock clock;
  THackRfDevice dev(clock);
  EXPECT_EQ(dev.Kind(), skHackRf);
  EXPECT_EQ(dev.GetName(), "HackRF");
  EXPECT_TRUE(dev.NeedsDcBlock());
  EXPECT_FALSE(dev.HasHardwareAgc());
  EXPECT_TRUE(dev.SamplesSigned());
  EXPECT_EQ(dev.Index(), -1);
  TSdrLimits limits;
  dev.GetLimits(limits);
  EXPECT_EQ(limits.MinHz, 1000000);
  EXPECT_EQ(limits.MaxHz, 6000000000LL);
  EXPECT_EQ(limits.MinRate, 2000000);
  EXPECT_EQ(limits.MaxRate, 20000000);

  EXPECT_FALSE(dev.SetCenterFreq(100000000));
  EXPECT_EQ(dev.GetLastError(), "not open");
  EXPECT_FALSE(dev.SetSampleRate(10000000));
  EXPECT_EQ(dev.GetLastError(), "not open");
  uint8_t buf[64];
  int32_t got = 5;
  EXPECT_FALSE(dev.ReadSync(buf, 64, got));
  EXPECT_EQ(got, 0);
  EXPECT_EQ(dev.GetLastError(), "not open");
  EXPECT_FALSE(dev.StartAsync(nullptr, nullptr));
  EXPECT_FALSE(dev.IsStreaming());
  // Gains are only stored while closed.
  EXPECT_TRUE(dev.SetGains(24, 30, true, false));
  EXPECT_EQ(dev.LnaDb(), 24);
  EXPECT_TRUE(dev.SetGain(45));
  EXPECT_EQ(dev.LnaDb(), 40);
  EXPECT_EQ(dev.VgaDb(), 4);
  EXPECT_TRUE(dev.SetGain(-1));  // automatic: the stored gains stay
  EXPECT_EQ(dev.LnaDb(), 40);
  EXPECT_TRUE(dev.ResetBuffer());
  dev.Close();
}

TEST(HackRfClosed, NoFrequencyCorrection) {
  THackRfDevice dev;
  EXPECT_TRUE(dev.SetFreqCorrection(0));
  EXPECT_EQ(dev.GetLastError(), "");
  EXPECT_FALSE(dev.SetFreqCorrection(-2));
  EXPECT_EQ(dev.GetLastError(),
            "HackRF has no frequency correction setting; leave Frequency Correction at 0");
}

#ifndef _WIN32

// --- The real library with no receiver attached -------------------------------------------------

class HackRfRealLibrary : public ::testing::Test {
 protected:
  void SetUp() override {
    ResetHackRfLibrary("");
    if (!HackRfAvailable() && !testsupport::InCI()) GTEST_SKIP() << "libhackrf.so.0 is not usable here";
  }
};

TEST_F(HackRfRealLibrary, EveryExportResolvesAndInitSucceeds) {
  EXPECT_TRUE(HackRfAvailable());
  EXPECT_EQ(HackRfLoadError(), "");
  EXPECT_EQ(HackRfMissingExports(), std::vector<std::string>{});
  // The library names its statuses; the number follows in brackets.
  std::string text = HackRfErrorText(-5);
  EXPECT_GT(text.size(), 5u);
  EXPECT_EQ(text.substr(text.size() - 5), " (-5)");
}

TEST_F(HackRfRealLibrary, NothingConnectedListsNothingAndOpenFails) {
  EXPECT_TRUE(EnumerateHackRf().empty());
  THackRfDevice dev;
  const std::string notFound = "hackrf_open failed: " + HackRfErrorText(-5);  // HACKRF_ERROR_NOT_FOUND
  EXPECT_FALSE(dev.Open(0));
  EXPECT_EQ(dev.GetLastError(), notFound);
  EXPECT_FALSE(dev.Open(1));
  EXPECT_EQ(dev.GetLastError(), "no HackRF with index 1 (found 0)");

  std::shared_ptr<THackRfDevice> opened;
  std::string error;
  EXPECT_FALSE(THackRfDevice::OpenBySerial("", 0, opened, error));
  EXPECT_EQ(error, notFound);
  EXPECT_FALSE(opened);
  EXPECT_FALSE(THackRfDevice::OpenBySerial("0000000000000000deadbeef", 0, opened, error));
  EXPECT_EQ(error, notFound);
}

#else  // _WIN32

// --- Binding and receiving against the stand-in library --------------------------------------------

namespace {

std::string FakeFolder(const std::string& name) {
  return plat::ModuleDir() + "fakes\\" + name;
}
const char* const kSerial = "0000000000000000457863c8235a3c4f";

// Keys of the stand-in's control table (see tests/fakes/fake_hackrf.c).
enum {
  kInits,
  kExits,
  kCount,
  kOpenedIndex,
  kCloses,
  kFreq,
  kRateX1000,
  kBw,
  kLna,
  kVga,
  kAmp,
  kAntenna,
  kLnaStatus,
  kFreqStatus,
  kBwStatus,
  kRxStarts,
  kRxStops,
  kLists,
  kListFrees,
  kStartStatus
};

// A clock whose every wait lets the "library thread" deliver what the test has queued: the receive
// routine then runs between the reader's polls, as it would on its own thread.
class TFeedClock : public plat::IClock {
 public:
  uint64_t NowMs() override { return FNow; }
  void SleepMs(uint32_t ms) override {
    FNow += ms;
    if (OnSleep) OnSleep();
  }
  std::function<void()> OnSleep;
  uint64_t FNow = 1000;
};

class HackRfFake : public ::testing::Test {
 protected:
  void SetUp() override {
    ResetHackRfLibrary(FakeFolder("one"));
    ASSERT_TRUE(HackRfAvailable()) << HackRfLoadError();
    FLib = plat::LoadDynLib(FakeFolder("one") + "\\hackrf.dll");
    ASSERT_TRUE(plat::BindDynLib(FLib, "fake_hackrf_get", FGet));
    ASSERT_TRUE(plat::BindDynLib(FLib, "fake_hackrf_control", FControl));
    ASSERT_TRUE(plat::BindDynLib(FLib, "fake_hackrf_deliver", FDeliver));
  }
  void TearDown() override {
    FDev.reset();
    plat::FreeDynLib(FLib);
    ResetHackRfLibrary("");
  }
  int64_t Get(int key) { return FGet(key); }
  void Control(int key, int64_t value) { FControl(key, value); }
  void Deliver(std::vector<uint8_t> bytes) { ASSERT_EQ(FDeliver(bytes.data(), int(bytes.size())), 0); }
  THackRfDevice& OpenDevice() {
    FDev = std::make_shared<THackRfDevice>(FClock);
    EXPECT_TRUE(FDev->Open(0)) << FDev->GetLastError();
    return *FDev;
  }
  // Starts the stream: a first read that finds nothing (in the clock's time, not real time).
  void StartStream(THackRfDevice& dev) {
    uint8_t b[2];
    int32_t got = 0;
    EXPECT_FALSE(dev.ReadSync(b, 2, got));
    EXPECT_EQ(Get(kRxStarts), 1);
  }

  plat::TDynLib FLib = nullptr;
  int64_t(__cdecl* FGet)(int) = nullptr;
  void(__cdecl* FControl)(int, int64_t) = nullptr;
  int(__cdecl* FDeliver)(uint8_t*, int) = nullptr;
  TFeedClock FClock;
  std::shared_ptr<THackRfDevice> FDev;
};

// The library's byte stream from position `from`: I bytes (even positions) have the top bit clear and
// carry the pair number's low 7 bits; Q bytes have it set and carry the next 7 bits.
std::vector<uint8_t> Stream(int64_t from, int count) {
  std::vector<uint8_t> v(static_cast<size_t>(count));
  for (int i = 0; i < count; ++i) {
    int64_t p = from + i, pair = p / 2;
    v[size_t(i)] = (p % 2 == 0) ? uint8_t(pair & 0x7F) : uint8_t(0x80 | ((pair >> 7) & 0x7F));
  }
  return v;
}

}  // namespace

TEST(HackRfBinding, MissingLibraryGivesTheNotFoundText) {
  testsupport::TTempDir empty;
  ResetHackRfLibrary(empty.Path());
  EXPECT_FALSE(HackRfAvailable());
  EXPECT_EQ(HackRfLoadError(), "hackrf.dll not found (looked in " + empty.Path() + "\\ and PATH)");
  EXPECT_TRUE(EnumerateHackRf().empty());
  THackRfDevice dev;
  EXPECT_FALSE(dev.Open(0));
  EXPECT_EQ(dev.GetLastError(), HackRfLoadError());
  std::shared_ptr<THackRfDevice> opened;
  std::string error;
  EXPECT_FALSE(THackRfDevice::OpenBySerial(kSerial, 0, opened, error));
  EXPECT_EQ(error, HackRfLoadError());
  EXPECT_EQ(HackRfErrorText(-5), "-5");  // no library, no names
  ResetHackRfLibrary("");
}

TEST(HackRfBinding, LibraryWithoutDeviceListCountsAsNotLoaded) {
  ResetHackRfLibrary(FakeFolder("noexport"));
  EXPECT_FALSE(HackRfAvailable());
  EXPECT_EQ(HackRfLoadError(), "hackrf.dll loaded but required exports are missing");
  EXPECT_EQ(HackRfMissingExports().size(), 21u);
  THackRfDevice dev;
  EXPECT_FALSE(dev.Open(0));
  EXPECT_EQ(dev.GetLastError(), "hackrf.dll loaded but required exports are missing");
  ResetHackRfLibrary("");
}

TEST(HackRfBinding, FailedInitCountsAsNotLoaded) {
  plat::SetEnv("FAKE_HACKRF_INIT", "-1000");
  ResetHackRfLibrary(FakeFolder("one"));
  EXPECT_FALSE(HackRfAvailable());
  EXPECT_EQ(HackRfLoadError(), "hackrf_init failed");
  plat::UnsetEnv("FAKE_HACKRF_INIT");
  ResetHackRfLibrary("");
}

TEST_F(HackRfFake, EveryExportResolvesAndTheReceiverIsListed) {
  EXPECT_EQ(HackRfMissingExports(), std::vector<std::string>{});
  EXPECT_EQ(Get(kInits), 1);
  EXPECT_EQ(HackRfErrorText(-5), "HACKRF_ERROR_NOT_FOUND (-5)");
  EXPECT_EQ(HackRfErrorText(-9), "-9");  // the library has no name for it
  TSdrDeviceInfoArray list = EnumerateHackRf();
  ASSERT_EQ(list.size(), 1u);
  EXPECT_EQ(list[0].Index, 0);
  EXPECT_EQ(list[0].Kind, skHackRf);
  EXPECT_EQ(list[0].Name, "HackRF One");
  EXPECT_EQ(list[0].Serial, kSerial);
  EXPECT_EQ(Get(kListFrees), Get(kLists));
}

TEST_F(HackRfFake, OpenByIndexAppliesTheStoredGains) {
  THackRfDevice& dev = OpenDevice();
  EXPECT_TRUE(dev.IsOpen());
  EXPECT_EQ(dev.GetName(), "HackRF");
  EXPECT_EQ(Get(kLna), 16);
  EXPECT_EQ(Get(kVga), 20);
  EXPECT_EQ(Get(kAmp), 0);
  EXPECT_TRUE(dev.Open(0));  // already open: nothing else
  dev.Close();
  EXPECT_FALSE(dev.IsOpen());
  EXPECT_EQ(Get(kCloses), 1);
}

TEST_F(HackRfFake, OpenByListIndexAndItsLimit) {
  Control(kCount, 2);
  THackRfDevice dev(FClock);
  EXPECT_FALSE(dev.Open(2));
  EXPECT_EQ(dev.GetLastError(), "no HackRF with index 2 (found 2)");
  EXPECT_TRUE(dev.Open(1));
  EXPECT_EQ(Get(kOpenedIndex), 1);
  EXPECT_EQ(dev.Index(), 1);
  EXPECT_EQ(Get(kListFrees), Get(kLists));
  THackRfDevice first(FClock);
  EXPECT_TRUE(first.Open(0));
  EXPECT_EQ(Get(kOpenedIndex), 0);
}

TEST_F(HackRfFake, OpenBySerialNamesItAndFallsBackToTheIndex) {
  std::shared_ptr<THackRfDevice> dev;
  std::string error = "old";
  ASSERT_TRUE(THackRfDevice::OpenBySerial(kSerial, 0, dev, error, FClock));
  EXPECT_EQ(error, "");
  EXPECT_EQ(dev->GetName(), std::string("HackRF [") + kSerial + "]");
  EXPECT_EQ(Get(kLna), 16);
  dev.reset();

  Control(kCount, 2);
  ASSERT_TRUE(THackRfDevice::OpenBySerial("0000000000000000ffffffffffffffff", 1, dev, error, FClock));
  EXPECT_EQ(dev->GetName(), "HackRF");
  EXPECT_EQ(Get(kOpenedIndex), 1);
  dev.reset();
  EXPECT_FALSE(THackRfDevice::OpenBySerial("nope", 5, dev, error, FClock));
  EXPECT_EQ(error, "no HackRF with index 5 (found 2)");
  EXPECT_FALSE(dev);
}

TEST_F(HackRfFake, GainsAreAppliedAndTheirFailuresReported) {
  THackRfDevice& dev = OpenDevice();
  EXPECT_TRUE(dev.SetGains(30, 63, true, true));
  EXPECT_EQ(Get(kLna), 24);
  EXPECT_EQ(Get(kVga), 62);
  EXPECT_EQ(Get(kAmp), 1);
  EXPECT_EQ(Get(kAntenna), 1);
  EXPECT_TRUE(dev.SetGain(30));
  EXPECT_EQ(Get(kLna), 24);
  EXPECT_EQ(Get(kVga), 6);
  Control(kLna, 0);
  Control(kVga, 0);
  EXPECT_TRUE(dev.SetGain(-1));  // automatic: the stored gains are applied again
  EXPECT_EQ(Get(kLna), 24);
  EXPECT_EQ(Get(kVga), 6);
  Control(kLnaStatus, -5);
  EXPECT_FALSE(dev.SetGain(16));
  EXPECT_EQ(dev.GetLastError(), "hackrf_set_lna_gain failed: HACKRF_ERROR_NOT_FOUND (-5)");
  EXPECT_EQ(Get(kVga), 0);  // the baseband stage is still set
}

TEST_F(HackRfFake, SampleRateIsRefusedOutsideItsLimitsNotClamped) {
  THackRfDevice& dev = OpenDevice();
  EXPECT_FALSE(dev.SetSampleRate(1000000));
  EXPECT_EQ(dev.GetLastError(),
            "HackRF cannot sample below 2000000 S/s (asked for 1000000) - raise Sample Rate");
  EXPECT_FALSE(dev.SetSampleRate(20000001));
  EXPECT_EQ(dev.GetLastError(), "HackRF cannot sample above 20000000 S/s");
  EXPECT_EQ(Get(kRateX1000), 0);
  EXPECT_EQ(dev.GetSampleRate(), 0);
  EXPECT_TRUE(dev.SetSampleRate(20000000));
  EXPECT_TRUE(dev.SetSampleRate(2000000));
  EXPECT_EQ(Get(kRateX1000), 2000000000LL);
  EXPECT_EQ(Get(kBw), 1500000);  // the library's supported bandwidth for 2 MHz
  EXPECT_EQ(dev.GetSampleRate(), 2000000);
  Control(kBwStatus, -5);
  EXPECT_TRUE(dev.SetSampleRate(8000000));  // a refused filter is logged, not a failure
  EXPECT_EQ(dev.GetSampleRate(), 8000000);
}

TEST_F(HackRfFake, TuningStoresTheFrequencyAndRefusesNegativeValues) {
  THackRfDevice& dev = OpenDevice();
  EXPECT_TRUE(dev.SetCenterFreq(2400000000LL));
  EXPECT_EQ(Get(kFreq), 2400000000LL);
  EXPECT_EQ(dev.GetCenterFreq(), 2400000000LL);
  EXPECT_FALSE(dev.SetCenterFreq(-100000000));  // would reach the library as about 1.8e19 Hz
  EXPECT_EQ(dev.GetLastError(), "hackrf_set_freq(-100000000) refused: below 0 Hz");
  EXPECT_EQ(Get(kFreq), 2400000000LL);
  Control(kFreqStatus, -5);
  EXPECT_FALSE(dev.SetCenterFreq(100000000));
  EXPECT_EQ(dev.GetLastError(), "hackrf_set_freq failed: HACKRF_ERROR_NOT_FOUND (-5)");
  EXPECT_EQ(dev.GetCenterFreq(), 2400000000LL);
}

TEST_F(HackRfFake, ReadSyncTimesOutAfterTheBlockTimePlusTwoSeconds) {
  THackRfDevice& dev = OpenDevice();
  ASSERT_TRUE(dev.SetSampleRate(2000000));
  std::vector<uint8_t> buf(262144);
  int32_t got = 7;
  uint64_t start = FClock.NowMs();
  EXPECT_FALSE(dev.ReadSync(buf.data(), 262144, got));
  EXPECT_EQ(got, 0);
  EXPECT_EQ(dev.GetLastError(), "no samples from the HackRF within the timeout");
  EXPECT_EQ(FClock.NowMs() - start, 66u + 2000u + 1u);  // 65.536 ms rounds to 66; gives up just past it
}

TEST_F(HackRfFake, ReadSyncWithoutASampleRateWaitsTheFixedMarginOnly) {
  THackRfDevice& dev = OpenDevice();  // no SetSampleRate: the block time cannot be computed
  std::vector<uint8_t> buf(4096);
  int32_t got = 0;
  uint64_t start = FClock.NowMs();
  EXPECT_FALSE(dev.ReadSync(buf.data(), 4096, got));
  EXPECT_EQ(FClock.NowMs() - start, 2001u);
  EXPECT_EQ(dev.GetLastError(), "no samples from the HackRF within the timeout");
}

TEST_F(HackRfFake, ReadSyncReturnsAPartialBlockAsSuccess) {
  THackRfDevice& dev = OpenDevice();
  ASSERT_TRUE(dev.SetSampleRate(10000000));
  StartStream(dev);
  Deliver(Stream(0, 1000));
  std::vector<uint8_t> buf(8192);
  int32_t got = 0;
  EXPECT_TRUE(dev.ReadSync(buf.data(), 8192, got));
  EXPECT_EQ(got, 1000);
  EXPECT_EQ(std::vector<uint8_t>(buf.begin(), buf.begin() + 1000), Stream(0, 1000));
}

TEST_F(HackRfFake, OddTransfersArriveInOrderAndPaired) {
  THackRfDevice& dev = OpenDevice();
  ASSERT_TRUE(dev.SetSampleRate(10000000));
  StartStream(dev);
  std::vector<int> lengths = {3, 5, 2, 1, 1, 7, 4001, 6};
  int64_t pos = 0;
  for (int n : lengths) {
    Deliver(Stream(pos, n));
    pos += n;
  }
  EXPECT_EQ(dev.OddTransfers(), 6);
  std::vector<uint8_t> buf(size_t(pos) + 10);
  int32_t got = 0;
  ASSERT_TRUE(dev.ReadSync(buf.data(), int32_t(buf.size()), got));
  EXPECT_EQ(got, pos - pos % 2);  // the last odd byte waits for its Q
  buf.resize(size_t(got));
  EXPECT_EQ(buf, Stream(0, got));
}

TEST_F(HackRfFake, ResetDropsTheNextMebibyteWholeTransfersFirst) {
  THackRfDevice& dev = OpenDevice();
  ASSERT_TRUE(dev.SetSampleRate(20000000));
  StartStream(dev);
  Deliver(std::vector<uint8_t>(5000, 0xEE));  // tuned elsewhere, still in the ring
  ASSERT_TRUE(dev.ResetBuffer());
  // Four transfers of 262144 bytes after the reset are dropped whole; the fifth is kept.
  for (int t = 0; t < 4; ++t) Deliver(std::vector<uint8_t>(262144, uint8_t(0xE0 + t)));
  Deliver(Stream(0, 262144));
  std::vector<uint8_t> buf(262144);
  int32_t got = 0;
  ASSERT_TRUE(dev.ReadSync(buf.data(), 262144, got));
  EXPECT_EQ(got, 262144);
  EXPECT_EQ(buf, Stream(0, 262144));
}

TEST_F(HackRfFake, ResetDropIsCountedByTheReaderSoALateTransferCannotSlipThrough) {
  // A transfer the library thread was handing over while the reset ran lands in the ring after it
  // was cleared. It must be among the dropped bytes, not read as the first samples at the new
  // frequency.
  THackRfDevice& dev = OpenDevice();
  ASSERT_TRUE(dev.SetSampleRate(20000000));
  StartStream(dev);
  ASSERT_TRUE(dev.ResetBuffer());
  Deliver(std::vector<uint8_t>(262144, 0xEE));  // the late, pre-retune transfer
  for (int t = 0; t < 3; ++t) Deliver(std::vector<uint8_t>(262144, uint8_t(0xE0 + t)));
  Deliver(Stream(0, 4096));
  std::vector<uint8_t> buf(4096);
  int32_t got = 0;
  ASSERT_TRUE(dev.ReadSync(buf.data(), 4096, got));
  EXPECT_EQ(buf, Stream(0, 4096));
}

TEST_F(HackRfFake, ReadWaitsOutTheDropWhileTransfersKeepComing) {
  // The reader drops the mebibyte as it arrives, polling between transfers.
  THackRfDevice& dev = OpenDevice();
  ASSERT_TRUE(dev.SetSampleRate(20000000));
  StartStream(dev);
  ASSERT_TRUE(dev.ResetBuffer());
  int64_t pos = 0;
  FClock.OnSleep = [&] {
    if (pos < 4 * 1048576) {
      Deliver(Stream(pos, 65536));
      pos += 65536;
    }
  };
  std::vector<uint8_t> buf(100000);
  int32_t got = 0;
  ASSERT_TRUE(dev.ReadSync(buf.data(), 100000, got));
  FClock.OnSleep = nullptr;
  EXPECT_EQ(got, 100000);
  EXPECT_EQ(buf, Stream(1048576, 100000));
}

TEST_F(HackRfFake, DroppedOddTransfersDoNotSwapIAndQ) {
  // After a reset, odd-length transfers straddle the end of the dropped mebibyte: what the reader then
  // gets must start on an I byte of the library's stream and stay paired.
  THackRfDevice& dev = OpenDevice();
  ASSERT_TRUE(dev.SetSampleRate(20000000));
  StartStream(dev);
  Deliver(Stream(0, 1001));  // leaves an I waiting for its Q
  ASSERT_TRUE(dev.ResetBuffer());
  int64_t pos = 1001;
  for (int n : {262145, 262143, 300001, 300001, 77777, 1}) {
    Deliver(Stream(pos, n));
    pos += n;
  }
  std::vector<uint8_t> buf(60000);
  int32_t got = 0;
  ASSERT_TRUE(dev.ReadSync(buf.data(), 60000, got));
  ASSERT_EQ(got, 60000);
  int misplaced = 0;
  for (int i = 0; i < got; ++i)
    if ((buf[size_t(i)] >= 0x80) != (i % 2 == 1)) ++misplaced;
  EXPECT_EQ(misplaced, 0);
  // The ring's first pair after the reset was the one completed across the reset (stream 1000, 1001).
  EXPECT_EQ(buf, Stream(1000 + 1048576, 60000));
}

namespace {
std::vector<uint8_t> gForwarded;
void Collect(const uint8_t* data, uint32_t count, void* user) {
  if (user == &gForwarded) gForwarded.insert(gForwarded.end(), data, data + count);
}
}  // namespace

TEST_F(HackRfFake, AsyncForwardingDropsExactlyTheResetAmount) {
  THackRfDevice& dev = OpenDevice();
  gForwarded.clear();
  ASSERT_TRUE(dev.StartAsync(&Collect, &gForwarded));
  EXPECT_TRUE(dev.IsStreaming());
  ASSERT_TRUE(dev.ResetBuffer());
  int64_t pos = 0;
  for (int n : {500001, 500001, 48575, 1, 2000}) {  // 1048578 + 2000 bytes
    Deliver(Stream(pos, n));
    pos += n;
  }
  EXPECT_EQ(gForwarded, Stream(1048576, int(pos - 1048576)));
  dev.StopAsync();
  EXPECT_FALSE(dev.IsStreaming());
  EXPECT_EQ(Get(kRxStops), 1);
}

TEST_F(HackRfFake, StartFailureIsReported) {
  THackRfDevice& dev = OpenDevice();
  Control(kStartStatus, -1000);
  uint8_t b[4];
  int32_t got = 0;
  EXPECT_FALSE(dev.ReadSync(b, 4, got));
  EXPECT_EQ(dev.GetLastError(), "hackrf_start_rx failed: HACKRF_ERROR_STREAMING_THREAD_ERR (-1000)");
  EXPECT_FALSE(dev.StartAsync(&Collect, &gForwarded));
  EXPECT_FALSE(dev.IsStreaming());
}

#endif  // _WIN32
