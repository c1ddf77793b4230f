#pragma once
// Bitmaps handed to the host (thumbnails): on Windows a 32-bit top-down DIB section (an HBITMAP),
// elsewhere a plain block holding the size and pixels. Whoever receives the handle owns it; the host
// frees a Windows bitmap itself, tests call FreeBitmap. Any thread.
#include <cstdint>
#include <vector>

namespace plat {

using TBitmapHandle = void*;

// A new bitmap of width x height pixels copied from pixels (rows top to bottom, blue in the low byte);
// null when it cannot be made.
TBitmapHandle MakeBitmap(const uint32_t* pixels, int32_t width, int32_t height);
// Reads a bitmap made by MakeBitmap back; false for null or a handle that is no such bitmap.
bool ReadBitmap(TBitmapHandle bitmap, int32_t& width, int32_t& height, std::vector<uint32_t>& pixels);
void FreeBitmap(TBitmapHandle bitmap);

}  // namespace plat
