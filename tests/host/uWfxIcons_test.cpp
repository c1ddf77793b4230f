// The icon groups the plug-in carries (Windows builds): ids 1 and 10-21, each with 16, 24, 32 and 48 px
// images in 32-bit colour with an alpha channel, every group its own picture.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <map>
#include <set>
#include <string>

#include "TestHost.h"
#include "TestSupport.h"
#include "pText.h"

using namespace hosttest;

#ifdef _WIN32
namespace {

#pragma pack(push, 2)
struct TGroupEntry {
  BYTE Width, Height, Colors, Reserved;
  WORD Planes, BitCount;
  DWORD Bytes;
  WORD Id;
};
#pragma pack(pop)

// The image resource (a DIB with its mask) behind one group entry.
std::string IconImage(HMODULE module, WORD id) {
  HRSRC r = FindResourceW(module, MAKEINTRESOURCEW(id), MAKEINTRESOURCEW(3));  // RT_ICON
  if (r == nullptr) return {};
  const void* data = LockResource(LoadResource(module, r));
  return std::string(static_cast<const char*>(data), SizeofResource(module, r));
}

}  // namespace

TEST(PluginIcons, ThirteenDistinctGroupsOfFourSizesIn32BitColourWithAlpha) {
  testsupport::TTempDir dir;
  TTestHost host;
  std::string error;
  ASSERT_TRUE(host.Load(dir.Path(), error)) << error;
  HMODULE module = reinterpret_cast<HMODULE>(
      GetModuleHandleW(reinterpret_cast<const wchar_t*>(plat::Utf8ToUtf16(host.PluginPath()).c_str())));
  ASSERT_NE(module, nullptr);
  std::set<std::string> pictures;
  for (int id : {1, 10, 11, 12, 13, 14, 15, 16, 17, 18, 19, 20, 21}) {
    HRSRC r = FindResourceW(module, MAKEINTRESOURCEW(id), MAKEINTRESOURCEW(14));  // RT_GROUP_ICON
    ASSERT_NE(r, nullptr) << "icon group " << id;
    const auto* dir = static_cast<const BYTE*>(LockResource(LoadResource(module, r)));
    const WORD count = *reinterpret_cast<const WORD*>(dir + 4);
    ASSERT_EQ(count, 4) << id;
    std::set<int> sizes;
    for (WORD i = 0; i < count; ++i) {
      TGroupEntry e;
      std::memcpy(&e, dir + 6 + i * sizeof(TGroupEntry), sizeof e);
      EXPECT_EQ(e.BitCount, 32) << id;
      sizes.insert(e.Width);
      const std::string image = IconImage(module, e.Id);
      ASSERT_GT(image.size(), 40u + 4u * e.Width * e.Width) << id;
      // Alpha of the colour pixels: some fully clear, some opaque - a drawn picture, not a blank.
      int clear = 0, opaque = 0;
      for (size_t p = 0; p < size_t(e.Width) * e.Width; ++p) {
        const uint8_t a = uint8_t(image[40 + 4 * p + 3]);
        clear += a == 0;
        opaque += a == 255;
      }
      EXPECT_GT(clear, 0) << "icon " << id << " size " << int(e.Width);
      EXPECT_GT(opaque, int(e.Width)) << "icon " << id << " size " << int(e.Width);
      if (e.Width == 32) pictures.insert(image);
    }
    EXPECT_EQ(sizes, (std::set<int>{16, 24, 32, 48})) << id;
    // The system loads each size.
    for (int size : {16, 32}) {
      HANDLE icon = LoadImageW(module, MAKEINTRESOURCEW(id), IMAGE_ICON, size, size, LR_DEFAULTCOLOR);
      EXPECT_NE(icon, nullptr) << id;
      if (icon) DestroyIcon(static_cast<HICON>(icon));
    }
  }
  EXPECT_EQ(pictures.size(), 13u);
}
#else
TEST(PluginIcons, ThirteenDistinctGroupsOfFourSizesIn32BitColourWithAlpha) {
  GTEST_SKIP() << "the Linux build carries no resources";
}
#endif
