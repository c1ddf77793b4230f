// The WAV writer: the header byte by byte, sizes after writing, sample conversion, the auxi chunk of
// I/Q files, files still being written, failures, and a third-party reader (sox) reading them back.
#include "uWavWriter.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "TestSupport.h"
#include "pFile.h"
#include "pProcess.h"
#include "pSystem.h"
#include "uTalvConfig.h"

namespace {

using testsupport::FindSoxi;
using testsupport::ReadWholeFile;
using testsupport::Soxi;
using testsupport::TTempDir;

uint32_t U16(const std::string& b, size_t at) {
  return static_cast<uint8_t>(b[at]) | static_cast<uint32_t>(static_cast<uint8_t>(b[at + 1])) << 8;
}
uint32_t U32(const std::string& b, size_t at) {
  return U16(b, at) | U16(b, at + 2) << 16;
}
int16_t S16(const std::string& b, size_t at) {
  return static_cast<int16_t>(U16(b, at));
}

// The fields every file shares, for channels 1 (audio) or 2 (I/Q).
void ExpectCommonHeader(const std::string& b, uint32_t channels, uint32_t rate) {
  ASSERT_GE(b.size(), 44u);
  EXPECT_EQ(b.substr(0, 4), "RIFF");
  EXPECT_EQ(U32(b, 4), b.size() - 8);
  EXPECT_EQ(b.substr(8, 4), "WAVE");
  EXPECT_EQ(b.substr(12, 4), "fmt ");
  EXPECT_EQ(U32(b, 16), 16u);
  EXPECT_EQ(U16(b, 20), 1u);
  EXPECT_EQ(U16(b, 22), channels);
  EXPECT_EQ(U32(b, 24), rate);
  EXPECT_EQ(U32(b, 28), channels * 2 * rate);
  EXPECT_EQ(U16(b, 32), channels * 2);
  EXPECT_EQ(U16(b, 34), 16u);
}

}  // namespace

// ---------------------------------------------------------------------------------------------
// Layout

TEST(WavLayout, EmptyMonoFileIs44Bytes) {
  TTempDir dir;
  const std::string f = dir.File("empty.wav");
  {
    TWavWriter w(f, wkAudio, 48000, 145000000);
    ASSERT_TRUE(w.IsOpen());
    EXPECT_EQ(w.Channels(), 1);
  }
  const std::string b = ReadWholeFile(f);
  ASSERT_EQ(b.size(), 44u);
  ExpectCommonHeader(b, 1, 48000);
  EXPECT_EQ(U32(b, 4), 36u);
  EXPECT_EQ(b.substr(36, 4), "data");
  EXPECT_EQ(U32(b, 40), 0u);
}

TEST(WavLayout, EmptyIqFileIs112BytesWithItsAuxiChunk) {
  TTempDir dir;
  const std::string f = dir.File("empty_iq.wav");
  { TWavWriter w(f, wkIq, 2048000, 145000000); }
  const std::string b = ReadWholeFile(f);
  ASSERT_EQ(b.size(), 112u);
  ExpectCommonHeader(b, 2, 2048000);
  EXPECT_EQ(U32(b, 4), 104u);
  EXPECT_EQ(b.substr(36, 4), "auxi");
  EXPECT_EQ(U32(b, 40), 60u);
  EXPECT_EQ(b.substr(104, 4), "data");
  EXPECT_EQ(U32(b, 108), 0u);
}

TEST(WavLayout, SizesFollowTheSamplesWritten) {
  TTempDir dir;
  std::vector<float> mono(1000, 0.25f);
  TComplexFArray iq(500, TComplexF{0.5f, -0.5f});
  {
    TWavWriter a(dir.File("a.wav"), wkAudio, 48000, 0);
    a.WriteMono(mono.data(), 600);
    a.WriteMono(mono.data(), 400);
    EXPECT_EQ(a.BytesWritten(), 2000);
    TWavWriter q(dir.File("q.wav"), wkIq, 250000, 0);
    q.WriteIQ(iq.data(), 500);
    EXPECT_EQ(q.BytesWritten(), 2000);
  }
  const std::string a = ReadWholeFile(dir.File("a.wav"));
  ASSERT_EQ(a.size(), 44u + 2000);
  EXPECT_EQ(U32(a, 40), 2000u);
  EXPECT_EQ(U32(a, 4), 2036u);
  const std::string q = ReadWholeFile(dir.File("q.wav"));
  ASSERT_EQ(q.size(), 112u + 2000);
  EXPECT_EQ(U32(q, 108), 2000u);
  EXPECT_EQ(U32(q, 4), 2104u);
  // I first, then Q.
  EXPECT_EQ(S16(q, 112), 16384);
  EXPECT_EQ(S16(q, 114), -16384);
}

TEST(WavLayout, SecondsCountTheSampleData) {
  TTempDir dir;
  std::vector<float> s(48000, 0.0f);
  TWavWriter a(dir.File("s.wav"), wkAudio, 48000, 0);
  a.WriteMono(s.data(), 48000);
  EXPECT_DOUBLE_EQ(a.Seconds(), 1.0);
  TComplexFArray iq(1024000);
  TWavWriter q(dir.File("q.wav"), wkIq, 2048000, 0);
  q.WriteIQ(iq.data(), 1024000);
  EXPECT_DOUBLE_EQ(q.Seconds(), 0.5);
  TWavWriter z(dir.File("z.wav"), wkAudio, 0, 0);
  z.WriteMono(s.data(), 100);
  EXPECT_EQ(z.Seconds(), 0.0);
}

TEST(WavLayout, AuxiBodyHoldsTimesCentreAndRate) {
  TTempDir dir;
  const std::string f = dir.File("iq_with_auxi.wav");  // not "aux.wav": AUX is a Windows device name
  TComplexFArray iq(100);
  int64_t centre = 5000000000ll + 123;  // beyond 32 bits: the low 32 bits are kept
  {
    TWavWriter w(f, wkIq, 2400000, centre);
    w.WriteIQ(iq.data(), 100);
  }
  const std::string b = ReadWholeFile(f);
  ASSERT_EQ(b.size(), 112u + 400);
  const size_t body = 44;
  for (size_t t : {body, body + 16}) {
    const uint32_t year = U16(b, t), month = U16(b, t + 2), dow = U16(b, t + 4), day = U16(b, t + 6);
    EXPECT_GE(year, 2024u);
    EXPECT_TRUE(month >= 1 && month <= 12);
    EXPECT_LE(dow, 6u);
    EXPECT_TRUE(day >= 1 && day <= 31);
    EXPECT_LE(U16(b, t + 8), 23u);
    EXPECT_LE(U16(b, t + 14), 999u);
    // The day of the week agrees with the date (Sakamoto's rule, independent of the writer's).
    static const int offs[] = {0, 3, 2, 5, 0, 3, 5, 1, 4, 6, 2, 4};
    int y = static_cast<int>(year) - (month < 3);
    EXPECT_EQ(dow, static_cast<uint32_t>((y + y / 4 - y / 100 + y / 400 + offs[month - 1] + day) % 7));
  }
  // The stop time is not before the start time (compare as one number).
  auto stamp = [&](size_t t) {
    uint64_t v = 0;
    for (size_t k : {0, 2, 6, 8, 10, 12, 14}) v = v * 10000 + U16(b, t + k);
    return v;
  };
  EXPECT_GE(stamp(body + 16), stamp(body));
  EXPECT_EQ(U32(b, body + 32), static_cast<uint32_t>(centre & 0xFFFFFFFF));
  EXPECT_EQ(U32(b, body + 36), 2400000u);
  EXPECT_EQ(U32(b, body + 40), 0u);
  EXPECT_EQ(U32(b, body + 44), 2400000u);
  EXPECT_EQ(U32(b, body + 48), 0u);
  EXPECT_EQ(U32(b, body + 52), 0u);
  EXPECT_EQ(U32(b, body + 56), 32767u);
}

// ---------------------------------------------------------------------------------------------
// Samples

TEST(WavSamples, ConversionRoundsHalvesToEvenAndClamps) {
  EXPECT_EQ(TWavWriter::ToSample(1.0f), 32767);
  EXPECT_EQ(TWavWriter::ToSample(-1.0f), -32767);
  EXPECT_EQ(TWavWriter::ToSample(2.0f), 32767);
  EXPECT_EQ(TWavWriter::ToSample(-2.0f), -32768);
  EXPECT_EQ(TWavWriter::ToSample(0.5f), 16384);  // 16383.5 goes to the even neighbour
  EXPECT_EQ(TWavWriter::ToSample(0.0f), 0);
  EXPECT_EQ(TWavWriter::ToSample(1e30f), 32767);
  EXPECT_EQ(TWavWriter::ToSample(-std::numeric_limits<float>::infinity()), -32768);
  EXPECT_EQ(TWavWriter::ToSample(std::numeric_limits<float>::quiet_NaN()), 0);
  EXPECT_EQ(TWavWriter::ToSample(2.5f / 32767.0f), 2);
  EXPECT_EQ(TWavWriter::ToSample(-1.5f / 32767.0f), -2);
}

TEST(WavSamples, WrittenValuesAreTheConvertedSamples) {
  TTempDir dir;
  const std::string f = dir.File("v.wav");
  const std::vector<float> in{1.0f, -1.0f, 2.0f, -2.0f, 0.5f, 0.0f, -0.25f};
  {
    TWavWriter w(f, wkAudio, 8000, 0);
    w.WriteMono(in.data(), static_cast<int32_t>(in.size()));
  }
  const std::string b = ReadWholeFile(f);
  ASSERT_EQ(b.size(), 44 + 2 * in.size());
  const int16_t want[] = {32767, -32767, 32767, -32768, 16384, 0, -8192};
  for (size_t i = 0; i < in.size(); ++i) EXPECT_EQ(S16(b, 44 + 2 * i), want[i]) << i;
}

TEST(WavSamples, EmptyOrNegativeWritesDoNothing) {
  TTempDir dir;
  std::vector<float> s(10, 0.1f);
  TWavWriter w(dir.File("n.wav"), wkAudio, 8000, 0);
  w.WriteMono(s.data(), 0);
  w.WriteMono(s.data(), -4);
  w.WriteMono(nullptr, 10);
  w.WriteIQ(nullptr, 10);
  EXPECT_EQ(w.BytesWritten(), 0);
}

// ---------------------------------------------------------------------------------------------
// Lifecycle and failures

TEST(WavLifecycle, FinishedFileIsValidWhileWritingGoesOn) {
  TTempDir dir;
  const std::string f = dir.File("grow.wav");
  std::vector<float> s(300, 0.1f);
  TWavWriter w(f, wkAudio, 16000, 0);
  w.WriteMono(s.data(), 300);
  w.Finish();
  std::string b = ReadWholeFile(f);
  ASSERT_EQ(b.size(), 644u);
  EXPECT_EQ(U32(b, 40), 600u);
  EXPECT_EQ(U32(b, 4), 636u);
  w.WriteMono(s.data(), 100);  // continues after the data, not over the header
  w.Close();
  b = ReadWholeFile(f);
  ASSERT_EQ(b.size(), 844u);
  EXPECT_EQ(U32(b, 40), 800u);
  EXPECT_EQ(S16(b, 842), TWavWriter::ToSample(0.1f));
  w.WriteMono(s.data(), 100);  // closed: nothing more
  EXPECT_EQ(ReadWholeFile(f).size(), 844u);
}

TEST(WavLifecycle, AnExistingFileIsReplaced) {
  TTempDir dir;
  const std::string f = dir.File("old.wav");
  ASSERT_TRUE(testsupport::WriteWholeFile(f, std::string(5000, 'x')));
  { TWavWriter w(f, wkAudio, 48000, 0); }
  EXPECT_EQ(ReadWholeFile(f).size(), 44u);
}

TEST(WavLifecycle, NewOnlyNeverOpensAnExistingFile) {
  TTempDir dir;
  const std::string f = dir.File("taken.wav");
  ASSERT_TRUE(testsupport::WriteWholeFile(f, "an earlier take"));
  std::vector<float> s(100, 0.5f);
  {
    TWavWriter w(f, wkAudio, 48000, 0, wcNewOnly);
    EXPECT_FALSE(w.IsOpen());
    w.WriteMono(s.data(), 100);
  }
  EXPECT_EQ(ReadWholeFile(f), "an earlier take");
  const std::string g = dir.File("free.wav");
  {
    TWavWriter w(g, wkAudio, 48000, 0, wcNewOnly);
    EXPECT_TRUE(w.IsOpen());
  }
  EXPECT_EQ(ReadWholeFile(g).size(), 44u);
}

TEST(WavLifecycle, TheHeaderFollowsEverySecondWrittenWithoutAFinish) {
  // What a killed engine leaves behind: the header sizes as of the last whole second written.
  TTempDir dir;
  const std::string mono = dir.File("mono.wav");
  const std::string iq = dir.File("iq.wav");
  std::vector<float> s(1000, 0.25f);
  TComplexFArray pairs(1000, TComplexF{0.25f, -0.25f});
  TWavWriter a(mono, wkAudio, 8000, 0);
  TWavWriter b(iq, wkIq, 4000, 145000000);
  for (int i = 0; i < 7; ++i) a.WriteMono(s.data(), 1000);  // 0.875 s: still the empty header
  for (int i = 0; i < 3; ++i) b.WriteIQ(pairs.data(), 1000);
  EXPECT_EQ(U32(ReadWholeFile(mono), 40), 0u);
  EXPECT_EQ(U32(ReadWholeFile(iq), 108), 0u);
  a.WriteMono(s.data(), 1000);  // 1 s
  b.WriteIQ(pairs.data(), 1000);
  std::string ma = ReadWholeFile(mono);
  std::string mb = ReadWholeFile(iq);
  EXPECT_EQ(U32(ma, 40), 16000u);
  EXPECT_EQ(U32(ma, 4), 16036u);
  EXPECT_EQ(U32(mb, 108), 16000u);
  EXPECT_EQ(U32(mb, 4), 16104u);
  for (int i = 0; i < 9; ++i) a.WriteMono(s.data(), 1000);  // 2.125 s: patched again at 2 s
  ma = ReadWholeFile(mono);
  EXPECT_EQ(U32(ma, 40), 32000u);
  EXPECT_EQ(ma.size(), 44u + 34000u);  // the samples after the patch landed after the data, not on it
  a.Close();
  EXPECT_EQ(U32(ReadWholeFile(mono), 40), 34000u);
}

TEST(WavLifecycle, UnicodeFileNames) {
  TTempDir dir;
  const std::string f = dir.File("Kan\xC3\xA4l \xE2\x82\xAC 145.500000 MHz.wav");
  {
    TWavWriter w(f, wkAudio, 48000, 0);
    EXPECT_TRUE(w.IsOpen());
    EXPECT_EQ(w.FileName(), f);
  }
  EXPECT_TRUE(plat::FileExists(f));
  EXPECT_EQ(ReadWholeFile(f).size(), 44u);
}

TEST(WavFailures, CreationFailureLeavesAClosedWriterAndNoFile) {
  TTempDir dir;
  const std::string f = dir.File("missing") + plat::PathSeparator() + "x.wav";
  std::vector<float> s(100, 0.5f);
  TComplexFArray iq(100);
  {
    TWavWriter w(f, wkIq, 48000, 0);
    EXPECT_FALSE(w.IsOpen());
    w.WriteMono(s.data(), 100);
    w.WriteIQ(iq.data(), 100);
    w.Finish();
    EXPECT_EQ(w.Seconds(), 0.0);
    EXPECT_EQ(w.BytesWritten(), 0);
  }
  EXPECT_FALSE(plat::FileExists(f));
}

TEST(WavFailures, FailedWritesAreNotCounted) {
  // A device that takes no byte: Linux's /dev/full, which Wine shows as Z:\dev\full.
#if defined(_WIN32)
  const std::string full = "Z:\\dev\\full";
#else
  const std::string full = "/dev/full";
#endif
  std::vector<float> s(48000, 0.5f);
  TWavWriter w(full, wkAudio, 48000, 0);
  if (!w.IsOpen()) GTEST_SKIP() << full << " cannot be opened here (not Linux, not Wine)";
  w.WriteMono(s.data(), 48000);
  w.Finish();
  // Nothing reached the device: the writer must not claim a second of audio.
  EXPECT_EQ(w.BytesWritten(), 0);
  EXPECT_EQ(w.Seconds(), 0.0);
  EXPECT_TRUE(w.WriteFailed());
}

// ---------------------------------------------------------------------------------------------
// A third-party reader

TEST(WavReadBack, SoxReadsAudioAndIqFiles) {
#if defined(_WIN32)
  GTEST_SKIP() << "sox runs on the Linux side only; the Windows build checks the header bytes above";
#else
  const std::string soxi = FindSoxi();
  if (soxi.empty()) {
    if (testsupport::InCI()) FAIL() << "soxi is missing (scripts/setup.sh installs sox)";
    GTEST_SKIP() << "soxi is not installed (scripts/setup.sh installs sox)";
  }
  TTempDir dir;
  const std::string mono = dir.File("take.wav"), iqf = dir.File("hop_iq.wav");
  {
    std::vector<float> s(72000);
    for (size_t k = 0; k < s.size(); ++k) s[k] = 0.5f * static_cast<float>(std::sin(0.05 * k));
    TWavWriter w(mono, wkAudio, 48000, 145500000);
    w.WriteMono(s.data(), 72000);
    TComplexFArray iq(512000);
    for (size_t k = 0; k < iq.size(); ++k)
      iq[k] = {0.3f * static_cast<float>(std::cos(0.01 * k)), 0.3f * static_cast<float>(std::sin(0.01 * k))};
    TWavWriter q(iqf, wkIq, 2048000, 145000000);
    q.WriteIQ(iq.data(), 512000);
  }
  EXPECT_EQ(Soxi(soxi, "-r", mono), "48000");
  EXPECT_EQ(Soxi(soxi, "-c", mono), "1");
  EXPECT_EQ(Soxi(soxi, "-b", mono), "16");
  EXPECT_EQ(Soxi(soxi, "-s", mono), "72000");
  EXPECT_EQ(Soxi(soxi, "-D", mono), "1.500000");
  // The auxi chunk sits between "fmt " and "data"; the reader must step over it.
  double rate = 0;  // soxi prints large rates in exponent form ("2.048e+06")
  EXPECT_TRUE(ParsePoint(Soxi(soxi, "-r", iqf), rate));
  EXPECT_EQ(rate, 2048000.0);
  EXPECT_EQ(Soxi(soxi, "-c", iqf), "2");
  EXPECT_EQ(Soxi(soxi, "-b", iqf), "16");
  EXPECT_EQ(Soxi(soxi, "-s", iqf), "512000");
  EXPECT_EQ(Soxi(soxi, "-D", iqf), "0.250000");
#endif
}
