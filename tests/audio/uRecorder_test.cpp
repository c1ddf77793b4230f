#include "uRecorder.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <regex>
#include <vector>

#include "LogCapture.h"
#include "TestSupport.h"
#include "pClock.h"
#include "pFile.h"
#include "pFs.h"
#include "pSystem.h"
#include "uLog.h"

using testsupport::ReadWholeFile;
using testsupport::SplitLines;
using testsupport::TTempDir;

namespace {

const char kSep = plat::PathSeparator();
constexpr double kPi = 3.14159265358979323846;

std::string Sep(const std::string& a, const std::string& b) {
  return a + kSep + b;
}

// WAV files of a folder, by name.
std::vector<std::string> WavFiles(const std::string& folder) {
  std::vector<plat::TDirEntry> entries;
  plat::ListDirectory(folder, entries);
  std::vector<std::string> names;
  for (auto& e : entries)
    if (!e.IsDirectory && e.Name.size() > 4 && e.Name.substr(e.Name.size() - 4) == ".wav")
      names.push_back(e.Name);
  std::sort(names.begin(), names.end());
  return names;
}

// Samples in a mono 16-bit file by its data size field; -1 when the file is not such a WAV.
int64_t WavSamples(const std::string& path) {
  const std::string b = ReadWholeFile(path);
  if (b.size() < 44 || b.compare(0, 4, "RIFF") != 0 || b.compare(36, 4, "data") != 0) return -1;
  uint32_t size = 0;
  std::memcpy(&size, b.data() + 40, 4);
  if (b.size() != 44 + static_cast<size_t>(size)) return -1;
  return size / 2;
}

TTalvConfig TestConfig() {
  TTalvConfig c;
  ConfigDefaults(c);
  c.AudioRate = 8000;
  c.HangTimeMs = 2000;
  c.MinRecordMs = 1000;
  return c;
}

// Feeds blocks of 10 ms (80 samples at 8000 S/s) of a steady tone, advancing the clock; triggers
// every triggerEveryMs (0: never).
void Feed(TChannelRecorder& rec, plat::TManualClock& clock, int ms, int triggerEveryMs) {
  std::vector<float> block(80);
  for (size_t i = 0; i < block.size(); ++i) block[i] = 0.5f * std::sin(0.3f * static_cast<float>(i));
  for (int t = 0; t < ms; t += 10) {
    if (triggerEveryMs > 0 && t % triggerEveryMs == 0) rec.Trigger(15);
    if (!rec.StillActive()) return;
    rec.FeedAudio(block.data(), 80);
    clock.Advance(10);
  }
}

}  // namespace

TEST(RecorderNames, FolderTakeAndEndStamp) {
  EXPECT_EQ(ChannelFolder(Sep("r", "rec"), 145500000), Sep(Sep("r", "rec"), "145.500000 MHz"));
  EXPECT_EQ(ChannelFolder(std::string("root") + kSep, 145500000), Sep("root", "145.500000 MHz"));
  EXPECT_EQ(TakeFileName("R", 145500000, "20250101_120000", modNFM),
            Sep(Sep("R", "145.500000 MHz"), "145.500000MHz_20250101_120000_12.5kHz.wav"));
  EXPECT_EQ(TakeFileName("R", 98000000, "20250101_120000", modWFM),
            Sep(Sep("R", "98.000000 MHz"), "98.000000MHz_20250101_120000_256kHz.wav"));
  EXPECT_EQ(TakeFileName("R", 7100000, "20250101_120000", modLSB),
            Sep(Sep("R", "7.100000 MHz"), "7.100000MHz_20250101_120000_2.7kHz.wav"));
  EXPECT_EQ(TakeFileName("R", 127000000, "20250101_120000", modAM),
            Sep(Sep("R", "127.000000 MHz"), "127.000000MHz_20250101_120000_8kHz.wav"));

  EXPECT_EQ(AppendEndStampWith("145.500000MHz_20250101_120000_12.5kHz.wav", "20250101_120130"),
            "145.500000MHz_20250101_120000_12.5kHz_20250101_120130.wav");
  EXPECT_EQ(AppendEndStampWith("C:\\a.b\\file", "S"), "C:\\a.b\\file_S");
  EXPECT_EQ(AppendEndStampWith("/a.b/file", "S"), "/a.b/file_S");
  EXPECT_EQ(AppendEndStampWith("x.wav", "S"), "x_S.wav");
  EXPECT_EQ(StripBlanks(" 145.500000 MHz "), "145.500000MHz");

  plat::TLocalTime t{2025, 1, 2, 3, 4, 5, 678};
  EXPECT_EQ(TimeStampOf(t), "20250102_030405");
  EXPECT_TRUE(std::regex_match(TimeStamp(), std::regex("[0-9]{8}_[0-9]{6}")));
}

TEST(RecorderNames, EnsureFolderCreatesAChain) {
  TTempDir tmp;
  const std::string deep = Sep(Sep(Sep(tmp.Path(), "a"), "b c"), "145.500000 MHz");
  EXPECT_TRUE(EnsureFolder(deep));
  EXPECT_TRUE(plat::DirectoryExists(deep));
  EXPECT_TRUE(EnsureFolder(deep));
  EXPECT_TRUE(EnsureFolder(deep + kSep));
  EXPECT_FALSE(EnsureFolder(""));
  ASSERT_TRUE(testsupport::WriteWholeFile(tmp.File("file"), "x"));
  EXPECT_FALSE(EnsureFolder(Sep(Sep(tmp.File("file"), "sub"), "deeper")));
}

TEST(Recorder, TakeRunsFromFirstAudioToLastTriggerAndIsEndStamped) {
  TTempDir tmp;
  plat::TManualClock clock;
  TTalvConfig cfg = TestConfig();
  auto rec = TChannelRecorder::Create(cfg, tmp.Path(), 145500000, modNFM, clock);
  EXPECT_EQ(rec->TailCapacity(), 16000);
  // 3 s of transmission with a trigger every 200 ms (the last at 2.8 s), then silence until expiry.
  Feed(*rec, clock, 3000, 200);
  const std::string started = rec->CurrentFile();
  Feed(*rec, clock, 3000, 0);
  EXPECT_FALSE(rec->StillActive());
  rec->Close();
  EXPECT_TRUE(rec->CurrentFile().empty());

  const std::string folder = Sep(tmp.Path(), "145.500000 MHz");
  auto files = WavFiles(folder);
  ASSERT_EQ(files.size(), 1u);
  EXPECT_TRUE(std::regex_match(
      files[0], std::regex("145\\.500000MHz_[0-9]{8}_[0-9]{6}_12\\.5kHz_[0-9]{8}_[0-9]{6}\\.wav")))
      << files[0];
  EXPECT_EQ(AppendEndStampWith(started, "X").substr(0, started.size() - 4),
            started.substr(0, started.size() - 4));
  EXPECT_EQ(rec->LastKeptFile(), Sep(folder, files[0]));
  // From the first audio to the last trigger (2.8 s) and the one block by which the written audio
  // lags the expiry; the hang time of quiet after the last trigger is dropped.
  const int64_t samples = WavSamples(Sep(folder, files[0]));
  EXPECT_GE(samples, 8000 * 280 / 100);
  EXPECT_LE(samples, 8000 * 282 / 100);
}

TEST(Recorder, ShortTakeIsDiscarded) {
  TTempDir tmp;
  plat::TManualClock clock;
  TLogCapture log;
  auto rec = TChannelRecorder::Create(TestConfig(), tmp.Path(), 145500000, modNFM, clock);
  Feed(*rec, clock, 500, 200);  // 0.5 s of audio
  Feed(*rec, clock, 3000, 0);
  rec->Close();
  EXPECT_TRUE(WavFiles(Sep(tmp.Path(), "145.500000 MHz")).empty());
  EXPECT_TRUE(rec->LastKeptFile().empty());
  auto lines = log.MessagesContaining("recorder: discarded");
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_NE(lines[0].find("< 1000 ms)"), std::string::npos) << lines[0];
}

TEST(Recorder, RenameNeverOverwritesAnExistingFile) {
  // The end-stamped name is taken by another file: the take gets the same name with a counter after
  // the stamp, and the other file is untouched. The stamp has one-second resolution; retry if the
  // second turned over.
  for (int attempt = 0; attempt < 3; ++attempt) {
    TTempDir tmp;
    plat::TManualClock clock;
    auto rec = TChannelRecorder::Create(TestConfig(), tmp.Path(), 145500000, modNFM, clock);
    Feed(*rec, clock, 1500, 100);
    const std::string take = rec->CurrentFile();
    ASSERT_FALSE(take.empty());
    const std::string stamp = TimeStamp();
    const std::string blocker = AppendEndStampWith(take, stamp);
    ASSERT_TRUE(testsupport::WriteWholeFile(blocker, "precious"));
    ASSERT_TRUE(testsupport::WriteWholeFile(AppendEndStampWith(take, stamp + "-2"), "precious too"));
    rec->Close();
    if (TimeStamp() != stamp) continue;
    EXPECT_EQ(ReadWholeFile(blocker), "precious");
    EXPECT_EQ(ReadWholeFile(AppendEndStampWith(take, stamp + "-2")), "precious too");
    EXPECT_FALSE(plat::FileExists(take));
    EXPECT_EQ(rec->LastKeptFile(), AppendEndStampWith(take, stamp + "-3"));
    EXPECT_EQ(WavSamples(rec->LastKeptFile()), 8000 * 15 / 10);  // not expired: the tail was written too
    EXPECT_EQ(rec->TakeError(), "");
    return;
  }
  FAIL() << "the clock second turned over in every attempt";
}

TEST(Recorder, TwoTakesOfOneChannelInOneSecondNeverShareAFile) {
  // Two recorders of one channel start takes in the same second: the second gets a counter after the
  // stamp instead of opening (and emptying) the first one's file; both end as separate kept takes.
  for (int attempt = 0; attempt < 3; ++attempt) {
    TTempDir tmp;
    plat::TManualClock clock;
    TTalvConfig cfg = TestConfig();
    cfg.MinRecordMs = 0;
    const std::string stamp = TimeStamp();
    auto first = TChannelRecorder::Create(cfg, tmp.Path(), 145500000, modNFM, clock);
    auto second = TChannelRecorder::Create(cfg, tmp.Path(), 145500000, modNFM, clock);
    Feed(*first, clock, 1200, 100);
    Feed(*second, clock, 300, 100);
    const std::string a = first->CurrentFile();
    const std::string b = second->CurrentFile();
    second->Close();
    first->Close();
    if (TimeStamp() != stamp) continue;
    EXPECT_EQ(a, TakeFileName(tmp.Path(), 145500000, stamp, modNFM));
    EXPECT_EQ(b, TakeFileName(tmp.Path(), 145500000, stamp + "-2", modNFM));
    EXPECT_EQ(WavSamples(first->LastKeptFile()), 8000 * 12 / 10);
    EXPECT_EQ(WavSamples(second->LastKeptFile()), 8000 * 3 / 10);
    EXPECT_NE(first->LastKeptFile(), second->LastKeptFile());
    EXPECT_EQ(WavFiles(Sep(tmp.Path(), "145.500000 MHz")).size(), 2u);
    return;
  }
  FAIL() << "the clock second turned over in every attempt";
}

TEST(Recorder, FailuresWaitInTakeErrorOncePerTake) {
  TTempDir tmp;
  plat::TManualClock clock;
  ASSERT_TRUE(testsupport::WriteWholeFile(tmp.File("blocked"), "a file where the root should be"));
  auto rec = TChannelRecorder::Create(TestConfig(), tmp.File("blocked"), 145500000, modNFM, clock);
  EXPECT_EQ(rec->TakeError(), "");
  Feed(*rec, clock, 500, 100);
  const std::string error = rec->TakeError();
  EXPECT_EQ(error.rfind("cannot create ", 0), 0u) << error;
  EXPECT_NE(error.find("blocked"), std::string::npos) << error;
  Feed(*rec, clock, 500, 100);
  EXPECT_EQ(rec->TakeError(), "");  // told once, not once per block
}

#if !defined(_WIN32)
using testsupport::TFileSizeLimit;

TEST(Recorder, AFullDiskEndsTheTakeWithAValidHeaderAndSaysSo) {
  TTempDir tmp;
  plat::TManualClock clock;
  TTalvConfig cfg = TestConfig();
  cfg.HangTimeMs = 100;  // a short held-back tail: the audio reaches the file as it comes
  cfg.MinRecordMs = 0;
  auto rec = TChannelRecorder::Create(cfg, tmp.Path(), 145500000, modNFM, clock);
  {
    TFileSizeLimit limit(44 + 8000);  // room for 0.5 s of 8000 S/s audio
    ASSERT_TRUE(limit.Active);
    Feed(*rec, clock, 1500, 50);
    EXPECT_TRUE(rec->CurrentFile().empty()) << "the take ended at the failure";
    Feed(*rec, clock, 500, 50);  // no new file for the rest of this take
  }
  const std::string error = rec->TakeError();
  EXPECT_EQ(error.rfind("cannot write ", 0), 0u) << error;
  const auto files = WavFiles(Sep(tmp.Path(), "145.500000 MHz"));
  ASSERT_EQ(files.size(), 1u);
  EXPECT_EQ(rec->LastKeptFile(), Sep(Sep(tmp.Path(), "145.500000 MHz"), files[0]));
  EXPECT_EQ(WavSamples(rec->LastKeptFile()), 4000);  // the header counts exactly what is in the file
  rec->Close();
  rec->Trigger(15);  // the next take tries again
  Feed(*rec, clock, 300, 50);
  EXPECT_FALSE(rec->CurrentFile().empty());
}
#endif

TEST(Recorder, CloseWithoutTakeIsIdempotent) {
  TTempDir tmp;
  plat::TManualClock clock;
  TLogCapture log;
  TTalvConfig cfg = TestConfig();
  cfg.MinRecordMs = 0;  // would rename an empty name if Close acted without a take
  auto rec = TChannelRecorder::Create(cfg, tmp.Path(), 145500000, modNFM, clock);
  for (int i = 0; i < 100; ++i) rec->Close();
  cfg.RecordAudio = false;
  auto silent = TChannelRecorder::Create(cfg, tmp.Path(), 145500000, modNFM, clock);
  Feed(*silent, clock, 1000, 100);
  silent->Close();
  silent->Close();
  EXPECT_TRUE(log.MessagesContaining("recorder:").empty());
  std::vector<plat::TDirEntry> entries;
  ASSERT_TRUE(plat::ListDirectory(tmp.Path(), entries));
  EXPECT_TRUE(entries.empty());
}

TEST(Recorder, FailedOpenIsNotRetriedUntilTheNextTake) {
  TTempDir tmp;
  plat::TManualClock clock;
  TLogCapture log;
  ASSERT_TRUE(testsupport::WriteWholeFile(tmp.File("blocked"), "a file where the root should be"));
  auto rec = TChannelRecorder::Create(TestConfig(), tmp.File("blocked"), 145500000, modNFM, clock);
  Feed(*rec, clock, 2000, 200);  // 200 blocks
  EXPECT_EQ(log.MessagesContaining("recorder: cannot create").size(), 1u);
  Feed(*rec, clock, 3000, 0);
  rec->Close();
  rec->Trigger(12);  // the next take tries once more
  Feed(*rec, clock, 500, 100);
  EXPECT_EQ(log.MessagesContaining("recorder: cannot create").size(), 2u);
  EXPECT_TRUE(log.MessagesContaining("recorder: discarded").empty());
}

TEST(Recorder, SpeechPausesShorterThanTheHangStayInTheTake) {
  TTempDir tmp;
  plat::TManualClock clock;
  auto rec = TChannelRecorder::Create(TestConfig(), tmp.Path(), 145500000, modUSB, clock);
  Feed(*rec, clock, 1000, 100);  // talk
  Feed(*rec, clock, 1500, 0);    // a pause shorter than the 2 s hang
  ASSERT_TRUE(rec->StillActive());
  Feed(*rec, clock, 1000, 100);  // talk again: the trigger writes the held tail
  Feed(*rec, clock, 3000, 0);
  rec->Close();
  auto files = WavFiles(Sep(tmp.Path(), "145.500000 MHz"));
  ASSERT_EQ(files.size(), 1u);
  EXPECT_NE(files[0].find("_2.7kHz_"), std::string::npos) << files[0];  // named by the mode played
  const int64_t samples = WavSamples(Sep(Sep(tmp.Path(), "145.500000 MHz"), files[0]));
  // 1 s + the 1.5 s pause + 0.9 s up to the last trigger of the second part (+ one block).
  EXPECT_GE(samples, 8000 * 340 / 100);
  EXPECT_LE(samples, 8000 * 342 / 100);
}

TEST(Recorder, HangBelow100CountsAs100ForActivity) {
  TTempDir tmp;
  plat::TManualClock clock;
  TTalvConfig cfg = TestConfig();
  cfg.HangTimeMs = 20;
  auto rec = TChannelRecorder::Create(cfg, tmp.Path(), 145500000, modNFM, clock);
  clock.Advance(100);
  EXPECT_TRUE(rec->StillActive());
  clock.Advance(1);
  EXPECT_FALSE(rec->StillActive());
  EXPECT_FALSE(rec->StillActive());
  rec->Trigger(9);
  EXPECT_TRUE(rec->StillActive());
}

TEST(Recorder, DemodulatingRecorderNamesTakesByItsModeAndExposesItsAudio) {
  TTempDir tmp;
  plat::TManualClock clock;
  TTalvConfig cfg = TestConfig();
  cfg.Modulation = modAM;
  cfg.AudioRate = 48000;
  cfg.MinRecordMs = 100;
  const double rate = 2048000;
  auto rec = TChannelRecorder::CreateWithDemod(cfg, tmp.Path(), rate, 145000000, 145100000, clock);
  EXPECT_EQ(rec->Mode(), modAM);
  ASSERT_NE(rec->Demod(), nullptr);
  // An AM carrier 100 kHz above the centre, modulated by 1 kHz.
  std::vector<TComplexF> iq(32768);
  double phase = 0;
  for (int b = 0; b < 20; ++b) {
    for (size_t i = 0; i < iq.size(); ++i) {
      const double t = (b * 32768.0 + static_cast<double>(i)) / rate;
      const double env = 0.3 * (1.0 + 0.5 * std::sin(2 * kPi * 1000 * t));
      phase = 2 * kPi * 100000 * t;
      iq[i] = TComplexF{static_cast<float>(env * std::cos(phase)), static_cast<float>(env * std::sin(phase))};
    }
    rec->FeedIQ(iq.data(), static_cast<int32_t>(iq.size()));
    EXPECT_GT(rec->LastAudioCount(), 0);
    EXPECT_NE(rec->LastAudio(), nullptr);
    clock.Advance(16);
  }
  rec->Close();
  rec->FeedIQ(iq.data(), 100);  // closed: no audio
  EXPECT_EQ(rec->LastAudioCount(), 0);
  auto files = WavFiles(Sep(tmp.Path(), "145.100000 MHz"));
  ASSERT_EQ(files.size(), 1u);
  EXPECT_NE(files[0].find("_8kHz_"), std::string::npos) << files[0];
}
