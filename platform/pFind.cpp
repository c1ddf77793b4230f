#include "pFind.h"

#include <cmath>

// The parts of pFind.h that need no system call, shared by both backends.

namespace plat {

TLocalTime DateTimeParts(double dateTime) {
  double whole = std::floor(dateTime);
  int64_t dayMs = static_cast<int64_t>(std::llround((dateTime - whole) * 86400000.0));
  int64_t days = static_cast<int64_t>(whole);
  if (dayMs >= 86400000) {
    dayMs -= 86400000;
    ++days;
  }
  // Civil date of days since 1970-01-01 (days since 1899-12-30 less 25569).
  const int64_t z = days - 25569 + 719468;
  const int64_t era = (z >= 0 ? z : z - 146096) / 146097;
  const int64_t doe = z - era * 146097;
  const int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  const int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const int64_t mp = (5 * doy + 2) / 153;
  const int64_t d = doy - (153 * mp + 2) / 5 + 1;
  const int64_t m = mp < 10 ? mp + 3 : mp - 9;
  const int64_t y = yoe + era * 400 + (m <= 2 ? 1 : 0);
  TLocalTime t{};
  t.Year = static_cast<int>(y);
  t.Month = static_cast<int>(m);
  t.Day = static_cast<int>(d);
  t.Hour = static_cast<int>(dayMs / 3600000);
  t.Minute = static_cast<int>(dayMs / 60000 % 60);
  t.Second = static_cast<int>(dayMs / 1000 % 60);
  t.Millisecond = static_cast<int>(dayMs % 1000);
  return t;
}

namespace {
char Lower(char c) {
  return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}
}  // namespace

bool MatchesMask(const std::string& name, const std::string& mask) {
  // Greedy matching with one back-track point: the last "*" seen.
  size_t n = 0, m = 0, starM = std::string::npos, starN = 0;
  while (n < name.size()) {
    if (m < mask.size() && (mask[m] == '?' || Lower(mask[m]) == Lower(name[n]))) {
      ++n;
      ++m;
    } else if (m < mask.size() && mask[m] == '*') {
      starM = m++;
      starN = n;
    } else if (starM != std::string::npos) {
      m = starM + 1;
      n = ++starN;
    } else {
      return false;
    }
  }
  while (m < mask.size() && mask[m] == '*') ++m;
  return m == mask.size();
}

}  // namespace plat
