// The scan session on the simulated receiver: preparation failures, sweeps merged into the store,
// when a dwell pass runs (recording with hits, live-through on a hop's edge, every channel), the level
// lanes of play-all, stopping in a dwell, and a failing sweep.
#include "uScanSession.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "LogCapture.h"
#include "ServiceTestSupport.h"
#include "pSystem.h"
#include "uLevelTap.h"
#include "uTalvProto.h"

using namespace svctest;

namespace {

class ScanSession : public ::testing::Test {
 protected:
  TTalvConfig Config(const std::vector<std::string>& more = {}) {
    return ConfigFromBody(With(ThreeToneBody(Dir.Path()), more));
  }
  TSimScene Scene;
  testsupport::TTempDir Dir;
  TChannelStore Store{&plat::LocalDateTimeNow};
};

class TClosedSim : public TSimDevice {
 public:
  bool Open(int32_t) override {
    LastError = "no such receiver here";
    return false;
  }
};

TEST_F(ScanSession, PrepareFailsWithTheReceiversText) {
  TDeviceOverrideScope closed(std::make_shared<TClosedSim>(), "Closed");
  TScanSession s(Config(), &Store);
  EXPECT_FALSE(s.Prepare());
  EXPECT_EQ(s.LastError(), "no such receiver here");
}

TEST_F(ScanSession, PrepareTakesTheScannersSettingsAndHopCount) {
  TScanSession s(Config({"NFft=1000"}), &Store);
  ASSERT_TRUE(s.Prepare()) << s.LastError();
  EXPECT_EQ(s.HopCount(), 2);
  EXPECT_EQ(s.Settings().FftSize, 1024);  // as the analyzer corrected it
  EXPECT_EQ(s.DeviceName(), "Simulated SDR");
  EXPECT_EQ(s.RecordDir(), Dir.Path());
  EXPECT_GT(s.StartedAt(), 40000.0);
  EXPECT_EQ(s.Sweeps(), 0);
}

TEST_F(ScanSession, WithoutRecordingOrLiveThroughItOnlySweepsAndMerges) {
  TScanSession s(Config(), &Store);
  ASSERT_TRUE(s.Prepare());
  TLogCapture log;
  ASSERT_TRUE(s.Start());
  ASSERT_TRUE(WaitUntil([&] { return s.Sweeps() >= 3; }));
  s.Stop();
  s.WaitFor();
  EXPECT_EQ(s.DwellCount(), 0);
  EXPECT_EQ(s.LastError(), "");
  const TChannelRecArray recs = Store.Snapshot();
  ASSERT_EQ(recs.size(), 3u);
  for (const TChannelRec& r : recs) EXPECT_GE(r.Hits, 3);
  EXPECT_EQ(log.MessagesStarting("session: scan started, 2 hops, recording=0, if=0").size(), 1u);
  const std::vector<std::string> stopped = log.MessagesStarting("session: scan stopped after ");
  ASSERT_EQ(stopped.size(), 1u);
  EXPECT_EQ(stopped[0], "session: scan stopped after " + std::to_string(s.Sweeps()) + " sweeps");
}

TEST_F(ScanSession, RecordingDwellsAfterSweepsWithHitsOnly) {
  Scene.Sim->ClearTones();
  TScanSession quiet(Config({"RecordAudio=1"}), &Store);
  ASSERT_TRUE(quiet.Prepare());
  ASSERT_TRUE(quiet.Start());
  ASSERT_TRUE(WaitUntil([&] { return quiet.Sweeps() >= 3; }));
  quiet.Stop();
  quiet.WaitFor();
  EXPECT_EQ(quiet.DwellCount(), 0);

  for (int64_t f : kTones) Scene.Sim->AddCarrier(f, -25);
  TScanSession busy(Config({"RecordAudio=1"}), &Store);
  ASSERT_TRUE(busy.Prepare());
  ASSERT_TRUE(busy.Start());
  ASSERT_TRUE(WaitUntil([&] { return busy.DwellCount() >= 2; }));
  busy.Stop();
  busy.WaitFor();
  EXPECT_EQ(busy.LastError(), "");
}

TEST_F(ScanSession, ALiveThroughFrequencyOnAHopEdgeMakesThatHopDwelt) {
  Scene.Sim->ClearTones();
  TScanSession s(Config(), &Store);
  ASSERT_TRUE(s.Prepare());
  s.ApplyLiveThrough(144000000, modAM, false);  // hop 0's low edge; no signal anywhere
  EXPECT_EQ(s.LiveMod(), modAM);
  ASSERT_TRUE(s.Start());
  ASSERT_TRUE(WaitUntil([&] { return s.DwellCount() >= 2; }));
  s.Stop();
  s.WaitFor();
  EXPECT_EQ(s.LastError(), "");
}

TEST_F(ScanSession, EveryChannelLiveDwellsOnEveryHopAndSetsTheLanesFromTheHits) {
  ClearLevelLanes();
  TScanSession s(Config(), &Store);
  ASSERT_TRUE(s.Prepare());
  s.ApplyLiveThrough(0, modNFM, true);
  ASSERT_TRUE(s.Start());
  ASSERT_TRUE(WaitUntil([&] { return s.DwellCount() >= 4; }));
  TLevelLaneInfoArray lanes;
  GetLevelLanes(0, 16, lanes);
  std::vector<int64_t> keys;
  for (const TLevelLaneInfo& l : lanes) keys.push_back(l.Key);
  EXPECT_EQ(keys, (std::vector<int64_t>{kChannels[0], kChannels[1], kChannels[2]}));
  // Stopping inside a dwell ends it and the sweep loop, without an error.
  TLogCapture log;
  s.Stop();
  s.WaitFor();
  EXPECT_EQ(s.LastError(), "");
  EXPECT_EQ(log.MessagesStarting("session: scan stopped after ").size(), 1u);
  EXPECT_TRUE(log.MessagesStarting("session: dwell failed").empty());
}

TEST_F(ScanSession, AFailingSweepKeepsTheReceiversTextAndEndsTheThread) {
  TScanSession s(Config(), &Store);
  ASSERT_TRUE(s.Prepare());
  TLogCapture log;
  ASSERT_TRUE(s.Start());
  ASSERT_TRUE(WaitUntil([&] { return s.Sweeps() >= 1; }));
  Scene.Sim->FailReads = true;
  ASSERT_TRUE(WaitUntil([&] { return s.Finished(); }));
  s.WaitFor();
  EXPECT_NE(s.LastError().find("simulated read failure"), std::string::npos) << s.LastError();
  const std::vector<std::string> failed = log.MessagesStarting("session: sweep failed: ");
  ASSERT_EQ(failed.size(), 1u);
  EXPECT_EQ(failed[0], "session: sweep failed: " + s.LastError());
}

TEST_F(ScanSession, TheInputLevelClassIsPublishedWithAutomaticGain) {
  TScanSession s(Config({"GainDb=-1"}), &Store);
  ASSERT_TRUE(s.Prepare());
  EXPECT_EQ(s.LevelClass(), lsUnknown);
  ASSERT_TRUE(s.Start());
  ASSERT_TRUE(WaitUntil([&] { return s.Sweeps() >= 1; }));
  EXPECT_NE(s.LevelClass(), lsUnknown);
  s.Stop();
  s.WaitFor();
}

}  // namespace
