// The plug-in as the host sees it: loaded by our test host from a fresh folder, driven only through its
// exports. Texts are compared byte for byte with what the user sees.
#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <set>

#include "PeFile.h"
#include "TestHost.h"
#include "TestSupport.h"
#include "pFile.h"
#include "pFs.h"
#include "pSystem.h"
#include "pText.h"

using namespace hosttest;
using testsupport::ReadWholeFile;
using testsupport::TTempDir;
using testsupport::WriteWholeFile;

namespace {

const bool kWindows = plat::PathSeparator() == '\\';
constexpr int kExecOk = 0, kExecError = 1, kExecYourself = -1, kExecSymlink = -2;
constexpr int kFileOk = 0, kFileExists = 1, kFileWriteError = 4;
constexpr int64_t kWarning = 0x30 | 0x10000, kError = 0x10 | 0x10000, kInformation = 0x40 | 0x10000;

// Style of a captured message as this host can see it (-1 on Linux, where it comes as a request).
int64_t Style(int64_t style) {
  return kWindows ? style : -1;
}

// A loaded plug-in in its own fresh folder; initialised with FsInitW unless a test says otherwise.
class LoadedPlugin : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string error;
    ASSERT_TRUE(Host.Load(Dir.Path(), error)) << error;
  }
  void Init() { ASSERT_EQ(Host.InitW(), 0); }

  std::string Ini() const { return Dir.File("wfx_talvoran.ini"); }
  bool IniHas(const std::string& line) const { return IniHasLine(Ini(), line); }
  // Each Config entry opened with its answer is refused with exactly its warning, and nothing else.
  struct TRefusal {
    std::string Entry, Answer, Message;
  };
  void ExpectRefusals(const std::vector<TRefusal>& cases) {
    for (const TRefusal& c : cases) {
      Host.ClearSeen();
      Host.Answer(c.Answer);
      EXPECT_EQ(Open("\\Config\\" + c.Entry), kExecOk) << c.Answer;
      ASSERT_EQ(Host.Messages.size(), 1u) << c.Answer;
      EXPECT_EQ(Host.Messages[0].Text, c.Message);
      EXPECT_EQ(Host.Messages[0].Caption, "wfx_talvoran");
      EXPECT_EQ(Host.Messages[0].Style, Style(kWarning));
    }
  }
  // Opens an entry with the verb "open".
  int Open(const std::string& path, std::string* rewritten = nullptr) {
    std::string name = path;
    const int result = Host.Execute(name, "open");
    if (rewritten) *rewritten = name;
    return result;
  }

  TTempDir Dir;
  TTestHost Host;
};

}  // namespace

// ---------------------------------------------------------------------------------------------
// The library: its exports, imports and icons

TEST_F(LoadedPlugin, EveryExportResolvesByName) {
  EXPECT_EQ(Host.MissingExports(), std::vector<std::string>{});
}

TEST(PluginFile, WindowsBuildExportsExactlyTheHostFunctionsAndImportsSystemLibrariesOnly) {
  if (!kWindows) GTEST_SKIP() << "a Windows DLL";
  const std::string pe = ReadWholeFile(TTestHost::BuiltPlugin());
  std::vector<std::string> expected(std::begin(kExportNames), std::end(kExportNames));
  std::sort(expected.begin(), expected.end());
  std::vector<std::string> exported = ExportedNames(pe);
  std::sort(exported.begin(), exported.end());
  EXPECT_EQ(exported, expected);
  for (const std::string& dll : ImportedDlls(pe))
    EXPECT_TRUE(IsSystemDll(dll)) << "needs " << dll << " beside it";
}

TEST_F(LoadedPlugin, RootNameAndDetectStringAreCutToTheHostsBuffer) {
  EXPECT_EQ(Host.RootName(260), "Talvoran SDR");
  EXPECT_EQ(Host.RootName(13), "Talvoran SDR");
  EXPECT_EQ(Host.RootName(5), "Talv");
  EXPECT_EQ(Host.RootName(1), "");
  const std::string detect = "EXT=\"TALVAUDIO\" | EXT=\"TALVVIEW\" | FIND(\"TALVORAN-LIVE/1\") | EXT=\"WAV\"";
  EXPECT_EQ(Host.DetectString(1024), detect);
  EXPECT_EQ(Host.DetectString(10), detect.substr(0, 9));
  EXPECT_EQ(Host.DetectString(1), "");
  // A length of 0 writes nothing at all.
  EXPECT_EQ(Host.RootName(0).substr(0, 4), "XXXX");
}

TEST_F(LoadedPlugin, HostsMayCallDefaultParamsFirstBothInitsAndPassLongPaths) {
  // A Linux host's order: the default parameters before any initialisation, then both initialisations.
  TWfxDefaultParams params{};
  params.size = sizeof params;
  params.PluginInterfaceVersionHi = 2;
  std::strcpy(params.DefaultIniName, "elsewhere.ini");
  Host.X().FsSetDefaultParams(&params);
  EXPECT_TRUE(plat::FileExists(Ini()));  // located beside the library, not where the host's block says
  ASSERT_EQ(Host.InitA(3), 0);
  Init();
  EXPECT_TRUE(Host.List("\\Config").Ok);
  // Paths of up to 4096 characters are read whole and refused as no folder; nothing is written back.
  const std::string longPath = "\\Config\\" + std::string(4080, 'x');
  const TListing l = Host.List(longPath);
  EXPECT_FALSE(l.Ok);
  std::string name = longPath;
  EXPECT_EQ(Host.Execute(name, "open"), kExecError);
  EXPECT_TRUE(Host.Requests.empty());
}

TEST_F(LoadedPlugin, MissingHostArgumentsAreTakenAsEmpty) {
  Init();
  TWfxFindDataW fd{};
  TWfxHandle h = Host.X().FsFindFirstW(nullptr, &fd);  // no path: the root
  ASSERT_NE(h, WfxInvalidHandle());
  EXPECT_EQ(FromHost16(fd.cFileName), "Config");
  Host.X().FsFindClose(h);
  EXPECT_EQ(Host.X().FsExecuteFileW(nullptr, nullptr, nullptr), kExecYourself);
  EXPECT_EQ(Host.X().FsGetFileW(nullptr, nullptr, 0, nullptr), 6);  // nothing that can be fetched
  EXPECT_EQ(Host.X().FsDeleteFileW(nullptr), 0);
  EXPECT_EQ(Host.X().ListGetPreviewBitmapW(nullptr, 96, 96, nullptr, 0), nullptr);
  Host.X().FsGetDefRootName(nullptr, 260);
  Host.X().ListGetDetectString(nullptr, 260);
}

// ---------------------------------------------------------------------------------------------
// Listings without an engine

TEST_F(LoadedPlugin, RootWithoutEngineOffersStartCommandsAndCreatesTheSettingsFileBesideTheLibrary) {
  Init();
  EXPECT_TRUE(plat::FileExists(Ini()));
  const TListing root = Host.List("\\");
  ASSERT_TRUE(root.Ok);
  EXPECT_EQ(root.Names(), (std::vector<std::string>{"Config", "Spectrum", "Channels", "Archive",
                                                    "Start Scan.cmd", "Live Audio.cmd", "Status.txt"}));
  for (const TListedEntry& e : root.Entries) {
    EXPECT_EQ(e.Attributes, e.Name.find('.') == std::string::npos ? 16u : 128u) << e.Name;
    EXPECT_TRUE(e.TimesEqual) << e.Name;
    EXPECT_NE(e.WriteTime, 0u) << e.Name;
  }
  const TListing config = Host.List("\\Config");
  ASSERT_TRUE(config.Ok);
  ASSERT_EQ(config.Entries.size(), 29u);
  EXPECT_EQ(config.Entries.front().Name, "Device Type = rtlsdr");
  EXPECT_EQ(config.Entries.back().Name, "Stop Engine On Unload = 1");
  // The ANSI listing gives the same names.
  EXPECT_EQ(Host.ListAnsi("\\Config").Names(), config.Names());
  EXPECT_EQ(Host.ListAnsi("\\").Names(), root.Names());
}

TEST_F(LoadedPlugin, PathsOfNoFolderAndEmptyFoldersGiveNoHandleWithTheirErrors) {
  Init();
  const uint32_t notFound = kWindows ? 3 : ENOENT, noMore = kWindows ? 18 : ENODATA;
  TListing l = Host.List("\\Status.txt");
  EXPECT_FALSE(l.Ok);
  EXPECT_EQ(l.LastError, notFound);
  l = Host.List("\\Nowhere");
  EXPECT_FALSE(l.Ok);
  EXPECT_EQ(l.LastError, notFound);
  l = Host.List("\\Channels");  // no engine: CHANNELS fails after the connect time-out
  EXPECT_FALSE(l.Ok);
  EXPECT_EQ(l.LastError, noMore);
  l = Host.List("\\Archive");  // no recordings folder yet
  EXPECT_FALSE(l.Ok);
  EXPECT_EQ(l.LastError, noMore);
  // Handles that are none are refused quietly.
  TWfxFindDataW fd{};
  EXPECT_EQ(Host.X().FsFindNextW(WfxInvalidHandle(), &fd), 0);
  EXPECT_EQ(Host.X().FsFindNextW(nullptr, &fd), 0);
  EXPECT_EQ(Host.X().FsFindClose(WfxInvalidHandle()), 0);
  EXPECT_EQ(Host.X().FsFindClose(nullptr), 0);
}

TEST_F(LoadedPlugin, SettingsEditedOutsideThePluginShowAtTheNextListing) {
  Init();
  ASSERT_TRUE(WriteWholeFile(Ini(), "[Talvoran]\r\nStartHz=145000000\r\nGainDb=28.6\r\n"));
  const TListing config = Host.List("\\Config");
  ASSERT_TRUE(config.Ok);
  const std::vector<std::string> names = config.Names();
  EXPECT_NE(std::find(names.begin(), names.end(), "Frequency Start = 145 MHz"), names.end());
  EXPECT_NE(std::find(names.begin(), names.end(), "Gain = 28.6 dB"), names.end());
}

// ---------------------------------------------------------------------------------------------
// Status.txt

namespace {
std::string DefaultStatusAfterEngineBlock(const std::string& iniPath) {
  return std::string("\r\nSpectrum\r\n--------\r\n") + "Center Frequency         145 MHz\r\n" +
         "Bandwidth                2 MHz\r\n" + "Start Frequency          144 MHz\r\n" +
         "Stop Frequency           146 MHz\r\n" + "Sample Rate              2.048 MHz\r\n" +
         "Hops                     2\r\n" + "  hop  1  center 144.5 MHz      144 MHz - 145.3704 MHz\r\n" +
         "  hop  2  center 145.5 MHz      144.6296 MHz - 146 MHz\r\n" + "\r\nSettings\r\n--------\r\n" +
         "Device Type              rtlsdr\r\n" + "Device Index             0\r\n" +
         "Device                   \r\n" + "Device Name              \r\n" +
         "Frequency Start          144000000\r\n" + "Frequency Stop           146000000\r\n" +
         "Sample Rate              2048000\r\n" + "Modulation               NFM\r\n" +
         "SNR Threshold            12\r\n" + "Frequency Grid           12500\r\n" +
         "Gain                     auto\r\n" + "Frequency Correction     0\r\n" +
         "Audio Recording          1\r\n" + "Recording Folder         \r\n" +
         "Max Parallel Channels    8\r\n" + "Squelch Hang Time        2000\r\n" +
         "Min Recording Length     1000\r\n" + "FFT Size                 4096\r\n" +
         "FFT Averaging            8\r\n" + "Tuner Settle Time        30\r\n" +
         "Channel Refresh          5\r\n" + "Audio Sample Rate        48000\r\n" +
         "Max Dwell                10000\r\n" + "IF Recording             0\r\n" +
         "Thumbnails For All WAV   0\r\n" + "Merge Channels           1\r\n" +
         "Last Live Frequency      0\r\n" + "HackRF LNA Gain          16\r\n" +
         "HackRF VGA Gain          20\r\n" + "HackRF Front-End Amp     0\r\n" +
         "HackRF Bias Tee          0\r\n" + "Stop Engine On Unload    1\r\n" + "\r\nINI: " + iniPath + "\r\n";
}
}  // namespace

TEST_F(LoadedPlugin, StatusTextWithoutEngineIsTheNotRunningReportInUtf8WithByteOrderMark) {
  Init();
  const std::string local = Dir.File("Status copy.txt");
  ASSERT_EQ(Host.GetFile("\\Status.txt", local, 0), kFileOk);
  const std::string expected =
      "\xEF\xBB\xBFwfx_talvoran - status\r\n======================\r\n\r\n"
      "Engine:  not running\r\n"
      "         (engine is not running)\r\n"
      "\r\nExecute \"Start Scan.cmd\" to start it.\r\n" +
      DefaultStatusAfterEngineBlock(Ini());
  EXPECT_EQ(ReadWholeFile(local), expected);
}

TEST_F(LoadedPlugin, StatusTextKeepsAnExistingLocalFileUnlessToldToOverwrite) {
  Init();
  const std::string local = Dir.File("Status.txt");
  ASSERT_TRUE(WriteWholeFile(local, "mine"));
  EXPECT_EQ(Host.GetFile("\\Status.txt", local, 0), kFileExists);
  EXPECT_EQ(ReadWholeFile(local), "mine");
  EXPECT_EQ(Host.GetFile("\\Status.txt", local, 1), kFileOk);
  EXPECT_EQ(ReadWholeFile(local).substr(0, 24), "\xEF\xBB\xBFwfx_talvoran - status");
}

TEST_F(LoadedPlugin, TheAnsiFetchWritesTheSameStatusText) {
  Init();
  const std::string wide = Dir.File("wide.txt"), ansi = Dir.File("ansi.txt");
  ASSERT_EQ(Host.GetFile("\\Status.txt", wide, 0), kFileOk);
  std::string remote = kWindows ? "\\Status.txt" : "/Status.txt";
  std::string local = plat::Utf8ToAnsi(ansi);
  ASSERT_EQ(Host.X().FsGetFile(remote.data(), local.data(), 0, nullptr), kFileOk);
  EXPECT_EQ(ReadWholeFile(ansi), ReadWholeFile(wide));
  EXPECT_EQ(Host.X().FsGetFile(remote.data(), local.data(), 0, nullptr), kFileExists);
}

TEST_F(LoadedPlugin, StatusTextThatCannotBeWrittenIsAWriteErrorAndLeavesNoFile) {
  Init();
  const std::string local = Dir.File("missing folder") + plat::PathSeparator() + "Status.txt";
  EXPECT_EQ(Host.GetFile("\\Status.txt", local, 1), kFileWriteError);
  EXPECT_FALSE(plat::FileExists(local));
}

// ---------------------------------------------------------------------------------------------
// Opening entries: verbs and results

TEST_F(LoadedPlugin, OnlyTheVerbOpenActsAndOnlyCommandsAndSettingsAreOpened) {
  Init();
  std::string name = "\\Config\\Frequency Start = 144 MHz";
  EXPECT_EQ(Host.Execute(name, "properties"), kExecYourself);
  EXPECT_EQ(Host.Execute(name, nullptr), kExecYourself);
  EXPECT_EQ(Host.Execute(name, "Open"), kExecYourself);  // compared exactly
  EXPECT_TRUE(Host.Requests.empty());
  EXPECT_EQ(Open("\\Status.txt"), kExecYourself);
  EXPECT_EQ(Open("\\Spectrum\\Hops\\hop 1"), kExecError);
  EXPECT_EQ(Open("\\Spectrum\\*** live view.talvview"), kExecError);
  EXPECT_EQ(Open("\\Config"), kExecError);
  EXPECT_EQ(Open("\\Other.cmd"), kExecError);
  EXPECT_TRUE(Host.Messages.empty());
}

// ---------------------------------------------------------------------------------------------
// Editing settings through the host's input dialog

TEST_F(LoadedPlugin, FrequencyStartTakesABareNumberAsMegahertzAndSavesAll32Keys) {
  Init();
  Host.Answer("145");
  std::string folder;
  ASSERT_EQ(Open("\\Config\\Frequency Start = 144 MHz", &folder), kExecSymlink);
  EXPECT_EQ(folder, "\\Config");
  ASSERT_EQ(Host.Requests.size(), 1u);
  EXPECT_EQ(Host.Requests[0].PluginNr, 7);
  EXPECT_EQ(Host.Requests[0].Type, 0);
  EXPECT_EQ(Host.Requests[0].Title, "wfx_talvoran - Frequency Start");
  EXPECT_EQ(Host.Requests[0].Text, "Start of the scanned range (k/M/G allowed)");
  EXPECT_EQ(Host.Requests[0].Offered, "144 MHz");
  EXPECT_EQ(Host.Requests[0].MaxLen, 1023);
  EXPECT_TRUE(IniHas("StartHz=145000000"));
  EXPECT_TRUE(IniHas("StopHz=146000000"));
  EXPECT_TRUE(IniHas("StopEngineOnUnload=1"));
  EXPECT_TRUE(IniHas("GainDb=auto"));
  EXPECT_TRUE(Host.Messages.empty());
}

TEST_F(LoadedPlugin, FrequencyRangeRulesRefuseWithTheirMessagesAndSaveNothing) {
  Init();
  const std::vector<TRefusal> cases = {
      {"Frequency Start = 144 MHz", "145k",
       "Frequency Start would be 145 kHz.\r\n\r\nNo supported receiver tunes below 1 MHz. Add a unit - 144M "
       "or "
       "144 MHz - or type the full number in hertz."},
      {"Frequency Start = 144 MHz", "9001",
       "Frequency Start would be 9.001 kHz.\r\n\r\nNo supported receiver tunes below 1 MHz. Add a unit - "
       "144M or "
       "144 MHz - or type the full number in hertz."},
      {"Frequency Stop = 146 MHz", "144",
       "Frequency Stop (144 MHz) has to be above Frequency Start (144 MHz)."},
      {"Frequency Start = 144 MHz", "146M",
       "Frequency Start (146 MHz) has to be below Frequency Stop (146 MHz)."},
  };
  ExpectRefusals(cases);
  EXPECT_FALSE(IniHas("StartHz=145000"));
  EXPECT_FALSE(IniHas("StopHz=144000000"));
}

TEST_F(LoadedPlugin, SampleRateOfZeroAndNumbersThatDoNotReadAreRefusedNotStored) {
  Init();
  Host.Answer("2");
  ASSERT_EQ(Open("\\Config\\Sample Rate = 2.048 MHz"), kExecSymlink);
  EXPECT_TRUE(IniHas("SampleRate=2000000"));

  const std::vector<TRefusal> cases = {
      {"Sample Rate = 2 MHz", "0",
       "Not a valid value for Sample Rate.\r\n\r\nSample rate per hop, RTL-SDR max 2.4M"},
      {"Sample Rate = 2 MHz", "fast",
       "Not a valid value for Sample Rate.\r\n\r\nSample rate per hop, RTL-SDR max 2.4M"},
      {"SNR Threshold = 12 dB", "twelve",
       "Not a valid value for SNR Threshold.\r\n\r\ndB above the noise floor to count as a signal"},
      {"FFT Size = 4096", "99999999999",
       "Not a valid value for FFT Size.\r\n\r\nPower of two, larger = finer resolution"},
      {"Device Type = rtlsdr", "airspy", "Not a valid value for Device Type.\r\n\r\nrtlsdr or hackrf"},
  };
  ExpectRefusals(cases);
  EXPECT_TRUE(IniHas("SampleRate=2000000"));
  EXPECT_TRUE(IniHas("SnrDb=12"));
  EXPECT_TRUE(IniHas("NFft=4096"));
  // A number that reads is taken.
  Host.ClearSeen();
  Host.Answer("9.5");
  EXPECT_EQ(Open("\\Config\\SNR Threshold = 12 dB"), kExecSymlink);
  EXPECT_TRUE(IniHas("SnrDb=9.5"));
  Host.Answer("auto");
  EXPECT_EQ(Open("\\Config\\Gain = auto"), kExecSymlink);
  EXPECT_TRUE(Host.Messages.empty());
}

TEST_F(LoadedPlugin, NamedSettingsTakeTheirNamesInAnyCaseAndRefuseOthers) {
  Init();
  Host.Answer("rtlsdr");
  EXPECT_EQ(Open("\\Config\\Device Type = rtlsdr"), kExecSymlink);
  Host.Answer("HackRF");
  EXPECT_EQ(Open("\\Config\\Device Type = rtlsdr"), kExecSymlink);
  EXPECT_TRUE(IniHas("DeviceType=hackrf"));
  Host.Answer("wfm");
  EXPECT_EQ(Open("\\Config\\Modulation = NFM"), kExecSymlink);
  EXPECT_TRUE(IniHas("Modulation=WFM"));
  EXPECT_TRUE(Host.Messages.empty());
  ExpectRefusals(
      {{"Modulation = WFM", "FM", "Not a valid value for Modulation.\r\n\r\nOne of: NFM, WFM, AM, LSB, USB"},
       {"Device Type = hackrf", "sim", "Not a valid value for Device Type.\r\n\r\nrtlsdr or hackrf"}});
  EXPECT_TRUE(IniHas("Modulation=WFM"));
  EXPECT_TRUE(IniHas("DeviceType=hackrf"));
}

TEST_F(LoadedPlugin, ACancelledDialogChangesNothing) {
  Init();
  Host.Cancel();
  EXPECT_EQ(Open("\\Config\\Frequency Start = 144 MHz"), kExecOk);
  EXPECT_EQ(Host.Requests.size(), 1u);
  EXPECT_FALSE(IniHas("StartHz=144000000"));  // nothing written at all
  EXPECT_TRUE(Host.Messages.empty());
}

TEST_F(LoadedPlugin, AnEditThatCannotBeSavedIsSaidSoAndNotReportedDone) {
  // Folders where the settings file would be, beside the library and under APPDATA: the path is
  // kept, reads give the defaults, and no write can succeed.
  const std::string appDataBefore = plat::GetEnv("APPDATA");
  plat::SetEnv("APPDATA", Dir.Path());
  const std::string fallback = Dir.File("wfx_talvoran") + plat::PathSeparator() + "wfx_talvoran.ini";
  ASSERT_TRUE(plat::MakeDirectory(Ini()));
  ASSERT_TRUE(plat::MakeDirectory(Dir.File("wfx_talvoran")));
  ASSERT_TRUE(plat::MakeDirectory(fallback));
  Init();
  plat::SetEnv("APPDATA", appDataBefore);
  Host.Answer("145");
  EXPECT_EQ(Open("\\Config\\Frequency Start = 144 MHz"), kExecOk);
  ASSERT_EQ(Host.Messages.size(), 1u);
  EXPECT_EQ(Host.Messages[0].Text, "Could not save the settings to " + fallback + ".");
  EXPECT_EQ(Host.Messages[0].Style, Style(kError));
  const std::vector<std::string> names = Host.List("\\Config").Names();
  EXPECT_NE(std::find(names.begin(), names.end(), "Frequency Start = 144 MHz"), names.end());
}

TEST_F(LoadedPlugin, SpectrumEntriesEditTheRangeAndTheHopListIsNotEditable) {
  Init();
  EXPECT_EQ(Open("\\Spectrum\\Hops = 2"), kExecOk);
  ASSERT_EQ(Host.Messages.size(), 1u);
  EXPECT_EQ(Host.Messages[0].Text, "Hops is derived from the scan range and cannot be edited directly.");
  EXPECT_EQ(Host.Messages[0].Style, Style(kInformation));
  EXPECT_TRUE(Host.Requests.empty());

  Host.ClearSeen();
  Host.Answer("433.5M");
  std::string folder;
  ASSERT_EQ(Open("\\Spectrum\\Center Frequency = 145 MHz", &folder), kExecSymlink);
  EXPECT_EQ(folder, "\\Spectrum");
  ASSERT_EQ(Host.Requests.size(), 1u);
  EXPECT_EQ(Host.Requests[0].Title, "wfx_talvoran - Center Frequency");
  EXPECT_EQ(Host.Requests[0].Offered, "145 MHz");
  EXPECT_TRUE(IniHas("StartHz=432500000"));
  EXPECT_TRUE(IniHas("StopHz=434500000"));
}

TEST_F(LoadedPlugin, AnAnsiOnlyHostGetsNoDialogsAndTheSameResults) {
  ASSERT_EQ(Host.InitA(), 0);
  std::string name = "\\Config\\Frequency Start = 144 MHz";
  EXPECT_EQ(Host.ExecuteAnsi(name, "open"), kExecOk);
  EXPECT_EQ(name, "\\Config\\Frequency Start = 144 MHz");
  EXPECT_TRUE(Host.Requests.empty());
  name = "\\Status.txt";
  EXPECT_EQ(Host.ExecuteAnsi(name, "open"), kExecYourself);
}

TEST_F(LoadedPlugin, TheAnsiExecuteWritesTheFolderBackOnlyForAFolderResult) {
  Init();
  Host.Answer("145");
  std::string name = "\\Config\\Frequency Start = 144 MHz";
  EXPECT_EQ(Host.ExecuteAnsi(name, "open"), kExecSymlink);
  EXPECT_EQ(name, "\\Config");
  EXPECT_TRUE(IniHas("StartHz=145000000"));
  name = "\\Spectrum\\Hops\\hop 1";
  EXPECT_EQ(Host.ExecuteAnsi(name, "open"), kExecError);
  EXPECT_EQ(name, "\\Spectrum\\Hops\\hop 1");
}

TEST_F(LoadedPlugin, TheLogCallbackIsNeverCalled) {
  Init();
  Host.List("\\");
  Host.List("\\Config");
  EXPECT_EQ(Host.LogCalls, 0);
}
