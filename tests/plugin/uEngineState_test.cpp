// Status.txt built from given replies, without a pipe (the whole text through the exports, against an
// engine stand-in, is checked in tests/host).
#include "uEngineState.h"

#include <gtest/gtest.h>

#include "pSystem.h"
#include "pText.h"

namespace {

int gSeparatorReads = 0;

plat::TLocaleSeparators CountedGermanSeparators() {
  ++gSeparatorReads;
  return {",", "."};
}

}  // namespace

TEST(StatusText, TheUsersSeparatorsAreReadOncePerText) {
  TStatusReplies replies;
  replies.ChannelsOk = true;
  for (int i = 0; i < 50; ++i) {
    TChannelRec c;
    c.Hz = 145000000 + i * 12500;
    c.Hits = 1;
    c.PeakSnrDb = 23.44;
    c.LastSnrDb = 20.06;
    c.LastSeen = plat::DateTimeOf({2026, 12, 9, 18, 0, 0, 0});
    replies.Channels.push_back(c);
  }
  gSeparatorReads = 0;
  plat::SetLocaleSeparatorsSource(CountedGermanSeparators);
  const std::string text = StatusTextFrom(TTalvConfig{}, "wfx_talvoran.ini", replies);
  plat::SetLocaleSeparatorsSource(nullptr);
  EXPECT_EQ(gSeparatorReads, 1);
  EXPECT_NE(text.find("  145.612500 MHz       1     23,4      20,1  2026-12-09 18.00.00  stopped\r\n"),
            std::string::npos)
      << text;
}
