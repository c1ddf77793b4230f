#include "pSystem.h"

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

double LocalDateTimeNow() {
  return DateTimeOf(LocalTimeNow());
}

}  // namespace plat
