#include "uFreqText.h"

#include <charconv>

std::string FormatMHz(int64_t hz) {
  // The magnitude in unsigned arithmetic: -INT64_MIN does not fit an Int64.
  const uint64_t magnitude = hz < 0 ? uint64_t(0) - uint64_t(hz) : uint64_t(hz);
  const uint64_t whole = magnitude / 1000000u;
  uint64_t rest = magnitude % 1000000u;

  char buf[40];
  char* p = buf;
  if (hz < 0) *p++ = '-';
  p = std::to_chars(p, buf + sizeof(buf), whole).ptr;
  *p++ = '.';
  for (int i = 5; i >= 0; --i) {
    p[i] = char('0' + rest % 10u);
    rest /= 10u;
  }
  p += 6;
  std::string text(buf, p);
  text += " MHz";
  return text;
}
