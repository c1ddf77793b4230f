#include "uPluginConfig.h"

#include <gtest/gtest.h>

#include <clocale>
#include <string>
#include <thread>
#include <vector>

#include "TestSupport.h"
#include "pFile.h"
#include "pFs.h"
#include "pText.h"

namespace {

// The settings file's text: UTF-16LE after its mark, or the bytes as they are.
std::string IniText(const std::string& path, bool* unicode = nullptr) {
  std::string bytes = testsupport::ReadWholeFile(path);
  bool u = bytes.size() >= 2 && static_cast<unsigned char>(bytes[0]) == 0xFF &&
           static_cast<unsigned char>(bytes[1]) == 0xFE;
  if (unicode) *unicode = u;
  if (!u) return bytes;
  std::u16string w;
  for (size_t i = 2; i + 1 < bytes.size(); i += 2)
    w += static_cast<char16_t>(static_cast<unsigned char>(bytes[i]) | static_cast<unsigned char>(bytes[i + 1])
                                                                          << 8);
  return plat::Utf16ToUtf8(w);
}

// Every key line "Key=" in the order the file holds them.
std::vector<std::string> KeysInFile(const std::string& text) {
  std::vector<std::string> keys;
  for (const std::string& line : testsupport::SplitLines(text)) {
    size_t eq = line.find('=');
    if (eq != std::string::npos) keys.push_back(line.substr(0, eq));
  }
  return keys;
}

// A record with every field away from its default, texts outside every ANSI code page included.
TTalvConfig Unusual() {
  TTalvConfig c;
  c.DeviceType = "hackrf";
  c.DeviceIndex = 3;
  c.DeviceSerial = "0000000000000000a06063c8234e925f";
  c.DeviceName = "Приёмник Ω";
  c.StartHz = 430012500;
  c.StopHz = 440000000;
  c.SampleRate = 2400000;
  c.Modulation = modUSB;
  c.SnrDb = 12.345;
  c.GridHz = 6250;
  c.GainDb = 28.6;
  c.PpmCorrection = -17;
  c.RecordAudio = false;
  c.RecordDir = "D:\\Funk\\録音 ünd";
  c.MaxParallel = 0;
  c.HangTimeMs = 2500;
  c.MinRecordMs = 0;
  c.NFft = 8192;
  c.AvgSegments = 3;
  c.SettleMs = 45;
  c.RefreshSec = 0;
  c.AudioRate = 22050;
  c.MaxDwellMs = 0;
  c.IfRecording = true;
  c.ThumbAllWav = true;
  c.MergeChannels = false;
  c.LastLiveHz = 145500000;
  c.HackRfLnaDb = 40;
  c.HackRfVgaDb = 62;
  c.HackRfAmp = true;
  c.HackRfBiasTee = true;
  c.StopEngineOnUnload = false;
  return c;
}

void ExpectSameRecord(const TTalvConfig& a, const TTalvConfig& b) {
  for (int i = 0; i < ConfigKeyCount(); ++i)
    EXPECT_EQ(ConfigValueText(a, ConfigKeyName(i)), ConfigValueText(b, ConfigKeyName(i))) << ConfigKeyName(i);
  EXPECT_EQ(a.SnrDb, b.SnrDb);
  EXPECT_EQ(a.GainDb, b.GainDb);
}

// Switches the C library and the platform's separators to a German locale for the test's length.
class TCommaLocale {
 public:
  TCommaLocale() {
    const char* old = std::setlocale(LC_ALL, nullptr);
    FOld = old ? old : "C";
    FSwitched =
        std::setlocale(LC_ALL, "de_DE.UTF-8") != nullptr || std::setlocale(LC_ALL, "de_DE.utf8") != nullptr;
    plat::SetLocaleSeparatorsSource([] { return plat::TLocaleSeparators{",", "."}; });
  }
  ~TCommaLocale() {
    std::setlocale(LC_ALL, FOld.c_str());
    plat::SetLocaleSeparatorsSource(nullptr);
  }

 private:
  std::string FOld;
  bool FSwitched = false;
};

}  // namespace

TEST(SettingsDisplay, KeyTableEnds) {
  EXPECT_EQ(ConfigKeyCount(), 32);
  EXPECT_EQ(ConfigKeyName(0), "DeviceType");
  EXPECT_EQ(ConfigKeyName(31), "StopEngineOnUnload");
  EXPECT_EQ(ConfigKeyName(-1), "");
  EXPECT_EQ(ConfigKeyName(32), "");
  EXPECT_EQ(ConfigDisplayName("NoSuchKey"), "NoSuchKey");
  EXPECT_EQ(ConfigDescription("NoSuchKey"), "");
  EXPECT_EQ(ConfigValueText(TTalvConfig{}, "NoSuchKey"), "");
  EXPECT_EQ(ConfigDescription("Modulation"), "One of: NFM, WFM, AM, LSB, USB");
  EXPECT_EQ(ConfigDisplayName("devicetype"), "devicetype");  // keys are compared with case
  int shown = 0;
  for (int i = 0; i < ConfigKeyCount(); ++i) shown += IsShownConfigKey(ConfigKeyName(i)) ? 1 : 0;
  EXPECT_EQ(shown, 29);
}

TEST(SettingsDisplay, FractionsKeepWhatTheUserTyped) {
  EXPECT_EQ(FloatToShortText(12), "12");
  EXPECT_EQ(FloatToShortText(0), "0");
  EXPECT_EQ(FloatToShortText(28.6), "28.6");
  EXPECT_EQ(FloatToShortText(12.345), "12.345");
  EXPECT_EQ(FloatToShortText(12345), "12345");
  EXPECT_EQ(FloatToShortText(-0.5), "-0.5");
  TTalvConfig c;
  EXPECT_EQ(ConfigValueText(c, "GainDb"), "auto");
  c.GainDb = 0;
  EXPECT_EQ(ConfigValueText(c, "GainDb"), "0");
  c.GainDb = 49.6;
  EXPECT_EQ(ConfigValueText(c, "GainDb"), "49.6");
  // What is written is read back to the same double.
  for (double v : {12.345, 0.1, 1.0 / 3.0, 123456.789, 1e-5}) {
    TTalvConfig r;
    c.SnrDb = v;
    ASSERT_TRUE(ConfigSetKey(r, "SnrDb", ConfigValueText(c, "SnrDb")));
    EXPECT_EQ(r.SnrDb, v);
  }
}

TEST(SettingsFile, AllKeysRoundTripUnderACommaLocaleWithNonAnsiText) {
  TCommaLocale comma;
  testsupport::TTempDir dir;
  std::string path = LocateIniFileIn(dir.Path(), "");
  EXPECT_EQ(path, dir.File(kIniFileName));
  TTalvConfig written = Unusual();
  ASSERT_TRUE(SaveConfigToIni(written, path));
  TTalvConfig read;
  ASSERT_TRUE(LoadConfigFromIni(read, path));
  ExpectSameRecord(read, written);

  bool unicode = false;
  std::string text = IniText(path, &unicode);
  EXPECT_TRUE(unicode);
  std::vector<std::string> order;
  for (int i = 0; i < ConfigKeyCount(); ++i) order.push_back(ConfigKeyName(i));
  EXPECT_EQ(KeysInFile(text), order);
  EXPECT_NE(text.find("SnrDb=12.345\r\n"), std::string::npos);
  EXPECT_NE(text.find("GainDb=28.6\r\n"), std::string::npos);
  EXPECT_NE(text.find("RecordDir=D:\\Funk\\録音 ünd\r\n"), std::string::npos);
  EXPECT_NE(text.find("[Talvoran]"), std::string::npos);

  // A second save rewrites the same lines in place.
  written.SnrDb = 6;
  ASSERT_TRUE(SaveConfigToIni(written, path));
  text = IniText(path);
  EXPECT_EQ(KeysInFile(text), order);
  EXPECT_NE(text.find("SnrDb=6\r\n"), std::string::npos);
}

TEST(SettingsFile, MissingFileAndMissingKeysGiveDefaults) {
  testsupport::TTempDir dir;
  TTalvConfig cfg = Unusual();
  EXPECT_FALSE(LoadConfigFromIni(cfg, dir.File("absent.ini")));
  ExpectSameRecord(cfg, TTalvConfig{});
  std::string path = dir.File("partial.ini");
  ASSERT_TRUE(
      testsupport::WriteWholeFile(path, "[talvoran]\r\nSNRDB = 9.5 \r\nGainDb=\"30\"\r\nNFft=oops\r\n"));
  ASSERT_TRUE(LoadConfigFromIni(cfg, path));
  EXPECT_EQ(cfg.SnrDb, 9.5);  // section and key without regard to case, value trimmed
  EXPECT_EQ(cfg.GainDb, 30);  // one pair of quotes stripped
  EXPECT_EQ(cfg.NFft, 4096);  // not a number: the default stays
  EXPECT_EQ(cfg.StartHz, TTalvConfig{}.StartHz);
}

TEST(SettingsFile, LegacyDeviceTypeStandsInOnlyForAnEmptyOne) {
  testsupport::TTempDir dir;
  struct TCase {
    const char* Text;
    const char* Expected;
  } cases[] = {{"[Talvoran]\r\nSdrType=hackrf\r\n", "hackrf"},
               {"[Talvoran]\r\nDeviceType=\r\nSdrType=hackrf\r\n", "hackrf"},
               {"[Talvoran]\r\nDeviceType=rtlsdr\r\nSdrType=hackrf\r\n", "rtlsdr"}};
  for (const TCase& c : cases) {
    std::string path = dir.File("legacy.ini");
    ASSERT_TRUE(testsupport::WriteWholeFile(path, c.Text));
    TTalvConfig cfg;
    LoadConfigFromIni(cfg, path);
    EXPECT_EQ(cfg.DeviceType, c.Expected) << c.Text;
  }
  // A save leaves SdrType in the file, where it no longer counts.
  std::string path = dir.File("legacy.ini");
  TTalvConfig cfg;
  cfg.DeviceType = "rtlsdr";
  ASSERT_TRUE(SaveConfigToIni(cfg, path));
  EXPECT_NE(IniText(path).find("SdrType=hackrf"), std::string::npos);
  LoadConfigFromIni(cfg, path);
  EXPECT_EQ(cfg.DeviceType, "rtlsdr");
}

TEST(SettingsFile, LocatedBesideTheLibraryOrUnderAppData) {
  testsupport::TTempDir dir;
  std::string lib = dir.File("lib");
  ASSERT_TRUE(plat::MakeDirectory(lib));
  std::string beside = LocateIniFileIn(lib, dir.File("appdata"));
  EXPECT_EQ(beside, JoinPath(lib, kIniFileName));
  ASSERT_TRUE(plat::FileExists(beside));
  EXPECT_EQ(testsupport::ReadWholeFile(beside), "\xFF\xFE");  // created with the Unicode mark only
  TTalvConfig cfg;
  LoadConfigFromIni(cfg, beside);
  ExpectSameRecord(cfg, TTalvConfig{});

  // A library folder where nothing can be created: the file goes to APPDATA, whose folder is made.
  std::string appData = dir.File("appdata");
  ASSERT_TRUE(plat::MakeDirectory(appData));
  std::string away = LocateIniFileIn(dir.File("no-such-folder"), appData);
  EXPECT_EQ(away, JoinPath(JoinPath(appData, kPluginName), kIniFileName));
  EXPECT_TRUE(plat::DirectoryExists(JoinPath(appData, kPluginName)));
  EXPECT_TRUE(plat::FileExists(away));
}

TEST(SettingsFile, AFailedWriteIsReported) {
  testsupport::TTempDir dir;
  std::string path = JoinPath(dir.File("missing-folder"), kIniFileName);
  EXPECT_FALSE(SaveConfigToIni(Unusual(), path));
  TPluginState state;
  state.SetIniPath(path);
  TTalvConfig before = state.Snapshot();
  EXPECT_FALSE(state.Save(Unusual()));
  ExpectSameRecord(state.Snapshot(), before);  // the library's record is not changed by a lost save
  EXPECT_TRUE(state.StopOnUnload());
}

TEST(PluginState, LoadsAreSnapshotsAndSavesCarryTheUnloadFlag) {
  testsupport::TTempDir dir;
  TPluginState state;
  state.SetIniPath(dir.File(kIniFileName));
  TTalvConfig cfg = state.Load();
  cfg.StopEngineOnUnload = false;
  cfg.SnrDb = 20;
  EXPECT_TRUE(state.StopOnUnload());  // editing a snapshot changes nothing
  ASSERT_TRUE(state.Save(cfg));
  EXPECT_FALSE(state.StopOnUnload());
  EXPECT_EQ(state.Snapshot().SnrDb, 20);
  // An edit made to the file by someone else shows at the next load.
  TTalvConfig other = cfg;
  other.StopEngineOnUnload = true;
  ASSERT_TRUE(SaveConfigToIni(other, state.IniPath()));
  EXPECT_FALSE(state.StopOnUnload());
  EXPECT_TRUE(state.Load().StopEngineOnUnload);
  EXPECT_TRUE(state.StopOnUnload());
}

TEST(PluginState, ALoadNeverSeesHalfOfASave) {
  // Host threads and live-view threads load while an edit saves two very different records in turn:
  // every load is one of them whole (the sanitizer builds also watch the state itself).
  testsupport::TTempDir dir;
  TPluginState state;
  state.SetIniPath(dir.File(kIniFileName));
  const TTalvConfig a{}, b = Unusual();
  ASSERT_TRUE(state.Save(a));
  std::atomic<int> mixed{0}, loads{0};
  std::atomic<bool> done{false};
  std::vector<std::thread> readers;
  for (int t = 0; t < 3; ++t)
    readers.emplace_back([&] {
      while (!done.load()) {
        TTalvConfig c = state.Load();
        bool isA = c.DeviceType == a.DeviceType && c.NFft == a.NFft && c.RecordDir == a.RecordDir &&
                   c.StopEngineOnUnload == a.StopEngineOnUnload;
        bool isB = c.DeviceType == b.DeviceType && c.NFft == b.NFft && c.RecordDir == b.RecordDir &&
                   c.StopEngineOnUnload == b.StopEngineOnUnload;
        if (!isA && !isB) ++mixed;
        if (state.StopOnUnload() != a.StopEngineOnUnload && state.StopOnUnload() != b.StopEngineOnUnload)
          ++mixed;
        ++loads;
      }
    });
  for (int i = 0; i < 30; ++i) ASSERT_TRUE(state.Save(i % 2 ? b : a));
  done = true;
  for (std::thread& t : readers) t.join();
  EXPECT_GT(loads.load(), 0);
  EXPECT_EQ(mixed.load(), 0);
  EXPECT_EQ(state.Load().NFft, b.NFft);
  EXPECT_FALSE(state.StopOnUnload());
}
