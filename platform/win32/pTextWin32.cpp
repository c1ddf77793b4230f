// The system's ANSI code page and the user locale's separators on Windows.
#include <windows.h>

#include "pText.h"

namespace plat {

namespace {

std::string LocaleItem(LCTYPE item, const char* fallback) {
  wchar_t buf[16] = {};
  int n = GetLocaleInfoW(LOCALE_USER_DEFAULT, item, buf, 16);
  if (n <= 1) return fallback;
  std::u16string w(reinterpret_cast<const char16_t*>(buf), static_cast<size_t>(n - 1));
  return Utf16ToUtf8(w);
}

}  // namespace

uint32_t AnsiCodePage() {
  return GetACP();
}

std::string AnsiToUtf8(std::string_view ansi) {
  if (ansi.empty()) return {};
  int n = MultiByteToWideChar(CP_ACP, 0, ansi.data(), static_cast<int>(ansi.size()), nullptr, 0);
  std::u16string w(static_cast<size_t>(n), u'\0');
  MultiByteToWideChar(CP_ACP, 0, ansi.data(), static_cast<int>(ansi.size()),
                      reinterpret_cast<wchar_t*>(w.data()), n);
  return Utf16ToUtf8(w);
}

std::string Utf8ToAnsi(std::string_view utf8) {
  std::u16string w = Utf8ToUtf16(utf8);
  if (w.empty()) return {};
  const wchar_t* src = reinterpret_cast<const wchar_t*>(w.data());
  int n = WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, src, static_cast<int>(w.size()), nullptr, 0,
                              nullptr, nullptr);
  std::string out(static_cast<size_t>(n), '\0');
  WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, src, static_cast<int>(w.size()), out.data(), n, nullptr,
                      nullptr);
  return out;
}

std::string UserTimeSeparator() {
  return LocaleItem(LOCALE_STIME, ":");
}

}  // namespace plat
