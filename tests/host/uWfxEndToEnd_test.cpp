// End to end: the plug-in in our test host, the real engine program beside it and the stand-in scene
// receiver library beside the engine (three narrow-FM carriers in 144-146 MHz over noise, delivered at
// the sample rate). Everything happens through the plug-in's exports, as a user does it in the file
// manager: "Start Scan.cmd" starts the engine and the scan, the Channels folder fills with exactly the
// scene's channels and their recordings, Status.txt reports the scan, "Stop Scan.cmd" stops it, and
// unloading the plug-in ends the engine.
#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <set>

#include "TestHost.h"
#include "TestSupport.h"
#include "pClock.h"
#include "pFile.h"
#include "pPipe.h"
#include "pSystem.h"
#ifndef _WIN32
#include <sys/stat.h>
#endif

using namespace hosttest;
using testsupport::ReadWholeFile;
using testsupport::TTempDir;
using testsupport::WriteWholeFile;

namespace {

const std::set<std::string> kSceneChannels = {"144.300000 MHz", "145.012500 MHz", "145.750000 MHz"};

bool PipeThere() {
  return plat::PipeConnect(plat::kPipeName, 20, plat::SystemClock()) != nullptr;
}

uint32_t Le32(const std::string& b, size_t at) {
  return uint32_t(uint8_t(b[at])) | uint32_t(uint8_t(b[at + 1])) << 8 | uint32_t(uint8_t(b[at + 2])) << 16 |
         uint32_t(uint8_t(b[at + 3])) << 24;
}

// A finished mono 16-bit PCM take at 48 kHz of at least minMs: every size in its header agrees with
// the file. Empty when it is one; else what is wrong.
std::string CheckTake(const std::string& bytes, uint32_t minMs) {
  if (bytes.size() < 44 || bytes.compare(0, 4, "RIFF") != 0 || bytes.compare(8, 4, "WAVE") != 0)
    return "not RIFF/WAVE";
  if (Le32(bytes, 4) + 8 != bytes.size()) return "RIFF size does not match the file (unfinished take)";
  size_t at = 12;
  bool fmt = false;
  while (at + 8 <= bytes.size()) {
    const std::string id = bytes.substr(at, 4);
    const uint32_t size = Le32(bytes, at + 4);
    if (id == "fmt ") {
      if (uint8_t(bytes[at + 8]) != 1 || uint8_t(bytes[at + 10]) != 1 || Le32(bytes, at + 12) != 48000 ||
          uint8_t(bytes[at + 22]) != 16)
        return "not mono 16-bit PCM at 48 kHz";
      fmt = true;
    } else if (id == "data") {
      if (!fmt) return "data before fmt";
      if (at + 8 + size != bytes.size()) return "data size does not match the file";
      if (size < 48000u * 2u * minMs / 1000u) return "shorter than " + std::to_string(minMs) + " ms";
      return "";
    }
    at += 8 + size + (size & 1);
  }
  return "no data chunk";
}

class EndToEnd : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_FALSE(PipeThere()) << "an engine already serves the pipe";
    const std::string bin = plat::ModuleDir();
    // The engine under its name as a user installs it, and the receiver library beside it.
    const std::string engine = ReadWholeFile(testsupport::EnginePath());
    ASSERT_FALSE(engine.empty());
    EngineFile = Dir.File(EngineProgramName());
    ASSERT_TRUE(WriteWholeFile(EngineFile, engine));
#ifdef _WIN32
    const std::string scene = "rtlsdr.dll";
#else
    const std::string scene = "librtlsdr.so.0";
    ASSERT_EQ(chmod(EngineFile.c_str(), 0755), 0);
#endif
    const std::string lib =
        ReadWholeFile(bin + "fakes" + plat::PathSeparator() + "scene" + plat::PathSeparator() + scene);
    ASSERT_FALSE(lib.empty());
    ASSERT_TRUE(WriteWholeFile(Dir.File(scene), lib));
    std::string error;
    ASSERT_TRUE(Host.Load(Dir.Path(), error)) << error;
    ASSERT_EQ(Host.InitW(), 0);
    // Short dwells, so takes end (and get their final names) within seconds.
    ASSERT_TRUE(WriteWholeFile(Dir.File("wfx_talvoran.ini"),
                               "[Talvoran]\r\nMaxDwellMs=1500\r\nMinRecordMs=500\r\nRefreshSec=0\r\n"));
  }
  void TearDown() override {
    if (Host.Loaded()) Host.Unload();
    const uint64_t end = plat::TickMs() + 5000;
    while (PipeThere() && plat::TickMs() < end) plat::SleepMs(100);
  }

  // Channel folders and, per folder, its finished takes (file names).
  struct TScene {
    std::set<std::string> Channels;
    std::map<std::string, std::vector<std::string>> Takes;
  };
  TScene Look() {
    TScene s;
    for (const std::string& name : Host.List("\\Channels").Names()) {
      s.Channels.insert(name);
      for (const TListedEntry& e : Host.List("\\Channels\\" + name).Entries) {
        if (e.Name.size() < 4 || e.Name.substr(e.Name.size() - 4) != ".wav") continue;
        const std::string real =
            Dir.File("recordings") + plat::PathSeparator() + name + plat::PathSeparator() + e.Name;
        if (CheckTake(ReadWholeFile(real), 500).empty()) s.Takes[name].push_back(real);
      }
    }
    return s;
  }

  TTempDir Dir;
  TTestHost Host;
  std::string EngineFile;
};

}  // namespace

TEST_F(EndToEnd, AScanStartedFromTheCommandFileFindsAndRecordsTheScenesChannels) {
  std::string name = "\\Start Scan.cmd";
  ASSERT_EQ(Host.Execute(name, "open"), -2);
  ASSERT_TRUE(Host.Messages.empty()) << Host.Messages[0].Text;
  EXPECT_EQ(name, "\\");
  EXPECT_TRUE(PipeThere());

  // Within a bounded time every channel of the scene is listed, and each holds a finished take.
  TScene scene;
  const uint64_t deadline = plat::TickMs() + 90000;
  for (;;) {
    scene = Look();
    if (scene.Channels == kSceneChannels && scene.Takes.size() == kSceneChannels.size()) break;
    if (plat::TickMs() > deadline) break;
    plat::SleepMs(500);
  }
  EXPECT_EQ(scene.Channels, kSceneChannels);
  for (const std::string& channel : kSceneChannels)
    EXPECT_FALSE(scene.Takes[channel].empty()) << "no finished take in " << channel;

  // sox reads every take as the audio it claims to be (natively; the Windows run checked the headers).
  const std::string soxi = testsupport::FindSoxi();
  if (!soxi.empty()) {
    for (const auto& [channel, takes] : scene.Takes) {
      for (const std::string& take : takes) {
        EXPECT_EQ(testsupport::Soxi(soxi, "-r", take), "48000") << take;
        EXPECT_EQ(testsupport::Soxi(soxi, "-c", take), "1") << take;
        EXPECT_GE(std::stod(testsupport::Soxi(soxi, "-D", take)), 0.5) << take;
      }
    }
  } else {
    EXPECT_TRUE(plat::PathSeparator() == '\\' || !testsupport::InCI()) << "sox is missing";
  }

  // Status.txt tells of the scan, the receiver and its sweeps; the root offers to stop it.
  const std::string local = Dir.File("Status copy.txt");
  ASSERT_EQ(Host.GetFile("\\Status.txt", local, 1), 0);
  const std::string status = ReadWholeFile(local);
  EXPECT_NE(status.find("\r\nEngine:  running, scanning\r\n"), std::string::npos) << status;
  EXPECT_NE(status.find("\r\nDevice:  "), std::string::npos) << status;
  EXPECT_NE(status.find("Scene RTL2832U"), std::string::npos) << status;
  const size_t sweeps = status.find("\r\nSweeps:  ");
  ASSERT_NE(sweeps, std::string::npos) << status;
  EXPECT_GE(std::stoi(status.substr(sweeps + 11)), 1);
  for (const std::string& channel : kSceneChannels)
    EXPECT_NE(status.find("  " + channel + " "), std::string::npos);
  std::vector<std::string> root = Host.List("\\").Names();
  EXPECT_NE(std::find(root.begin(), root.end(), "Stop Scan.cmd"), root.end());

  // "Stop Scan.cmd" stops the scan: the root offers to start one again.
  name = "\\Stop Scan.cmd";
  EXPECT_EQ(Host.Execute(name, "open"), -2);
  EXPECT_TRUE(Host.Messages.empty());
  root = Host.List("\\").Names();
  EXPECT_NE(std::find(root.begin(), root.end(), "Start Scan.cmd"), root.end());

  // Unloading the plug-in sends QUIT: the engine ends.
  Host.Unload();
  const uint64_t end = plat::TickMs() + 8000;
  while (PipeThere() && plat::TickMs() < end) plat::SleepMs(100);
  EXPECT_FALSE(PipeThere()) << "the engine still serves after the plug-in was unloaded";
}
