#include "uSdrDevices.h"

#include <gtest/gtest.h>

#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "FakeSdrDevice.h"
#include "LogCapture.h"
#include "TestSupport.h"
#include "uSdrSim.h"

#ifdef _WIN32
#include "pDynLib.h"
#include "pSystem.h"
#include "uSdrHackRf.h"
#include "uSdrRtlSdr.h"
#endif

namespace {

// Receivers behind the device list, as the test arranges them.
class DeviceListFixture : public ::testing::Test {
 protected:
  TSdrDeviceInfoArray Rtl, HackRf;
  std::vector<std::weak_ptr<TFakeSdrDevice>> RtlMade;
  std::vector<std::string> HackRfSerials;
  std::vector<int32_t> HackRfIndexes;
  TTalvConfig HackRfConfig;
  std::string HackRfError = "hackrf_open failed: HACKRF_ERROR_NOT_FOUND (-5)";
  TSdrBackends Backends;

  void SetUp() override {
    Backends.EnumerateRtlSdr = [this] { return Rtl; };
    Backends.EnumerateHackRf = [this] { return HackRf; };
    Backends.NewRtlSdr = [this] {
      auto dev = std::make_shared<TFakeSdrDevice>();
      dev->FakeKind = skRtlSdr;
      dev->Opened = false;
      dev->OpenSucceeds = false;
      dev->OpenError = "no RTL-SDR device found";
      if (!Rtl.empty()) {
        dev->OpenSucceeds = true;
        dev->Name = "RTL #" + std::to_string(RtlMade.size());
      }
      RtlMade.push_back(dev);
      return dev;
    };
    Backends.OpenHackRf = [this](const std::string& serial, int32_t index, const TTalvConfig& cfg,
                                 TSdrDeviceRef& device, std::string& error) {
      HackRfSerials.push_back(serial);
      HackRfIndexes.push_back(index);
      HackRfConfig = cfg;
      if (HackRf.empty()) {
        error = HackRfError;
        return false;
      }
      auto dev = std::make_shared<TFakeSdrDevice>();
      dev->FakeKind = skHackRf;
      dev->Name = "HackRF";
      device = dev;
      return true;
    };
    SetSdrBackendsForTest(&Backends);
  }
  void TearDown() override {
    SetDeviceOverride(nullptr, "");
    SetSdrBackendsForTest(nullptr);
  }

  void TwoRtlSdrs() {
    Rtl = {{0, skRtlSdr, "Generic RTL2832U OEM", "77771111"},
           {1, skRtlSdr, "Generic RTL2832U OEM", "00000001"}};
  }
  void OneHackRf() { HackRf = {{0, skHackRf, "HackRF One", "0000000000000000457863c8235a3c4f"}}; }

  bool Open(const TTalvConfig& cfg) { return OpenSdrDevice(cfg, Device, Name, Error); }
  TSdrDeviceRef Device;
  std::string Name = "stale";
  std::string Error = "stale";
};

TTalvConfig Config(const std::string& type, int32_t index = 0, const std::string& serial = "") {
  TTalvConfig cfg;
  cfg.DeviceType = type;
  cfg.DeviceIndex = index;
  cfg.DeviceSerial = serial;
  return cfg;
}

}  // namespace

// ---- Kinds -------------------------------------------------------------------------------------------

TEST(SdrKinds, NamesAndWords) {
  EXPECT_EQ(SdrKindName(skNone), "none");
  EXPECT_EQ(SdrKindName(skRtlSdr), "rtlsdr");
  EXPECT_EQ(SdrKindName(skHackRf), "hackrf");
  EXPECT_EQ(SdrKindName(static_cast<TSdrKind>(7)), "none");
  for (const char* w : {"rtlsdr", "rtl-sdr", "RTL", " nooelec ", "\tRtl-Sdr\r\n"})
    EXPECT_EQ(ParseSdrKind(w), skRtlSdr) << w;
  for (const char* w : {"hackrf", "HACK-RF", "  HackRF"}) EXPECT_EQ(ParseSdrKind(w), skHackRf) << w;
  for (const char* w : {"", "none", "rtl sdr", "hack rf", "airspy", "rtlsdr2"})
    EXPECT_EQ(ParseSdrKind(w), skNone) << w;
}

// ---- The list --------------------------------------------------------------------------------------------

TEST(SdrDeviceList, FormatShowsTheSerialOnlyWhenKnown) {
  EXPECT_EQ(FormatSdrDeviceInfo({0, skRtlSdr, "Generic RTL2832U OEM", "00000001"}),
            "0  rtlsdr  Generic RTL2832U OEM  [00000001]");
  EXPECT_EQ(FormatSdrDeviceInfo({2, skHackRf, "HackRF One", ""}), "2  hackrf  HackRF One");
}

TEST_F(DeviceListFixture, ListJoinsRtlSdrsThenHackRfsAndFilters) {
  EXPECT_EQ(ListSdrDevices(skNone), "(none connected)");
  TwoRtlSdrs();
  OneHackRf();
  HackRf[0].Serial.clear();
  EXPECT_EQ(EnumerateSdrDevices().size(), 3u);
  EXPECT_EQ(ListSdrDevices(skNone),
            "0  rtlsdr  Generic RTL2832U OEM  [77771111]; 1  rtlsdr  Generic RTL2832U OEM  [00000001]; "
            "0  hackrf  HackRF One");
  EXPECT_EQ(ListSdrDevices(skHackRf), "0  hackrf  HackRF One");
  Rtl.clear();
  EXPECT_EQ(ListSdrDevices(skRtlSdr), "(none connected)");
}

// ---- The override
// ------------------------------------------------------------------------------------------

TEST_F(DeviceListFixture, OverrideWinsWhateverTheSettingsSay) {
  auto sim = std::make_shared<TSimDevice>();
  SetDeviceOverride(sim, "Test");
  OneHackRf();
  ASSERT_TRUE(Open(Config("hackrf", 3, "nothing-like-this")));
  EXPECT_EQ(Device, sim);
  EXPECT_EQ(Name, "Test");  // not the receiver's own name
  EXPECT_EQ(Error, "");
  EXPECT_TRUE(sim->IsOpen());
  EXPECT_TRUE(HackRfIndexes.empty());
  EXPECT_TRUE(RtlMade.empty());
  EXPECT_EQ(sim->GainLin, 1.0);  // used unchanged
}

TEST_F(DeviceListFixture, OverrideThatCannotOpenIsStillHandedOut) {
  auto fake = std::make_shared<TFakeSdrDevice>();
  fake->Opened = false;
  fake->OpenSucceeds = false;
  fake->OpenError = "cannot open the stand-in";
  SetDeviceOverride(fake, "Test");
  EXPECT_FALSE(Open(Config("rtlsdr")));
  EXPECT_EQ(Error, "cannot open the stand-in");
  EXPECT_EQ(Device, fake);
  EXPECT_EQ(fake->OpenIndex, 0);
}

TEST_F(DeviceListFixture, OverrideScopeHoldsTheReceiverUntilItsEndEvenWhenLeftByAnException) {
  auto sim = std::make_shared<TSimDevice>();
  try {
    TDeviceOverrideScope scope(sim, "Scoped");
    ASSERT_TRUE(Open(Config("rtlsdr")));
    EXPECT_EQ(Device, sim);
    EXPECT_EQ(Name, "Scoped");
    throw std::runtime_error("leaves the scope");
  } catch (const std::runtime_error&) {
  }
  EXPECT_FALSE(Open(Config("rtlsdr")));  // the settings again: no RTL-SDR present
  EXPECT_EQ(Device, nullptr);
  EXPECT_EQ(sim.use_count(), 1);  // the override let go of it
}

TEST_F(DeviceListFixture, ClearedOverrideGivesTheSettingsBack) {
  SetDeviceOverride(std::make_shared<TSimDevice>(), "Test");
  SetDeviceOverride(nullptr, "ignored");
  EXPECT_FALSE(Open(Config("rtlsdr")));
  EXPECT_EQ(Device, nullptr);
  EXPECT_EQ(Name, "");
  EXPECT_EQ(Error, "no RTL-SDR device found. Present: (none connected)");
}

// ---- Kind words
// --------------------------------------------------------------------------------------------

TEST_F(DeviceListFixture, KindWordsChooseTheClassAndAnythingElseMeansRtlSdr) {
  TwoRtlSdrs();
  OneHackRf();
  for (const char* w : {"RTL", " nooelec ", "rtl-sdr", "", "airspy", "none"}) {
    HackRfIndexes.clear();
    ASSERT_TRUE(Open(Config(w))) << w;
    EXPECT_EQ(Device->Kind(), skRtlSdr) << w;
    EXPECT_TRUE(HackRfIndexes.empty()) << w;
  }
  ASSERT_TRUE(Open(Config("HACK-RF")));
  EXPECT_EQ(Device->Kind(), skHackRf);
  EXPECT_EQ(Name, "HackRF");
}

TEST_F(DeviceListFixture, SuccessIsLoggedWithTheName) {
  TLogCapture log;
  TwoRtlSdrs();
  ASSERT_TRUE(Open(Config("rtlsdr", 1)));
  EXPECT_EQ(Name, "RTL #0");
  EXPECT_EQ(RtlMade[0].lock()->OpenIndex, 1);
  EXPECT_EQ(log.MessagesStarting("device:"), std::vector<std::string>{"device: opened RTL #0"});
}

// ---- Identifiers
// ---------------------------------------------------------------------------------------------

TEST_F(DeviceListFixture, SerialChoosesTheReceiverWhateverTheIndex) {
  TwoRtlSdrs();
  for (const char* id : {"00000001", " 00000001 "}) {
    ASSERT_TRUE(Open(Config("rtlsdr", 0, id))) << id;
    EXPECT_EQ(RtlMade.back().lock()->OpenIndex, 1) << id;
  }
  Rtl[1].Serial = "AbCd0001";
  ASSERT_TRUE(Open(Config("rtlsdr", 0, "aBcD0001")));
  EXPECT_EQ(RtlMade.back().lock()->OpenIndex, 1);
}

TEST_F(DeviceListFixture, SerialOfTheOtherKindIsNotConnected) {
  TwoRtlSdrs();
  OneHackRf();
  EXPECT_FALSE(Open(Config("rtlsdr", 0, "0000000000000000457863c8235a3c4f")));
  EXPECT_EQ(Error,
            "no rtlsdr with id \"0000000000000000457863c8235a3c4f\" is connected. Present: "
            "0  rtlsdr  Generic RTL2832U OEM  [77771111]; 1  rtlsdr  Generic RTL2832U OEM  [00000001]; "
            "0  hackrf  HackRF One  [0000000000000000457863c8235a3c4f]");
  EXPECT_EQ(Device, nullptr);
  EXPECT_TRUE(RtlMade.empty()) << "no receiver may be created before the identifier matches";
}

TEST_F(DeviceListFixture, HackRfGetsItsSerialIndexAndGains) {
  OneHackRf();
  TTalvConfig cfg = Config("hackrf", 4, " 0000000000000000457863C8235A3C4F ");
  cfg.HackRfLnaDb = 24;
  cfg.HackRfVgaDb = 30;
  cfg.HackRfAmp = true;
  ASSERT_TRUE(Open(cfg));
  EXPECT_EQ(HackRfSerials.back(), "0000000000000000457863C8235A3C4F");  // trimmed, as given
  EXPECT_EQ(HackRfIndexes.back(), 0);  // the list entry's index, not DeviceIndex
  EXPECT_EQ(HackRfConfig.HackRfLnaDb, 24);
  EXPECT_EQ(HackRfConfig.HackRfVgaDb, 30);
  EXPECT_TRUE(HackRfConfig.HackRfAmp);
  ASSERT_TRUE(Open(Config("hackrf", 2)));
  EXPECT_EQ(HackRfSerials.back(), "");
  EXPECT_EQ(HackRfIndexes.back(), 2);
}

// ---- Error texts
// ---------------------------------------------------------------------------------------------

TEST_F(DeviceListFixture, RtlSdrFailureAppendsTheListOnlyWithoutIdentifier) {
  EXPECT_FALSE(Open(Config("rtlsdr")));
  EXPECT_EQ(Error, "no RTL-SDR device found. Present: (none connected)");
  EXPECT_EQ(Name, "");
  EXPECT_EQ(Device, nullptr);
  ASSERT_EQ(RtlMade.size(), 1u);
  EXPECT_TRUE(RtlMade[0].expired()) << "a receiver that failed to open must be released";
}

TEST_F(DeviceListFixture, RtlSdrFailureWithAMatchingIdentifierKeepsTheBareText) {
  TwoRtlSdrs();
  Backends.NewRtlSdr = [this] {
    auto dev = std::make_shared<TFakeSdrDevice>();
    dev->Opened = false;
    dev->OpenSucceeds = false;
    dev->OpenError = "rtlsdr_open failed (-3) - is the WinUSB driver installed?";
    RtlMade.push_back(dev);
    return dev;
  };
  EXPECT_FALSE(Open(Config("rtlsdr", 0, "77771111")));
  EXPECT_EQ(Error, "rtlsdr_open failed (-3) - is the WinUSB driver installed?");
}

TEST_F(DeviceListFixture, HackRfFailureAppendsTheListOnlyWithoutIdentifierAndText) {
  TwoRtlSdrs();
  EXPECT_FALSE(Open(Config("hackrf")));
  EXPECT_EQ(Error,
            "hackrf_open failed: HACKRF_ERROR_NOT_FOUND (-5). Present: "
            "0  rtlsdr  Generic RTL2832U OEM  [77771111]; 1  rtlsdr  Generic RTL2832U OEM  [00000001]");
  EXPECT_EQ(Device, nullptr);
  HackRfError.clear();
  EXPECT_FALSE(Open(Config("hackrf")));
  EXPECT_EQ(Error, "");
}

#ifdef _WIN32
// ---- With the stand-in receiver libraries (Windows builds)
// -------------------------------------------------

namespace {

std::string FakeFolder(const std::string& name) {
  return plat::ModuleDir() + "fakes\\" + name;
}

class DeviceListWithLibraries : public ::testing::Test {
 protected:
  void SetUp() override { SetSdrBackendsForTest(nullptr); }
  void TearDown() override {
    ResetRtlSdrLibrary("");
    ResetHackRfLibrary("");
  }
};

}  // namespace

TEST_F(DeviceListWithLibraries, MissingLibrariesListNothingAndSayWhy) {
  testsupport::TTempDir empty;
  ResetRtlSdrLibrary(empty.Path());
  ResetHackRfLibrary(empty.Path());
  if (RtlSdrAvailable() || HackRfAvailable()) GTEST_SKIP() << "a receiver library is on the search path";
  EXPECT_EQ(ListSdrDevices(skNone), "(none connected)");
  TSdrDeviceRef dev;
  std::string name, error;
  EXPECT_FALSE(OpenSdrDevice(Config("rtlsdr"), dev, name, error));
  EXPECT_EQ(error, RtlSdrLoadError() + ". Present: (none connected)");
  EXPECT_EQ(error.rfind("rtlsdr.dll not found (looked in ", 0), 0u) << error;
  EXPECT_FALSE(OpenSdrDevice(Config("hackrf"), dev, name, error));
  EXPECT_EQ(error, HackRfLoadError() + ". Present: (none connected)");
  EXPECT_EQ(dev, nullptr);
}

TEST_F(DeviceListWithLibraries, SerialOpensTheSecondOfTwoRtlSdrs) {
  ResetRtlSdrLibrary(FakeFolder("one"));
  ResetHackRfLibrary(FakeFolder("one"));
  ASSERT_TRUE(RtlSdrAvailable()) << RtlSdrLoadError();
  plat::TDynLib lib = plat::LoadDynLib(FakeFolder("one") + "\\rtlsdr.dll");
  void(__cdecl * control)(int, int64_t) = nullptr;
  int64_t(__cdecl * get)(int) = nullptr;
  ASSERT_TRUE(plat::BindDynLib(lib, "fake_rtl_control", control));
  ASSERT_TRUE(plat::BindDynLib(lib, "fake_rtl_get", get));
  const int kCount = 15, kOpens = 0;
  control(kCount, 2);
  std::string list = ListSdrDevices(skRtlSdr);
  EXPECT_EQ(list, "0  rtlsdr  Fake RTL2832U  [00000001]; 1  rtlsdr  Fake RTL2832U  [00000002]");
  {
    TSdrDeviceRef dev;
    std::string name, error;
    int64_t opens = get(kOpens);
    ASSERT_TRUE(OpenSdrDevice(Config(" Rtl ", 0, "00000002"), dev, name, error)) << error;
    EXPECT_EQ(get(kOpens), opens + 1);
    EXPECT_EQ(name, "Fake RTL2832U [00000002]");
    EXPECT_EQ(dev->Kind(), skRtlSdr);
  }
  {
    TSdrDeviceRef dev;
    std::string name, error;
    EXPECT_FALSE(OpenSdrDevice(Config("rtlsdr", 0, "00000003"), dev, name, error));
    EXPECT_EQ(
        error.rfind("no rtlsdr with id \"00000003\" is connected. Present: 0  rtlsdr  Fake RTL2832U", 0), 0u)
        << error;
  }
  {
    TSdrDeviceRef dev;
    std::string name, error;
    ASSERT_TRUE(OpenSdrDevice(Config("hack-rf"), dev, name, error)) << error;
    EXPECT_EQ(dev->Kind(), skHackRf);
  }
  control(kCount, 1);
  plat::FreeDynLib(lib);
}
#endif
