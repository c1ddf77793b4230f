#include <windows.h>

#include <algorithm>
#include <cstring>

#include "pBitmap.h"
#include "wDib.h"

namespace plat {

TBitmapHandle MakeBitmap(const uint32_t* pixels, int32_t width, int32_t height) {
  if (!pixels || width <= 0 || height <= 0) return nullptr;
  BITMAPINFO bi = TopDownDibInfo(width, height);
  HDC screen = GetDC(nullptr);
  void* bits = nullptr;
  HBITMAP bmp = CreateDIBSection(screen, &bi, DIB_RGB_COLORS, &bits, nullptr, 0);
  if (screen) ReleaseDC(nullptr, screen);
  if (!bmp || !bits) {
    if (bmp) DeleteObject(bmp);
    return nullptr;
  }
  std::memcpy(bits, pixels, static_cast<size_t>(width) * static_cast<size_t>(height) * 4u);
  GdiFlush();
  return bmp;
}

// Bitmaps of MakeBitmap are top-down, so the bits are the rows in order (not every system reports
// the sign of the height back).
bool ReadBitmap(TBitmapHandle bitmap, int32_t& width, int32_t& height, std::vector<uint32_t>& pixels) {
  if (!bitmap) return false;
  DIBSECTION ds = {};
  if (GetObjectW(static_cast<HBITMAP>(bitmap), sizeof(ds), &ds) != sizeof(ds)) return false;
  if (!ds.dsBm.bmBits || ds.dsBm.bmBitsPixel != 32) return false;
  width = ds.dsBm.bmWidth;
  height = ds.dsBm.bmHeight;
  GdiFlush();
  const uint32_t* src = static_cast<const uint32_t*>(ds.dsBm.bmBits);
  pixels.assign(src, src + static_cast<size_t>(width) * static_cast<size_t>(height));
  return true;
}

void FreeBitmap(TBitmapHandle bitmap) {
  if (bitmap) DeleteObject(static_cast<HBITMAP>(bitmap));
}

}  // namespace plat
