#include "uOptions.h"

#include <gtest/gtest.h>

#include <clocale>
#include <string>
#include <vector>

namespace {
// A command line as the program sees it: parameter 0 is the program itself.
std::vector<std::string> Cmd(std::initializer_list<const char*> params) {
  std::vector<std::string> a{"talvoran_engine"};
  for (const char* p : params) a.emplace_back(p);
  return a;
}
}  // namespace

TEST(HasOption, FlagsAreCaseInsensitiveWithOneOrTwoDashes) {
  EXPECT_TRUE(HasOption(Cmd({"--quiet"}), "quiet"));
  EXPECT_TRUE(HasOption(Cmd({"--QUIET"}), "quiet"));
  EXPECT_TRUE(HasOption(Cmd({"-LIST"}), "list"));
  EXPECT_TRUE(HasOption(Cmd({"x", "-Scan", "y"}), "scan"));
  EXPECT_FALSE(HasOption(Cmd({"--quiet=1"}), "quiet"));
  EXPECT_FALSE(HasOption(Cmd({"quiet"}), "quiet"));
  EXPECT_FALSE(HasOption(Cmd({"---quiet"}), "quiet"));
  EXPECT_FALSE(HasOption(Cmd({"--quiet "}), "quiet"));
  // Exact words: --selftest-demod is not --selftest, and the reverse.
  EXPECT_FALSE(HasOption(Cmd({"--selftest-demod"}), "selftest"));
  EXPECT_FALSE(HasOption(Cmd({"--selftest"}), "selftest-demod"));
  // Parameter 0 is the program, never an option.
  EXPECT_FALSE(HasOption(std::vector<std::string>{"--list"}, "list"));
  EXPECT_FALSE(HasOption(std::vector<std::string>{}, "list"));
}

TEST(GetOption, KeyInAnyCaseValueAsTypedFirstWins) {
  EXPECT_EQ(GetOption(Cmd({"--Rate=1M"}), "rate", ""), "1M");
  EXPECT_EQ(GetOption(Cmd({"--serial=AbC"}), "serial", ""), "AbC");
  EXPECT_EQ(GetOption(Cmd({"--start=144M", "--start=150M"}), "start", ""), "144M");
  EXPECT_EQ(GetOption(Cmd({"--wav=C:\\a b\\x=y.wav"}), "wav", ""), "C:\\a b\\x=y.wav");
  EXPECT_EQ(GetOption(Cmd({"--sdr= hackrf "}), "sdr", "rtlsdr"), " hackrf ");
}

TEST(GetOption, AbsentOrEmptyValuesGiveTheDefault) {
  EXPECT_EQ(GetOption(Cmd({"--rate="}), "rate", "dflt"), "dflt");
  EXPECT_EQ(GetOption(Cmd({"--rate=", "--rate=2M"}), "rate", ""), "2M");  // an empty one is skipped
  EXPECT_EQ(GetOption(Cmd({"-rate=1M"}), "rate", ""), "");                // values need two dashes
  EXPECT_EQ(GetOption(Cmd({"--rate"}), "rate", "x"), "x");
  EXPECT_EQ(GetOption(Cmd({"--rates=1"}), "rate", "x"), "x");
  EXPECT_EQ(GetOption(Cmd({}), "mod", "NFM"), "NFM");
  EXPECT_EQ(GetOption(std::vector<std::string>{"--rate=1M"}, "rate", "p0"), "p0");
}

TEST(ProgramArgs, TheShortFormsReadTheStoredCommandLine) {
  SetProgramArgs(Cmd({"--Scan", "--grid=12.5k"}));
  EXPECT_TRUE(HasOption("scan"));
  EXPECT_FALSE(HasOption("live"));
  EXPECT_EQ(GetOption("grid", ""), "12.5k");
  EXPECT_EQ(ProgramArgs().size(), 3u);
  SetProgramArgs({});
  EXPECT_FALSE(HasOption("scan"));
}

TEST(ParseFreq, SuffixesCommasAndRounding) {
  EXPECT_EQ(ParseFreq("144M", 0), 144000000);
  EXPECT_EQ(ParseFreq("144m", 0), 144000000);
  EXPECT_EQ(ParseFreq("2048k", 0), 2048000);
  EXPECT_EQ(ParseFreq("12,5k", 0), 12500);
  EXPECT_EQ(ParseFreq("12.5K", 0), 12500);
  EXPECT_EQ(ParseFreq("2,4M", 0), 2400000);
  EXPECT_EQ(ParseFreq(" 2048000 ", 0), 2048000);
  EXPECT_EQ(ParseFreq("1.2g", 0), 1200000000);
  EXPECT_EQ(ParseFreq("2.5", 0), 2);
  EXPECT_EQ(ParseFreq("3.5", 0), 4);
  EXPECT_EQ(ParseFreq("-1.5", 0), -2);
  for (const char* t : {"", "  ", "abc", "M", "144MHz", "144 M", "1,2,3", "nan", "1e30G"})
    EXPECT_EQ(ParseFreq(t, 99), 99) << t;
}

TEST(ParseFloatAndParseInt, NumbersAndDefaults) {
  EXPECT_EQ(ParseFloat("-75", 0), -75.0);
  EXPECT_EQ(ParseFloat(" 10,5 ", 0), 10.5);
  EXPECT_EQ(ParseFloat("1k", 7), 7.0);  // no multiplier here
  EXPECT_EQ(ParseFloat("", 7), 7.0);
  EXPECT_EQ(ParseInt("600", 0), 600);
  EXPECT_EQ(ParseInt(" -3 ", 0), -3);
  for (const char* t : {"", "1.5", "x", "4k", "2147483648", "-2147483649"})
    EXPECT_EQ(ParseInt(t, 600), 600) << t;
  EXPECT_EQ(ParseInt("2147483647", 0), 2147483647);
}

TEST(ParseFreq, GermanLocaleChangesNothing) {
  const char* old = std::setlocale(LC_ALL, nullptr);
  const std::string saved = old ? old : "C";
  bool active = false;
  for (const char* name : {"de_DE.UTF-8", "de_DE.utf8", "German_Germany.1252", "de-DE"})
    if (std::setlocale(LC_ALL, name)) {
      active = true;
      break;
    }
  if (!active) GTEST_SKIP() << "no German locale installed";
  EXPECT_EQ(ParseFreq("2.4M", 0), 2400000);
  EXPECT_EQ(ParseFreq("2,4M", 0), 2400000);
  EXPECT_EQ(ParseFloat("12.5", 0), 12.5);
  std::setlocale(LC_ALL, saved.c_str());
}
