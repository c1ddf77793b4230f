// The software painter: the pixel rules of lines, dotted lines, polylines, fills, blits and the
// waterfall scroll, checked pixel by pixel on small frames.
#include "uPaint.h"

#include <gtest/gtest.h>

#include "PaintTestSupport.h"

namespace {

constexpr TPixel kBack = RgbPixel(1, 2, 3);
constexpr TPixel kInk = RgbPixel(200, 100, 50);

// The frame as rows of '.' (background), '#' (ink) or '?' (anything else).
std::vector<std::string> Picture(const TPixelFrame& f) {
  std::vector<std::string> rows;
  for (int32_t y = 0; y < f.Height(); ++y) {
    std::string row;
    for (int32_t x = 0; x < f.Width(); ++x) row += f.At(x, y) == kBack ? '.' : f.At(x, y) == kInk ? '#' : '?';
    rows.push_back(row);
  }
  return rows;
}

TEST(PaintLines, SolidLinesLeaveOutTheirLastPixelInEveryDirection) {
  TPixelFrame f(6, 6);
  FillFrame(f, kBack);
  DrawLine(f, 0, 0, 4, 0, kInk);  // right: x 0..3
  DrawLine(f, 5, 5, 5, 1, kInk);  // up: y 5..2
  DrawLine(f, 4, 2, 1, 2, kInk);  // left: x 4..2
  DrawLine(f, 0, 5, 0, 5, kInk);  // zero length: nothing
  DrawLine(f, 0, 1, 2, 3, kInk);  // diagonal: (0,1) (1,2), not (2,3)
  EXPECT_EQ(Picture(f),
            (std::vector<std::string>{"####..", "#.....", ".#####", ".....#", ".....#", ".....#"}));
}

TEST(PaintLines, LinesAreClippedToTheFrameAndKeepTheirVisiblePart) {
  TPixelFrame f(4, 3);
  FillFrame(f, kBack);
  DrawLine(f, -5, 1, 10, 1, kInk);
  DrawLine(f, 2, -100, 2, 100, kInk);
  DrawLine(f, -3, -3, 30, 30, kInk);  // the diagonal through (0,0) .. (2,2)
  EXPECT_EQ(Picture(f), (std::vector<std::string>{"#.#.", "####", "..#."}));
}

TEST(PaintLines, DottedLinesRunThreeOnThreeOffAndLeaveTheGapsAlone) {
  // Mend: the gaps show what was drawn before, not a background colour.
  TPixelFrame f(16, 2);
  FillFrame(f, kBack);
  f.Row(0)[4] = RgbPixel(9, 9, 9);
  DrawDottedLine(f, 0, 0, 15, 0, kInk);
  DrawDottedLine(f, 15, 1, 0, 1, kInk);  // counted from its own start, the right end
  EXPECT_EQ(Picture(f)[0], "###.?.###...###.");
  EXPECT_EQ(Picture(f)[1], ".###...###...###");
  EXPECT_EQ(f.At(4, 0), RgbPixel(9, 9, 9));
}

TEST(PaintLines, PolylinesDrawEveryJointOnceAndLeaveOutTheLastPoint) {
  TPixelFrame f(5, 5);
  FillFrame(f, kBack);
  const TPaintPoint pts[] = {{0, 4}, {1, 0}, {2, 4}, {3, 4}, {4, 2}};
  DrawPolyline(f, pts, 5, kInk);
  // Steep steps split between their two columns; every column is joined to the next; (4,2) is left out.
  EXPECT_EQ(Picture(f), (std::vector<std::string>{".#...", ".#...", "##...", "#.##.", "#.##."}));
  TPixelFrame g(3, 3);
  FillFrame(g, kBack);
  DrawPolyline(g, pts, 1, kInk);  // one point: nothing
  DrawPolyline(g, pts, 0, kInk);
  EXPECT_EQ(Picture(g), (std::vector<std::string>{"...", "...", "..."}));
}

TEST(PaintAreas, FillsBarsAndBlitsAreHalfOpenAndClipped) {
  TPixelFrame f(5, 4);
  FillFrame(f, kBack);
  FillRect(f, {3, -2, 9, 2}, kInk);
  FillRect(f, {2, 2, 2, 4}, kInk);  // empty
  DrawBar(f, 0, 1, 99, kInk);
  DrawBar(f, 7, 0, 4, kInk);  // outside
  EXPECT_EQ(Picture(f), (std::vector<std::string>{"...##", "#..##", "#....", "#...."}));

  TPixelFrame src(3, 2);
  FillFrame(src, kInk);
  src.Row(1)[0] = RgbPixel(5, 5, 5);
  TPixelFrame dst(4, 3);
  FillFrame(dst, kBack);
  BlitFrame(dst, src, -1, 2);  // only src (1..2, 0) lands at (0..1, 2)
  BlitFrame(dst, src, 3, -1);  // only src (0, 1) lands at (3, 0)
  EXPECT_EQ(Picture(dst), (std::vector<std::string>{"...?", "....", "##.."}));
}

TEST(PaintAreas, WaterfallScrollMovesEveryRowDownByOne) {
  TPixelFrame f(3, 4);
  for (int32_t y = 0; y < 4; ++y)
    for (int32_t x = 0; x < 3; ++x)
      f.Row(y)[x] = RgbPixel(static_cast<uint32_t>(y), static_cast<uint32_t>(x), 0);
  ScrollDownOneRow(f);
  for (int32_t x = 0; x < 3; ++x) {
    EXPECT_EQ(f.At(x, 0), RgbPixel(0, static_cast<uint32_t>(x), 0));  // row 0 keeps its old pixels
    for (int32_t y = 1; y < 4; ++y) EXPECT_EQ(f.At(x, y), RgbPixel(static_cast<uint32_t>(y - 1), x, 0));
  }
  TPixelFrame one(3, 1);
  FillFrame(one, kInk);
  ScrollDownOneRow(one);  // one row: nothing to move
  EXPECT_EQ(one.At(2, 0), kInk);
}

TEST(PaintAreas, AttachedFramesDrawIntoTheCallersPixels) {
  std::vector<TPixel> pixels(6, 0);
  TPixelFrame f;
  f.Attach(pixels.data(), 3, 2);
  FillRect(f, {1, 1, 3, 2}, kInk);
  EXPECT_EQ(pixels, (std::vector<TPixel>{0, 0, 0, 0, kInk, kInk}));
  f.Attach(nullptr, 3, 2);
  EXPECT_TRUE(f.Empty());
  FillFrame(f, kInk);  // nothing to draw into, and no crash
}

TEST(PaintText, RunsAreMeasuredByCharactersNotBytes) {
  TFixedTextMeasure m(7, 13);
  TTextRuns runs;
  AddTextRun(runs, m, 4, 5, kInk, "-12 dB");
  AddTextRun(runs, m, 0, 0, kInk, "\xC3\xA9t\xC3\xA9");  // three characters in five bytes
  ASSERT_EQ(runs.size(), 2u);
  EXPECT_EQ(runs[0].Width, 42);
  EXPECT_EQ(runs[0].Bounds().Right, 46);
  EXPECT_EQ(runs[0].Bounds().Bottom, 18);
  EXPECT_EQ(runs[1].Width, 21);
}

}  // namespace
