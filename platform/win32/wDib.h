#pragma once
// The one description of a 32-bit top-down DIB in the Windows backend: the host's thumbnails, the live
// view's back buffer and its captures all use it (blue in the low byte, rows top to bottom).
#include <windows.h>

#include <cstdint>

namespace plat {

inline BITMAPINFO TopDownDibInfo(int32_t width, int32_t height) {
  BITMAPINFO bi = {};
  bi.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
  bi.bmiHeader.biWidth = width;
  bi.bmiHeader.biHeight = -height;
  bi.bmiHeader.biPlanes = 1;
  bi.bmiHeader.biBitCount = 32;
  bi.bmiHeader.biCompression = BI_RGB;
  return bi;
}

}  // namespace plat
