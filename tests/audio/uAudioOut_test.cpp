#include "uAudioOut.h"

#include <gtest/gtest.h>

#include <vector>

#include "TestSupport.h"
#include "pSystem.h"
#include "pWaveOut.h"

namespace {

// Every case leaves the module-wide switches as it found them.
class WaveOut : public ::testing::Test {
 protected:
  void TearDown() override {
    SetNullAudio(false);
    plat::SetWaveOutHidden(false);
  }
};

}  // namespace

TEST_F(WaveOut, CreateAppliesTheLowerBounds) {
  TWaveOut out(0, 100, 1);
  EXPECT_EQ(out.Rate(), 48000);
  EXPECT_EQ(out.BlockSamples(), 256);
  EXPECT_EQ(out.BufferCount(), 2);
  EXPECT_FALSE(out.IsActive());
  TWaveOut other(22050, 459, 6);
  EXPECT_EQ(other.Rate(), 22050);
  EXPECT_EQ(other.BlockSamples(), 459);
  EXPECT_EQ(other.BufferCount(), 6);
}

TEST_F(WaveOut, NullOutputCountsFullBlocksAndKeepsPartialOnes) {
  SetNullAudio(true);
  TWaveOut out(48000, 256, 6);
  ASSERT_TRUE(out.Open());
  EXPECT_TRUE(out.IsActive());
  EXPECT_TRUE(out.NullMode());
  std::vector<float> audio(1000, 0.25f);
  out.Write(audio.data(), 200);  // fewer than a block: staged
  EXPECT_EQ(out.NullBlocks(), 0);
  EXPECT_EQ(out.StagingFill(), 200);
  out.Write(audio.data(), 100);  // 300: one block, 44 staged
  EXPECT_EQ(out.NullBlocks(), 1);
  EXPECT_EQ(out.StagingFill(), 44);
  out.Write(audio.data(), 1000);  // 1044: four more blocks, 20 staged
  EXPECT_EQ(out.NullBlocks(), 5);
  EXPECT_EQ(out.StagingFill(), 20);
  EXPECT_EQ(out.Dropped(), 0);

  out.Close();
  EXPECT_FALSE(out.IsActive());
  EXPECT_FALSE(out.NullMode());
  out.Write(audio.data(), 1000);  // closed: nothing
  EXPECT_EQ(out.StagingFill(), 20);
}

TEST_F(WaveOut, NullSwitchIsReadAtOpen) {
  TWaveOut out(48000, 256, 6);
  SetNullAudio(true);
  ASSERT_TRUE(out.Open());
  SetNullAudio(false);  // an open null output stays null
  EXPECT_TRUE(out.NullMode());
  out.Close();
  plat::SetWaveOutHidden(true);
  EXPECT_FALSE(out.Open());  // now the device is asked for, and there is none
  EXPECT_EQ(out.LastError(), "no audio output device");
}

TEST_F(WaveOut, NoDevicePathFailsWithItsText) {
  plat::SetWaveOutHidden(true);
  EXPECT_EQ(AudioDeviceCount(), 0);
  TWaveOut out(48000, 1000, 6);
  EXPECT_FALSE(out.Open());
  EXPECT_EQ(out.LastError(), "no audio output device");
  EXPECT_FALSE(out.IsActive());
  std::vector<float> audio(5000, 0.1f);
  out.Write(audio.data(), 5000);  // not active: nothing staged, nothing counted
  EXPECT_EQ(out.StagingFill(), 0);
  EXPECT_EQ(out.Dropped(), 0);
  EXPECT_FALSE(out.WriteBlock(nullptr, 0));
  out.Close();  // closing a never-opened output is harmless
}

#ifdef _WIN32
// The real wave output: under Wine (CI) the default ALSA device is a null sink, so the device opens
// and plays in real time without a sound card.
TEST_F(WaveOut, DevicePlaysDropsWhenFullAndContinues) {
  if (AudioDeviceCount() == 0) {
    // A Windows without a wave output driver: the real "no device" path.
    TWaveOut none(48000, 1000, 6);
    EXPECT_FALSE(none.Open());
    EXPECT_EQ(none.LastError(), "no audio output device");
    if (testsupport::InCI()) FAIL() << "no wave output device in CI";
    GTEST_SKIP() << "no wave output device";
  }
  // Two buffers of one second each: the third block, written at once, cannot find a free buffer.
  TWaveOut out(8000, 8000, 2);
  ASSERT_TRUE(out.Open()) << out.LastError();
  EXPECT_TRUE(out.IsActive());
  EXPECT_FALSE(out.NullMode());
  std::vector<int16_t> block(8000);
  for (size_t i = 0; i < block.size(); ++i) block[i] = static_cast<int16_t>((i % 16) * 1000 - 8000);
  EXPECT_TRUE(out.WriteBlock(block.data(), 8000)) << out.LastError();
  EXPECT_TRUE(out.WriteBlock(block.data(), 8000)) << out.LastError();
  EXPECT_FALSE(out.WriteBlock(block.data(), 8000));
  EXPECT_EQ(out.Dropped(), 1);
  // The device completes the first buffer after about a second; poll as the producer would.
  bool accepted = false;
  for (int i = 0; i < 200 && !accepted; ++i) {
    plat::SleepMs(50);
    accepted = out.WriteBlock(block.data(), 8000);
  }
  EXPECT_TRUE(accepted) << "no buffer ever completed: " << out.LastError();
  out.Close();
  EXPECT_FALSE(out.IsActive());
  // Reopening after a close works and the float path feeds it.
  ASSERT_TRUE(out.Open()) << out.LastError();
  const int64_t droppedBefore = out.Dropped();
  std::vector<float> audio(8000 * 2 + 10, 0.5f);
  out.Write(audio.data(), static_cast<int32_t>(audio.size()));
  EXPECT_EQ(out.StagingFill(), 10);
  EXPECT_EQ(out.Dropped(), droppedBefore);  // a fresh ring: both blocks found free buffers
  out.Close();
}

TEST_F(WaveOut, SixBuffersAtSessionSizesPlayContinuously) {
  if (AudioDeviceCount() == 0) {
    // A Windows without a wave output driver: the real "no device" path.
    TWaveOut none(48000, 1000, 6);
    EXPECT_FALSE(none.Open());
    EXPECT_EQ(none.LastError(), "no audio output device");
    if (testsupport::InCI()) FAIL() << "no wave output device in CI";
    GTEST_SKIP() << "no wave output device";
  }
  // As the sessions create it: rate div 48 samples per buffer, 6 buffers. Feed 1 s of a tone paced
  // at about real time and require that most blocks found a free buffer.
  TWaveOut out(48000, 1000, 6);
  ASSERT_TRUE(out.Open()) << out.LastError();
  std::vector<float> audio(1000);
  for (size_t i = 0; i < audio.size(); ++i) audio[i] = 0.5f * static_cast<float>((i % 48) < 24 ? 1 : -1);
  for (int b = 0; b < 48; ++b) {
    out.Write(audio.data(), 1000);
    plat::SleepMs(20);
  }
  EXPECT_LT(out.Dropped(), 48);
  EXPECT_TRUE(out.LastError().empty()) << out.LastError();
  out.Close();
}
#else
TEST_F(WaveOut, ThisSystemHasNoWaveOutput) {
  EXPECT_EQ(AudioDeviceCount(), 0);
  TWaveOut out(48000, 1000, 6);
  EXPECT_FALSE(out.Open());
  EXPECT_EQ(out.LastError(), "no audio output device");
}
#endif
