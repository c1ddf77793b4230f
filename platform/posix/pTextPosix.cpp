// The ANSI code page stand-in (Windows-1252) and the locale's separators on Linux.
#include "pText.h"

namespace plat {

namespace {

// Windows-1252 bytes 0x80..0x9F; 0 marks the five bytes the code page leaves undefined, which the
// system maps to the control characters of the same value.
constexpr char16_t kHigh[32] = {0x20AC, 0,      0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,
                                0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0,      0x017D, 0,
                                0,      0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,
                                0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0,      0x017E, 0x0178};

char16_t AnsiChar(unsigned char b) {
  if (b >= 0x80 && b < 0xA0 && kHigh[b - 0x80] != 0) return kHigh[b - 0x80];
  return b;
}

}  // namespace

uint32_t AnsiCodePage() {
  return 1252;
}

std::string AnsiToUtf8(std::string_view ansi) {
  std::u16string wide;
  wide.reserve(ansi.size());
  for (char c : ansi) wide += AnsiChar(static_cast<unsigned char>(c));
  return Utf16ToUtf8(wide);
}

std::string Utf8ToAnsi(std::string_view utf8) {
  std::u16string wide = Utf8ToUtf16(utf8);
  std::string out;
  out.reserve(wide.size());
  for (size_t i = 0; i < wide.size(); ++i) {
    char16_t ch = wide[i];
    char b = '?';
    if (ch < 0x80 || (ch >= 0xA0 && ch <= 0xFF)) {
      b = static_cast<char>(ch);
    } else {
      for (int k = 0; k < 32; ++k)
        if (kHigh[k] == ch || (kHigh[k] == 0 && ch == 0x80 + k)) b = static_cast<char>(0x80 + k);
    }
    out += b;
  }
  return out;
}

std::string UserTimeSeparator() {
  return ":";  // the C library has no item for it; every Linux locale's time format uses ":"
}

}  // namespace plat
