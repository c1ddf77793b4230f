#include "uLevelTap.h"

#include <gtest/gtest.h>

#include <atomic>
#include <vector>

#include "pThread.h"

namespace {

// Pushes one block whose every sample is v: peak |v| and RMS |v|.
void PushConst(int64_t key, float v, int n = 64) {
  std::vector<float> block(static_cast<size_t>(n), v);
  PushLevel(key, block.data(), n);
}

class LevelTap : public ::testing::Test {
 protected:
  void SetUp() override { ClearLevelLanes(); }
  void TearDown() override { ClearLevelLanes(); }
};

}  // namespace

TEST_F(LevelTap, PeakAndRmsOfABlock) {
  SetLevelLanes({100});
  PushConst(100, 0.0f);
  PushConst(100, -0.5f);
  const float mixed[4] = {0.6f, -0.8f, 0.0f, 0.0f};
  PushLevel(100, mixed, 4);
  PushLevel(100, nullptr, 10);  // no samples: pushes (0, 0)
  PushLevel(100, mixed, 0);     // nothing
  TLevelLaneInfoArray lanes;
  EXPECT_EQ(GetLevelLanes(0, 100, lanes), 4);
  ASSERT_EQ(lanes.size(), 1u);
  ASSERT_EQ(lanes[0].Samples.size(), 4u);
  EXPECT_EQ(lanes[0].Samples[0].Peak, 0.0f);
  EXPECT_EQ(lanes[0].Samples[0].Rms, 0.0f);
  EXPECT_EQ(lanes[0].Samples[1].Peak, 0.5f);
  EXPECT_FLOAT_EQ(lanes[0].Samples[1].Rms, 0.5f);
  EXPECT_FLOAT_EQ(lanes[0].Samples[2].Peak, 0.8f);
  EXPECT_FLOAT_EQ(lanes[0].Samples[2].Rms, 0.5f);  // sqrt((0.36 + 0.64) / 4)
  EXPECT_EQ(lanes[0].Samples[3].Peak, 0.0f);
}

TEST_F(LevelTap, ReaderGetsOnlyWhatIsNew) {
  SetLevelLanes({1, 2});
  for (int i = 0; i < 5; ++i) PushConst(1, 0.1f * (i + 1));
  PushConst(2, 0.9f);
  TLevelLaneInfoArray lanes;
  int64_t seq = GetLevelLanes(0, 0, lanes);
  EXPECT_EQ(seq, 5);
  ASSERT_EQ(lanes.size(), 2u);
  EXPECT_EQ(lanes[0].Key, 1);
  EXPECT_EQ(lanes[0].Samples.size(), 5u);
  EXPECT_EQ(lanes[1].Key, 2);
  EXPECT_EQ(lanes[1].Count, 1);

  // Nothing new: keys and counts, no samples.
  EXPECT_EQ(GetLevelLanes(seq, 0, lanes), 5);
  ASSERT_EQ(lanes.size(), 2u);
  EXPECT_TRUE(lanes[0].Samples.empty());
  EXPECT_TRUE(lanes[1].Samples.empty());
  EXPECT_EQ(lanes[0].Count, 5);

  PushConst(1, 0.75f);
  seq = GetLevelLanes(seq, 0, lanes);
  EXPECT_EQ(seq, 6);
  ASSERT_EQ(lanes[0].Samples.size(), 1u);
  EXPECT_EQ(lanes[0].Samples[0].Peak, 0.75f);
  EXPECT_TRUE(lanes[1].Samples.empty());
}

TEST_F(LevelTap, RingKeepsTheLast2048AndMaxPerLaneTheNewest) {
  SetLevelLanes({7});
  const int total = 3000;
  for (int i = 0; i < total; ++i) PushConst(7, static_cast<float>(i) / 4096.0f, 1);
  TLevelLaneInfoArray lanes;
  EXPECT_EQ(GetLevelLanes(0, 100000, lanes), total);
  ASSERT_EQ(lanes[0].Samples.size(), 2048u);
  EXPECT_EQ(lanes[0].Samples.front().Peak, (total - 2048) / 4096.0f);
  EXPECT_EQ(lanes[0].Samples.back().Peak, (total - 1) / 4096.0f);

  GetLevelLanes(0, 10, lanes);
  ASSERT_EQ(lanes[0].Samples.size(), 10u);
  EXPECT_EQ(lanes[0].Samples.front().Peak, (total - 10) / 4096.0f);

  GetLevelLanes(0, 0, lanes);  // below 1 means 256
  EXPECT_EQ(lanes[0].Samples.size(), 256u);

  GetLevelLanes(total - 3, 0, lanes);
  ASSERT_EQ(lanes[0].Samples.size(), 3u);
  EXPECT_EQ(lanes[0].Samples.front().Peak, (total - 3) / 4096.0f);
}

TEST_F(LevelTap, AfterBeyondACountGivesNothingUntilItPasses) {
  SetLevelLanes({5});
  for (int i = 0; i < 10; ++i) PushConst(5, 0.2f);
  TLevelLaneInfoArray lanes;
  int64_t seq = GetLevelLanes(0, 0, lanes);
  ClearLevelLanes();
  SetLevelLanes({5});
  PushConst(5, 0.3f);
  EXPECT_EQ(GetLevelLanes(seq, 0, lanes), 1);
  EXPECT_TRUE(lanes[0].Samples.empty());
  for (int i = 0; i < 10; ++i) PushConst(5, 0.4f);
  GetLevelLanes(seq, 0, lanes);
  EXPECT_EQ(lanes[0].Samples.size(), 1u);  // sample number 10 only
}

TEST_F(LevelTap, SetLanesKeepsHistoryAndCapsAtSixteen) {
  SetLevelLanes({10, 20, 30});
  PushConst(10, 0.1f);
  PushConst(20, 0.2f);
  PushConst(20, 0.2f);
  PushConst(30, 0.3f);
  SetLevelLanes({30, 10, 40});  // 20 dropped, 40 new, order changed
  TLevelLaneInfoArray lanes;
  EXPECT_EQ(GetLevelLanes(0, 0, lanes), 1);
  ASSERT_EQ(lanes.size(), 3u);
  EXPECT_EQ(lanes[0].Key, 30);
  EXPECT_FLOAT_EQ(lanes[0].Samples.at(0).Peak, 0.3f);
  EXPECT_EQ(lanes[1].Key, 10);
  EXPECT_FLOAT_EQ(lanes[1].Samples.at(0).Peak, 0.1f);
  EXPECT_EQ(lanes[2].Key, 40);
  EXPECT_EQ(lanes[2].Count, 0);

  SetLevelLanes({10, 20});
  GetLevelLanes(0, 0, lanes);
  EXPECT_EQ(lanes[1].Count, 0);  // a dropped key that comes back starts again

  std::vector<int64_t> many;
  for (int i = 0; i < 20; ++i) many.push_back(1000 + i);
  SetLevelLanes(many);
  PushConst(1016, 0.5f);  // the 17th key has no lane
  PushConst(1015, 0.5f);
  GetLevelLanes(0, 0, lanes);
  ASSERT_EQ(lanes.size(), 16u);
  EXPECT_EQ(lanes[15].Key, 1015);
  EXPECT_EQ(lanes[15].Count, 1);
}

TEST_F(LevelTap, UnknownKeyChangesNothingAndSingleLaneIsKeyZero) {
  TLevelLaneInfoArray lanes;
  PushConst(99, 0.5f);
  EXPECT_EQ(GetLevelLanes(0, 0, lanes), 0);
  EXPECT_TRUE(lanes.empty());

  const float block[3] = {0.25f, -0.25f, 0.25f};
  PushLevelSingle(block, 3);
  PushLevelSingle(block, 3);
  EXPECT_EQ(GetLevelLanes(0, 0, lanes), 2);
  ASSERT_EQ(lanes.size(), 1u);
  EXPECT_EQ(lanes[0].Key, 0);
  EXPECT_FLOAT_EQ(lanes[0].Samples[1].Rms, 0.25f);
}

// Producers on their own threads, a reader polling as the service does; run under TSan.
TEST_F(LevelTap, ConcurrentProducersAndReaderSeeConsistentLanes) {
  const std::vector<int64_t> keys = {145000000, 145025000, 145050000};
  SetLevelLanes(keys);
  constexpr int kPushes = 3000;
  std::atomic<int> done{0};
  std::vector<plat::TThread> producers(keys.size());
  for (size_t p = 0; p < keys.size(); ++p) {
    ASSERT_TRUE(producers[p].Start([&, p] {
      std::vector<float> block(480);
      for (int i = 0; i < kPushes; ++i) {
        // Every sample of push i on lane p carries the same value, so peak == rms.
        const float v = static_cast<float>((i % 1000) + 1) / 1024.0f;
        std::fill(block.begin(), block.end(), v);
        PushLevel(keys[p], block.data(), static_cast<int32_t>(block.size()));
      }
      ++done;
    }));
  }
  int64_t seq = 0;
  std::vector<int64_t> seen(keys.size(), 0);
  TLevelLaneInfoArray lanes;
  while (true) {
    const bool last = done.load() == static_cast<int>(keys.size());
    const int64_t next = GetLevelLanes(seq, 4096, lanes);
    EXPECT_GE(next, seq);
    ASSERT_EQ(lanes.size(), keys.size());
    for (size_t i = 0; i < lanes.size(); ++i) {
      EXPECT_EQ(lanes[i].Key, keys[i]);
      EXPECT_LE(lanes[i].Samples.size(), 2048u);
      for (const TLevelSample& s : lanes[i].Samples) EXPECT_EQ(s.Peak, s.Rms);
      EXPECT_GE(lanes[i].Count, seen[i]);
      seen[i] = lanes[i].Count;
    }
    seq = next;
    if (last) break;
  }
  for (auto& t : producers) t.Join();
  for (int64_t c : seen) EXPECT_EQ(c, kPushes);
}
