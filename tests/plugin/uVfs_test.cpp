#include "uVfs.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "TestSupport.h"
#include "pFs.h"
#include "pSystem.h"
#include "uIcons.h"
#include "uPluginConfig.h"

namespace {

std::vector<std::string> Names(const TFindList& list) {
  std::vector<std::string> names;
  for (const TFindEntry& e : list.Entries()) names.push_back(e.Name);
  return names;
}

std::vector<std::string> Sorted(std::vector<std::string> v) {
  std::sort(v.begin(), v.end());
  return v;
}

bool IsDir(const TFindEntry& e) {
  return e.Attributes == kAttrDirectory;
}

struct TPathCase {
  const char* Path;
  TVfsKind Kind;
  int64_t Hz;
  const char* Field;  // Key, Command, FileName or Folder, whichever the kind fills
  int Entry;
};

}  // namespace

TEST(VfsPath, EveryShapeAndItsEdges) {
  const TPathCase cases[] = {
      {"", vkRoot, 0, "", 0},
      {"\\\\\\", vkRoot, 0, "", 0},
      {"Config", vkConfig, 0, "", 0},
      {"\\Config\\", vkConfig, 0, "", 0},
      {"\\config", vkInvalid, 0, "", 0},
      {"\\Config\\Gain = auto", vkConfigEntry, 0, "GainDb", 0},
      {"\\Config\\Frequency Start", vkConfigEntry, 0, "StartHz", 0},
      {"\\Config\\Device Index = 0", vkInvalid, 0, "", 0},  // hidden keys have no entry
      {"\\Config\\No Such Setting = 1", vkInvalid, 0, "", 0},
      {"\\Channels", vkChannels, 0, "", 0},
      {"\\Channels\\145.500000 MHz", vkChannel, 145500000, "", 0},
      {"\\Channels\\145.500000 mhz", vkChannel, 145500000, "", 0},
      {"\\Channels\\145.500000", vkChannel, 145500000, "", 0},
      {"\\Channels\\ 145.012500 MHz ", vkChannel, 145012500, "", 0},
      {"\\Channels\\145.5 MHz", vkInvalid, 0, "", 0},
      {"\\Channels\\-0.000005 MHz", vkChannel, -5, "", 0},
      {"\\Channels\\1.-00005 MHz", vkInvalid, 0, "", 0},
      {"\\Channels\\+1.000005 MHz", vkInvalid, 0, "", 0},
      {"\\Channels\\145.500000 MHz\\*** live view.talvview", vkLiveView, 145500000, "", 0},
      {"\\Channels\\145.500000 MHz\\*** live audio.talvaudio", vkLiveAudio, 145500000, "", 0},
      {"\\Channels\\145.500000 MHz\\take.wav", vkChannelFile, 145500000, "take.wav", 0},
      {"\\Channels\\145.500000 MHz\\sub\\take.wav", vkInvalid, 0, "", 0},
      {"\\Start Scan.cmd", vkCommand, 0, "Start Scan.cmd", 0},
      {"\\Stop Live Audio.cmd", vkCommand, 0, "Stop Live Audio.cmd", 0},
      {"\\start scan.cmd", vkInvalid, 0, "", 0},
      {"\\Status.txt", vkStatus, 0, "", 0},
      {"\\Status.txt\\more", vkInvalid, 0, "", 0},
      {"\\Spectrum", vkSpectrum, 0, "", 0},
      {"\\Spectrum\\Hops = 5", vkSpectrumEntry, 0, "", 6},
      {"\\Spectrum\\Bandwidth = 2 MHz", vkSpectrumEntry, 0, "", 2},
      {"\\Spectrum\\Hops", vkHops, 0, "", 0},
      {"\\Spectrum\\Hops\\Hop 01 = x\\deeper\\still", vkHop, 0, "", 0},
      {"\\Spectrum\\*** live view.talvview", vkLiveView, 0, "", 0},
      {"\\Spectrum\\*** live audio.talvaudio", vkLiveMulti, 0, "", 0},
      {"\\Archive", vkArchive, 0, "", 0},
      {"\\Archive\\145.500000 MHz", vkArchiveFolder, 0, "145.500000 MHz", 0},
      {"\\Archive\\145.500000 MHz\\a.wav", vkArchiveFile, 0, "a.wav", 0},
      {"\\Archive\\*** all recordings", vkAllRecordings, 0, "*** all recordings", 0},
      {"\\Archive\\*** all recordings\\a.wav", vkAllRecordingsFile, 0, "a.wav", 0},
      {"\\Archive\\x\\y\\z.wav", vkInvalid, 0, "", 0},
      {"\\Elsewhere", vkInvalid, 0, "", 0},
      // Components that would reach outside the recordings folder.
      {"\\Archive\\..\\secret.txt", vkInvalid, 0, "", 0},
      {"\\Archive\\.", vkInvalid, 0, "", 0},
      {"\\Archive\\..", vkInvalid, 0, "", 0},
      {"\\Archive\\sub\\..", vkInvalid, 0, "", 0},
      {"\\Archive\\C:", vkInvalid, 0, "", 0},
      {"\\Archive\\sub\\C:x.wav", vkInvalid, 0, "", 0},
      {"\\Archive\\a/b\\c.wav", vkInvalid, 0, "", 0},
      {"\\Archive\\\\sub", vkInvalid, 0, "", 0},
      {"\\Archive\\*** all recordings\\..", vkInvalid, 0, "", 0},
      {"\\Channels\\145.500000 MHz\\..", vkInvalid, 0, "", 0},
      {"\\Channels\\145.500000 MHz\\..\\..\\x.wav", vkInvalid, 0, "", 0},
  };
  for (const TPathCase& c : cases) {
    SCOPED_TRACE(c.Path);
    TVfsPath p = ParseVfsPath(c.Path);
    EXPECT_EQ(p.Kind, c.Kind);
    EXPECT_EQ(p.Hz, c.Hz);
    EXPECT_EQ(p.Entry, c.Entry);
    std::string field = p.Key + p.Command +
                        (p.Kind == vkArchiveFolder || p.Kind == vkAllRecordings ? p.Folder : "") + p.FileName;
    EXPECT_EQ(field, c.Field);
    if (p.Kind == vkArchiveFile) {
      EXPECT_EQ(p.Folder, "145.500000 MHz");
    }
    if (p.Kind == vkAllRecordingsFile) {
      EXPECT_EQ(p.Folder, "*** all recordings");
    }
  }
}

TEST(VfsPath, ChannelFolderNamesReadBackFromTheEnginesText) {
  for (int64_t hz : {int64_t{0}, int64_t{999}, int64_t{145012500}, int64_t{-5}, int64_t{-2048000},
                     int64_t{5999999999999}}) {
    int64_t back = 1;
    ASSERT_TRUE(ParseChannelFolderName(FormatMHzExact(hz), back)) << hz;
    EXPECT_EQ(back, hz);
  }
  int64_t hz = 0;
  for (const char* bad : {"145", "145.50000", "145.5000000", "-145.-00000", "145.0000a0", ".500000",
                          "1e3.000000", "99999999999999.000000 MHz"})
    EXPECT_FALSE(ParseChannelFolderName(bad, hz)) << bad;
}

TEST(VfsListing, RootAtTheDefaultsAndWhileRunning) {
  auto idle = ListRootFolder(false, false);
  EXPECT_EQ(Names(*idle), (std::vector<std::string>{"Config", "Spectrum", "Channels", "Archive",
                                                    "Start Scan.cmd", "Live Audio.cmd", "Status.txt"}));
  for (int i = 0; i < idle->Count(); ++i) {
    EXPECT_EQ(IsDir(idle->Entries()[i]), i < 4);
    EXPECT_EQ(idle->Entries()[i].Size, 0);
  }
  auto busy = ListRootFolder(true, true);
  EXPECT_EQ(busy->Entries()[4].Name, "Stop Scan.cmd");
  EXPECT_EQ(busy->Entries()[5].Name, "Stop Live Audio.cmd");
}

TEST(VfsListing, GeneratedEntriesCarryNowAsOneUtcFileTime) {
  uint64_t before = DateTimeToUtcFileTime(0);
  auto list = ListRootFolder(false, false);
  uint64_t after = DateTimeToUtcFileTime(0);
  ASSERT_GT(before, 0u);
  for (const TFindEntry& e : list->Entries()) {
    EXPECT_GE(e.FileTime, before);
    EXPECT_LE(e.FileTime, after);
    EXPECT_EQ(e.FileTime, list->Entries()[0].FileTime);  // taken once per listing
  }
  // A FILETIME counts 100 ns steps: a date-time a day later is 864e9 steps later.
  double now = plat::LocalDateTimeNow();
  EXPECT_NEAR(static_cast<double>(DateTimeToUtcFileTime(now + 1) - DateTimeToUtcFileTime(now)), 864e9,
              36e9 + 1e4);
}

TEST(VfsListing, ConfigAtTheDefaults) {
  TTalvConfig cfg;
  auto list = ListConfigFolder(cfg);
  EXPECT_EQ(Names(*list), (std::vector<std::string>{"Device Type = rtlsdr",
                                                    "Device = first device (index 0)",
                                                    "Frequency Start = 144 MHz",
                                                    "Frequency Stop = 146 MHz",
                                                    "Sample Rate = 2.048 MHz",
                                                    "Modulation = NFM",
                                                    "SNR Threshold = 12 dB",
                                                    "Frequency Grid = 12.5 kHz",
                                                    "Gain = auto",
                                                    "Frequency Correction = 0 ppm",
                                                    "Audio Recording = on",
                                                    "Recording Folder = (not set)",
                                                    "Max Parallel Channels = 8",
                                                    "Squelch Hang Time = 2000 ms",
                                                    "Min Recording Length = 1000 ms",
                                                    "FFT Size = 4096",
                                                    "FFT Averaging = 8",
                                                    "Tuner Settle Time = 30 ms",
                                                    "Channel Refresh = 5",
                                                    "Audio Sample Rate = 48000",
                                                    "Max Dwell = 10000",
                                                    "IF Recording = 0",
                                                    "Thumbnails For All WAV = own recordings",
                                                    "Merge Channels = one per signal",
                                                    "HackRF LNA Gain = 16 dB",
                                                    "HackRF VGA Gain = 20 dB",
                                                    "HackRF Front-End Amp = off",
                                                    "HackRF Bias Tee = off",
                                                    "Stop Engine On Unload = 1"}));
  for (const TFindEntry& e : list->Entries())
    EXPECT_EQ(ConfigKeyFromEntryName(e.Name).empty(), false) << e.Name;
}

TEST(VfsListing, ConfigValuesShownOtherwise) {
  TTalvConfig cfg;
  cfg.GainDb = 28.6;
  cfg.DeviceSerial = "00000001";
  cfg.DeviceName = "Generic RTL";
  cfg.RecordDir = "C:\\radio\\rec";
  cfg.MaxParallel = 0;
  cfg.HackRfAmp = cfg.HackRfBiasTee = true;
  cfg.MergeChannels = false;
  cfg.ThumbAllWav = true;
  EXPECT_EQ(ConfigEntryValueText(cfg, "GainDb"), "Gain = 28.6 dB");
  EXPECT_EQ(ConfigEntryValueText(cfg, "DeviceSerial"), "Device = 00000001 - Generic RTL");
  EXPECT_EQ(ConfigEntryValueText(cfg, "RecordDir"), "Recording Folder = C__radio_rec");
  EXPECT_EQ(ConfigEntryValueText(cfg, "MaxParallel"), "Max Parallel Channels = unlimited");
  EXPECT_EQ(ConfigEntryValueText(cfg, "HackRfAmp"), "HackRF Front-End Amp = on (+14 dB)");
  EXPECT_EQ(ConfigEntryValueText(cfg, "HackRfBiasTee"), "HackRF Bias Tee = on (3.3 V)");
  EXPECT_EQ(ConfigEntryValueText(cfg, "MergeChannels"), "Merge Channels = one per grid slot");
  EXPECT_EQ(ConfigEntryValueText(cfg, "ThumbAllWav"), "Thumbnails For All WAV = all .wav");
  EXPECT_EQ(SafeFileName("a\"b*c/d:e<f>g?h\\i|j"), "a_b_c_d_e_f_g_h_i_j");
  // The entry names of a changed record still find their keys.
  EXPECT_EQ(ConfigKeyFromEntryName(ConfigEntryValueText(cfg, "RecordDir")), "RecordDir");
}

TEST(VfsListing, SpectrumAndHopsAtTheDefaults) {
  TTalvConfig cfg;
  auto spectrum = ListSpectrumFolder(cfg);
  EXPECT_EQ(Names(*spectrum),
            (std::vector<std::string>{"Hops", "*** live view.talvview", "*** live audio.talvaudio",
                                      "Center Frequency = 145 MHz", "Bandwidth = 2 MHz",
                                      "Start Frequency = 144 MHz", "Stop Frequency = 146 MHz",
                                      "Sample Rate = 2.048 MHz", "Hops = 2"}));
  EXPECT_TRUE(IsDir(spectrum->Entries()[0]));
  EXPECT_FALSE(IsDir(spectrum->Entries()[8]));
  auto hops = ListHopsFolder(cfg);
  EXPECT_EQ(Names(*hops),
            (std::vector<std::string>{"Hop 01 = 144.5 MHz  [144 MHz - 145.3704 MHz, 1.3704 MHz]",
                                      "Hop 02 = 145.5 MHz  [144.6296 MHz - 146 MHz, 1.3704 MHz]"}));
  // More than 99 hops: three digits from Hop 100 on.
  cfg.StopHz = cfg.StartHz + 200000000;
  auto many = ListHopsFolder(cfg);
  ASSERT_GT(many->Count(), 100);
  EXPECT_EQ(many->Entries()[99].Name.substr(0, 9), "Hop 100 =");
  EXPECT_EQ(many->Entries()[8].Name.substr(0, 8), "Hop 09 =");
}

TEST(VfsListing, ChannelsInReplyOrderDatedByActivity) {
  TChannelRecArray recs(2);
  recs[0].Hz = 146000000;
  recs[0].LastSeen = 45000.5;  // 2023-03-15 12:00 local
  recs[1].Hz = 144012500;
  recs[1].Active = 1;
  recs[1].LastSeen = 45000.5;
  uint64_t before = DateTimeToUtcFileTime(0);
  auto list = ListChannelsFolder(recs);
  EXPECT_EQ(Names(*list), (std::vector<std::string>{"146.000000 MHz", "144.012500 MHz"}));
  EXPECT_TRUE(IsDir(list->Entries()[0]));
  EXPECT_EQ(list->Entries()[0].FileTime, DateTimeToUtcFileTime(45000.5));
  EXPECT_GE(list->Entries()[1].FileTime, before);
}

TEST(VfsListing, FindListHandsOutEachEntryOnce) {
  TFindList list;
  list.AddDir("a", 0);
  list.AddFile("b", int64_t{5} << 32 | 7, 0);
  TFindEntry e;
  ASSERT_TRUE(list.Next(e));
  EXPECT_EQ(e.Name, "a");
  ASSERT_TRUE(list.Next(e));
  EXPECT_EQ(e.Size, int64_t{5} << 32 | 7);
  EXPECT_FALSE(list.Next(e));
  EXPECT_EQ(list.Count(), 2);
}

namespace {

// A recordings folder: 145.000000 MHz with a.wav, b.wav and notes.txt, 146.000000 MHz with a.wav and
// c.wav, and a stray file at the top.
struct TRecordings {
  testsupport::TTempDir Temp;
  std::string Root;
  std::string Ch145, Ch146;
  TRecordings() {
    Root = Temp.File("recordings");
    plat::MakeDirectory(Root);
    Ch145 = JoinPath(Root, "145.000000 MHz");
    Ch146 = JoinPath(Root, "146.000000 MHz");
    plat::MakeDirectory(Ch145);
    plat::MakeDirectory(Ch146);
    testsupport::WriteWholeFile(JoinPath(Ch145, "a.wav"), std::string(100, 'x'));
    testsupport::WriteWholeFile(JoinPath(Ch145, "b.WAV"), std::string(7, 'x'));
    testsupport::WriteWholeFile(JoinPath(Ch145, "notes.txt"), "n");
    testsupport::WriteWholeFile(JoinPath(Ch146, "a.wav"), std::string(200, 'x'));
    testsupport::WriteWholeFile(JoinPath(Ch146, "c.wav"), std::string(3, 'x'));
    testsupport::WriteWholeFile(JoinPath(Root, "stray.wav"), "s");
  }
};

}  // namespace

TEST(VfsRealFolders, ChannelFolderHoldsTicketsThenItsWavFiles) {
  TRecordings r;
  auto list = ListChannelFolder(r.Root, 145000000);
  std::vector<std::string> names = Names(*list);
  ASSERT_EQ(names.size(), 4u);
  EXPECT_EQ(names[0], "*** live view.talvview");
  EXPECT_EQ(names[1], "*** live audio.talvaudio");
  EXPECT_EQ(Sorted({names[2], names[3]}), (std::vector<std::string>{"a.wav", "b.WAV"}));
  for (const TFindEntry& e : list->Entries())
    if (e.Name == "a.wav") {
      EXPECT_EQ(e.Size, 100);
    }
  // No recordings folder, or no folder for the channel: the tickets only.
  EXPECT_EQ(ListChannelFolder("", 145000000)->Count(), 2);
  EXPECT_EQ(ListChannelFolder(r.Root, 147000000)->Count(), 2);
}

TEST(VfsRealFolders, ArchiveListsSubFoldersThenAllRecordings) {
  TRecordings r;
  auto root = ListArchiveRoot(r.Root);
  std::vector<std::string> names = Names(*root);
  ASSERT_EQ(names.size(), 3u);
  EXPECT_EQ(Sorted({names[0], names[1]}), (std::vector<std::string>{"145.000000 MHz", "146.000000 MHz"}));
  EXPECT_EQ(names[2], "*** all recordings");
  for (const TFindEntry& e : root->Entries()) EXPECT_TRUE(IsDir(e));

  auto folder = ListArchiveFolder(r.Root, "145.000000 MHz");
  EXPECT_EQ(Sorted(Names(*folder)), (std::vector<std::string>{"a.wav", "b.WAV", "notes.txt"}));

  testsupport::TTempDir empty;
  EXPECT_EQ(ListArchiveRoot(empty.Path())->Count(), 0);
  EXPECT_EQ(ListArchiveRoot(empty.File("missing"))->Count(), 0);
}

TEST(VfsRealFolders, AllRecordingsListEachNameOnceAsItResolves) {
  TRecordings r;
  auto all = ListAllRecordings(r.Root);
  std::vector<std::string> names = Names(*all);
  EXPECT_EQ(Sorted(names), (std::vector<std::string>{"a.wav", "b.WAV", "c.wav", "notes.txt"}));
  // The listed a.wav is the one that the fetch resolves to: same size.
  std::string resolved = FindRecordingPath(r.Root, "a.wav");
  ASSERT_FALSE(resolved.empty());
  int64_t listedSize = -1;
  for (const TFindEntry& e : all->Entries())
    if (e.Name == "a.wav") listedSize = e.Size;
  EXPECT_EQ(static_cast<int64_t>(testsupport::ReadWholeFile(resolved).size()), listedSize);
  EXPECT_EQ(FindRecordingPath(r.Root, "c.wav"), JoinPath(r.Ch146, "c.wav"));
  EXPECT_EQ(FindRecordingPath(r.Root, "stray.wav"), "");  // only files inside sub-folders
  EXPECT_EQ(FindRecordingPath(r.Root, ""), "");
}

TEST(VfsRealFolders, RecordingEntriesMapToRealFiles) {
  TRecordings r;
  EXPECT_EQ(RecordingPathOf(r.Root, ParseVfsPath("\\Channels\\145.000000 MHz\\a.wav")),
            JoinPath(r.Ch145, "a.wav"));
  EXPECT_EQ(RecordingPathOf(r.Root, ParseVfsPath("\\Archive\\146.000000 MHz\\c.wav")),
            JoinPath(r.Ch146, "c.wav"));
  EXPECT_EQ(RecordingPathOf(r.Root, ParseVfsPath("\\Archive\\*** all recordings\\c.wav")),
            JoinPath(r.Ch146, "c.wav"));
  EXPECT_EQ(RecordingPathOf(r.Root, ParseVfsPath("\\Archive\\..\\stray.wav")), "");
  EXPECT_EQ(RecordingPathOf(r.Root, ParseVfsPath("\\Status.txt")), "");
  EXPECT_EQ(ArchiveRecordingPath(r.Root, "146.000000 MHz", ""), r.Ch146);
  EXPECT_EQ(ChannelRecordingPath("", 1, "a.wav"), "");
  EXPECT_EQ(ArchiveRecordingPath(r.Root, "", "a.wav"), "");
}

TEST(SpectrumValue, BareNumbersAreMegahertzBelowTheLimit) {
  EXPECT_EQ(ParseSpectrumValue("145", 9001, -1), 145000000);
  EXPECT_EQ(ParseSpectrumValue("9001", 9001, -1), 9001);
  EXPECT_EQ(ParseSpectrumValue("145k", 9001, -1), 145000);
  EXPECT_EQ(ParseSpectrumValue("145.5M", 9001, -1), 145500000);
  EXPECT_EQ(ParseSpectrumValue("", 9001, -7), -7);
  EXPECT_EQ(ParseSpectrumValue("abc", 9001, -7), -7);
  EXPECT_EQ(ParseSpectrumValue("2", 201, -1), 2000000);
  EXPECT_EQ(ParseSpectrumValue("250", 201, -1), 250);
  // A bare fraction is scaled before it is rounded: 2.4 is 2.4 MHz, not 2 MHz.
  EXPECT_EQ(ParseSpectrumValue("2.4", 201, -1), 2400000);
  EXPECT_EQ(ParseSpectrumValue("144.5", 9001, -1), 144500000);
  EXPECT_EQ(ParseSpectrumValue("144,5", 9001, -1), 144500000);
  EXPECT_EQ(ParseSpectrumValue("0.5", 201, -1), 500000);
}

TEST(SpectrumEdit, EveryMessageAndTheRangeItLeaves) {
  struct TEdit {
    int Entry;
    const char* Text;
    int64_t Start, Stop;  // the range before
    const char* Message;  // "" for success
    int64_t NewStart, NewStop;
  };
  const TEdit edits[] = {
      {1, "x", 144000000, 146000000, "Not a frequency. Use plain Hz or a k/M/G suffix, e.g. 145.5M.", 0, 0},
      {2, "500 Hz", 144000000, 146000000, "Bandwidth must be at least 1 kHz.", 0, 0},
      {2, "500", 1000000000, 1002000000, "", 751000000, 1251000000},
      {3, "147M", 144000000, 146000000, "The stop frequency must be above the start frequency.", 0, 0},
      {4, "146M", 146000000, 148000000, "The stop frequency must be above the start frequency.", 0, 0},
      {1, "1M", 0, 4000000, "That would put the range below 0 Hz.", 0, 0},
      {1, "1M", 0, 2000000, "", 0, 2000000},
      {1, "150", 144000000, 146000000, "", 149000000, 151000000},
      {2, "1M", 144000000, 146000000, "", 144500000, 145500000},
      {3, "143.5", 144000000, 146000000, "", 143500000, 146000000},
      {4, "150M", 144000000, 146000000, "", 144000000, 150000000},
      {6, "5", 144000000, 146000000, "This entry is read-only.", 0, 0},
      {0, "5", 144000000, 146000000, "This entry is read-only.", 0, 0},
  };
  for (const TEdit& e : edits) {
    SCOPED_TRACE(std::to_string(e.Entry) + " " + e.Text);
    TTalvConfig cfg;
    cfg.StartHz = e.Start;
    cfg.StopHz = e.Stop;
    TTalvConfig before = cfg;
    std::string message = "stale";
    bool ok = ApplySpectrumEntry(cfg, e.Entry, e.Text, message);
    EXPECT_EQ(message, e.Message);
    EXPECT_EQ(ok, std::string(e.Message).empty());
    if (ok) {
      EXPECT_EQ(cfg.StartHz, e.NewStart);
      EXPECT_EQ(cfg.StopHz, e.NewStop);
    } else {
      EXPECT_EQ(cfg.StartHz, before.StartHz);
      EXPECT_EQ(cfg.StopHz, before.StopHz);
    }
  }
}

TEST(SpectrumEdit, SampleRateHasItsOwnLimitAndNoRangeCheck) {
  TTalvConfig cfg;
  std::string message;
  EXPECT_TRUE(ApplySpectrumEntry(cfg, 5, "2", message));
  EXPECT_EQ(cfg.SampleRate, 2000000);
  EXPECT_FALSE(ApplySpectrumEntry(cfg, 5, "99999", message));
  EXPECT_EQ(message, "Sample rate must be at least 100 kHz.");
  EXPECT_EQ(cfg.SampleRate, 2000000);
  EXPECT_TRUE(ApplySpectrumEntry(cfg, 5, "2.4", message));
  EXPECT_EQ(cfg.SampleRate, 2400000);
  EXPECT_TRUE(IsEditableSpectrumEntry(5));
  EXPECT_FALSE(IsEditableSpectrumEntry(6));
  EXPECT_EQ(SpectrumEntryFromName("Hops = 5"), 6);
  EXPECT_EQ(SpectrumEntryFromName("hops = 5"), 0);
}

TEST(Icons, IdsByKindAndTheActiveList) {
  EXPECT_EQ(IconIdForPath(ParseVfsPath("")), 1);
  EXPECT_EQ(IconIdForPath(ParseVfsPath("\\Config")), 10);
  EXPECT_EQ(IconIdForPath(ParseVfsPath("\\Config\\Gain = auto")), 11);
  EXPECT_EQ(IconIdForPath(ParseVfsPath("\\Spectrum\\Bandwidth = 2 MHz")), 11);
  EXPECT_EQ(IconIdForPath(ParseVfsPath("\\Spectrum\\*** live view.talvview")), 12);
  EXPECT_EQ(IconIdForPath(ParseVfsPath("\\Spectrum\\Hops\\x")), 13);
  EXPECT_EQ(IconIdForPath(ParseVfsPath("\\Archive")), 14);
  EXPECT_EQ(IconIdForPath(ParseVfsPath("\\Archive\\sub")), 16);
  EXPECT_EQ(IconIdForPath(ParseVfsPath("\\Stop Live Audio.cmd")), 21);
  EXPECT_EQ(IconIdForPath(ParseVfsPath("\\Live Audio.cmd")), 19);
  EXPECT_EQ(IconIdForPath(ParseVfsPath("\\Channels\\1.000000\\*** live audio.talvaudio")), 19);
  EXPECT_EQ(IconIdForPath(ParseVfsPath("\\Status.txt")), 20);
  EXPECT_EQ(IconIdForPath(ParseVfsPath("\\Spectrum\\*** live audio.talvaudio")), 0);
  EXPECT_EQ(IconIdForPath(ParseVfsPath("\\Nothing")), 0);
  EXPECT_EQ(LoadIconForPath(0, true), 0u);

  TChannelRecArray recs(3);
  recs[0].Hz = 145000000;
  recs[0].Active = 1;
  recs[1].Hz = 146000000;
  recs[2].Hz = 147000000;
  recs[2].Active = 1;
  RememberActiveChannels(recs);
  EXPECT_EQ(IconIdForPath(ParseVfsPath("\\Channels\\145.000000 MHz")), 15);
  EXPECT_EQ(IconIdForPath(ParseVfsPath("\\Channels\\146.000000 MHz")), 16);
  // A channel turned inactive keeps its icon until the next listing replaces the list.
  recs[0].Active = 0;
  EXPECT_TRUE(IsChannelActive(145000000));
  RememberActiveChannels(recs);
  EXPECT_FALSE(IsChannelActive(145000000));
  EXPECT_TRUE(IsChannelActive(147000000));
  RememberActiveChannels({});
}
