#include "uChannelStore.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cmath>
#include <memory>
#include <vector>

#include "pSystem.h"
#include "pThread.h"

namespace {

TChannelHit Hit(int64_t hz, double snr) {
  TChannelHit h;
  h.ChannelHz = hz;
  h.PeakHz = hz + 120;
  h.SnrDb = snr;
  h.PowerDb = snr - 90;
  h.NoiseDb = -90;
  h.HopCenterHz = 145000000;
  return h;
}

// A date-time source the test moves by hand.
struct TFakeTime {
  std::atomic<double> Now{45000.25};
  TDateTimeSource Source() {
    return [this] { return Now.load(); };
  }
};

}  // namespace

TEST(ChannelStoreMerge, NewChannelsInOrderOfFirstDetection) {
  TFakeTime t;
  TChannelStore store(t.Source());
  EXPECT_EQ(store.Count(), 0);
  EXPECT_TRUE(store.Snapshot().empty());
  store.Merge({Hit(146000000, 15), Hit(144500000, 22.5)});
  t.Now = 45000.5;
  store.Merge({Hit(145000000, 13)});
  TChannelRecArray items = store.Snapshot();
  ASSERT_EQ(items.size(), 3u);
  EXPECT_EQ(items[0].Hz, 146000000);
  EXPECT_EQ(items[1].Hz, 144500000);
  EXPECT_EQ(items[2].Hz, 145000000);
  EXPECT_EQ(items[1].FirstSeen, 45000.25);
  EXPECT_EQ(items[1].LastSeen, 45000.25);
  EXPECT_EQ(items[1].Hits, 1);
  EXPECT_EQ(items[1].PeakSnrDb, 22.5);
  EXPECT_EQ(items[1].LastSnrDb, 22.5);
  EXPECT_EQ(items[1].Reserved, 0);
  EXPECT_EQ(items[2].FirstSeen, 45000.5);
  EXPECT_EQ(store.IndexOf(145000000), 2);
  EXPECT_EQ(store.IndexOf(145000001), -1);
}

TEST(ChannelStoreMerge, SeenAgainUpdatesCountTimesAndSnr) {
  TFakeTime t;
  TChannelStore store(t.Source());
  store.Merge({Hit(145012500, 18)});
  t.Now = 45000.75;
  store.Merge({Hit(145012500, 20.25)});
  TChannelRec rec = store.Snapshot()[0];
  EXPECT_EQ(rec.Hits, 2);
  EXPECT_EQ(rec.FirstSeen, 45000.25);
  EXPECT_EQ(rec.LastSeen, 45000.75);
  EXPECT_EQ(rec.PeakSnrDb, 20.25);
  EXPECT_EQ(rec.LastSnrDb, 20.25);
  store.Merge({Hit(145012500, 18)});  // weaker: the peak stays
  rec = store.Snapshot()[0];
  EXPECT_EQ(rec.Hits, 3);
  EXPECT_EQ(rec.PeakSnrDb, 20.25);
  EXPECT_EQ(rec.LastSnrDb, 18);
}

TEST(ChannelStoreMerge, NanNeverReplacesThePeak) {
  TFakeTime t;
  TChannelStore store(t.Source());
  store.Merge({Hit(145000000, 12)});
  store.Merge({Hit(145000000, std::nan(""))});
  TChannelRec rec = store.Snapshot()[0];
  EXPECT_EQ(rec.PeakSnrDb, 12);
  EXPECT_TRUE(std::isnan(rec.LastSnrDb));
  store.Merge({Hit(146000000, std::nan(""))});
  store.Merge({Hit(146000000, 30)});
  EXPECT_TRUE(std::isnan(store.Snapshot()[1].PeakSnrDb));  // a NaN on either side leaves it
}

TEST(ChannelStoreMerge, AFrequencyTwiceInOneCallCountsTwice) {
  TFakeTime t;
  TChannelStore store(t.Source());
  store.Merge({Hit(145000000, 12), Hit(145000000, 14)});
  ASSERT_EQ(store.Count(), 1);
  TChannelRec rec = store.Snapshot()[0];
  EXPECT_EQ(rec.Hits, 2);
  EXPECT_EQ(rec.PeakSnrDb, 14);
  EXPECT_EQ(rec.LastSnrDb, 14);
}

TEST(ChannelStoreMerge, TheTimeIsReadBeforeTheLock) {
  // A source that itself asks the store would deadlock if it were called under the store's lock.
  std::unique_ptr<TChannelStore> store;
  store = std::make_unique<TChannelStore>([&store] { return 45000.0 + store->Count(); });
  store->Merge({Hit(1000000, 10)});
  store->Merge({Hit(2000000, 10)});
  EXPECT_EQ(store->Snapshot()[1].FirstSeen, 45001.0);
}

TEST(ChannelStoreActive, OnlyWhileScanningAndSeenByTheLatestMerge) {
  TFakeTime t;
  TChannelStore store(t.Source());
  store.Merge({Hit(145000000, 12), Hit(146000000, 12)});
  for (const TChannelRec& rec : store.Snapshot()) EXPECT_EQ(rec.Active, 0);  // not scanning
  store.SetScanning(true);
  EXPECT_TRUE(store.Scanning());
  TChannelRecArray items = store.Snapshot();
  EXPECT_EQ(items[0].Active, 1);
  EXPECT_EQ(items[1].Active, 1);
  store.Merge({Hit(146000000, 13)});
  items = store.Snapshot();
  EXPECT_EQ(items[0].Active, 0);
  EXPECT_EQ(items[1].Active, 1);
  store.Merge({});  // a sweep without hits: nothing is active any more
  for (const TChannelRec& rec : store.Snapshot()) EXPECT_EQ(rec.Active, 0);
  EXPECT_EQ(store.Count(), 2);
  store.Merge({Hit(145000000, 12)});
  store.SetScanning(false);  // the session stopped: every channel reads as stopped
  for (const TChannelRec& rec : store.Snapshot()) EXPECT_EQ(rec.Active, 0);
}

TEST(ChannelStoreClear, EmptiesAndStartsTheSweepsAgain) {
  TFakeTime t;
  TChannelStore store(t.Source());
  store.SetScanning(true);
  store.Merge({Hit(145000000, 12)});
  store.Merge({});
  store.Clear();
  EXPECT_EQ(store.Count(), 0);
  EXPECT_TRUE(store.Snapshot().empty());
  EXPECT_TRUE(store.Scanning());  // Clear leaves the flag alone
  store.Merge({Hit(146000000, 20)});
  TChannelRecArray items = store.Snapshot();
  ASSERT_EQ(items.size(), 1u);
  EXPECT_EQ(items[0].Hits, 1);
  EXPECT_EQ(items[0].Active, 1);
}

TEST(ChannelStoreLines, ChannelsReplyLinesInStoreOrder) {
  TFakeTime t;
  TChannelStore store(t.Source());
  TTextLines lines;
  store.AppendChannelLines(lines);
  EXPECT_TRUE(lines.empty());
  store.Merge({Hit(145012500, 18), Hit(144000000, 9.999)});
  t.Now = 45000.5;
  store.Merge({Hit(145012500, 20.25)});
  store.SetScanning(true);
  lines = {"OK"};
  store.AppendChannelLines(lines);
  EXPECT_EQ(lines, (TTextLines{"OK", "145012500\t45000.250000\t45000.500000\t2\t20.25\t20.25\t0\t1",
                               "144000000\t45000.250000\t45000.250000\t1\t10.00\t10.00\t0\t0"}));
}

TEST(ChannelStoreThreads, MergesAndReadersAtOnceLoseNothing) {
  TFakeTime t;
  TChannelStore store(t.Source());
  store.SetScanning(true);
  constexpr int kWriters = 4, kRounds = 500;
  std::atomic<bool> stop{false};
  std::atomic<int> snapshots{0};
  plat::TThread reader;
  ASSERT_TRUE(reader.Start([&] {
    while (!stop.load()) {
      TTextLines lines;
      store.AppendChannelLines(lines);
      for (const TChannelRec& rec : store.Snapshot()) ASSERT_GE(rec.Hits, 1);
      ++snapshots;
    }
  }));
  std::vector<std::unique_ptr<plat::TThread>> writers;
  for (int w = 0; w < kWriters; ++w) {
    writers.push_back(std::make_unique<plat::TThread>());
    ASSERT_TRUE(writers.back()->Start([&store, &snapshots, w] {
      while (snapshots.load() == 0) plat::SleepMs(1);  // overlap with the reader for sure
      for (int r = 0; r < kRounds; ++r)
        store.Merge({Hit(100000000, 10), Hit(200000000 + w * 12500, 10 + r % 7)});
    }));
  }
  for (auto& w : writers) w->Join();
  stop = true;
  reader.Join();
  EXPECT_GT(snapshots.load(), 0);
  TChannelRecArray items = store.Snapshot();
  ASSERT_EQ(items.size(), static_cast<size_t>(kWriters + 1));
  EXPECT_EQ(items[0].Hz, 100000000);
  EXPECT_EQ(items[0].Hits, kWriters * kRounds);
  for (int w = 1; w <= kWriters; ++w) {
    EXPECT_EQ(items[w].Hits, kRounds);
    EXPECT_EQ(items[w].PeakSnrDb, 16);
  }
}

TEST(ChannelStoreLimit, AFullListDropsTheOldestInactiveChannelsAndKeepsTheActiveOnes) {
  TFakeTime t;
  TChannelStore store(t.Source(), 32);  // drops two (32 / 16) at a time
  TChannelHitArray first;
  for (int i = 0; i < 32; ++i) first.push_back(Hit(140000000 + 12500 * i, 10));
  store.Merge(first);
  // Seen again later: the channels at index 0 and 1 are now the newest; 2 and 3 the oldest.
  t.Now = 45001.0;
  store.Merge({Hit(140000000, 11), Hit(140012500, 11)});
  t.Now = 45002.0;
  store.Merge({Hit(150000000, 20), Hit(140012500, 12)});
  EXPECT_EQ(store.Count(), 31);
  EXPECT_EQ(store.IndexOf(140025000), -1);
  EXPECT_EQ(store.IndexOf(140037500), -1);
  EXPECT_EQ(store.IndexOf(140000000), 0);  // the survivors keep their order
  EXPECT_EQ(store.IndexOf(140050000), 2);
  EXPECT_EQ(store.IndexOf(150000000), 30);
  EXPECT_EQ(store.Snapshot()[30].FirstSeen, 45002.0);

  // One merge with more new channels than the list holds: the ones seen in this very merge stay
  // (they are active), and what does not fit is left out instead of growing the list.
  TChannelHitArray flood;
  for (int i = 0; i < 100; ++i) flood.push_back(Hit(160000000 + 12500 * i, 10));
  store.Merge(flood);
  EXPECT_EQ(store.Count(), 32);
  EXPECT_GE(store.IndexOf(160000000), 0);
  EXPECT_EQ(store.IndexOf(160000000 + 12500 * 99), -1);
}
