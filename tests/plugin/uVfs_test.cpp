#include <gtest/gtest.h>

#include "uPluginConfig.h"

TEST(PluginConfig, ChannelFolderNameIsTheEnginesText) {
  EXPECT_EQ(FormatMHzExact(145012500), "145.012500 MHz");
  EXPECT_EQ(FormatMHzExact(-5), "-0.000005 MHz");
}
