// The live view's pictures: each scene drawn from a known state and checked by pixel probes at the
// places the layout rules give, by its text runs, and by one hash of the whole frame. The hashes pin
// each picture as it was looked at, and the Windows builds run these tests too, so they also prove
// that every build draws the same pixels. The scenes are also left as PNG files in
// "pictures" beside the test program.
#include "uLiveDraw.h"

#include <gtest/gtest.h>

#include "PaintTestSupport.h"
#include "uTalvConfig.h"
#include "uWavThumb.h"

using namespace painttest;
using namespace livecolor;

namespace {

// The frame of a running channel: 2048 bins at -104 dB with a carrier of -50 dB at the centre bin.
TTalvFrame ChannelFrame(int64_t seq) {
  TTalvFrame f;
  f.Center = 100000000;
  f.Rate = 2400000;
  f.Noise = -100;
  f.Seq = seq;
  f.Source = "live";
  f.Bins.assign(2048, -104.0f);
  f.Bins[1024] = -50.0f;
  f.Marks = {{100000000, 24.4}, {100012500, 15.6}};
  return f;
}

struct TScene {
  TPixelFrame Frame;
  TTextRuns Runs;
  TFixedTextMeasure Measure{7, 13};
  void Paint(TLiveScene& scene, TLiveSnapshot snap, int32_t w, int32_t h, uint64_t now = 10000,
             TPaintPoint cursor = {-1, -1}, int32_t dpi = 96) {
    Frame.Resize(w, h);
    TLiveScene::TInput in;
    in.Width = w;
    in.Height = h;
    in.Dpi = dpi;
    in.NowMs = now;
    in.Cursor = cursor;
    scene.Paint(snap, in, Measure, Frame, Runs);
  }
  // The run with exactly this text; null when there is none.
  const TTextRun* Run(const std::string& text) const {
    for (const TTextRun& r : Runs)
      if (r.Text == text) return &r;
    return nullptr;
  }
  void Save(const std::string& name) const { WritePng(PictureFolder() + name + ".png", Frame); }
};

TLiveSnapshot Data(const TTalvFrame& f) {
  TLiveSnapshot s;
  s.HaveData = true;
  s.Frame = f;
  return s;
}

TEST(LiveHelpers, MulDivNiceStepAndPanoAges) {
  EXPECT_EQ(MulDivRound(11, 144, 96), 17);  // 16.5 rounds away from zero
  EXPECT_EQ(MulDivRound(46, 144, 96), 69);
  EXPECT_EQ(MulDivRound(-11, 144, 96), -17);
  EXPECT_EQ(MulDivRound(5, 3, 0), -1);
  EXPECT_EQ(MulDivRound(1 << 30, 8, 1), -1);
  EXPECT_EQ(NiceStep(0), 1);
  EXPECT_EQ(NiceStep(1), 1);
  EXPECT_EQ(NiceStep(3), 5);
  EXPECT_EQ(NiceStep(3000), 5000);
  EXPECT_EQ(NiceStep(5001), 10000);
  EXPECT_EQ(NiceStep(20), 20);
  EXPECT_EQ(PanoAgeFactor(-1), 0.0);
  EXPECT_EQ(PanoAgeFactor(300), 1.0);
  EXPECT_DOUBLE_EQ(PanoAgeFactor(1150), 1.0 - 850 * 0.65 / 1700);
  EXPECT_EQ(PanoAgeFactor(2000), 0.35);
  EXPECT_EQ(LiveKindOfMode("multi"), lkMulti);
  EXPECT_EQ(LiveKindOfMode("audio"), lkAudio);
  EXPECT_EQ(LiveKindOfMode("Audio"), lkSpectrum);  // compared exactly
  EXPECT_EQ(LiveKindOfMode("MULTI"), lkSpectrum);
  EXPECT_EQ(ShownLevelCount(5000, 50), 1000);
  EXPECT_EQ(ShownLevelCount(5000, 0), 1240);
}

TEST(LiveSpectrum, ShownRangeCutsTheFrameToTheTicketsSpan) {
  TLiveScene scene(LiveTicket("spectrum", 100000000, 200000, ""));
  TTalvFrame f = ChannelFrame(1);
  scene.ResolveShownRange(f);
  ASSERT_EQ(f.Bins.size(), 171u);  // bins 938 .. 1108
  EXPECT_EQ(f.Bins[1024 - 938], -50.0f);
  EXPECT_EQ(scene.ShownLow(), 98800000 + 2400000LL * 938 / 2048);
  EXPECT_EQ(scene.ShownHigh(), 98800000 + 2400000LL * 1109 / 2048);

  TLiveScene narrow(LiveTicket("spectrum", 100000000, 2000, ""));  // under 8 bins: 4 more on each side
  f = ChannelFrame(1);
  narrow.ResolveShownRange(f);
  const int64_t first = int64_t{1199000} * 2048 / 2400000 - 4;  // bins 1023 .. 1023, then 1019 .. 1027
  const int64_t end = int64_t{2048} * 1201000 / 2400000 + 4;
  EXPECT_EQ(end - first, 9);
  EXPECT_EQ(static_cast<int64_t>(f.Bins.size()), end - first);
  EXPECT_EQ(narrow.ShownLow(), 98800000 + 2400000 * first / 2048);

  TLiveScene whole(LiveTicket("spectrum", 100000000, 0, ""));  // no span: every bin, the frame's band
  f = ChannelFrame(1);
  whole.ResolveShownRange(f);
  EXPECT_EQ(f.Bins.size(), 2048u);
  EXPECT_EQ(whole.ShownLow(), 98800000);
  EXPECT_EQ(whole.ShownHigh(), 101200000);

  f = ChannelFrame(1);  // a frame with its own range keeps its bins and shows that range
  f.LoHz = 144000000;
  f.HiHz = 146000000;
  scene.ResolveShownRange(f);
  EXPECT_EQ(f.Bins.size(), 2048u);
  EXPECT_EQ(scene.ShownLow(), 144000000);
  f = ChannelFrame(1);
  f.Rate = 0;
  scene.ResolveShownRange(f);
  EXPECT_EQ(scene.ShownHigh() - scene.ShownLow(), 0);
  TLiveScene outside(LiveTicket("spectrum", 200000000, 20000, ""));  // span outside the band: no cut
  f = ChannelFrame(1);
  outside.ResolveShownRange(f);
  EXPECT_EQ(f.Bins.size(), 2048u);
}

TEST(LiveSpectrum, ChannelSceneDrawsGridTraceMarksWaterfallAndTexts) {
  TLiveScene scene(LiveTicket("spectrum", 100000000, 200000, "100.000000 MHz  NFM"));
  TScene s;
  s.Paint(scene, Data(ChannelFrame(7)), 640, 400, 10000, {400, 100});
  s.Save("live_spectrum_channel");
  const TPixelFrame& f = s.Frame;
  // Layout: trace 46..632 x 22..174, waterfall 46..632 x 176..384.
  const TSpectrumLayout lay = SpectrumLayout(640, 400, 96);
  EXPECT_EQ(lay.Trace.Bottom, 174);
  EXPECT_EQ(lay.Waterfall.Top, 176);
  EXPECT_EQ(lay.Waterfall.Bottom, 384);
  EXPECT_EQ(f.At(10, 300), kBackground);
  EXPECT_EQ(f.At(635, 300), kBackground);
  // Grid at -80, -60 and -40 dB of the -108 .. -38 range.
  EXPECT_EQ(f.At(200, 113), kGrid);
  EXPECT_EQ(f.At(200, 70), kGrid);
  EXPECT_EQ(f.At(200, 26), kGrid);
  EXPECT_EQ(f.At(631, 26), kGrid);
  EXPECT_EQ(f.At(632, 26), kBackground);  // the line leaves out its end
  // Fewer bins (171) than columns (586): every column still has its point on the -104 dB row.
  for (int32_t x = 46; x < 631; ++x) {
    if (x >= 338 && x <= 348) continue;  // the carrier and the mark lines
    if (x == 400) continue;              // the cursor line
    ASSERT_EQ(f.At(x, 165), kTrace) << "column " << x;
  }
  EXPECT_EQ(f.At(343, 48), kTrace);  // the carrier's peak, columns 341 .. 344
  // Marks at x 340 and 377: dotted, 3 on 3 off from the trace top; the waterfall gets a 6-pixel tick.
  EXPECT_EQ(f.At(340, 22), kMarkFresh);
  EXPECT_EQ(f.At(340, 24), kMarkFresh);
  EXPECT_NE(f.At(340, 25), kMarkFresh);
  EXPECT_EQ(f.At(340, 28), kMarkFresh);
  EXPECT_EQ(f.At(377, 176), kMarkFresh);
  EXPECT_NE(f.At(377, 179), kMarkFresh);
  EXPECT_NE(f.At(377, 182), kMarkFresh);
  // Two marks 37 pixels apart share one label.
  ASSERT_NE(s.Run("100 MHz  24 dB"), nullptr);
  EXPECT_EQ(s.Run("100 MHz  24 dB")->X, 343);
  EXPECT_EQ(s.Run("100 MHz  24 dB")->Color, kMarkLabelFresh);
  EXPECT_EQ(s.Run("100.0125 MHz  16 dB"), nullptr);
  // The waterfall's newest row at the top, the carrier in the scale's hot end.
  EXPECT_EQ(f.At(343, 176), LevelToColor(58.0 / 70) | 0xFF000000u);
  EXPECT_EQ(f.At(100, 176), LevelToColor(4.0 / 70) | 0xFF000000u);
  EXPECT_EQ(f.At(100, 177), RgbPixel(0, 0, 0));  // one frame so far: the rest is black
  // Cursor: the line through trace and waterfall, the readout snapped to 500 Hz steps.
  EXPECT_EQ(f.At(400, 383), kCursorLine);
  EXPECT_NE(f.At(400, 384), kCursorLine);
  const TTextRun* hz = s.Run(FormatHz(100020500) + "   -104 dBFS");
  ASSERT_NE(hz, nullptr);
  EXPECT_EQ(hz->X, 404);
  EXPECT_EQ(hz->Y, 24);
  EXPECT_EQ(f.At(46, 100), kCursorLine);  // the dotted level line
  EXPECT_NE(f.At(49, 100), kCursorLine);
  const TTextRun* level = s.Run("-74 dBFS");
  ASSERT_NE(level, nullptr);
  EXPECT_EQ(level->X, 632 - 4 - 56);
  EXPECT_EQ(level->Y, 100 - 2 - 13);
  // Header, labels.
  ASSERT_NE(s.Run("100.000000 MHz  NFM"), nullptr);
  EXPECT_EQ(s.Run("100.000000 MHz  NFM")->X, 46);
  const TTextRun* summary = s.Run("2 ch  " + FormatHz(200391) + " span  noise -100 dBFS  src live");
  ASSERT_NE(summary, nullptr);
  EXPECT_EQ(summary->X, 312);
  const TTextRun* second = s.Run(FormatHz(99899218 + 200391 / 4));
  ASSERT_NE(second, nullptr);
  EXPECT_EQ(second->X, 46 + 147 - 35);
  EXPECT_EQ(second->Y, 386);
  EXPECT_NE(s.Run(FormatHz(99899218)), nullptr);
  ASSERT_NE(s.Run("-38"), nullptr);
  EXPECT_EQ(s.Run("-38")->Y, 20);
  ASSERT_NE(s.Run("-108 dB"), nullptr);
  EXPECT_EQ(s.Run("-108 dB")->Y, 162);
  EXPECT_EQ(FrameHash(f), 15349360984609724214ull) << "scene hash";
}

TEST(LiveSpectrum, CursorTextFlipsLeftNearTheRightEdgeAndIsNotSnappedAtOneHzPerPixel) {
  TLiveScene scene(LiveTicket("spectrum", 100000000, 200000, "t"));
  TScene s;
  s.Paint(scene, Data(ChannelFrame(1)), 640, 400, 10000, {620, 30});
  const TTextRun* run = nullptr;
  for (const TTextRun& r : s.Runs)
    if (r.Color == kCursorText && r.Text.find("dBFS") != std::string::npos &&
        r.Text.find("MHz") != std::string::npos)
      run = &r;
  ASSERT_NE(run, nullptr);
  EXPECT_EQ(run->X + run->Width, 620 - 4);
  // The level text would rise above the trace top: it goes under the line.
  for (const TTextRun& r : s.Runs) {
    if (r.Color == kCursorText && r.Text.find("MHz") == std::string::npos) {
      EXPECT_EQ(r.Y, 32);
    }
  }

  // 586 Hz over 586 columns: one hertz per pixel, no rounding.
  TLiveScene fine(LiveTicket("spectrum", 0, 0, "t"));
  TTalvFrame f = ChannelFrame(1);
  f.LoHz = 100000000;
  f.HiHz = 100000586;
  TScene t;
  t.Paint(fine, Data(f), 640, 400, 10000, {46 + 123, 300});
  EXPECT_NE(t.Run(FormatHz(100000123) + "   -104 dBFS"), nullptr);
  // Outside the trace and waterfall: no readout.
  TScene u;
  u.Paint(fine, Data(f), 640, 400, 10000, {20, 300});
  for (const TTextRun& r : u.Runs) EXPECT_NE(r.Color, kCursorText);
}

TEST(LiveSpectrum, WaitingTextsBeforeTheFirstFrame) {
  TLiveScene scene(LiveTicket("spectrum", 0, 0, ""));
  TScene s;
  TLiveSnapshot snap;
  s.Paint(scene, snap, 300, 200);
  ASSERT_EQ(s.Runs.size(), 1u);
  EXPECT_EQ(s.Runs[0].Text, "waiting for the first spectrum frame...");
  EXPECT_EQ(s.Runs[0].X, 46);
  EXPECT_EQ(s.Runs[0].Y, 22);
  EXPECT_EQ(s.Runs[0].Color, kStatus);
  snap.StatusText = "engine is not running";
  s.Paint(scene, snap, 300, 200, 10000, {-1, -1}, 144);
  EXPECT_EQ(s.Runs[0].Text, "engine is not running");
  EXPECT_EQ(s.Runs[0].X, 69);  // 46 at 144 DPI
  EXPECT_EQ(s.Runs[0].Y, 33);
  for (int32_t y = 0; y < 200; y += 7)
    for (int32_t x = 0; x < 300; x += 7) ASSERT_EQ(s.Frame.At(x, y), kBackground);
}

TEST(LiveSpectrum, WaterfallGainsOneRowPerNewFrameNotPerPaint) {
  TLiveScene scene(LiveTicket("spectrum", 100000000, 200000, "t"));
  TScene s;
  TTalvFrame f = ChannelFrame(1);
  s.Paint(scene, Data(f), 640, 400);
  s.Paint(scene, Data(f), 640, 400);  // same Seq: a mouse move, nothing added
  EXPECT_EQ(scene.WaterfallPicture().At(100, 1), RgbPixel(0, 0, 0));
  f.Seq = 2;
  f.Bins.assign(2048, -60.0f);
  s.Paint(scene, Data(f), 640, 400);
  EXPECT_EQ(scene.WaterfallPicture().At(100, 0), LevelToColor(48.0 / 70) | 0xFF000000u);
  EXPECT_EQ(scene.WaterfallPicture().At(100, 1), LevelToColor(4.0 / 70) | 0xFF000000u);
  EXPECT_EQ(scene.LastDrawnSeq(), 2);
  s.Paint(scene, Data(f), 640, 300);  // a resize clears the history
  EXPECT_EQ(scene.WaterfallPicture().Height(), 300 - 16 - (RoundHalfEven((300 - 38) * 0.42) + 22) - 2);
  EXPECT_EQ(scene.WaterfallPicture().At(100, 0), RgbPixel(0, 0, 0));
}

TEST(LiveSpectrum, MarkTableKeepsTheNewest128ForTwoAndAHalfSeconds) {
  TLiveScene scene(LiveTicket("spectrum", 0, 0, ""));
  for (int i = 0; i < 128; ++i) scene.MergeMarks({{1000000 + i, 10.0}}, 1000 + static_cast<uint64_t>(i));
  ASSERT_EQ(scene.Marks().size(), 128u);
  scene.MergeMarks({{1000005, 30.0}, {0, 99.0}, {-5, 99.0}}, 1200);  // known Hz updated; Hz below 1 ignored
  EXPECT_EQ(scene.Marks()[5].Snr, 30.0);
  EXPECT_EQ(scene.Marks()[5].SeenMs, 1200u);
  scene.MergeMarks({{2000000, 12.0}}, 1201);  // the 129th replaces the one seen longest ago (index 0)
  ASSERT_EQ(scene.Marks().size(), 128u);
  EXPECT_EQ(scene.Marks()[0].Hz, 2000000);
  EXPECT_EQ(scene.Marks()[1].Hz, 1000001);
  scene.MergeMarks({}, 1001 + 2500);  // 1001 is exactly 2500 ms old: kept; older ones go
  EXPECT_EQ(scene.Marks()[0].Hz, 2000000);
  EXPECT_EQ(scene.Marks()[1].Hz, 1000001);
  scene.MergeMarks({}, 1002 + 2500);
  EXPECT_EQ(scene.Marks()[1].Hz, 1000002);
  scene.MergeMarks({}, 100000);
  EXPECT_TRUE(scene.Marks().empty());
}

TEST(LiveSpectrum, StaleMarksTurnDimAfter700Ms) {
  TLiveScene scene(LiveTicket("spectrum", 100000000, 200000, "t"));
  TScene s;
  s.Paint(scene, Data(ChannelFrame(1)), 640, 400, 10000);
  TTalvFrame next = ChannelFrame(2);
  next.Marks.clear();
  s.Paint(scene, Data(next), 640, 400, 10701);
  EXPECT_EQ(s.Frame.At(340, 22), kMarkStale);
  EXPECT_EQ(s.Run("100 MHz  24 dB")->Color, kMarkLabelStale);
  s.Paint(scene, Data(next), 640, 400, 12501);  // gone from the picture after 2500 ms
  EXPECT_NE(s.Frame.At(340, 22), kMarkStale);
  EXPECT_EQ(s.Run("100 MHz  24 dB"), nullptr);
}

TEST(LiveSpectrum, PanoramaHopsAreDrawnByAge) {
  TLiveScene scene(LiveTicket("spectrum", 0, 0, "range"));
  TTalvFrame f;
  f.Center = 145000000;
  f.Rate = 2000000;
  f.Noise = -100;
  f.Seq = 3;
  f.Source = "scan";
  f.LoHz = 144000000;
  f.HiHz = 146000000;
  f.Bins.assign(1000, -90.0f);
  f.Pano = {{144000000, 144500000, 100},
            {144500000, 145000000, 1150},
            {145000000, 145500000, 5000},
            {145500000, 146000000, -1}};
  TScene s;
  s.Paint(scene, Data(f), 640, 400);
  s.Save("live_spectrum_panorama");
  // -90 dB: y = 174 - rint(152 x 18 / 70) = 135; hop columns 0..146, 146..293, 293..439, 439..585.
  EXPECT_EQ(s.Frame.At(46 + 50, 135), kTrace);
  const double x1 = PanoAgeFactor(1150);
  EXPECT_EQ(s.Frame.At(46 + 200, 135), RgbPixel(static_cast<uint32_t>(RoundHalfEven(90 * x1)),
                                                static_cast<uint32_t>(RoundHalfEven(220 * x1)),
                                                static_cast<uint32_t>(RoundHalfEven(140 * x1))));
  EXPECT_EQ(s.Frame.At(46 + 350, 135), RgbPixel(static_cast<uint32_t>(RoundHalfEven(90 * 0.35)), 77, 49));
  EXPECT_EQ(s.Frame.At(46 + 500, 135), kBackground);  // a hop without data is not drawn
  EXPECT_NE(s.Run("range"), nullptr);
  EXPECT_NE(s.Run("0 ch  2 MHz span  noise -100 dBFS  src scan"), nullptr);
  EXPECT_EQ(FrameHash(s.Frame), 17445539018172691073ull) << "scene hash";
}

TEST(LiveSpectrum, HighDpiScalesTheLayout) {
  TLiveScene scene(LiveTicket("spectrum", 100000000, 200000, "t"));
  TScene s;
  s.Paint(scene, Data(ChannelFrame(1)), 960, 600, 10000, {-1, -1}, 144);
  s.Save("live_spectrum_144dpi");
  const TSpectrumLayout lay = SpectrumLayout(960, 600, 144);
  EXPECT_EQ(lay.Trace.Left, 69);
  EXPECT_EQ(lay.Trace.Top, 33);
  EXPECT_EQ(lay.Trace.Right, 960 - 12);
  EXPECT_EQ(lay.Waterfall.Bottom, 600 - 24);
  EXPECT_EQ(s.Frame.At(68, 300), kBackground);
  EXPECT_NE(s.Frame.At(69, 300), kBackground);  // the waterfall starts at the scaled margin
  EXPECT_EQ(s.Run("t")->Y, 6);
  EXPECT_EQ(FrameHash(s.Frame), 4415335041798283584ull) << "scene hash";
}

TEST(LiveAudio, BarsShowTheNewestTwentySecondsOldestAtTheLeft) {
  TLiveScene scene(LiveTicket("audio", 145012500, 20000, "145.012500 MHz  NFM"));
  TLiveSnapshot snap;
  snap.HaveData = true;
  snap.Playing = true;
  snap.LevelRate = 50;
  for (int k = 0; k < 1500; ++k) snap.Levels.push_back({k / 1500.0f, k / 3000.0f});
  TScene s;
  s.Paint(scene, snap, 300, 200);
  s.Save("live_audio");
  // pw 246, ph 162, middle row 103; 1000 samples shown (20 s at 50/s): indices 500 .. 1499.
  EXPECT_EQ(s.Frame.At(291, 22), kPeak);  // newest: peak 1499/1500, half-height 81
  EXPECT_EQ(s.Frame.At(291, 184), kPeak);
  EXPECT_EQ(s.Frame.At(291, 185), kBackground);
  EXPECT_EQ(s.Frame.At(291, 103 - 40), kTrace);  // its rms 0.4997: 40 rows each way
  EXPECT_EQ(s.Frame.At(291, 103 + 40), kTrace);
  EXPECT_EQ(s.Frame.At(291, 103 - 41), kPeak);
  // Column 0 shows sample 1000 - 1000 x 245 div 246 - 1 = 4 of the shown: index 504, peak 0.336.
  EXPECT_EQ(s.Frame.At(46, 103 - 27), kPeak);
  EXPECT_EQ(s.Frame.At(46, 103 - 28), kBackground);
  EXPECT_EQ(s.Frame.At(46, 103 - 14), kTrace);
  EXPECT_EQ(s.Frame.At(46, 103 - 15), kPeak);
  ASSERT_NE(s.Run("145.012500 MHz  NFM  -  listening (NFM)"), nullptr);
  ASSERT_NE(s.Run("peak / rms"), nullptr);
  EXPECT_EQ(s.Run("peak / rms")->X, 4);
  ASSERT_NE(s.Run("20 s shown"), nullptr);
  EXPECT_EQ(s.Run("20 s shown")->Y, 200 - 16 + 2);
  EXPECT_EQ(FrameHash(s.Frame), 5781184076886934592ull) << "scene hash";

  snap.LevelRate = 0;  // no rate in the replies: 62 per second
  snap.Playing = false;
  snap.Levels.resize(600);
  s.Paint(scene, snap, 300, 200);
  EXPECT_NE(s.Run("10 s shown"), nullptr);
  EXPECT_NE(s.Run("145.012500 MHz  NFM  -  not playing"), nullptr);
}

TEST(LiveAudio, WithoutSamplesTheStatusOrWaitingTextShows) {
  TLiveScene scene(LiveTicket("audio", 145012500, 0, ""));
  TLiveSnapshot snap;
  TScene s;
  s.Paint(scene, snap, 300, 200);
  ASSERT_NE(s.Run("waiting for audio..."), nullptr);
  EXPECT_EQ(s.Run("waiting for audio...")->Y, 103 - 8);
  EXPECT_NE(s.Run(FormatHz(145012500) + "  -  not playing"), nullptr);
  snap.StatusText = "live audio: no device";
  s.Paint(scene, snap, 300, 200);
  EXPECT_NE(s.Run("live audio: no device"), nullptr);
  s.Paint(scene, snap, 58, 200);  // plot width 4: nothing at all
  EXPECT_TRUE(s.Runs.empty());
}

TEST(LiveMulti, LanesShrinkToFitAndEachShowsItsOwnLevels) {
  TLiveScene scene(LiveTicket("multi", 0, 0, ""));
  TLiveSnapshot snap;
  snap.HaveData = true;
  snap.Playing = true;
  snap.LevelRate = 62;
  for (int p = 0; p < 10; ++p) {
    TTalvLane lane;
    lane.Hz = 145000000 + 12500 * p;
    lane.Count = 100;
    for (int k = 0; k < 100; ++k) lane.Levels.push_back({p == 3 ? 1.0f : 0.0f, 0.0f});
    snap.Lanes.push_back(lane);
  }
  TScene s;
  s.Paint(scene, snap, 400, 300);
  s.Save("live_multi");
  // 262 rows for 10 lanes: 22 pixels each with 4 between, all ten fit (the last ends at 278 <= 284).
  ASSERT_NE(s.Run("all active channels  -  10 channel(s) live"), nullptr);
  ASSERT_NE(s.Run("2 s shown  -  22 px per channel"), nullptr);  // 100 / 62 = 1.6
  for (int p = 0; p < 10; ++p) {
    const int32_t t = 22 + 26 * p;
    ASSERT_NE(s.Run(FormatHz(145000000 + 12500 * p)), nullptr) << p;
    EXPECT_EQ(s.Run(FormatHz(145000000 + 12500 * p))->Y, t + 1);
    if (p == 3) continue;  // the loud lane's bars reach its edges
    EXPECT_EQ(s.Frame.At(46, t), kLane) << p;
    EXPECT_EQ(s.Frame.At(46, t + 22), kBackground) << p;
  }
  // Lane 3 is loud: its newest column holds a full bar (half-height 11 around row 22 + 78 + 11).
  const int32_t mid = 22 + 26 * 3 + 11;
  EXPECT_EQ(s.Frame.At(391, mid - 11), kPeak);
  EXPECT_EQ(s.Frame.At(391, mid), kTrace);         // rms 0: the one middle pixel
  EXPECT_EQ(s.Frame.At(391, 22 + 11 - 1), kLane);  // lane 0 is quiet
  EXPECT_EQ(FrameHash(s.Frame), 1323574206791541039ull) << "scene hash";

  TLiveSnapshot none;
  s.Paint(scene, none, 400, 300);
  ASSERT_NE(s.Run("no channel above the threshold yet..."), nullptr);
  EXPECT_EQ(s.Run("no channel above the threshold yet...")->Y, 32);
  EXPECT_NE(s.Run("all active channels  -  not playing"), nullptr);
}

}  // namespace
