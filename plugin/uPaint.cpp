#include "uPaint.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>

void TPixelFrame::Resize(int32_t width, int32_t height) {
  FWidth = std::max(width, 0);
  FHeight = std::max(height, 0);
  FOwn.assign(static_cast<size_t>(FWidth) * static_cast<size_t>(FHeight), 0);
  FPixels = FOwn.data();
}

void TPixelFrame::Attach(TPixel* pixels, int32_t width, int32_t height) {
  FOwn.clear();
  FOwn.shrink_to_fit();
  FPixels = pixels;
  FWidth = pixels ? std::max(width, 0) : 0;
  FHeight = pixels ? std::max(height, 0) : 0;
}

void FillRect(TPixelFrame& f, const TPaintRect& r, TPixel color) {
  const int32_t left = std::max(r.Left, 0), right = std::min(r.Right, f.Width());
  const int32_t top = std::max(r.Top, 0), bottom = std::min(r.Bottom, f.Height());
  if (left >= right || top >= bottom) return;
  for (int32_t y = top; y < bottom; ++y) std::fill(f.Row(y) + left, f.Row(y) + right, color);
}

void FillFrame(TPixelFrame& f, TPixel color) {
  FillRect(f, {0, 0, f.Width(), f.Height()}, color);
}

namespace {

inline void Plot(TPixelFrame& f, int32_t x, int32_t y, TPixel color) {
  if (x >= 0 && y >= 0 && x < f.Width() && y < f.Height()) f.Row(y)[x] = color;
}

// Bresenham's walk from (x0, y0) over max(|dx|, |dy|) pixels, so the end pixel is left out. A pixel
// is plotted when keep(k) holds for its index k along the line.
template <typename Keep>
void WalkLine(TPixelFrame& f, int32_t x0, int32_t y0, int32_t x1, int32_t y1, TPixel color, Keep keep) {
  const int64_t dx = std::llabs(static_cast<int64_t>(x1) - x0);
  const int64_t dy = std::llabs(static_cast<int64_t>(y1) - y0);
  const int32_t sx = x1 >= x0 ? 1 : -1, sy = y1 >= y0 ? 1 : -1;
  const int64_t steps = std::max(dx, dy);
  int64_t err = (dx > dy ? dx : -dy) / 2;
  int32_t x = x0, y = y0;
  for (int64_t k = 0; k < steps; ++k) {
    if (keep(k)) Plot(f, x, y, color);
    const int64_t e = err;
    if (e > -dx) {
      err -= dy;
      x += sx;
    }
    if (e < dy) {
      err += dx;
      y += sy;
    }
  }
}

}  // namespace

void DrawLine(TPixelFrame& f, int32_t x0, int32_t y0, int32_t x1, int32_t y1, TPixel color) {
  if (x0 == x1) {  // the common vertical and horizontal cases without the walk
    const int32_t step = y1 >= y0 ? 1 : -1;
    if (x0 < 0 || x0 >= f.Width()) return;
    for (int32_t y = y0; y != y1; y += step)
      if (y >= 0 && y < f.Height()) f.Row(y)[x0] = color;
    return;
  }
  if (y0 == y1) {
    if (y0 < 0 || y0 >= f.Height()) return;
    int32_t a = x0, b = x1;  // half-open span towards x1
    if (x1 < x0) {
      a = x1 + 1;
      b = x0 + 1;
    }
    a = std::max(a, 0);
    b = std::min(b, f.Width());
    if (a < b) std::fill(f.Row(y0) + a, f.Row(y0) + b, color);
    return;
  }
  WalkLine(f, x0, y0, x1, y1, color, [](int64_t) { return true; });
}

void DrawDottedLine(TPixelFrame& f, int32_t x0, int32_t y0, int32_t x1, int32_t y1, TPixel color) {
  WalkLine(f, x0, y0, x1, y1, color, [](int64_t k) { return k % 6 < 3; });
}

void DrawPolyline(TPixelFrame& f, const TPaintPoint* points, size_t count, TPixel color) {
  for (size_t i = 1; i < count; ++i)
    DrawLine(f, points[i - 1].X, points[i - 1].Y, points[i].X, points[i].Y, color);
}

void DrawBar(TPixelFrame& f, int32_t x, int32_t top, int32_t bottom, TPixel color) {
  if (x < 0 || x >= f.Width()) return;
  top = std::max(top, 0);
  bottom = std::min(bottom, f.Height());
  for (int32_t y = top; y < bottom; ++y) f.Row(y)[x] = color;
}

void BlitFrame(TPixelFrame& dst, const TPixelFrame& src, int32_t x, int32_t y) {
  const int32_t sx = std::max(0, -x), sy = std::max(0, -y);
  const int32_t w = std::min(src.Width(), dst.Width() - x) - sx;
  const int32_t h = std::min(src.Height(), dst.Height() - y) - sy;
  if (w <= 0 || h <= 0) return;
  for (int32_t row = 0; row < h; ++row)
    std::memcpy(dst.Row(y + sy + row) + x + sx, src.Row(sy + row) + sx,
                static_cast<size_t>(w) * sizeof(TPixel));
}

void ScrollDownOneRow(TPixelFrame& f) {
  if (f.Height() < 2 || f.Width() < 1) return;
  std::memmove(f.Row(1), f.Row(0),
               static_cast<size_t>(f.Height() - 1) * static_cast<size_t>(f.Width()) * sizeof(TPixel));
}

int32_t TFixedTextMeasure::TextWidth(const std::string& text) {
  int32_t chars = 0;
  for (unsigned char c : text)
    if ((c & 0xC0) != 0x80) ++chars;  // continuation bytes of UTF-8 do not count
  return chars * FChar;
}

void AddTextRun(TTextRuns& runs, ITextMeasure& m, int32_t x, int32_t y, TPixel color, std::string text) {
  TTextRun run;
  run.X = x;
  run.Y = y;
  run.Color = color;
  run.Width = m.TextWidth(text);
  run.Height = m.TextHeight();
  run.Text = std::move(text);
  runs.push_back(std::move(run));
}
