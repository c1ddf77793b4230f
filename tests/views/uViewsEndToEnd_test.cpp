// The views with the real engine: the engine program (started by the plug-in's client) scans the
// stand-in scene receiver (narrow-FM carriers in 144-146 MHz over noise); once the 145.0125 MHz channel
// holds a take, the scan is stopped and the channel's live view opened from the ticket the plug-in
// writes for its folder (its polls make the engine watch the channel). The view must show the
// channel's carrier at its centre with the channel's mark, and the channel's takes must give
// thumbnails that are not blank. Windows builds run this in the lister program, where
// a display is.
#if !defined(_WIN32) || defined(TALV_WITH_DISPLAY)
#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <thread>

#include "PngFile.h"
#include "TestSupport.h"
#include "pBitmap.h"
#include "pFs.h"
#include "pPipe.h"
#include "pSystem.h"
#include "pViewWindow.h"
#include "pWindow.h"
#include "uFsFiles.h"
#include "uPluginConfig.h"
#include "uWavThumb.h"
#include "uWlxView.h"
#ifndef _WIN32
#include <sys/stat.h>
#endif

using testsupport::TTempDir;

namespace {

constexpr int64_t kChannelHz = 145012500;

std::string Bin() {
  return plat::ModuleDir();
}

// The channel's finished-looking takes: WAV files of at least half a second.
std::vector<std::string> Takes(const std::string& folder) {
  std::vector<std::string> takes;
  std::vector<plat::TDirEntry> entries;
  plat::ListDirectory(folder, entries);
  for (const plat::TDirEntry& e : entries) {
    if (e.IsDirectory || e.Name.size() < 5 || e.Name.substr(e.Name.size() - 4) != ".wav") continue;
    TWavInfo info;
    const std::string path = folder + plat::PathSeparator() + e.Name;
    if (ReadWavHeader(path, info) && info.FrameCount >= info.SampleRate / 2) takes.push_back(path);
  }
  return takes;
}

TEST(ViewsEndToEnd, AChannelsLiveViewShowsItsCarrierAndMarkAndItsTakesHaveThumbnails) {
  ASSERT_FALSE(plat::PipeExists(plat::kPipeName, 20)) << "an engine already serves the pipe";
  TTempDir dir;
  const std::string engineName = testsupport::EnginePath().substr(Bin().size());
  const std::string engine = dir.File(engineName);
  ASSERT_TRUE(testsupport::WriteWholeFile(engine, testsupport::ReadWholeFile(testsupport::EnginePath())));
#ifdef _WIN32
  const std::string scene = "rtlsdr.dll";
#else
  const std::string scene = "librtlsdr.so.0";
  ASSERT_EQ(chmod(engine.c_str(), 0755), 0);
#endif
  const std::string sep(1, plat::PathSeparator());
  ASSERT_TRUE(testsupport::WriteWholeFile(
      dir.File(scene), testsupport::ReadWholeFile(Bin() + "fakes" + sep + "scene" + sep + scene)));

  TEngineClientSetup setup;
  setup.EngineFolder = dir.Path();
  setup.EngineFile = engineName;
  TEngineClient client(setup);
  TTalvConfig cfg;
  cfg.RecordDir = dir.File("recordings");
  cfg.MaxDwellMs = 1500;
  cfg.MinRecordMs = 500;
  std::string error;
  ASSERT_TRUE(client.StartScan(cfg, error)) << error;

  // The scan finds the channel and records it.
  const std::string channelFolder = cfg.RecordDir + sep + FormatMHzExact(kChannelHz);
  std::vector<std::string> takes;
  for (int i = 0; i < 180 && takes.empty(); ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    takes = Takes(channelFolder);
  }
  ASSERT_FALSE(takes.empty()) << "no take of the channel in " << channelFolder;
  ASSERT_TRUE(client.StopScan(error)) << error;

  const TViewTicket view =
      ReadTicket(BuildTicketText(cfg, ParseVfsPath("\\Channels\\145.012500 MHz\\*** live view.talvview")));
  ASSERT_TRUE(view.Valid);
  TLiveViewOptions options;
  options.Client = setup;
  const plat::TWindowHandle parent = plat::CreateHiddenWindow("TalvoranTestLister");
  const plat::TWindowHandle viewWin = OpenLiveViewWith(parent, view, cfg, options);
  ASSERT_NE(viewWin, 0u);
  auto* live = dynamic_cast<TViewWnd*>(plat::LiveViewOwner(viewWin));
  ASSERT_NE(live, nullptr);

  // Paint until a frame with the channel's mark has come.
  const int32_t w = 600, h = 400;
  const int32_t dpi = plat::WindowDpi(viewWin);
  const TSpectrumLayout lay = SpectrumLayout(w, h, dpi);
  const int32_t centre = lay.Trace.Left + lay.Trace.Width() / 2;
  std::vector<uint32_t> pixels;
  std::vector<plat::TViewText> texts;
  bool marked = false;
  for (int i = 0; i < 150 && !marked; ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    plat::PumpThreadMessages(10);
    ASSERT_TRUE(plat::PaintViewNow(viewWin, w, h, pixels, texts));
    for (int32_t x = centre - 6; x <= centre + 6 && !marked; ++x)
      marked = (pixels[static_cast<size_t>(lay.Trace.Top) * w + x] & 0xFFFFFFu) ==
               (livecolor::kMarkFresh & 0xFFFFFFu);
  }
  testsupport::WritePng(testsupport::PictureFolder() + "end_to_end_channel_view.png", pixels.data(), w, h);
  EXPECT_TRUE(marked) << "no mark at the channel";
  // The carrier: the trace's highest point lies at the centre of the channel's span.
  int32_t peakX = -1, peakY = h;
  for (int32_t x = lay.Trace.Left; x < lay.Trace.Right; ++x)
    for (int32_t y = lay.Trace.Top; y < lay.Trace.Bottom; ++y)
      if ((pixels[static_cast<size_t>(y) * w + x] & 0xFFFFFFu) == (livecolor::kTrace & 0xFFFFFFu) &&
          y < peakY) {
        peakY = y;
        peakX = x;
      }
  EXPECT_NEAR(peakX, centre, lay.Trace.Width() / 10) << "carrier not at the channel";
  EXPECT_LT(peakY, lay.Trace.Top + lay.Trace.Height() / 2) << "no carrier above the noise";
  bool label = false;
  for (const plat::TViewText& t : texts) label = label || t.Text.rfind(FormatHz(kChannelHz) + "  ", 0) == 0;
  EXPECT_TRUE(label) << "no label of the channel's mark";

  CloseLiveView(viewWin);
  plat::DestroyHiddenWindow(parent);

  // Every take of the channel has a thumbnail with a picture in it.
  for (const std::string& take : Takes(channelFolder)) {
    TPixelFrame f;
    ASSERT_TRUE(DrawWavThumbnail(take, 96, 96, f)) << take;
    std::vector<TPixel> colours(f.Data(), f.Data() + 96 * 96);
    std::sort(colours.begin(), colours.end());
    EXPECT_GT(std::unique(colours.begin(), colours.end()) - colours.begin(), 20)
        << "blank thumbnail of " << take;
    plat::TBitmapHandle bmp = MakeWavThumbnail(take, 96, 96);
    EXPECT_NE(bmp, nullptr);
    plat::FreeBitmap(bmp);
  }
  client.SendQuit();
  for (int i = 0; i < 100 && plat::PipeExists(plat::kPipeName, 20); ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
  EXPECT_FALSE(plat::PipeExists(plat::kPipeName, 20));
}

}  // namespace
#endif
