#include "uTalvConfig.h"

#include <gtest/gtest.h>

#include <clocale>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <string>

#include "TestSupport.h"
#include "pSystem.h"

// ---------------------------------------------------------------------------------------------
// The record and its key list

TEST(ConfigRecord, KeysInRecordOrder) {
  const char* expected[] = {
      "DeviceType",    "DeviceIndex",       "DeviceSerial", "DeviceName",  "StartHz",     "StopHz",
      "SampleRate",    "Modulation",        "SnrDb",        "GridHz",      "GainDb",      "PpmCorrection",
      "RecordAudio",   "RecordDir",         "MaxParallel",  "HangTimeMs",  "MinRecordMs", "NFft",
      "AvgSegments",   "SettleMs",          "RefreshSec",   "AudioRate",   "MaxDwellMs",  "IfRecording",
      "ThumbAllWav",   "MergeChannels",     "LastLiveHz",   "HackRfLnaDb", "HackRfVgaDb", "HackRfAmp",
      "HackRfBiasTee", "StopEngineOnUnload"};
  ASSERT_EQ(TalvConfigKeyCount, 32);
  for (int i = 0; i < 32; ++i) EXPECT_STREQ(TalvConfigKeys[i], expected[i]) << i;
  for (int i = 0; i < 32; ++i) EXPECT_STRNE(TalvConfigKeys[i], "SdrType");
}

TEST(ConfigRecord, DefaultsRestoreEveryField) {
  TTalvConfig c;
  // Spoil every field through its key, then check that the defaults come back.
  const char* spoil[] = {"hackrf", "3", "S1", "N1", "1M", "2M", "1M", "AM", "3", "5k", "7",
                         "9",      "0", "x",  "1",  "2",  "3",  "4",  "5",  "6", "7",  "8",
                         "9",      "1", "1",  "0",  "7M", "8",  "10", "1",  "1", "0"};
  for (int i = 0; i < 32; ++i) ASSERT_TRUE(ConfigSetKey(c, TalvConfigKeys[i], spoil[i])) << TalvConfigKeys[i];
  ConfigDefaults(c);
  EXPECT_EQ(c.DeviceType, "rtlsdr");
  EXPECT_EQ(c.DeviceIndex, 0);
  EXPECT_EQ(c.DeviceSerial, "");
  EXPECT_EQ(c.DeviceName, "");
  EXPECT_EQ(c.StartHz, 144000000);
  EXPECT_EQ(c.StopHz, 146000000);
  EXPECT_EQ(c.SampleRate, 2048000);
  EXPECT_EQ(c.Modulation, modNFM);
  EXPECT_EQ(c.SnrDb, 12.0);
  EXPECT_EQ(c.GridHz, 12500);
  EXPECT_EQ(c.GainDb, -1.0);
  EXPECT_EQ(c.PpmCorrection, 0);
  EXPECT_TRUE(c.RecordAudio);
  EXPECT_EQ(c.RecordDir, "");
  EXPECT_EQ(c.MaxParallel, 8);
  EXPECT_EQ(c.HangTimeMs, 2000);
  EXPECT_EQ(c.MinRecordMs, 1000);
  EXPECT_EQ(c.NFft, 4096);
  EXPECT_EQ(c.AvgSegments, 8);
  EXPECT_EQ(c.SettleMs, 30);
  EXPECT_EQ(c.RefreshSec, 5);
  EXPECT_EQ(c.AudioRate, 48000);
  EXPECT_EQ(c.MaxDwellMs, 10000);
  EXPECT_FALSE(c.IfRecording);
  EXPECT_FALSE(c.ThumbAllWav);
  EXPECT_TRUE(c.MergeChannels);
  EXPECT_EQ(c.LastLiveHz, 0);
  EXPECT_EQ(c.HackRfLnaDb, 16);
  EXPECT_EQ(c.HackRfVgaDb, 20);
  EXPECT_FALSE(c.HackRfAmp);
  EXPECT_FALSE(c.HackRfBiasTee);
  EXPECT_TRUE(c.StopEngineOnUnload);
}

// ---------------------------------------------------------------------------------------------
// ConfigSetKey

TEST(ConfigSetKey, KeysAreCaseSensitiveAndUnknownKeysChangeNothing) {
  TTalvConfig c;
  EXPECT_FALSE(ConfigSetKey(c, "starthz", "1M"));
  EXPECT_FALSE(ConfigSetKey(c, "STARTHZ", "1M"));
  EXPECT_FALSE(ConfigSetKey(c, "StartHz ", "1M"));
  EXPECT_FALSE(ConfigSetKey(c, "", "1M"));
  EXPECT_FALSE(ConfigSetKey(c, "ClientPid", "42"));
  EXPECT_EQ(c.StartHz, 144000000);
  EXPECT_TRUE(ConfigSetKey(c, "StartHz", "1M"));
  EXPECT_EQ(c.StartHz, 1000000);
}

TEST(ConfigSetKey, DeviceTypeIsLowerCasedAndRefusedKindsKeepTheOldOne) {
  TTalvConfig c;
  EXPECT_TRUE(ConfigSetKey(c, "DeviceType", " HackRF "));
  EXPECT_EQ(c.DeviceType, "hackrf");
  EXPECT_FALSE(ConfigSetKey(c, "DeviceType", "sim"));
  EXPECT_EQ(c.DeviceType, "hackrf");
  EXPECT_FALSE(ConfigSetKey(c, "DeviceType", ""));
  EXPECT_EQ(c.DeviceType, "hackrf");
  // SdrType is a second name for the same field, accepted on input.
  EXPECT_TRUE(ConfigSetKey(c, "SdrType", "RTLSDR"));
  EXPECT_EQ(c.DeviceType, "rtlsdr");
  EXPECT_FALSE(ConfigSetKey(c, "SdrType", "airspy"));
  EXPECT_EQ(c.DeviceType, "rtlsdr");
}

TEST(ConfigSetKey, TextFieldsAreTrimmedButOtherwiseKept) {
  TTalvConfig c;
  EXPECT_TRUE(ConfigSetKey(c, "DeviceSerial", "\t 0000 AbC \r\n"));
  EXPECT_EQ(c.DeviceSerial, "0000 AbC");
  EXPECT_TRUE(ConfigSetKey(c, "DeviceName", "  Empfänger №1 "));
  EXPECT_EQ(c.DeviceName, "Empfänger №1");
  EXPECT_TRUE(ConfigSetKey(c, "RecordDir", " D:\\Funk\\Aufnahmen\\ "));
  EXPECT_EQ(c.RecordDir, "D:\\Funk\\Aufnahmen\\");
  EXPECT_TRUE(ConfigSetKey(c, "RecordDir", ""));
  EXPECT_EQ(c.RecordDir, "");
}

TEST(ConfigSetKey, GainAcceptsAutoAndCommaAndKeepsItsValueOnGarbage) {
  TTalvConfig c;
  EXPECT_TRUE(ConfigSetKey(c, "GainDb", "10,5"));
  EXPECT_EQ(c.GainDb, 10.5);
  EXPECT_TRUE(ConfigSetKey(c, "GainDb", "x"));
  EXPECT_EQ(c.GainDb, 10.5);
  EXPECT_TRUE(ConfigSetKey(c, "GainDb", "AUTO"));
  EXPECT_EQ(c.GainDb, -1.0);
  EXPECT_TRUE(ConfigSetKey(c, "GainDb", "49.6"));
  EXPECT_TRUE(ConfigSetKey(c, "GainDb", " Auto "));
  EXPECT_EQ(c.GainDb, -1.0);
}

TEST(ConfigSetKey, NumbersThatDoNotParseKeepTheFieldAndStillReturnTrue) {
  TTalvConfig c;
  EXPECT_TRUE(ConfigSetKey(c, "SnrDb", "zwölf"));
  EXPECT_EQ(c.SnrDb, 12.0);
  EXPECT_TRUE(ConfigSetKey(c, "NFft", "4k"));
  EXPECT_EQ(c.NFft, 4096);
  EXPECT_TRUE(ConfigSetKey(c, "StopHz", "abc"));
  EXPECT_EQ(c.StopHz, 146000000);
  EXPECT_TRUE(ConfigSetKey(c, "Modulation", "FM"));
  EXPECT_EQ(c.Modulation, modNFM);
  EXPECT_TRUE(ConfigSetKey(c, "AudioRate", "44100.5"));
  EXPECT_EQ(c.AudioRate, 48000);
  EXPECT_TRUE(ConfigSetKey(c, "SnrDb", " 7,25 "));
  EXPECT_EQ(c.SnrDb, 7.25);
  EXPECT_TRUE(ConfigSetKey(c, "PpmCorrection", "-3"));
  EXPECT_EQ(c.PpmCorrection, -3);
  EXPECT_TRUE(ConfigSetKey(c, "Modulation", " usb "));
  EXPECT_EQ(c.Modulation, modUSB);
}

TEST(ConfigSetKey, IntegersBeyond32BitsKeepTheFieldInsteadOfWrapping) {
  TTalvConfig c;
  EXPECT_TRUE(ConfigSetKey(c, "MaxDwellMs", "4294977296"));  // 2^32 + 10000 would wrap to 10000
  EXPECT_EQ(c.MaxDwellMs, 10000);
  EXPECT_TRUE(ConfigSetKey(c, "HangTimeMs", "2147483648"));
  EXPECT_EQ(c.HangTimeMs, 2000);
  EXPECT_TRUE(ConfigSetKey(c, "HangTimeMs", "2147483647"));
  EXPECT_EQ(c.HangTimeMs, 2147483647);
  EXPECT_TRUE(ConfigSetKey(c, "PpmCorrection", "-2147483648"));
  EXPECT_EQ(c.PpmCorrection, -2147483647 - 1);
  // Int64 fields take the whole range.
  EXPECT_TRUE(ConfigSetKey(c, "LastLiveHz", "6000000000"));
  EXPECT_EQ(c.LastLiveHz, 6000000000LL);
}

TEST(ConfigSetKey, TheTwoBooleanFamiliesDifferOnlyOnYes) {
  const char* withYes[] = {"RecordAudio", "ThumbAllWav", "MergeChannels"};
  const char* withoutYes[] = {"IfRecording", "HackRfAmp", "HackRfBiasTee", "StopEngineOnUnload"};
  auto get = [](const TTalvConfig& c, const std::string& k) {
    if (k == "RecordAudio") return c.RecordAudio;
    if (k == "ThumbAllWav") return c.ThumbAllWav;
    if (k == "MergeChannels") return c.MergeChannels;
    if (k == "IfRecording") return c.IfRecording;
    if (k == "HackRfAmp") return c.HackRfAmp;
    if (k == "HackRfBiasTee") return c.HackRfBiasTee;
    return c.StopEngineOnUnload;
  };
  auto check = [&](const char* key, const char* value, bool expected) {
    TTalvConfig c;
    ConfigSetKey(c, key, expected ? "0" : "1");  // start from the opposite
    EXPECT_TRUE(ConfigSetKey(c, key, value));
    EXPECT_EQ(get(c, key), expected) << key << "=" << value;
  };
  for (const char* k : withYes) {
    for (const char* v : {"Yes", "YES", "yes", " yes ", "TRUE", "Ja", "1", "true"}) check(k, v, true);
    for (const char* v : {"0", "no", "", "2", "on", "-1", "1.0", "jaa"}) check(k, v, false);
  }
  for (const char* k : withoutYes) {
    for (const char* v : {"TRUE", "Ja", "JA", "1", " true "}) check(k, v, true);
    for (const char* v : {"yes", "Yes", "0", "no", "", "2", "on"}) check(k, v, false);
  }
}

// ---------------------------------------------------------------------------------------------
// Number texts

TEST(BoundRunSettings, DurationsAndTheAudioRateAreHeldToTheEnginesBounds) {
  TTalvConfig c;
  ConfigDefaults(c);
  const TTalvConfig defaults = c;
  BoundRunSettings(c);
  EXPECT_EQ(c.SettleMs, defaults.SettleMs);  // the defaults lie inside every bound
  EXPECT_EQ(c.HangTimeMs, defaults.HangTimeMs);
  EXPECT_EQ(c.MaxDwellMs, defaults.MaxDwellMs);
  EXPECT_EQ(c.AudioRate, defaults.AudioRate);

  c.SettleMs = 2147483647;
  c.HangTimeMs = 2147483647;
  c.MaxDwellMs = 2147483647;
  c.AudioRate = 2147483647;
  BoundRunSettings(c);
  EXPECT_EQ(c.SettleMs, kMaxSettleMs);
  EXPECT_EQ(c.HangTimeMs, kMaxHangTimeMs);
  EXPECT_EQ(c.MaxDwellMs, kMaxDwellLimitMs);
  EXPECT_EQ(c.AudioRate, kMaxAudioRate);

  c.SettleMs = -5;
  c.HangTimeMs = -2147483647 - 1;
  c.MaxDwellMs = -1;  // "no maximum" stays no maximum
  c.AudioRate = 0;
  BoundRunSettings(c);
  EXPECT_EQ(c.SettleMs, 0);
  EXPECT_EQ(c.HangTimeMs, 0);
  EXPECT_EQ(c.MaxDwellMs, 0);
  EXPECT_EQ(c.AudioRate, 48000);
  c.AudioRate = 100;
  BoundRunSettings(c);
  EXPECT_EQ(c.AudioRate, kMinAudioRate);
}

TEST(ParseHz, SuffixesCommasAndBlanks) {
  for (const char* t : {"2.048M", "2,048 MHz", "2048k", " 2048000 Hz ", "2048000", "2.048m", "2048 khz",
                        "0.002048G", "2048000hz", "\t2,048MHZ\r"})
    EXPECT_EQ(ParseHz(t, -1), 2048000) << t;
  EXPECT_EQ(ParseHz("1G", -1), 1000000000);
  EXPECT_EQ(ParseHz("12,5k", -1), 12500);
  EXPECT_EQ(ParseHz("-12.5k", -1), -12500);
  EXPECT_EQ(ParseHz("+5k", -1), 5000);
}

TEST(ParseHz, TextsWithoutANumberGiveTheDefault) {
  for (const char* t : {"Hz", "kHz", "abc", "", "   ", "M", "1.2.3M", "12 k Hz x", "1,5,0k", "--5", "+-5",
                        "0x10", "inf", "nan", "1e400"})
    EXPECT_EQ(ParseHz(t, 777), 777) << t;
}

TEST(ParseHz, HalvesGoToTheEvenNeighbour) {
  EXPECT_EQ(ParseHz("0.5", 9), 0);
  EXPECT_EQ(ParseHz("1.5", 9), 2);
  EXPECT_EQ(ParseHz("2.5", 9), 2);
  EXPECT_EQ(ParseHz("-2.5", 9), -2);
  EXPECT_EQ(ParseHz("0.0025k", 9), 2);  // 2.5 Hz
  EXPECT_EQ(ParseHz("2.4999", 9), 2);
  EXPECT_EQ(ParseHz("2.5001", 9), 3);
}

TEST(ParseHz, FrequenciesBeyondInt64GiveTheDefault) {
  EXPECT_EQ(ParseHz("9300000000G", 5), 5);
  EXPECT_EQ(ParseHz("-9300000000G", 5), 5);
  EXPECT_EQ(ParseHz("9000000000G", 5), 9000000000000000000LL);
}

TEST(ParseIntDefAndParseFloatDef, PlainDecimalsOnly) {
  EXPECT_EQ(ParseIntDef(" 42 ", 0), 42);
  EXPECT_EQ(ParseIntDef("-7", 0), -7);
  EXPECT_EQ(ParseIntDef("+7", 0), 7);
  EXPECT_EQ(ParseIntDef("9223372036854775807", 0), 9223372036854775807LL);
  for (const char* t : {"", "4.0", "4k", "x", "9223372036854775808", "1 2", "- 1"})
    EXPECT_EQ(ParseIntDef(t, 31), 31) << t;
  EXPECT_EQ(ParseFloatDef(" 10,5 ", 0), 10.5);
  EXPECT_EQ(ParseFloatDef("-0.25", 0), -0.25);
  EXPECT_EQ(ParseFloatDef("1e3", 0), 1000.0);
  EXPECT_EQ(ParseFloatDef(".5", 0), 0.5);
  for (const char* t : {"", "1,000.5", "12 dB", "nan", "inf", "-inf", "1e999", "x"})
    EXPECT_EQ(ParseFloatDef(t, 3.5), 3.5) << t;
}

TEST(RoundHalfEven, TiesAndLimits) {
  EXPECT_EQ(RoundHalfEven(0.5), 0);
  EXPECT_EQ(RoundHalfEven(1.5), 2);
  EXPECT_EQ(RoundHalfEven(2.5), 2);
  EXPECT_EQ(RoundHalfEven(-0.5), 0);
  EXPECT_EQ(RoundHalfEven(-1.5), -2);
  EXPECT_EQ(RoundHalfEven(-2.5), -2);
  EXPECT_EQ(RoundHalfEven(2.4999999999), 2);
  EXPECT_EQ(RoundHalfEven(-2.5000001), -3);
  EXPECT_EQ(RoundHalfEven(870400.0000000001), 870400);
  EXPECT_EQ(RoundHalfEven(4503599627370497.0), 4503599627370497LL);  // odd integer above 2^52
  EXPECT_EQ(RoundHalfEven(1e300), INT64_MAX);
  EXPECT_EQ(RoundHalfEven(-1e300), INT64_MIN);
  EXPECT_EQ(RoundHalfEven(0.0 / 0.0), 0);
}

TEST(FormatPoint, FixedDecimalsAndShortest) {
  EXPECT_EQ(FormatPoint(12.25, 1), "12.2");  // 12.25 is exact: the tie goes to even, as printf does
  EXPECT_EQ(FormatPoint(12.35, 1), "12.3");  // 12.35 is slightly below in binary
  EXPECT_EQ(FormatPoint(-3, 2), "-3.00");
  EXPECT_EQ(FormatPoint(2048000, 0), "2048000");
  EXPECT_EQ(FormatPoint(0.00005, 4), "0.0001");
  EXPECT_EQ(FormatPoint(1e300, 2).size(), 304u);
  EXPECT_EQ(FormatPoint(0.1, -1), "0.1");
  EXPECT_EQ(FormatPoint(-12.5, -1), "-12.5");
  EXPECT_EQ(FormatPoint(2048000.0, -1), "2048000");
  double back = 0;
  ASSERT_TRUE(ParsePoint(FormatPoint(1.0 / 3.0, -1), back));
  EXPECT_EQ(back, 1.0 / 3.0);
}

TEST(FormatPoint, MatchesPrintfInTheCLocale) {
  // The settings texts must read as the C run-time writes them with "%.Nf".
  const double values[] = {0.0, -0.04, 0.125, 1.005, 2.675, 99.95, -45.55, 123456.789, 1e-7};
  for (double v : values) {
    for (int d = 0; d <= 6; ++d) {
      char buf[64];
      std::snprintf(buf, sizeof(buf), "%.*f", d, v);
      EXPECT_EQ(FormatPoint(v, d), buf) << v << " " << d;
    }
  }
}

TEST(FormatHz, ShortFrequencyTexts) {
  EXPECT_EQ(FormatHz(12500), "12.5 kHz");
  EXPECT_EQ(FormatHz(2700), "2.7 kHz");
  EXPECT_EQ(FormatHz(256000), "256 kHz");
  EXPECT_EQ(FormatHz(2048000), "2.048 MHz");
  EXPECT_EQ(FormatHz(146000000), "146 MHz");
  EXPECT_EQ(FormatHz(999), "999 Hz");
  EXPECT_EQ(FormatHz(-12500), "-12.5 kHz");
  EXPECT_EQ(FormatHz(0), "0 Hz");
  EXPECT_EQ(FormatHz(1000), "1 kHz");
  EXPECT_EQ(FormatHz(1000000), "1 MHz");
  EXPECT_EQ(FormatHz(1001), "1.001 kHz");
  EXPECT_EQ(FormatHz(145012500), "145.0125 MHz");
  EXPECT_EQ(FormatHz(999999), "999.999 kHz");
  EXPECT_EQ(FormatHz(-999), "-999 Hz");
  EXPECT_EQ(FormatHz(INT64_MIN), "-9223372036854.775808 MHz");
}

TEST(Int64ToWide, DecimalText) {
  EXPECT_EQ(Int64ToWide(0), "0");
  EXPECT_EQ(Int64ToWide(-145012500), "-145012500");
  EXPECT_EQ(Int64ToWide(INT64_MAX), "9223372036854775807");
  EXPECT_EQ(Int64ToWide(INT64_MIN), "-9223372036854775808");
}

TEST(Modulation, TableNamesWidthsAndCutoffs) {
  EXPECT_EQ(ParseModulation(" usb ", modNFM), modUSB);
  EXPECT_EQ(ParseModulation("FM", modAM), modAM);
  EXPECT_EQ(ParseModulation("wfm", modNFM), modWFM);
  EXPECT_EQ(ParseModulation("Lsb", modNFM), modLSB);
  EXPECT_EQ(ParseModulation("am", modNFM), modAM);
  EXPECT_EQ(ParseModulation("N FM", modUSB), modUSB);
  const char* names[] = {"NFM", "WFM", "AM", "LSB", "USB"};
  const double widths[] = {12500, 256000, 8000, 2700, 2700};
  const double cutoffs[] = {5000, 15000, 4000, 3000, 3000};
  for (int i = 0; i < 5; ++i) {
    TModulation m = static_cast<TModulation>(i);
    EXPECT_EQ(ModulationName(m), names[i]);
    EXPECT_EQ(ModulationWidthHz(m), widths[i]);
    EXPECT_EQ(ModulationCutoffHz(m), cutoffs[i]);
    EXPECT_EQ(ParseModulation(names[i], static_cast<TModulation>(7)), m);
  }
  // Values outside the table count as NFM.
  for (int v : {5, 7, 255}) {
    TModulation m = static_cast<TModulation>(v);
    EXPECT_EQ(ModulationName(m), "NFM");
    EXPECT_EQ(ModulationWidthHz(m), 12500.0);
    EXPECT_EQ(ModulationCutoffHz(m), 5000.0);
  }
}

// ---------------------------------------------------------------------------------------------
// Locale independence

namespace {

// Switches the whole C run-time to a German locale (decimal comma) for one scope.
class TGermanLocale {
 public:
  TGermanLocale() {
    const char* old = std::setlocale(LC_ALL, nullptr);
    FOld = old ? old : "C";
    for (const char* name : {"de_DE.UTF-8", "de_DE.utf8", "German_Germany.1252", "de-DE", "deu"}) {
      if (std::setlocale(LC_ALL, name)) {
        FActive = true;
        break;
      }
    }
  }
  ~TGermanLocale() { std::setlocale(LC_ALL, FOld.c_str()); }
  bool Active() const { return FActive; }

 private:
  std::string FOld;
  bool FActive = false;
};

}  // namespace

TEST(LocaleIndependence, GermanDecimalCommaChangesNothing) {
  TGermanLocale german;
  if (!german.Active()) {
    if (testsupport::InCI()) FAIL() << "no German locale: the locale test cannot run";
    GTEST_SKIP() << "no German locale installed (scripts/setup.sh adds de_DE.UTF-8)";
  }
  // Prove the locale is really in force: the C run-time's decimal separator is now a comma.
  ASSERT_STREQ(std::localeconv()->decimal_point, ",");

  EXPECT_EQ(ParseHz("2.048M", -1), 2048000);
  EXPECT_EQ(ParseHz("2,048 MHz", -1), 2048000);
  EXPECT_EQ(ParseHz("12,5k", -1), 12500);
  EXPECT_EQ(ParseHz("1.000M", -1), 1000000);  // "." is never a thousands separator
  EXPECT_EQ(ParseFloatDef("10.5", 0), 10.5);
  EXPECT_EQ(ParseFloatDef("10,5", 0), 10.5);
  EXPECT_EQ(ParseFloatDef("1.234,5", 7), 7.0);
  EXPECT_EQ(FormatPoint(10.5, 1), "10.5");
  EXPECT_EQ(FormatPoint(-0.125, 3), "-0.125");
  EXPECT_EQ(FormatPoint(1234567.0, 0), "1234567");
  EXPECT_EQ(FormatPoint(0.1, -1), "0.1");
  EXPECT_EQ(FormatHz(2048000), "2.048 MHz");
  EXPECT_EQ(Int64ToWide(-1234567), "-1234567");
  TTalvConfig c;
  EXPECT_TRUE(ConfigSetKey(c, "GainDb", "33.8"));
  EXPECT_EQ(c.GainDb, 33.8);
  EXPECT_TRUE(ConfigSetKey(c, "SnrDb", "7,5"));
  EXPECT_EQ(c.SnrDb, 7.5);
  EXPECT_TRUE(ConfigSetKey(c, "SampleRate", "2.4M"));
  EXPECT_EQ(c.SampleRate, 2400000);
}

// ---------------------------------------------------------------------------------------------
// Hop plan

TEST(UsableSpan, EdgeFractionOutsideItsRangeCountsAs0075) {
  EXPECT_EQ(UsableSpan(2000000, 0.0), 2000000.0);
  EXPECT_EQ(UsableSpan(2000000, 0.5), UsableSpan(2000000, 0.075));
  EXPECT_EQ(UsableSpan(2000000, -0.1), UsableSpan(2000000, 0.075));
  EXPECT_EQ(UsableSpan(2000000, 0.45), UsableSpan(2000000, 0.075));
  EXPECT_EQ(UsableSpan(2000000, 0.0 / 0.0), UsableSpan(2000000, 0.075));
  EXPECT_DOUBLE_EQ(UsableSpan(2000000, 0.075), 1700000.0);
  EXPECT_DOUBLE_EQ(UsableSpan(2000000, 0.25), 1000000.0);
}

TEST(BuildHops, DefaultRangeGivesTwoOverlappingHopsCutAtTheEnds) {
  TScanHopArray hops;
  BuildHops(hops, 144000000, 146000000, 2048000, 0.075);
  ASSERT_EQ(hops.size(), 2u);
  // Span 0.85 x 2048000 = 1740800, half 870400; centres at a quarter and three quarters of the range.
  EXPECT_EQ(hops[0].CenterHz, 144500000);
  EXPECT_EQ(hops[0].LoHz, 144000000);
  EXPECT_EQ(hops[0].HiHz, 145370400);
  EXPECT_EQ(hops[0].WidthHz, 1370400);
  EXPECT_EQ(hops[1].CenterHz, 145500000);
  EXPECT_EQ(hops[1].LoHz, 144629600);
  EXPECT_EQ(hops[1].HiHz, 146000000);
  EXPECT_EQ(hops[1].WidthHz, 1370400);
  // Neighbours overlap by the part of the span that the even split (step 1 MHz) does not need.
  EXPECT_EQ(hops[0].HiHz - hops[1].LoHz, 1740800 - 1000000);
}

TEST(BuildHops, EmptyRangesAndUnusableRatesGiveNoHops) {
  TScanHopArray hops(3);
  BuildHops(hops, 145000000, 145000000, 2048000, 0.075);
  EXPECT_TRUE(hops.empty());
  hops.resize(2);
  BuildHops(hops, 146000000, 144000000, 2048000, 0.075);
  EXPECT_TRUE(hops.empty());
  BuildHops(hops, 144000000, 146000000, 0, 0.075);
  EXPECT_TRUE(hops.empty());
  BuildHops(hops, 144000000, 146000000, -2048000, 0.075);
  EXPECT_TRUE(hops.empty());
  BuildHops(hops, 144000000, 146000000, 0.0 / 0.0, 0.075);
  EXPECT_TRUE(hops.empty());
}

TEST(BuildHops, NarrowRangeGivesOneHopOnItsMiddle) {
  TScanHopArray hops;
  BuildHops(hops, 145000000, 145100000, 2048000, 0.075);
  ASSERT_EQ(hops.size(), 1u);
  EXPECT_EQ(hops[0].CenterHz, 145050000);
  EXPECT_EQ(hops[0].LoHz, 145000000);
  EXPECT_EQ(hops[0].HiHz, 145100000);
  EXPECT_EQ(hops[0].WidthHz, 100000);
  BuildHops(hops, 145000000, 145000003, 2048000, 0.075);  // odd width: centre rounds toward zero
  ASSERT_EQ(hops.size(), 1u);
  EXPECT_EQ(hops[0].CenterHz, 145000001);
}

TEST(BuildHops, ExactlyOneSpanIsOneHopAndOneHertzMoreIsTwo) {
  TScanHopArray hops;
  BuildHops(hops, 100000000, 102000000, 2000000, 0.0);
  ASSERT_EQ(hops.size(), 1u);
  EXPECT_EQ(hops[0].CenterHz, 101000000);
  EXPECT_EQ(hops[0].LoHz, 100000000);
  EXPECT_EQ(hops[0].HiHz, 102000000);
  BuildHops(hops, 100000000, 102000001, 2000000, 0.0);
  ASSERT_EQ(hops.size(), 2u);
  EXPECT_EQ(hops[0].LoHz, 100000000);
  EXPECT_EQ(hops[1].HiHz, 102000001);
}

TEST(BuildHops, HopsRiseAndCoverTheRangeWithoutGaps) {
  struct TCase {
    int64_t Start, Stop;
    double Rate, Edge;
  } cases[] = {{88000000, 108000000, 2400000, 0.1},   {144000000, 146000000, 1000000, 0.075},
               {400000000, 470000000, 20000000, 0.2}, {1000, 1000000000, 10000000, 0.0},
               {50000000, 50000017, 3, 0.0},          {-5000000, 5000000, 2048000, 0.075}};
  for (const TCase& k : cases) {
    TScanHopArray hops;
    BuildHops(hops, k.Start, k.Stop, k.Rate, k.Edge);
    ASSERT_FALSE(hops.empty());
    const double span = UsableSpan(k.Rate, k.Edge);
    EXPECT_EQ(hops.size(), static_cast<size_t>(std::ceil((double(k.Stop) - double(k.Start)) / span)));
    EXPECT_EQ(hops.front().LoHz, k.Start);
    EXPECT_EQ(hops.back().HiHz, k.Stop);
    for (size_t i = 0; i < hops.size(); ++i) {
      EXPECT_EQ(hops[i].WidthHz, hops[i].HiHz - hops[i].LoHz);
      EXPECT_LE(hops[i].LoHz, hops[i].CenterHz);
      EXPECT_GE(hops[i].HiHz, hops[i].CenterHz);
      EXPECT_LE(hops[i].WidthHz, RoundHalfEven(span * 0.5) * 2);
      if (i > 0) {
        EXPECT_GT(hops[i].CenterHz, hops[i - 1].CenterHz);
        EXPECT_LE(hops[i].LoHz, hops[i - 1].HiHz) << "gap before hop " << i;
      }
    }
  }
}

TEST(BuildHops, PlansNeedingMoreThan65536HopsAreRefused) {
  TScanHopArray hops;
  BuildHops(hops, 0, 65536, 1.0, 0.0);  // span 1 Hz: exactly the limit
  EXPECT_EQ(hops.size(), 65536u);
  BuildHops(hops, 0, 65537, 1.0, 0.0);
  EXPECT_TRUE(hops.empty());
  // A rate typed in MHz instead of Hz must not try to allocate a billion hops.
  BuildHops(hops, 24000000, 1766000000, 2.048, 0.075);
  EXPECT_TRUE(hops.empty());
}

// ---------------------------------------------------------------------------------------------
// Module folder and recordings folder

TEST(ExeDir, IsThisProgramsFolderWithASeparator) {
  const std::string dir = ExeDir();
  ASSERT_FALSE(dir.empty());
  EXPECT_EQ(dir.back(), plat::PathSeparator());
  EXPECT_EQ(dir, plat::ModuleDir());
  EXPECT_EQ(ResolveRecordDir(""), dir + "recordings");
  EXPECT_EQ(ResolveRecordDir("  \t"), dir + "recordings");
  EXPECT_EQ(ResolveRecordDir("rec"), dir + "rec");
}

TEST(ResolveRecordDir, WindowsRules) {
  const std::string exe = "C:\\Tools\\Talv\\";
  auto r = [&](const char* t) { return ResolveRecordDirIn(t, exe, true); };
  EXPECT_EQ(r(""), "C:\\Tools\\Talv\\recordings");
  EXPECT_EQ(r("C:\\rec\\"), "C:\\rec");
  EXPECT_EQ(r(" D:\\Funk\\Aufnahmen "), "D:\\Funk\\Aufnahmen");
  EXPECT_EQ(r("\\rec"), "C:\\rec");
  EXPECT_EQ(r("rec"), "C:\\Tools\\Talv\\rec");
  EXPECT_EQ(r("rec\\sub/"), "C:\\Tools\\Talv\\rec\\sub");
  EXPECT_EQ(r("\\\\server\\share"), "\\\\server\\share");
  EXPECT_EQ(r("\\\\server\\share\\"), "\\\\server\\share");
  EXPECT_EQ(r("C:rec"), "C:\\Tools\\Talv\\C:rec");  // drive-relative is taken as relative
  // Only one trailing separator goes.
  EXPECT_EQ(r("E:\\rec\\\\"), "E:\\rec\\");
  // A drive root keeps its backslash: "E:" alone would mean the current folder of drive E.
  EXPECT_EQ(r("E:\\"), "E:\\");
  // Windows reads "/" as "\": these are absolute, not relative to the module.
  EXPECT_EQ(r("E:/rec"), "E:/rec");
  EXPECT_EQ(r("//server/share"), "//server/share");
  // A module on a network share: "\rec" hangs from the share, not from "\\".
  EXPECT_EQ(ResolveRecordDirIn("\\rec", "\\\\nas\\tools\\talv\\", true), "\\\\nas\\tools\\rec");
}

TEST(ResolveRecordDir, PosixRules) {
  const std::string exe = "/opt/talv/";
  auto r = [&](const char* t) { return ResolveRecordDirIn(t, exe, false); };
  EXPECT_EQ(r(""), "/opt/talv/recordings");
  EXPECT_EQ(r("rec"), "/opt/talv/rec");
  EXPECT_EQ(r("/srv/rec/"), "/srv/rec");
  EXPECT_EQ(r(" /srv/rec "), "/srv/rec");
  EXPECT_EQ(r("/"), "/");
  EXPECT_EQ(r("a/b"), "/opt/talv/a/b");
}

TEST(JoinPath, ExactlyOneSeparator) {
  const std::string sep(1, plat::PathSeparator());
  EXPECT_EQ(JoinPath("dir", "f.wav"), "dir" + sep + "f.wav");
  EXPECT_EQ(JoinPath("dir" + sep, "f.wav"), "dir" + sep + "f.wav");
  EXPECT_EQ(JoinPath("dir/", "f.wav"), "dir/f.wav");
  EXPECT_EQ(JoinPath("", "f.wav"), "f.wav");
}
