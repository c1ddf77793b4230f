#include "uFreqText.h"

#include <gtest/gtest.h>

#include <cstdint>

namespace {

TEST(FormatMHz, SixDigitsOfHertzAfterThePoint) {
  EXPECT_EQ(FormatMHz(145012500), "145.012500 MHz");
  EXPECT_EQ(FormatMHz(0), "0.000000 MHz");
  EXPECT_EQ(FormatMHz(1), "0.000001 MHz");
  EXPECT_EQ(FormatMHz(999999), "0.999999 MHz");
  EXPECT_EQ(FormatMHz(1000000), "1.000000 MHz");
  EXPECT_EQ(FormatMHz(6000000000LL), "6000.000000 MHz");  // above the Int32 range of megahertz*1e6
}

TEST(FormatMHz, NegativeValuesGetOneMinusInFront) {
  EXPECT_EQ(FormatMHz(-2048000), "-2.048000 MHz");
  EXPECT_EQ(FormatMHz(-1), "-0.000001 MHz");
  EXPECT_EQ(FormatMHz(INT64_MIN), "-9223372036854.775808 MHz");
  EXPECT_EQ(FormatMHz(INT64_MAX), "9223372036854.775807 MHz");
}

}  // namespace
