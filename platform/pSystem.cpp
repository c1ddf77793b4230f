#include "pSystem.h"

#include <cmath>

// The parts of pSystem.h that need no system call, shared by both backends.

namespace plat {

double DateTimeOf(const TLocalTime& t) {
  // Days from 1970-01-01 of the civil date, then from 1899-12-30 (25569 days earlier).
  const int64_t y = t.Year - (t.Month <= 2 ? 1 : 0);
  const int64_t era = (y >= 0 ? y : y - 399) / 400;
  const int64_t yoe = y - era * 400;
  const int64_t mp = (t.Month + 9) % 12;
  const int64_t doy = (153 * mp + 2) / 5 + t.Day - 1;
  const int64_t doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  const int64_t days1970 = era * 146097 + doe - 719468;
  const double dayMs = ((t.Hour * 60.0 + t.Minute) * 60.0 + t.Second) * 1000.0 + t.Millisecond;
  return static_cast<double>(days1970 + 25569) + dayMs / 86400000.0;
}

TLocalTime LocalTimeFromDateTime(double dateTime) {
  // 0001-01-01 and 9999-12-31 23:59:59.999 as date-time values.
  constexpr double kFirst = -693593.0, kLast = 2958465.99999999;
  if (!(dateTime >= kFirst)) dateTime = kFirst;
  if (dateTime > kLast) dateTime = kLast;
  int64_t totalMs = static_cast<int64_t>(std::llround(dateTime * 86400000.0));
  int64_t days = totalMs / 86400000, ms = totalMs % 86400000;
  if (ms < 0) {
    ms += 86400000;
    --days;
  }
  // Civil date of a day count from 1970-01-01 (the inverse of the walk in DateTimeOf).
  const int64_t z = days - 25569 + 719468;
  const int64_t era = (z >= 0 ? z : z - 146096) / 146097;
  const int64_t doe = z - era * 146097;
  const int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  const int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const int64_t mp = (5 * doy + 2) / 153;
  TLocalTime t{};
  t.Day = static_cast<int>(doy - (153 * mp + 2) / 5 + 1);
  t.Month = static_cast<int>(mp < 10 ? mp + 3 : mp - 9);
  t.Year = static_cast<int>(yoe + era * 400 + (t.Month <= 2 ? 1 : 0));
  t.Hour = static_cast<int>(ms / 3600000);
  t.Minute = static_cast<int>(ms / 60000 % 60);
  t.Second = static_cast<int>(ms / 1000 % 60);
  t.Millisecond = static_cast<int>(ms % 1000);
  return t;
}

double LocalDateTimeNow() {
  return DateTimeOf(LocalTimeNow());
}

}  // namespace plat
