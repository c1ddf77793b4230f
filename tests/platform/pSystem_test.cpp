// Local date-time values: days since 1899-12-30 with the time of day as the fraction, as the channel
// store, STATUS and the spectrum frame carry them.
#include "pSystem.h"

#include <gtest/gtest.h>

namespace {

double At(int year, int month, int day, int hour = 0, int minute = 0, int second = 0, int ms = 0) {
  return plat::DateTimeOf(plat::TLocalTime{year, month, day, hour, minute, second, ms});
}

}  // namespace

TEST(DateTime, WholeDaysCountFromTheEndOf1899) {
  EXPECT_EQ(At(1899, 12, 30), 0.0);
  EXPECT_EQ(At(1899, 12, 31), 1.0);
  EXPECT_EQ(At(1900, 1, 1), 2.0);
  EXPECT_EQ(At(1900, 3, 1), 61.0);  // 1900 has no 29 February
  EXPECT_EQ(At(1970, 1, 1), 25569.0);
  EXPECT_EQ(At(2000, 1, 1), 36526.0);
  EXPECT_EQ(At(2024, 2, 29), 45351.0);
  EXPECT_EQ(At(2100, 3, 1), 73110.0);
}

TEST(DateTime, TimeOfDayIsTheFraction) {
  EXPECT_EQ(At(2000, 1, 1, 12), 36526.5);
  EXPECT_EQ(At(2000, 1, 1, 18), 36526.75);
  EXPECT_DOUBLE_EQ(At(1970, 1, 1, 23, 59, 59, 999), 25569.0 + 86399999.0 / 86400000.0);
  EXPECT_NEAR(At(1970, 1, 1, 0, 0, 0, 1) - 25569.0, 1.0 / 86400000.0, 1e-11);  // one millisecond
}

TEST(DateTime, NowIsTheLocalTimeNow) {
  const double before = plat::DateTimeOf(plat::LocalTimeNow());
  const double now = plat::LocalDateTimeNow();
  const double after = plat::DateTimeOf(plat::LocalTimeNow());
  // A clock change between the reads is the only way out of these bounds.
  EXPECT_LE(before, now);
  EXPECT_LE(now, after);
  EXPECT_GT(now, At(2020, 1, 1));
}
