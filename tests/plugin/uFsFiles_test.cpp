// The host's file operations on the plug-in's tree, against a real recordings folder: fetching
// recordings (progress with each copy's own names, cancel, overwrite, the move bit), generated
// tickets, deletion and folder removal that cannot leave the recordings folder, previews, and the
// lister window for ticket files.
#include "uFsFiles.h"

#include <gtest/gtest.h>

#include <future>
#include <mutex>
#include <thread>

#include "FakeEngine.h"
#include "PaintTestSupport.h"
#include "TestSupport.h"
#include "pBitmap.h"
#include "pFile.h"
#include "pFs.h"
#include "pSystem.h"
#include "pViewWindow.h"
#include "pWindow.h"
#include "uFsResults.h"
#include "uHostUi.h"
#include "uIpcClient.h"
#include "uPluginConfig.h"

#ifndef _WIN32
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

using testsupport::TTempDir;
using testsupport::WriteWholeFile;

namespace {

// The bytes of a local file, as the test reads them.
std::string Slurp(const std::string& path) {
  return testsupport::ReadWholeFile(path);
}

class TProgressRecorder : public IHostUi {
 public:
  bool Ask(const std::string&, const std::string&, std::string&) override { return false; }
  void Message(uintptr_t, const std::string&, const std::string&, uint32_t) override {}
  bool Progress(const std::string& source, const std::string& target, int percent) override {
    std::lock_guard<std::mutex> hold(FLock);
    Reports.push_back({source, target, percent});
    return percent >= CancelAt;
  }
  struct TReport {
    std::string Source, Target;
    int Percent;
  };
  std::mutex FLock;
  std::vector<TReport> Reports;
  int CancelAt = 1000;
};

// A settings file of its own with the recordings folder in a temporary folder, one channel folder
// holding one take, and an archive folder.
class FsFiles : public ::testing::Test {
 protected:
  void SetUp() override {
    Recordings = Dir.File("rec");
    ASSERT_TRUE(plat::MakeDirectory(Recordings));
    Channel = Recordings + plat::PathSeparator() + "145.012500 MHz";
    ASSERT_TRUE(plat::MakeDirectory(Channel));
    Take = Channel + plat::PathSeparator() + "145.0125MHz_20240131_235959.wav";
    TakeBytes = painttest::WavBytes({}, painttest::Pcm16(painttest::Tone(8000, 3.0, 700, 0.5, 0.01)));
    ASSERT_TRUE(WriteWholeFile(Take, TakeBytes));
    OldIni = PluginState().IniPath();
    PluginState().SetIniPath(Dir.File("wfx_talvoran.ini"));
    TTalvConfig cfg;
    cfg.RecordDir = Recordings;
    ASSERT_TRUE(SavePluginConfig(cfg));
    SetHostUi(&Ui);
  }
  void TearDown() override {
    SetHostUi(nullptr);
    PluginState().SetIniPath(OldIni);
  }
  std::string Local(const std::string& name) { return Out.File(name); }

  TTempDir Dir, Out;
  std::string Recordings, Channel, Take, TakeBytes, OldIni;
  TProgressRecorder Ui;
  const std::string kTakeEntry = "\\Channels\\145.012500 MHz\\145.0125MHz_20240131_235959.wav";
};

TEST_F(FsFiles, RecordingsAreCopiedWithTheirOwnProgressNames) {
  const std::string local = Local("copy.wav");
  EXPECT_EQ(PluginGetFile(kTakeEntry, local, 0), kFsFileOk);
  EXPECT_EQ(Slurp(local), TakeBytes);
  ASSERT_FALSE(Ui.Reports.empty());
  EXPECT_EQ(Ui.Reports.back().Percent, 100);
  for (const auto& r : Ui.Reports) {
    EXPECT_EQ(r.Source, Take);
    EXPECT_EQ(r.Target, local);
  }
  EXPECT_TRUE(plat::FileExists(Take));  // a copy leaves the recording in place

  // The local file exists: refused without the overwrite bit, replaced with it.
  ASSERT_TRUE(WriteWholeFile(local, "old"));
  EXPECT_EQ(PluginGetFile(kTakeEntry, local, 0), kFsFileExists);
  EXPECT_EQ(Slurp(local), "old");
  EXPECT_EQ(PluginGetFile(kTakeEntry, local, kFsCopyFlagOverwrite), kFsFileOk);
  EXPECT_EQ(Slurp(local), TakeBytes);

  // The same take through the all-recordings folder and as an archive entry.
  EXPECT_EQ(
      PluginGetFile("\\Archive\\*** all recordings\\145.0125MHz_20240131_235959.wav", Local("a.wav"), 0),
      kFsFileOk);
  EXPECT_EQ(PluginGetFile("\\Archive\\145.012500 MHz\\145.0125MHz_20240131_235959.wav", Local("b.wav"), 0),
            kFsFileOk);
  EXPECT_EQ(Slurp(Local("b.wav")), TakeBytes);
}

TEST_F(FsFiles, CopiesAtTheSameTimeReportOnlyTheirOwnNames) {
  // Two takes of several chunks each, fetched on two threads at once.
  const std::string second = Channel + plat::PathSeparator() + "145.0125MHz_20240201_000000.wav";
  const std::string big(6u << 20, 'x');
  ASSERT_TRUE(WriteWholeFile(Take, big));
  ASSERT_TRUE(WriteWholeFile(second, big));
  int a = -1, b = -1;
  std::thread other([&] {
    b = PluginGetFile("\\Channels\\145.012500 MHz\\145.0125MHz_20240201_000000.wav", Local("b.wav"), 0);
  });
  a = PluginGetFile(kTakeEntry, Local("a.wav"), 0);
  other.join();
  EXPECT_EQ(a, kFsFileOk);
  EXPECT_EQ(b, kFsFileOk);
  int ofA = 0, ofB = 0;
  for (const auto& r : Ui.Reports) {
    if (r.Source == Take) {
      EXPECT_EQ(r.Target, Local("a.wav"));
      ++ofA;
    } else {
      EXPECT_EQ(r.Source, second);
      EXPECT_EQ(r.Target, Local("b.wav"));
      ++ofB;
    }
  }
  EXPECT_GE(ofA, 6);
  EXPECT_GE(ofB, 6);
}

TEST_F(FsFiles, AGoneRecordingIsNotFoundBeforeTheLocalFileIsLookedAt) {
  ASSERT_TRUE(WriteWholeFile(Local("x.wav"), "keep"));
  ASSERT_TRUE(plat::RemoveFile(Take));
  EXPECT_EQ(PluginGetFile(kTakeEntry, Local("x.wav"), 0), kFsFileNotFound);
  EXPECT_EQ(Slurp(Local("x.wav")), "keep");
  EXPECT_EQ(PluginGetFile("\\Channels\\146.000000 MHz\\nothing.wav", Local("y.wav"), 0), kFsFileNotFound);
  EXPECT_EQ(PluginGetFile("\\Channels", Local("z"), 0), kFsFileNotSupported);
  EXPECT_EQ(PluginGetFile("\\Config", Local("z"), 0), kFsFileNotSupported);
}

TEST_F(FsFiles, ACancelledCopyLeavesNoLocalFile) {
  Ui.CancelAt = 0;  // cancel at the first report
  EXPECT_EQ(PluginGetFile(kTakeEntry, Local("c.wav"), 0), kFsFileUserAbort);
  EXPECT_FALSE(plat::PathExists(Local("c.wav")));
  EXPECT_TRUE(plat::FileExists(Take));
}

TEST_F(FsFiles, AMoveRemovesTheRecordingButGeneratedFilesStayCopies) {
  const int move = 4;
  EXPECT_EQ(PluginGetFile(kTakeEntry, Local("m.wav"), move), kFsFileOk);
  EXPECT_EQ(Slurp(Local("m.wav")), TakeBytes);
  EXPECT_FALSE(plat::PathExists(Take));
  EXPECT_EQ(PluginGetFile("\\Spectrum\\*** live view.talvview", Local("t.talvview"), move), kFsFileOk);
  EXPECT_TRUE(ReadTicket(Slurp(Local("t.talvview"))).Valid);
}

TEST_F(FsFiles, TicketsCarryTheChannelOrTheScanRange) {
  ASSERT_EQ(PluginGetFile("\\Channels\\145.012500 MHz\\*** live audio.talvaudio", Local("a.talvaudio"), 0),
            kFsFileOk);
  const std::string text = Slurp(Local("a.talvaudio"));
  EXPECT_EQ(text.compare(0, 3, "\xEF\xBB\xBF"), 0);  // generated texts carry the byte order mark
  TViewTicket t = ReadTicket(Slurp(Local("a.talvaudio")));
  EXPECT_TRUE(t.Valid);
  EXPECT_EQ(t.Mode, "audio");
  EXPECT_EQ(t.CenterHz, 145012500);
  EXPECT_EQ(t.SpanHz, 20000);
  EXPECT_EQ(t.Modulation, "NFM");
  EXPECT_EQ(t.Title, "145.012500 MHz  NFM");

  ASSERT_EQ(PluginGetFile("\\Spectrum\\*** live view.talvview", Local("v"), 0), kFsFileOk);
  t = ReadTicket(::ReadWholeFile(Local("v")));
  EXPECT_EQ(t.Mode, "spectrum");
  EXPECT_EQ(t.CenterHz, 145000000);
  EXPECT_EQ(t.SpanHz, 2000000);
  EXPECT_EQ(t.Title, "144 MHz .. 146 MHz");
  ASSERT_EQ(PluginGetFile("\\Spectrum\\*** live audio.talvaudio", Local("m"), 0), kFsFileOk);
  EXPECT_EQ(ReadTicket(::ReadWholeFile(Local("m"))).Mode, "multi");
  ASSERT_EQ(PluginGetFile("\\Channels\\145.012500 MHz\\*** live view.talvview", Local("cv"), 0), kFsFileOk);
  EXPECT_EQ(ReadTicket(::ReadWholeFile(Local("cv"))).Mode, "spectrum");
  EXPECT_EQ(ReadTicket(::ReadWholeFile(Local("cv"))).CenterHz, 145012500);

  TTalvConfig wfm;
  wfm.Modulation = modWFM;
  TVfsPath channel = ParseVfsPath("\\Channels\\100.000000 MHz\\*** live audio.talvaudio");
  EXPECT_EQ(ReadTicket(BuildTicketText(wfm, channel)).SpanHz, 409600);
  wfm.Modulation = modLSB;
  EXPECT_EQ(ReadTicket(BuildTicketText(wfm, channel)).SpanHz, 4320);

  ASSERT_TRUE(WriteWholeFile(Local("exists"), "x"));
  EXPECT_EQ(PluginGetFile("\\Spectrum\\*** live view.talvview", Local("exists"), 0), kFsFileExists);
  EXPECT_EQ(PluginGetFile("\\Status.txt", Local("exists"), 0), kFsFileExists);
  EXPECT_EQ(Slurp(Local("exists")), "x");
}

TEST_F(FsFiles, DeletionStaysInsideTheRecordingsFolder) {
  const std::string outside = Dir.File("outside.wav");
  ASSERT_TRUE(WriteWholeFile(outside, "x"));
  EXPECT_FALSE(PluginDeleteFile("\\Channels\\145.012500 MHz\\..\\..\\outside.wav"));
  EXPECT_FALSE(PluginDeleteFile("\\Archive\\..\\outside.wav"));
  EXPECT_FALSE(PluginDeleteFile("\\Archive\\*** all recordings\\..\\..\\outside.wav"));
  EXPECT_TRUE(plat::FileExists(outside));
  EXPECT_FALSE(PluginDeleteFile("\\Status.txt"));
  EXPECT_FALSE(PluginDeleteFile("\\Spectrum\\*** live view.talvview"));
  EXPECT_TRUE(PluginDeleteFile("\\Archive\\*** all recordings\\145.0125MHz_20240131_235959.wav"));
  EXPECT_FALSE(plat::PathExists(Take));
  EXPECT_FALSE(PluginDeleteFile(kTakeEntry));  // gone already
}

TEST_F(FsFiles, FolderRemovalOnlyForEmptyChannelAndArchiveFolders) {
  EXPECT_FALSE(PluginRemoveDir("\\Channels\\145.012500 MHz"));  // still holds the take
  EXPECT_TRUE(plat::DirectoryExists(Channel));
  ASSERT_TRUE(plat::RemoveFile(Take));
  EXPECT_TRUE(PluginRemoveDir("\\Channels\\145.012500 MHz"));
  EXPECT_FALSE(plat::PathExists(Channel));
  EXPECT_TRUE(PluginRemoveDir("\\Channels\\145.012500 MHz"));  // removed already: done
  ASSERT_TRUE(plat::MakeDirectory(Recordings + plat::PathSeparator() + "old"));
  EXPECT_TRUE(PluginRemoveDir("\\Archive\\old"));
  for (const char* p : {"\\", "\\Config", "\\Channels", "\\Spectrum", "\\Spectrum\\Hops", "\\Archive",
                        "\\Archive\\*** all recordings", "\\Archive\\..", "\\Channels\\.."})
    EXPECT_FALSE(PluginRemoveDir(p)) << p;
  EXPECT_TRUE(plat::DirectoryExists(Recordings));
}

TEST_F(FsFiles, IconsDefaultWhereThereIsNone) {
  uintptr_t icon = 77;
  EXPECT_EQ(PluginExtractIcon("\\Channels\\145.012500 MHz\\x.wav", 0, icon), kFsIconUseDefault);
  EXPECT_EQ(icon, 77u);  // untouched
  // Status.txt has an icon id; whether an icon comes depends on the module's resources (the library's
  // own; a test program or a Linux build has none). Either way the handle moves only with the icon.
  const int r = PluginExtractIcon("\\Status.txt", kFsIconFlagSmall, icon);
  if (r == kFsIconExtractedDestroy) {
    EXPECT_NE(icon, 77u);
  } else {
    EXPECT_EQ(r, kFsIconUseDefault);
    EXPECT_EQ(icon, 77u);
  }
}

TEST_F(FsFiles, PreviewsOfRecordingsAndOfWavFilesAnywhere) {
  uintptr_t bitmap = 0;
  ASSERT_EQ(PluginPreviewBitmap(kTakeEntry, 48, 40, bitmap), kFsBitmapExtracted);
  int32_t w = 0, h = 0;
  std::vector<uint32_t> pixels;
  ASSERT_TRUE(plat::ReadBitmap(reinterpret_cast<plat::TBitmapHandle>(bitmap), w, h, pixels));
  EXPECT_EQ(w, 48);
  EXPECT_EQ(h, 40);
  plat::FreeBitmap(reinterpret_cast<plat::TBitmapHandle>(bitmap));
  bitmap = 0;
  EXPECT_EQ(PluginPreviewBitmap("\\Status.txt", 48, 40, bitmap), kFsBitmapNone);
  EXPECT_EQ(PluginPreviewBitmap("\\Channels\\145.012500 MHz\\gone.wav", 48, 40, bitmap), kFsBitmapNone);
  EXPECT_EQ(PluginPreviewBitmap(kTakeEntry, 8, 40, bitmap), kFsBitmapNone);
  EXPECT_EQ(bitmap, 0u);

  // Any panel: own recordings by name; other WAV files only with ThumbAllWav.
  const std::string other = Out.File("song.wav");
  ASSERT_TRUE(WriteWholeFile(other, TakeBytes));
  uintptr_t own = PluginListPreviewBitmap(Take, 32, 32);
  EXPECT_NE(own, 0u);
  plat::FreeBitmap(reinterpret_cast<plat::TBitmapHandle>(own));
  EXPECT_EQ(PluginListPreviewBitmap(other, 32, 32), 0u);
  EXPECT_EQ(PluginListPreviewBitmap("", 32, 32), 0u);
  TTalvConfig all = LoadPluginConfig();
  all.ThumbAllWav = true;
  ASSERT_TRUE(SavePluginConfig(all));
  uintptr_t any = PluginListPreviewBitmap(other, 32, 32);
  EXPECT_NE(any, 0u);
  plat::FreeBitmap(reinterpret_cast<plat::TBitmapHandle>(any));
  ASSERT_TRUE(WriteWholeFile(Out.File("not.wav"), "RIFF....WAVEjunk"));
  EXPECT_EQ(PluginListPreviewBitmap(Out.File("not.wav"), 32, 32), 0u);
}

// Windows builds need a display for windows: the lister program (tests/lister) runs this there.
#if !defined(_WIN32) || defined(TALV_WITH_DISPLAY)
TEST_F(FsFiles, TicketFilesOpenTheListerWindowAndOtherFilesDoNot) {
  // The view talks to a fake engine, never to a real one started from the test's folder.
  testsupport::TFakeEngine engine;
  engine.ReplyLines({"ERR no spectrum yet"});
  ASSERT_TRUE(engine.Start());
  TEngineClientSetup setup;
  setup.PipeName = engine.PipeName();
  setup.EngineFolder = Dir.Path();
  const TEngineClientSetup old = DefaultEngineClient().Setup();
  DefaultEngineClient() = TEngineClient(setup);
  const plat::TWindowHandle parent = plat::CreateHiddenWindow("TalvoranTestLister");

  ASSERT_EQ(PluginGetFile("\\Spectrum\\*** live view.talvview", Local("v.talvview"), 0), kFsFileOk);
  const uintptr_t win = PluginListLoad(parent, Local("v.talvview"), 0);
  EXPECT_NE(win, 0u);
  EXPECT_TRUE(plat::IsLiveViewWindow(win));
  PluginListClose(win);
  EXPECT_EQ(plat::OpenViewWindows(), 0);

  EXPECT_EQ(PluginListLoad(parent, Take, 0), 0u);  // a WAV the detect string let through
  ASSERT_TRUE(WriteWholeFile(Local("empty.talvview"), ""));
  EXPECT_EQ(PluginListLoad(parent, Local("empty.talvview"), 0), 0u);
  std::string big = ::ReadWholeFile(Local("v.talvview"));
  big.resize(65537, ' ');
  ASSERT_TRUE(WriteWholeFile(Local("big.talvview"), big));
  EXPECT_EQ(PluginListLoad(parent, Local("big.talvview"), 0), 0u);
  big.resize(65536);
  ASSERT_TRUE(WriteWholeFile(Local("max.talvview"), big));
  const uintptr_t max = PluginListLoad(parent, Local("max.talvview"), 0);
  EXPECT_NE(max, 0u);
  PluginListClose(max);
  EXPECT_EQ(PluginListLoad(parent, Local("missing"), 0), 0u);
  EXPECT_EQ(plat::OpenViewWindows(), 0);

  plat::DestroyHiddenWindow(parent);
  DefaultEngineClient() = TEngineClient(old);
}
#endif

#ifndef _WIN32
// Opening a FIFO for reading waits for a writer. Should an export wait, a writer comes after a while
// and ends that wait, so the test fails rather than hangs.
TEST_F(FsFiles, AFifoIsNeitherATicketNorAThumbnailNorACopyTargetAndIsRefusedAtOnce) {
  TTalvConfig all = LoadPluginConfig();
  all.ThumbAllWav = true;
  ASSERT_TRUE(SavePluginConfig(all));
  const std::string fifo = Out.File("x.wav");
  ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
  std::future<void> done = std::async(std::launch::async, [&] {
    EXPECT_EQ(PluginListLoad(0, fifo, 0), 0u);
    EXPECT_EQ(PluginListPreviewBitmap(fifo, 32, 32), 0u);
    // As the local side of a fetch, even with the overwrite bit: a recording and a generated file.
    EXPECT_EQ(PluginGetFile(kTakeEntry, fifo, kFsCopyFlagOverwrite), kFsFileWriteError);
    EXPECT_EQ(PluginGetFile("\\Spectrum\\*** live view.talvview", fifo, kFsCopyFlagOverwrite),
              kFsFileWriteError);
  });
  if (done.wait_for(std::chrono::seconds(5)) == std::future_status::ready) return;
  ADD_FAILURE() << "an export waited for the FIFO's other side";
  const int reader = open(fifo.c_str(), O_RDONLY | O_NONBLOCK);  // frees a waiting writer, then drains it
  char sink[4096];
  while (done.wait_for(std::chrono::milliseconds(50)) != std::future_status::ready) {
    const int writer = open(fifo.c_str(), O_WRONLY | O_NONBLOCK);
    if (writer >= 0) close(writer);
    while (read(reader, sink, sizeof sink) > 0) {
    }
  }
  close(reader);
}
#endif

TEST(TicketFiles, ReadWholeFileDropsTheByteOrderMarkOnly) {
  TTempDir dir;
  ASSERT_TRUE(WriteWholeFile(dir.File("a"), "\xEF\xBB\xBFTALVORAN-LIVE/1\r\nMode=audio\r\n"));
  EXPECT_EQ(::ReadWholeFile(dir.File("a")), "TALVORAN-LIVE/1\r\nMode=audio\r\n");
  ASSERT_TRUE(WriteWholeFile(dir.File("b"), "\xEF\xBBX"));
  EXPECT_EQ(::ReadWholeFile(dir.File("b")), "\xEF\xBBX");
  EXPECT_EQ(::ReadWholeFile(dir.File("none")), "");
  EXPECT_EQ(::ReadWholeFile(dir.Path()), "");  // a folder
}

}  // namespace
