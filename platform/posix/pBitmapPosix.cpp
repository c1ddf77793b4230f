#include <cstring>
#include <new>

#include "pBitmap.h"

namespace plat {

namespace {
constexpr uint32_t kMagic = 0x54424D50u;  // marks our blocks, so a stray pointer is refused
struct TPlainBitmap {
  uint32_t Magic = kMagic;
  int32_t Width = 0, Height = 0;
  std::vector<uint32_t> Pixels;
};
}  // namespace

TBitmapHandle MakeBitmap(const uint32_t* pixels, int32_t width, int32_t height) {
  if (!pixels || width <= 0 || height <= 0) return nullptr;
  auto* b = new (std::nothrow) TPlainBitmap;
  if (!b) return nullptr;
  b->Width = width;
  b->Height = height;
  b->Pixels.assign(pixels, pixels + static_cast<size_t>(width) * static_cast<size_t>(height));
  return b;
}

bool ReadBitmap(TBitmapHandle bitmap, int32_t& width, int32_t& height, std::vector<uint32_t>& pixels) {
  const auto* b = static_cast<const TPlainBitmap*>(bitmap);
  if (!b || b->Magic != kMagic) return false;
  width = b->Width;
  height = b->Height;
  pixels = b->Pixels;
  return true;
}

void FreeBitmap(TBitmapHandle bitmap) {
  auto* b = static_cast<TPlainBitmap*>(bitmap);
  if (!b || b->Magic != kMagic) return;
  b->Magic = 0;
  delete b;
}

}  // namespace plat
