// The plug-in through its exports against a scripted engine on the shipped pipe name: the command
// files, Status.txt with an engine, the receiver chooser, the live audio dialog, the Channels folder
// with its panel refresh, and the unload step.
#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#ifndef _WIN32
#include <sys/stat.h>
#endif

#include "FakeEngine.h"
#include "TestHost.h"
#include "TestSupport.h"
#include "pClock.h"
#include "pPipe.h"
#include "pProcess.h"
#include "pSystem.h"
#include "pText.h"
#include "pWindow.h"
#include "uTalvProto.h"

using namespace hosttest;
using testsupport::ReadWholeFile;
using testsupport::TFakeEngine;
using testsupport::TTempDir;
using testsupport::WriteWholeFile;

namespace {

const bool kWindows = plat::PathSeparator() == '\\';
constexpr int kExecOk = 0, kExecSymlink = -2;
constexpr int64_t kWarning = 0x30 | 0x10000, kError = 0x10 | 0x10000;

int64_t Style(int64_t style) {
  return kWindows ? style : -1;
}

std::string CommandOf(const TRequest& r) {
  return CommandWord(r.CommandLine);
}

// The plug-in loaded and initialised, an engine stand-in serving the shipped pipe, answering each
// command from a table (anything else: "OK").
class WithEngine : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string error;
    ASSERT_TRUE(Host.Load(Dir.Path(), error)) << error;
    ASSERT_EQ(Host.InitW(), 0);
    Engine.SetResponder([this](const TRequest& r) {
      std::lock_guard<std::mutex> guard(Lock);
      auto it = Replies.find(CommandOf(r));
      return FrameReply(it != Replies.end() ? it->second : TTextLines{"OK"});
    });
    ASSERT_TRUE(Engine.Start());
  }
  void Reply(const std::string& command, const TTextLines& lines) {
    std::lock_guard<std::mutex> guard(Lock);
    Replies[command] = lines;
  }
  std::vector<TRequest> Seen(const std::string& command) const {
    std::vector<TRequest> out;
    for (const TRequest& r : Engine.Requests())
      if (CommandOf(r) == command) out.push_back(r);
    return out;
  }
  // Requests that end without waiting for a reply (QUIT) may reach the stand-in a moment later.
  size_t SeenWithin(const std::string& command, uint32_t ms) const {
    const uint64_t end = plat::TickMs() + ms;
    size_t n = Seen(command).size();
    while (n == 0 && plat::TickMs() < end) {
      plat::SleepMs(10);
      n = Seen(command).size();
    }
    return n;
  }
  int Open(const std::string& path, std::string* rewritten = nullptr) {
    std::string name = path;
    const int result = Host.Execute(name, "open");
    if (rewritten) *rewritten = name;
    return result;
  }
  std::string Ini() const { return Dir.File("wfx_talvoran.ini"); }
  bool IniHas(const std::string& line) const { return IniHasLine(Ini(), line); }

  TTempDir Dir;
  TTestHost Host;
  std::mutex Lock;
  std::map<std::string, TTextLines> Replies;
  // Torn down first: a request that wants no reply (QUIT) may still be answered from the table.
  TFakeEngine Engine{plat::kPipeName};
};

const TTextLines kScanning = {
    "OK",        "Running=1",  "EnginePid=4242", "Simd=SSE2",     "Device=Scene RTL2832U",
    "Sweeps=17", "HopIndex=1", "HopCount=2",     "NoiseDb=-61.5", "Level=good",
    "Live=0"};

}  // namespace

// ---------------------------------------------------------------------------------------------
// Command files

TEST_F(WithEngine, StartScanSendsAll32SettingsWithTheHostsProcessAndRelistsTheRoot) {
  std::string folder;
  ASSERT_EQ(Open("\\Start Scan.cmd", &folder), kExecSymlink);
  EXPECT_EQ(folder, "\\");
  const std::vector<TRequest> starts = Seen("START");
  ASSERT_EQ(starts.size(), 1u);
  const TTextLines& body = starts[0].Body;
  ASSERT_EQ(body.size(), 33u);
  EXPECT_EQ(body.front(), "DeviceType=rtlsdr");
  EXPECT_EQ(body[4], "StartHz=144000000");
  EXPECT_EQ(body[31], "StopEngineOnUnload=1");
  EXPECT_EQ(body[32], "ClientPid=" + std::to_string(plat::CurrentProcessId()));
  EXPECT_TRUE(Host.Messages.empty());

  Reply("STATUS", kScanning);
  EXPECT_EQ(Host.List("\\").Names(),
            (std::vector<std::string>{"Config", "Spectrum", "Channels", "Archive", "Stop Scan.cmd",
                                      "Live Audio.cmd", "Status.txt"}));
}

TEST_F(WithEngine, FailedCommandsShowTheEnginesErrorText) {
  Reply("START", {"ERR cannot open receiver: rtlsdr_open failed (-3)"});
  EXPECT_EQ(Open("\\Start Scan.cmd"), kExecOk);
  Reply("STOP", {"ERR no scan"});
  std::string folder;
  EXPECT_EQ(Open("\\Stop Scan.cmd", &folder), kExecSymlink);  // the root is shown again all the same
  EXPECT_EQ(folder, "\\");
  Reply("LIVESTOP", {"ERR nothing plays"});
  EXPECT_EQ(Open("\\Stop Live Audio.cmd"), kExecSymlink);
  ASSERT_EQ(Host.Messages.size(), 3u);
  EXPECT_EQ(Host.Messages[0].Text,
            "Could not start the scan:\r\n\r\ncannot open receiver: rtlsdr_open failed (-3)");
  EXPECT_EQ(Host.Messages[1].Text, "Could not stop the scan:\r\n\r\nno scan");
  EXPECT_EQ(Host.Messages[2].Text, "Could not stop live audio:\r\n\r\nnothing plays");
  for (const TMessageSeen& m : Host.Messages) {
    EXPECT_EQ(m.Caption, "wfx_talvoran");
    EXPECT_EQ(m.Style, Style(kError));
  }
}

TEST(CommandsWithoutEngine, StopScanSaysTheEngineIsNotRunningAndLiveAudioProposesTheRangesMiddle) {
  TTempDir dir;
  TTestHost host;
  std::string error;
  ASSERT_TRUE(host.Load(dir.Path(), error)) << error;
  ASSERT_EQ(host.InitW(), 0);
  std::string name = "\\Stop Scan.cmd";
  EXPECT_EQ(host.Execute(name, "open"), kExecSymlink);
  EXPECT_EQ(name, "\\");
  ASSERT_EQ(host.Messages.size(), 1u);
  EXPECT_EQ(host.Messages[0].Text, "Could not stop the scan:\r\n\r\nengine is not running");
  // The live audio dialog then proposes the middle of the scan range.
  host.Cancel();
  name = "\\Live Audio.cmd";
  EXPECT_EQ(host.Execute(name, "open"), kExecOk);
  ASSERT_EQ(host.Requests.size(), 1u);
  EXPECT_EQ(host.Requests[0].Offered, "145 MHz");
}

// ---------------------------------------------------------------------------------------------
// Status.txt with an engine

TEST_F(WithEngine, StatusTextReportsTheScanAndTheDetectedChannels) {
  Reply("STATUS", {"OK", "Running=1", "EnginePid=4242", "Simd=SSE2", "Device=Scene RTL2832U", "Sweeps=17",
                   "HopIndex=1", "HopCount=2", "NoiseDb=-61.5", "Level=quiet", "Live=1", "LiveHz=145012500",
                   "LiveMod=NFM", "LiveCenter=145500000", "LastError=sweep 3 read short"});
  TChannelRec a;
  a.Hz = 145012500;
  a.Hits = 12;
  a.PeakSnrDb = 23.44;
  a.LastSnrDb = 20.06;
  a.LastSeen = plat::DateTimeOf({2026, 12, 9, 18, 0, 0, 0});
  a.Active = 1;
  TChannelRec b = a;
  b.Hz = 144300000;
  b.Hits = 3;
  b.PeakSnrDb = 9.96;
  b.LastSnrDb = -0.25;
  b.Active = 0;
  Reply("CHANNELS", {"OK", FormatChannelRec(a), "not a channel", FormatChannelRec(b)});
  const std::string local = Dir.File("Status.txt");
  ASSERT_EQ(Host.GetFile("\\Status.txt", local, 1), 0);
  const std::string text = ReadWholeFile(local);
  const std::string engineBlock =
      "\xEF\xBB\xBFwfx_talvoran - status\r\n======================\r\n\r\n"
      "Engine:  running, scanning\r\n"
      "PID:     4242\r\n"
      "SIMD:    SSE2\r\n"
      "Device:  Scene RTL2832U\r\n"
      "Sweeps:  17\r\n"
      "Hop:     1 / 2\r\n"
      "Noise:   -61.5 dBFS\r\n"
      "Level:   QUIET - below one quantisation step, watch for a mirror image about the tuner centre\r\n"
      "Live:    145.0125 MHz NFM (tuner centre 145.5 MHz)\r\n"
      "Error:   sweep 3 read short\r\n"
      "\r\nSpectrum\r\n";
  EXPECT_EQ(text.substr(0, engineBlock.size()), engineBlock);
  const std::string channelBlock =
      "\r\nDetected channels\r\n-----------------\r\n"
      "  Frequency        Hits   max SNR  last SNR  last seen            state\r\n"
      "  145.012500 MHz      12     23.4      20.1  2026-12-09 18:00:00  active\r\n"
      "  144.300000 MHz       3     10.0      -0.2  2026-12-09 18:00:00  stopped\r\n";
  ASSERT_GE(text.size(), channelBlock.size());
  EXPECT_EQ(text.substr(text.size() - channelBlock.size()), channelBlock);
  EXPECT_NE(text.find("\r\nINI: " + Ini() + "\r\n\r\nDetected channels"), std::string::npos);
}

TEST_F(WithEngine, ChannelTimesOutOfAnyCalendarShowAsItsEnds) {
  Reply("CHANNELS", {"OK", "145000000\t1e300\t1e300\t1\t1.00\t1.00\t0\t1",
                     "146000000\t-1e300\t-1e300\t1\t1.00\t1.00\t0\t0"});
  const std::string local = Dir.File("Status.txt");
  ASSERT_EQ(Host.GetFile("\\Status.txt", local, 1), 0);
  const std::string text = ReadWholeFile(local);
  EXPECT_NE(text.find("  145.000000 MHz       1      1.0       1.0  9999-12-31 23:59:59  active\r\n"),
            std::string::npos)
      << text;
  EXPECT_NE(text.find("  146.000000 MHz       1      1.0       1.0  0001-01-01 00:00:00  stopped\r\n"),
            std::string::npos)
      << text;
}

TEST_F(WithEngine, AnIdleEngineShowsNoScanLinesAndLiveOff) {
  Reply("STATUS", {"OK", "Running=0", "EnginePid=77", "Simd=AVX2", "Device=ignored while idle", "Live=0"});
  Reply("CHANNELS", {"OK"});
  const std::string local = Dir.File("Status.txt");
  ASSERT_EQ(Host.GetFile("\\Status.txt", local, 1), 0);
  const std::string text = ReadWholeFile(local);
  EXPECT_NE(
      text.find(
          "\r\n\r\nEngine:  running, idle\r\nPID:     77\r\nSIMD:    AVX2\r\nLive:    off\r\n\r\nSpectrum"),
      std::string::npos);
  EXPECT_EQ(text.find("Detected channels"), std::string::npos);  // none detected: no table
}

// ---------------------------------------------------------------------------------------------
// The receiver chooser

namespace {
const TTextLines kDevices = {"OK", "# 3 receivers", "0\trtlsdr\tGeneric RTL2832U\t00000001",
                             "1\trtlsdr\tGeneric RTL2832U\t", "0\thackrf\tHackRF One\t457863dc2b7b5f1f"};
}

TEST_F(WithEngine, DeviceChooserListsTheReceiversAndProposesTheFirstOfThePresentKind) {
  Reply("DEVICES", kDevices);
  Host.Cancel();
  EXPECT_EQ(Open("\\Config\\Device = first device (index 0)"), kExecOk);
  ASSERT_EQ(Host.Requests.size(), 1u);
  EXPECT_EQ(Host.Requests[0].Title, "wfx_talvoran - Device");
  EXPECT_EQ(Host.Requests[0].Text,
            "Connected receivers:\r\n"
            "  * rtlsdr:0  Generic RTL2832U  id 00000001\r\n"
            "  * rtlsdr:1  Generic RTL2832U\r\n"
            "    hackrf:0  HackRF One  id 457863dc2b7b5f1f\r\n"
            "\r\n"
            "SDR Type is \"rtlsdr\" - marked with *.\r\n"
            "Enter the id (preferred), \"kind:index\", or a bare index for that type.\r\n"
            "Choosing a receiver of another kind switches SDR Type with it.");
  EXPECT_EQ(Host.Requests[0].Offered, "00000001");
  EXPECT_TRUE(Host.Messages.empty());
}

TEST_F(WithEngine, DeviceChooserAnswersSelectTheReceiverAndItsKind) {
  Reply("DEVICES", kDevices);
  std::string folder;
  Host.Answer("RTLSDR:1");
  ASSERT_EQ(Open("\\Config\\Device = first device (index 0)", &folder), kExecSymlink);
  EXPECT_EQ(folder, "\\Config");
  EXPECT_TRUE(IniHas("DeviceIndex=1"));
  EXPECT_TRUE(IniHas("DeviceSerial="));
  EXPECT_TRUE(IniHas("DeviceName=Generic RTL2832U"));

  Host.Answer("457863DC2B7B5F1F");  // an id in any letter case; another kind switches the type
  ASSERT_EQ(Open("\\Config\\Device = first device (index 1)"), kExecSymlink);
  EXPECT_TRUE(IniHas("DeviceType=hackrf"));
  EXPECT_TRUE(IniHas("DeviceIndex=0"));
  EXPECT_TRUE(IniHas("DeviceSerial=457863dc2b7b5f1f"));

  Host.Answer(" ");  // empty: id and name cleared, index and type kept
  ASSERT_EQ(Open("\\Config\\Device = 457863dc2b7b5f1f - HackRF One"), kExecSymlink);
  EXPECT_TRUE(IniHas("DeviceType=hackrf"));
  EXPECT_TRUE(IniHas("DeviceSerial="));
  EXPECT_TRUE(IniHas("DeviceName="));

  Host.Answer("1");  // no hackrf has index 1: the bare index finds the rtlsdr one
  ASSERT_EQ(Open("\\Config\\Device = first device (index 0)"), kExecSymlink);
  EXPECT_TRUE(IniHas("DeviceType=rtlsdr"));
  EXPECT_TRUE(IniHas("DeviceIndex=1"));

  Host.Answer("7");
  EXPECT_EQ(Open("\\Config\\Device = first device (index 1)"), kExecOk);
  ASSERT_EQ(Host.Messages.size(), 1u);
  EXPECT_EQ(Host.Messages[0].Text, "No connected receiver has the id or index \"7\".");
  EXPECT_EQ(Host.Messages[0].Style, Style(kWarning));
}

TEST_F(WithEngine, DeviceChooserRefusesAKindTheSettingsDoNotKnow) {
  Reply("DEVICES", {"OK", "0\tairspy\tAirspy Mini\tA1"});
  Host.Answer("A1");
  EXPECT_EQ(Open("\\Config\\Device = first device (index 0)"), kExecOk);
  ASSERT_EQ(Host.Messages.size(), 1u);
  EXPECT_EQ(Host.Messages[0].Text, "Not a valid value for Device Type.\r\n\r\nrtlsdr or hackrf");
  EXPECT_FALSE(IniHas("DeviceType=airspy"));
  EXPECT_FALSE(IniHas("DeviceSerial=A1"));
}

TEST_F(WithEngine, DeviceChooserWithoutReceiversOrWithoutAnswerSaysSo) {
  Reply("DEVICES", {"OK", "# none"});
  EXPECT_EQ(Open("\\Config\\Device = first device (index 0)"), kExecOk);
  Reply("DEVICES", {"ERR cannot list"});
  EXPECT_EQ(Open("\\Config\\Device = first device (index 0)"), kExecOk);
  ASSERT_EQ(Host.Messages.size(), 2u);
  EXPECT_EQ(
      Host.Messages[0].Text,
      "No SDR receiver is connected.\r\n\r\nCheck the USB connection and that the driver DLL (rtlsdr.dll or "
      "hackrf.dll) sits next to the plugin.");
  EXPECT_EQ(Host.Messages[0].Style, Style(kWarning));
  EXPECT_EQ(Host.Messages[1].Text, "Cannot ask the engine for the device list:\r\n\r\ncannot list");
  EXPECT_EQ(Host.Messages[1].Style, Style(kError));
  EXPECT_TRUE(Host.Requests.empty());
}

// ---------------------------------------------------------------------------------------------
// The live audio dialog

TEST_F(WithEngine, LiveAudioProposesWhatPlaysAndStartsTheChosenChannel) {
  Reply("STATUS", {"OK", "Running=0", "Live=1", "LiveHz=145012500", "LiveMod=AM"});
  Host.Answer("145.5M");
  Host.Answer("usb");
  std::string folder;
  ASSERT_EQ(Open("\\Live Audio.cmd", &folder), kExecSymlink);
  EXPECT_EQ(folder, "\\");
  ASSERT_EQ(Host.Requests.size(), 2u);
  EXPECT_EQ(Host.Requests[0].Title, "wfx_talvoran - Live Audio");
  EXPECT_EQ(Host.Requests[0].Text,
            "Frequency to listen to (k/M/G allowed, any frequency the tuner can reach)");
  EXPECT_EQ(Host.Requests[0].Offered, "145.0125 MHz");
  EXPECT_EQ(Host.Requests[1].Text, "Modulation, one of: NFM, WFM, AM, LSB, USB");
  EXPECT_EQ(Host.Requests[1].Offered, "AM");
  const std::vector<TRequest> live = Seen("LIVE");
  ASSERT_EQ(live.size(), 1u);
  ASSERT_EQ(live[0].Body.size(), 35u);
  EXPECT_EQ(live[0].Body[33], "LiveHz=145500000");
  EXPECT_EQ(live[0].Body[34], "LiveMod=USB");
  EXPECT_TRUE(IniHas("LastLiveHz=145500000"));
  EXPECT_TRUE(IniHas("Modulation=NFM"));  // the setting itself is not changed

  // Nothing plays now: the last frequency is proposed, and the setting's modulation.
  Reply("STATUS", {"OK", "Running=0", "Live=0"});
  Host.ClearSeen();
  Host.Cancel();
  EXPECT_EQ(Open("\\Live Audio.cmd"), kExecOk);
  ASSERT_EQ(Host.Requests.size(), 1u);
  EXPECT_EQ(Host.Requests[0].Offered, "145.5 MHz");
}

TEST_F(WithEngine, LiveAudioRefusesANonFrequencyAndReportsAFailedStart) {
  Host.Answer("abc");
  EXPECT_EQ(Open("\\Live Audio.cmd"), kExecOk);
  Reply("LIVE", {"ERR tuner out of range"});
  Host.Answer("2.4G");
  Host.Answer("WFM");
  EXPECT_EQ(Open("\\Live Audio.cmd"), kExecOk);
  ASSERT_EQ(Host.Messages.size(), 2u);
  EXPECT_EQ(Host.Messages[0].Text, "Not a frequency: abc");
  EXPECT_EQ(Host.Messages[0].Style, Style(kWarning));
  EXPECT_EQ(Host.Messages[1].Text, "Could not start live audio on 2400 MHz:\r\n\r\ntuner out of range");
  EXPECT_EQ(Host.Messages[1].Style, Style(kError));
  EXPECT_FALSE(IniHas("LastLiveHz=2400000000"));
}

// ---------------------------------------------------------------------------------------------
// The Channels folder and the panel refresh

TEST_F(WithEngine, ChannelsListOneFolderPerChannelAndRefreshThePanelWhileAScanRuns) {
  ASSERT_TRUE(WriteWholeFile(Ini(), "[Talvoran]\r\nRefreshSec=1\r\n"));
  TChannelRec a;
  a.Hz = 145012500;
  a.Hits = 2;
  a.LastSeen = plat::LocalDateTimeNow();
  a.Active = 1;
  TChannelRec b = a;
  b.Hz = 144300000;
  Reply("CHANNELS", {"OK", FormatChannelRec(a), FormatChannelRec(b)});
  Reply("STATUS", kScanning);
  const TListing channels = Host.List("\\Channels");
  ASSERT_TRUE(channels.Ok);
  EXPECT_EQ(channels.Names(), (std::vector<std::string>{"145.012500 MHz", "144.300000 MHz"}));
  for (const TListedEntry& e : channels.Entries) EXPECT_EQ(e.Attributes, 16u);
  if (!kWindows) return;  // the Linux build's timers and windows are stand-ins inside the library
  if (Host.TcWindow() == 0) {
    // Wine creates windows only with a display (scripts/test_all.sh runs under a virtual one).
    ASSERT_FALSE(testsupport::InCI()) << "no window could be made: the Windows tests need a display";
    GTEST_SKIP() << "no window could be made (no display)";
  }
  Host.Pump(2300);
  const int posts = Host.RefreshPosts();
  EXPECT_GE(posts, 1);
  // Listing any other folder stops the refresh.
  Host.List("\\Config");
  Host.Pump(1500);
  EXPECT_EQ(Host.RefreshPosts(), posts);
}

TEST_F(WithEngine, AnIdleEngineArmsNoPanelRefresh) {
  if (!kWindows) GTEST_SKIP() << "the Linux build's timers are stand-ins inside the library";
  if (Host.TcWindow() == 0) {
    ASSERT_FALSE(testsupport::InCI()) << "no window could be made: the Windows tests need a display";
    GTEST_SKIP() << "no window could be made (no display)";
  }
  ASSERT_TRUE(WriteWholeFile(Ini(), "[Talvoran]\r\nRefreshSec=1\r\n"));
  Reply("CHANNELS", {"OK", "145012500\t46000.5\t46000.5\t1\t20.00\t20.00\t0\t0"});
  Reply("STATUS", {"OK", "Running=0"});
  ASSERT_TRUE(Host.List("\\Channels").Ok);
  Host.Pump(1500);
  EXPECT_EQ(Host.RefreshPosts(), 0);
}

// ---------------------------------------------------------------------------------------------
// The plug-in in a host process of its own (the mini host), which ends through exit()

namespace {

plat::TProcessResult RunMiniHost(const std::vector<std::string>& args, const std::string& workDir = "") {
  return plat::RunProcess(plat::ModuleDir() + TALV_MINI_HOST_FILE, args, {}, 60000, workDir);
}

}  // namespace

// Ending through exit() with the plug-in loaded, or freed first, the host ends with status 0 and the
// engine gets QUIT once.
TEST_F(WithEngine, AHostThatExitsWithThePluginLoadedEndsCleanlyAndQuitsTheEngineOnce) {
  // The Channels listing during a scan arms the panel refresh, whose timer the unload step stops.
  Reply("CHANNELS", {"OK", "145012500\t46000.5\t46000.5\t1\t20.00\t20.00\t0\t1"});
  Reply("STATUS", kScanning);
  for (const bool unloadFirst : {false, true}) {
    const size_t quits = Seen("QUIT").size();
    std::vector<std::string> args = {Host.PluginPath(), "init", "list", "\\Channels"};
    if (unloadFirst) args.push_back("unload");
    const plat::TProcessResult run = RunMiniHost(args);
    EXPECT_EQ(run.ExitCode, 0) << "unload first: " << unloadFirst << "\n" << run.Output;
    EXPECT_NE(run.Output.find("145.012500 MHz"), std::string::npos) << run.Output;
    testsupport::WaitUntil([&] { return Seen("QUIT").size() > quits; }, 5000);
    EXPECT_EQ(Seen("QUIT").size(), quits + 1) << "unload first: " << unloadFirst;
  }
}

// Loaded as "./wfx_talvoran.wfx" from its folder by a program that lies elsewhere and then moves to
// its own folder, the plug-in still reads the settings file beside itself.
TEST_F(WithEngine, APluginLoadedByARelativeNameFromItsFolderReadsTheSettingsBesideIt) {
  ASSERT_TRUE(WriteWholeFile(Ini(), "[Talvoran]\r\nStopEngineOnUnload=0\r\n"));
  const std::string relative = std::string(".") + plat::PathSeparator() + TALV_PLUGIN_FILE;
  const plat::TProcessResult run =
      RunMiniHost({relative, "cd", plat::ModuleDir(), "init", "list", "\\Config"}, Dir.Path());
  EXPECT_EQ(run.ExitCode, 0) << run.Output;
  EXPECT_NE(run.Output.find("Stop Engine On Unload = 0"), std::string::npos) << run.Output;
}

// ---------------------------------------------------------------------------------------------
// Unload, with the stub engine program started by the plug-in itself (a separate process, as the
// real engine is: the unload step runs while the system holds its loader lock)

namespace {

bool PipeThere() {
  return plat::PipeConnect(plat::kPipeName, 20, plat::SystemClock()) != nullptr;
}

bool PipeGoneWithin(uint32_t ms) {
  const uint64_t end = plat::TickMs() + ms;
  while (PipeThere()) {
    if (plat::TickMs() > end) return false;
    plat::SleepMs(50);
  }
  return true;
}

void QuitByHand() {
  if (auto conn = plat::PipeConnect(plat::kPipeName, 200, plat::SystemClock())) {
    conn->Write("QUIT\r\n.\r\n", 9);
    conn->Flush();
    conn->Close();
  }
}

class WithStubEngine : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_FALSE(PipeThere()) << "an engine already serves the pipe";
    const std::string stub = testsupport::ReadWholeFile(plat::ModuleDir() + TALV_STUB_ENGINE_FILE);
    ASSERT_FALSE(stub.empty());
    ASSERT_TRUE(WriteWholeFile(Dir.File(EngineProgramName()), stub));
#ifndef _WIN32
    ASSERT_EQ(chmod(Dir.File(EngineProgramName()).c_str(), 0755), 0);
#endif
    plat::SetEnv("TALV_STUB_PIPE", plat::kPipeName);
    std::string error;
    ASSERT_TRUE(Host.Load(Dir.Path(), error)) << error;
    ASSERT_EQ(Host.InitW(), 0);
  }
  void TearDown() override {
    QuitByHand();
    PipeGoneWithin(5000);
    plat::UnsetEnv("TALV_STUB_PIPE");
  }
  TTempDir Dir;
  TTestHost Host;
};

}  // namespace

TEST_F(WithStubEngine, StartScanStartsTheEngineAndUnloadingEndsIt) {
  std::string name = "\\Start Scan.cmd";
  ASSERT_EQ(Host.Execute(name, "open"), kExecSymlink);
  EXPECT_TRUE(Host.Messages.empty());
  ASSERT_TRUE(PipeThere());
  Host.Unload();
  EXPECT_TRUE(PipeGoneWithin(5000)) << "QUIT did not reach the engine";
}

TEST_F(WithStubEngine, WithStopEngineOnUnloadOffTheEngineOutlivesThePlugin) {
  ASSERT_TRUE(WriteWholeFile(Dir.File("wfx_talvoran.ini"), "[Talvoran]\r\nStopEngineOnUnload=0\r\n"));
  std::string name = "\\Start Scan.cmd";
  ASSERT_EQ(Host.Execute(name, "open"), kExecSymlink);
  ASSERT_TRUE(PipeThere());
  Host.Unload();
  plat::SleepMs(500);
  EXPECT_TRUE(PipeThere());
}
