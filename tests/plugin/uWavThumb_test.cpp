// WAV thumbnails: the reader's chunk walk and sample conversion, and whole pictures (silence pixel
// by pixel, a tone at its column, the size and length limits, a take still being written, odd
// chunks), the own-recording filter and the colour map.
#include "uWavThumb.h"

#include <gtest/gtest.h>

#include <cmath>

#include "PaintTestSupport.h"
#include "TestSupport.h"
#include "uWavWriter.h"

using namespace painttest;
using testsupport::TTempDir;
using testsupport::WriteWholeFile;

namespace {

constexpr TPixel kBackground = RgbPixel(20, 26, 32);
constexpr TPixel kSeparator = RgbPixel(60, 66, 74);
constexpr TPixel kCurve = RgbPixel(90, 220, 140);
constexpr TPixel kArea = RgbPixel(30, 90, 66);

std::string Write(const TTempDir& dir, const std::string& name, const std::string& bytes) {
  const std::string path = dir.File(name);
  EXPECT_TRUE(WriteWholeFile(path, bytes));
  return path;
}

bool Draw(const std::string& path, int w, int h, TPixelFrame& f) {
  return DrawWavThumbnail(path, w, h, f);
}

// A pure red pixel is a level of 1 (or above the scale); the colour map gives red 255 with blue 0
// only from 0.66 up.
bool Hot(TPixel p) {
  return PixelRed(p) == 255 && PixelBlue(p) == 0;
}

TEST(WavReader, ChunkWalkFindsTheFormatAndSamplesPastOddAndUnknownChunks) {
  TTempDir dir;
  TWavSpec spec;
  spec.Before = {Chunk("LIST", "odd"), Chunk("junk", std::string(7, 'x'))};
  spec.After = {Chunk("id3 ", "tag")};
  TWavInfo info;
  ASSERT_TRUE(ReadWavHeader(Write(dir, "a.wav", WavBytes(spec, Pcm16({0.5, -0.5, 0.25}))), info));
  EXPECT_EQ(info.Channels, 1);
  EXPECT_EQ(info.Bits, 16);
  EXPECT_EQ(info.SampleRate, 48000);
  EXPECT_EQ(info.FrameCount, 3);
  EXPECT_FALSE(info.IQ);
  // RIFF header, two padded chunks (8+3+1, 8+7+1), fmt (8+16), data header.
  EXPECT_EQ(info.DataOffset, 12 + 12 + 16 + 24 + 8);
  std::vector<TComplexF> s(3);
  std::vector<uint8_t> scratch;
  ASSERT_TRUE(ReadWavFrames(info, 0, 3, s.data(), scratch));
  EXPECT_FLOAT_EQ(s[0].Re, 16384.0f / 32768.0f);
  EXPECT_FLOAT_EQ(s[1].Re, -16384.0f / 32768.0f);
  EXPECT_EQ(s[2].Im, 0.0f);
  EXPECT_FALSE(ReadWavFrames(info, 1, 3, s.data(), scratch));   // past the last frame
  EXPECT_FALSE(ReadWavFrames(info, -1, 1, s.data(), scratch));  // before the first
}

TEST(WavReader, StereoIsIqOnlyWithAnAuxiChunkAndEightBitIsOffsetBinary) {
  TTempDir dir;
  TWavSpec iq;
  iq.Channels = 2;
  iq.AuxiSize = 20;  // too short for a centre frequency: still I/Q, centre 0
  TWavInfo info;
  const std::string pair = Pcm16({0.5, -0.25});
  ASSERT_TRUE(ReadWavHeader(Write(dir, "iq.wav", WavBytes(iq, pair)), info));
  EXPECT_TRUE(info.IQ);
  EXPECT_EQ(info.CenterHz, 0);
  std::vector<TComplexF> s(1);
  std::vector<uint8_t> scratch;
  ASSERT_TRUE(ReadWavFrames(info, 0, 1, s.data(), scratch));
  EXPECT_FLOAT_EQ(s[0].Re, 16384.0f / 32768.0f);
  EXPECT_FLOAT_EQ(s[0].Im, -8192.0f / 32768.0f);

  iq.AuxiSize = 40;
  iq.AuxiCenterHz = 145000000;
  ASSERT_TRUE(ReadWavHeader(Write(dir, "iq2.wav", WavBytes(iq, pair)), info));
  EXPECT_EQ(info.CenterHz, 145000000);

  TWavSpec stereo;
  stereo.Channels = 2;
  ASSERT_TRUE(ReadWavHeader(Write(dir, "st.wav", WavBytes(stereo, pair)), info));
  EXPECT_FALSE(info.IQ);
  ASSERT_TRUE(ReadWavFrames(info, 0, 1, s.data(), scratch));
  EXPECT_FLOAT_EQ(s[0].Re, (16384.0f - 8192.0f) / 65536.0f);
  EXPECT_EQ(s[0].Im, 0.0f);

  TWavSpec eight;
  eight.Channels = 2;
  eight.Bits = 8;
  eight.AuxiSize = 0;
  ASSERT_TRUE(ReadWavHeader(Write(dir, "u8.wav", WavBytes(eight, std::string("\xC0\x40", 2))), info));
  ASSERT_TRUE(ReadWavFrames(info, 0, 1, s.data(), scratch));
  EXPECT_FLOAT_EQ(s[0].Re, 0.5f);
  EXPECT_FLOAT_EQ(s[0].Im, -0.5f);
  eight.AuxiSize = -1;
  ASSERT_TRUE(ReadWavHeader(Write(dir, "u8s.wav", WavBytes(eight, std::string("\xC0\x60", 2))), info));
  ASSERT_TRUE(ReadWavFrames(info, 0, 1, s.data(), scratch));
  EXPECT_FLOAT_EQ(s[0].Re, (0.5f - 0.25f) * 0.5f);
}

TEST(WavReader, RefusesWhatIsNoPlayablePcmWav) {
  TTempDir dir;
  TWavInfo info;
  const std::string samples = Pcm16({0.1, 0.2});
  EXPECT_FALSE(ReadWavHeader(dir.File("missing.wav"), info));
  EXPECT_FALSE(ReadWavHeader(Write(dir, "empty.wav", ""), info));
  std::string notRiff = WavBytes({}, samples);
  notRiff[0] = 'X';
  EXPECT_FALSE(ReadWavHeader(Write(dir, "x.wav", notRiff), info));
  TWavSpec spec;
  spec.FormatTag = 3;  // floating point
  EXPECT_FALSE(ReadWavHeader(Write(dir, "f.wav", WavBytes(spec, samples)), info));
  spec = {};
  spec.Bits = 24;
  EXPECT_FALSE(ReadWavHeader(Write(dir, "24.wav", WavBytes(spec, samples + std::string(2, '\0'))), info));
  spec = {};
  spec.Channels = 3;
  EXPECT_FALSE(ReadWavHeader(Write(dir, "3ch.wav", WavBytes(spec, samples)), info));
  spec = {};
  spec.Rate = 0;
  EXPECT_FALSE(ReadWavHeader(Write(dir, "r0.wav", WavBytes(spec, samples)), info));
  spec = {};
  EXPECT_FALSE(ReadWavHeader(Write(dir, "nodata.wav", WavBytes(spec, "").substr(0, 36)), info));
  EXPECT_FALSE(ReadWavHeader(Write(dir, "oneByte.wav", WavBytes(spec, "\x01")), info));  // no whole frame
  // A later "fmt " overrides the first one.
  spec.After = {
      Chunk("fmt ", std::string("\x03\x00\x01\x00\x80\xBB\x00\x00\x00\x77\x01\x00\x04\x00\x20\x00", 16))};
  EXPECT_FALSE(ReadWavHeader(Write(dir, "late.wav", WavBytes(spec, samples)), info));
}

TEST(WavReader, DataSizeZeroRunsToTheEndAndItsSamplesAreNeverChunkHeaders) {
  // Mend: a take still being written has "data" size 0; its first samples here spell a floating-point
  // "fmt " chunk, which the walk must not read.
  std::string trap =
      Chunk("fmt ", std::string("\x03\x00\x01\x00\x80\xBB\x00\x00\x00\x77\x01\x00\x04\x00\x20\x00", 16));
  trap += Pcm16(std::vector<double>(100, 0.25));
  TWavSpec spec;
  spec.DataSizeField = 0;
  TTempDir dir;
  TWavInfo info;
  ASSERT_TRUE(ReadWavHeader(Write(dir, "open.wav", WavBytes(spec, trap)), info));
  EXPECT_EQ(info.FrameCount, static_cast<int64_t>(trap.size() / 2));
  spec.DataSizeField = 1 << 30;  // a size past the end: also to the end of the file
  ASSERT_TRUE(ReadWavHeader(Write(dir, "long.wav", WavBytes(spec, trap)), info));
  EXPECT_EQ(info.FrameCount, static_cast<int64_t>(trap.size() / 2));
}

TEST(WavReader, TheChunkWalkIsBoundedSoARunOfZerosAfterTheDataCostsNothing) {
  // Mend: every 8 zero bytes after "data" read as an empty chunk, so a file padded with zeros (or a
  // sparse one of some GiB) was walked 8 bytes per read. The walk now ends within a few dozen
  // chunks: the floating-point "fmt " past 1 MiB of zeros is never reached.
  TWavSpec spec;
  spec.After = {
      std::string(1 << 20, '\0') +
      Chunk("fmt ", std::string("\x03\x00\x01\x00\x80\xBB\x00\x00\x00\x77\x01\x00\x04\x00\x20\x00", 16))};
  TTempDir dir;
  const std::string path = Write(dir, "padded.wav", WavBytes(spec, Pcm16(std::vector<double>(8192, 0.25))));
  TPixelFrame f;
  EXPECT_TRUE(Draw(path, 32, 32, f));
}

TEST(WavThumbnail, SilenceGivesTheMiddleColourEverywhereAndAHalfHighStrip) {
  TTempDir dir;
  const std::string path = Write(dir, "quiet.wav", WavBytes({}, Pcm16(std::vector<double>(48000, 0.0))));
  TPixelFrame f;
  ASSERT_TRUE(Draw(path, 40, 100, f));
  ASSERT_EQ(f.Width(), 40);
  ASSERT_EQ(f.Height(), 100);
  // Every level is the -200 dB floor: the scale is -201 .. -199 and every value sits at 0.5.
  const TPixel mid = LevelToColor(0.5) | 0xFF000000u;
  EXPECT_EQ(mid, RgbPixel(131, 206, 124));
  // Strip of 15 rows: the curve at 15 - rint(14 * 0.5) - 1 = 7, area below it, separator at row 15.
  for (int32_t y = 0; y < 100; ++y)
    for (int32_t x = 0; x < 40; ++x) {
      const TPixel want = y < 7 ? kBackground : y == 7 ? kCurve : y < 15 ? kArea : y == 15 ? kSeparator : mid;
      ASSERT_EQ(f.At(x, y), want) << "at " << x << "," << y << ": " << PixelText(f.At(x, y));
    }
}

TEST(WavThumbnail, PicturesHaveTheAskedSizeAndStripHeights) {
  TTempDir dir;
  const std::string path = Write(dir, "t.wav", WavBytes({}, Pcm16(Tone(8000, 1.0, 1000, 0.5, 0.01))));
  TPixelFrame f;
  ASSERT_TRUE(Draw(path, 16, 16, f));  // no strip, no separator: all spectrogram
  for (int32_t y = 0; y < 16; ++y) EXPECT_NE(f.At(0, y), kBackground) << y;
  ASSERT_TRUE(Draw(path, 20, 32, f));  // strip 5 rows, separator at 5
  for (int32_t x = 0; x < 20; ++x) EXPECT_EQ(f.At(x, 5), kSeparator);
  EXPECT_NE(f.At(3, 6), kSeparator);
  ASSERT_TRUE(Draw(path, 30, 100, f));
  for (int32_t x = 0; x < 30; ++x) EXPECT_EQ(f.At(x, 15), kSeparator);
  for (int32_t y = 0; y < 100; ++y)
    for (int32_t x = 0; x < 30; ++x) ASSERT_EQ(f.At(x, y) >> 24, 0xFFu) << "alpha at " << x << "," << y;

  EXPECT_FALSE(Draw(path, 15, 100, f));
  EXPECT_FALSE(Draw(path, 100, 15, f));
  EXPECT_FALSE(Draw(path, MaxThumbSide + 1, 64, f));
  EXPECT_EQ(MakeWavThumbnail(path, 15, 100), nullptr);

  plat::TBitmapHandle bmp = MakeWavThumbnail(path, 30, 100);
  ASSERT_NE(bmp, nullptr);
  int32_t w = 0, h = 0;
  std::vector<uint32_t> pixels;
  ASSERT_TRUE(plat::ReadBitmap(bmp, w, h, pixels));
  plat::FreeBitmap(bmp);
  EXPECT_EQ(w, 30);
  EXPECT_EQ(h, 100);
  EXPECT_EQ(pixels, std::vector<uint32_t>(f.Data(), f.Data() + 3000));
}

TEST(WavThumbnail, ShortFilesShrinkTheFftAndTooShortOnesGiveNothing) {
  TTempDir dir;
  TPixelFrame f;
  // 3000 frames: N halves to 512 (3000 < 4 x 1024) and draws; 100 frames stop at N = 64 and 100 < 128.
  EXPECT_TRUE(
      Draw(Write(dir, "a.wav", WavBytes({}, Pcm16(Tone(8000, 3000 / 8000.0, 500, 0.5, 0.01)))), 32, 32, f));
  EXPECT_FALSE(
      Draw(Write(dir, "b.wav", WavBytes({}, Pcm16(Tone(8000, 100 / 8000.0, 500, 0.5, 0.01)))), 32, 32, f));
  EXPECT_TRUE(
      Draw(Write(dir, "c.wav", WavBytes({}, Pcm16(Tone(8000, 128 / 8000.0, 500, 0.5, 0.01)))), 32, 32, f));
}

TEST(WavThumbnail, AToneLightsItsOwnColumnInEveryRow) {
  TTempDir dir;
  // 48 kHz, shown 0 .. 24 kHz over 1024 bins; 6 kHz is bin 256 of 2048, column 256 x 128 / 1024 = 32.
  const std::string path = Write(dir, "tone.wav", WavBytes({}, Pcm16(Tone(48000, 2.0, 6000, 0.5, 0.001))));
  TPixelFrame f;
  ASSERT_TRUE(Draw(path, 128, 100, f));
  for (int32_t y = 16; y < 100; ++y) {
    EXPECT_TRUE(Hot(f.At(32, y))) << y << ": " << PixelText(f.At(32, y));
    for (int32_t x = 0; x < 128; ++x) {
      if (std::abs(x - 32) > 1) {
        ASSERT_FALSE(Hot(f.At(x, y))) << x << "," << y;
      }
    }
  }
  // The strip's curve peaks at the tone: row 0 only there.
  EXPECT_EQ(f.At(32, 0), kCurve);
  EXPECT_EQ(f.At(100, 0), kBackground);
}

TEST(WavThumbnail, AChannelWidthInTheNameNarrowsTheBand) {
  TTempDir dir;
  // A 12.5 kHz channel shows 0 .. 6000 Hz in 256 bins: 3 kHz is bin 128, column 128 x 64 / 256 = 32.
  // Without the width the band is 0 .. 24 kHz in 1024 bins: column 128 x 64 / 1024 = 8.
  const std::string samples = WavBytes({}, Pcm16(Tone(48000, 1.0, 3000, 0.5, 0.001)));
  TPixelFrame narrow, wide;
  ASSERT_TRUE(Draw(Write(dir, "ch_12.5kHz.wav", samples), 64, 64, narrow));
  ASSERT_TRUE(Draw(Write(dir, "ch_12.5kHzX.wav", samples), 64, 64, wide));  // still "_12.5kHz" last
  EXPECT_EQ(FrameHash(narrow), FrameHash(wide));
  ASSERT_TRUE(Draw(Write(dir, "ch12.5kHz.wav", samples), 64, 64, wide));  // no "_" before the digits
  EXPECT_TRUE(Hot(narrow.At(32, 40)));
  EXPECT_TRUE(Hot(wide.At(8, 40)));
  EXPECT_FALSE(Hot(wide.At(32, 40)));

  TWavInfo info;
  info.SampleRate = 48000;
  EXPECT_EQ(AudioBandFromName(info, "x_200kHz.wav"), 18000);
  EXPECT_EQ(AudioBandFromName(info, "x_3kHz.wav"), 4800);
  EXPECT_EQ(AudioBandFromName(info, "x_2.9kHz.wav"), 3600);
  EXPECT_EQ(AudioBandFromName(info, "x_kHz.wav"), 24000);
  EXPECT_EQ(AudioBandFromName(info, "x_1.2.3kHz.wav"), 24000);  // no number: width 0
  info.SampleRate = 8000;
  EXPECT_EQ(AudioBandFromName(info, "x_200kHz.wav"), 4000);
}

TEST(WavThumbnail, IqFilesShowTheWholeBandAroundTheCentre) {
  TTempDir dir;
  // 2 channels with "auxi": N = 512 over -rate/2 .. +rate/2; a tone at +rate/4 sits at 3/4 of the width.
  const int rate = 48000;
  std::vector<double> iq;
  for (int i = 0; i < rate; ++i) {
    const double ph = 2.0 * 3.14159265358979 * 12000.0 * i / rate;
    iq.push_back(0.5 * std::cos(ph));
    iq.push_back(0.5 * std::sin(ph));
  }
  TWavSpec spec;
  spec.Channels = 2;
  spec.AuxiSize = 40;
  TPixelFrame f;
  ASSERT_TRUE(Draw(Write(dir, "iq.wav", WavBytes(spec, Pcm16(iq))), 64, 64, f));
  EXPECT_TRUE(Hot(f.At(48, 40))) << PixelText(f.At(48, 40));
  EXPECT_FALSE(Hot(f.At(16, 40)));  // its mirror stays dark: I/Q is complex
}

TEST(WavThumbnail, OnlyTheFirstThirtySecondsAreShown) {
  TTempDir dir;
  const int rate = 4000;
  // The last rows read up to 4 FFTs of 1024 frames past the 30 s mark: both files hold 32 s alike.
  std::vector<double> first = Tone(rate, 32.0, 700, 0.3, 0.05);
  std::vector<double> longer = first;
  const std::vector<double> tail = Tone(rate, 8.0, 1500, 0.9, 0.0);
  longer.insert(longer.end(), tail.begin(), tail.end());
  TWavSpec spec;
  spec.Rate = rate;
  TPixelFrame a, b;
  ASSERT_TRUE(Draw(Write(dir, "a.wav", WavBytes(spec, Pcm16(first))), 48, 48, a));
  ASSERT_TRUE(Draw(Write(dir, "b.wav", WavBytes(spec, Pcm16(longer))), 48, 48, b));
  EXPECT_EQ(FrameHash(a), FrameHash(b));
  // At a higher rate the same samples last under 30 s, and the loud end shows.
  spec.Rate = 8000;
  ASSERT_TRUE(Draw(Write(dir, "c.wav", WavBytes(spec, Pcm16(first))), 48, 48, a));
  ASSERT_TRUE(Draw(Write(dir, "d.wav", WavBytes(spec, Pcm16(longer))), 48, 48, b));
  EXPECT_NE(FrameHash(a), FrameHash(b));
}

TEST(WavThumbnail, ATakeStillBeingWrittenLooksLikeTheFinishedOne) {
  TTempDir dir;
  const std::string path = dir.File("take_20240131_235959.wav");
  const std::vector<double> tone = Tone(8000, 2.0, 900, 0.4, 0.02);
  std::vector<float> samples(tone.begin(), tone.end());
  TPixelFrame open, done;
  {
    TWavWriter w(path, wkAudio, 8000, 0);
    ASSERT_TRUE(w.IsOpen());
    w.WriteMono(samples.data(), static_cast<int32_t>(samples.size()));
    ASSERT_TRUE(Draw(path, 40, 40, open));  // sizes still 0 in the header
  }
  ASSERT_TRUE(Draw(path, 40, 40, done));
  EXPECT_EQ(FrameHash(open), FrameHash(done));

  const std::string iqPath = dir.File("hop_20240131_235959_iq.wav");
  std::vector<TComplexF> iq(16000);
  for (size_t i = 0; i < iq.size(); ++i)
    iq[i] = {samples[i % samples.size()], samples[(i + 7) % samples.size()]};
  {
    TWavWriter w(iqPath, wkIq, 8000, 145000000);
    w.WriteIQ(iq.data(), static_cast<int32_t>(iq.size()));
    ASSERT_TRUE(Draw(iqPath, 40, 40, open));
  }
  ASSERT_TRUE(Draw(iqPath, 40, 40, done));
  EXPECT_EQ(FrameHash(open), FrameHash(done));
  TWavInfo info;
  ASSERT_TRUE(ReadWavHeader(iqPath, info));
  EXPECT_TRUE(info.IQ);
  EXPECT_EQ(info.CenterHz, 145000000);
}

TEST(WavThumbnail, OwnRecordingsAreKnownByNameOrByBeingIq) {
  TTempDir dir;
  EXPECT_TRUE(IsOwnRecording("C:\\rec\\ab_20240131_235959_cd.wav"));  // 25 characters, never read
  EXPECT_TRUE(IsOwnRecording("/x/145.0125MHz_20240131_235959.WAV"));
  EXPECT_TRUE(IsOwnRecording("a_20240131_235959_cd.wav"));   // 24 characters, the pattern
  EXPECT_FALSE(IsOwnRecording("a_2024013x_235959_cd.wav"));  // no pattern, no file to read
  EXPECT_FALSE(IsOwnRecording(dir.File("music_of_the_year_final.wav")));
  TWavSpec iq;
  iq.Channels = 2;
  iq.AuxiSize = 40;
  EXPECT_TRUE(IsOwnRecording(Write(dir, "someone_elses_long_name.wav", WavBytes(iq, Pcm16({0.1, 0.2})))));
  EXPECT_FALSE(IsOwnRecording(Write(dir, "someone_elses_long_nam2.wav", WavBytes({}, Pcm16({0.1, 0.2})))));
  // 23 characters: never an own recording, not even an I/Q file, which is then not read.
  EXPECT_FALSE(IsOwnRecording(Write(dir, "a_20240131_235959_c.wav", WavBytes(iq, Pcm16({0.1, 0.2})))));
  EXPECT_FALSE(IsOwnRecording(Write(dir, "ab_20240131_235959_cd.mp3", "not a wav at all......")));
}

TEST(LevelColours, ScaleRunsThroughItsFourAnchorsAndClamps) {
  EXPECT_EQ(LevelToColor(0.0), 0x00003Cu);
  EXPECT_EQ(LevelToColor(0.33), 0x0099FFu);
  EXPECT_EQ(LevelToColor(0.66), 0xFFFF00u);
  EXPECT_EQ(LevelToColor(1.0), 0xFF0000u);
  EXPECT_EQ(LevelToColor(0.5), (131u << 16) | (206u << 8) | 124u);
  EXPECT_EQ(LevelToColor(-3.0), LevelToColor(0.0));
  EXPECT_EQ(LevelToColor(7.0), LevelToColor(1.0));
  EXPECT_EQ(LevelToColor(std::nan("")), LevelToColor(0.0));
}

TEST(LevelColours, AutoLevelsCutTheQuietestAndLoudestValues) {
  std::vector<float> v(1000);
  for (size_t i = 0; i < v.size(); ++i) v[i] = static_cast<float>(i) * 0.1f;  // 0 .. 99.9 evenly
  double low = 0, high = 0;
  AutoLevels(v.data(), v.size(), low, high);
  EXPECT_NEAR(low, 15.0, 0.2);   // 150th value
  EXPECT_NEAR(high, 99.8, 0.2);  // 999th value
  std::vector<float> flat(10, -50.0f);
  AutoLevels(flat.data(), flat.size(), low, high);
  EXPECT_EQ(low, -51.0);  // one value throughout: 2 dB around it, not widened
  EXPECT_EQ(high, -49.0);
  std::vector<float> narrow = {0, 1, 2, 3, 4};
  AutoLevels(narrow.data(), narrow.size(), low, high);
  EXPECT_EQ(high - low, 20.0);
}

}  // namespace
