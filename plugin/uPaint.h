#pragma once
// The plug-in's software painter. Every non-text pixel of a thumbnail or a live view is computed
// here, into a 32-bit frame laid out as a top-down DIB section (blue in the low byte, then green,
// red and alpha), so the same scene gives the same pixels on every build and can be checked as an
// image without a window system. Text is not rasterised: a scene lists its texts as ordered runs
// (position, colour, text) that the presenter draws on top with the system's font, last.
//
// Lines follow the rules of the classic 1-pixel cosmetic pen: a line or polyline leaves out its last
// pixel, a zero-length line draws nothing; dotted lines run 3 pixels on, 3 off from their start and
// leave the gaps untouched (no background fill). Rectangles are half-open (right and bottom
// exclusive). Everything is clipped to the frame. Nothing here allocates except TPixelFrame::Resize,
// locks or calls the system; one thread per frame.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

// One pixel: blue in bits 0-7, green 8-15, red 16-23, alpha 24-31.
using TPixel = uint32_t;

// An opaque pixel of red, green and blue 0..255.
constexpr TPixel RgbPixel(uint32_t r, uint32_t g, uint32_t b) {
  return 0xFF000000u | (r << 16) | (g << 8) | b;
}
constexpr uint32_t PixelRed(TPixel p) {
  return (p >> 16) & 0xFF;
}
constexpr uint32_t PixelGreen(TPixel p) {
  return (p >> 8) & 0xFF;
}
constexpr uint32_t PixelBlue(TPixel p) {
  return p & 0xFF;
}

struct TPaintRect {
  int32_t Left = 0, Top = 0, Right = 0, Bottom = 0;  // right and bottom exclusive
  int32_t Width() const { return Right - Left; }
  int32_t Height() const { return Bottom - Top; }
};

struct TPaintPoint {
  int32_t X = 0, Y = 0;
};

// A picture of Width x Height pixels, rows top to bottom without padding. The pixels either belong
// to the frame (Resize) or to the caller (Attach: a DIB section's bits, for instance).
class TPixelFrame {
 public:
  TPixelFrame() = default;
  TPixelFrame(int32_t width, int32_t height) { Resize(width, height); }
  TPixelFrame(const TPixelFrame&) = delete;
  TPixelFrame& operator=(const TPixelFrame&) = delete;

  // Own storage of width x height pixels, all 0 (sizes below 0 count as 0).
  void Resize(int32_t width, int32_t height);
  // The caller's storage of width x height pixels; it must outlive the frame's use of it.
  void Attach(TPixel* pixels, int32_t width, int32_t height);

  int32_t Width() const { return FWidth; }
  int32_t Height() const { return FHeight; }
  bool Empty() const { return FWidth <= 0 || FHeight <= 0; }
  TPixel* Row(int32_t y) { return FPixels + static_cast<size_t>(y) * static_cast<size_t>(FWidth); }
  const TPixel* Row(int32_t y) const {
    return FPixels + static_cast<size_t>(y) * static_cast<size_t>(FWidth);
  }
  TPixel At(int32_t x, int32_t y) const { return Row(y)[x]; }
  const TPixel* Data() const { return FPixels; }
  TPixel* Data() { return FPixels; }

 private:
  std::vector<TPixel> FOwn;
  TPixel* FPixels = nullptr;
  int32_t FWidth = 0;
  int32_t FHeight = 0;
};

// Fills the rectangle (clipped to the frame).
void FillRect(TPixelFrame& f, const TPaintRect& r, TPixel color);
// The whole frame.
void FillFrame(TPixelFrame& f, TPixel color);
// A solid line from (x0, y0) towards (x1, y1), the end pixel left out.
void DrawLine(TPixelFrame& f, int32_t x0, int32_t y0, int32_t x1, int32_t y1, TPixel color);
// The same, 3 pixels on and 3 off counted from the start; the gaps keep what was there.
void DrawDottedLine(TPixelFrame& f, int32_t x0, int32_t y0, int32_t x1, int32_t y1, TPixel color);
// Joined lines through the points; every joint drawn once, the last point left out.
void DrawPolyline(TPixelFrame& f, const TPaintPoint* points, size_t count, TPixel color);
// A bar one pixel wide: column x, rows top .. bottom - 1.
void DrawBar(TPixelFrame& f, int32_t x, int32_t top, int32_t bottom, TPixel color);
// Copies src with its top-left corner at (x, y), clipped to dst.
void BlitFrame(TPixelFrame& dst, const TPixelFrame& src, int32_t x, int32_t y);
// Moves rows 0 .. h - 2 one row down (to 1 .. h - 1); row 0 keeps its old pixels.
void ScrollDownOneRow(TPixelFrame& f);

// One text of a scene: drawn left-aligned with its top-left corner at (X, Y), transparent, in Color
// (alpha ignored). Width and Height are what the scene's text measure gave for it.
struct TTextRun {
  int32_t X = 0, Y = 0;
  TPixel Color = 0;
  std::string Text;  // UTF-8
  int32_t Width = 0, Height = 0;
  TPaintRect Bounds() const { return {X, Y, X + Width, Y + Height}; }
};
using TTextRuns = std::vector<TTextRun>;

// How big a text comes out in the presenter's font. Scenes place texts that align right or flip
// sides by it; the window measures with its real font, tests and benchmarks with TFixedTextMeasure.
class ITextMeasure {
 public:
  virtual ~ITextMeasure() = default;
  virtual int32_t TextWidth(const std::string& text) = 0;
  virtual int32_t TextHeight() = 0;
};

// Every character CharWidth pixels wide (a UTF-8 sequence counts once), lines LineHeight high.
class TFixedTextMeasure : public ITextMeasure {
 public:
  TFixedTextMeasure(int32_t charWidth, int32_t lineHeight) : FChar(charWidth), FLine(lineHeight) {}
  int32_t TextWidth(const std::string& text) override;
  int32_t TextHeight() override { return FLine; }

 private:
  int32_t FChar, FLine;
};

// Appends a run at (x, y), measured by m.
void AddTextRun(TTextRuns& runs, ITextMeasure& m, int32_t x, int32_t y, TPixel color, std::string text);
