#include "uLog.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <regex>
#include <set>
#include <string>
#include <vector>

#include "TestSupport.h"
#include "pFile.h"
#include "pSystem.h"
#include "pThread.h"

#if !defined(_WIN32)
#include <unistd.h>
#endif

using namespace testsupport;

namespace {

// Every case logs into a file of its own temporary folder and leaves the log off.
class LogTest : public ::testing::Test {
 protected:
  void SetUp() override {
    FPath = FDir.File("talvoran_engine.log");
    SetLogPathForTest(FPath);
  }
  void TearDown() override {
    SetLogEnabled(false);
    SetLogPathForTest("");
  }
  TTempDir FDir;
  std::string FPath;
};

// Splits the file into CR LF lines; a line without its CR LF fails the test.
std::vector<std::string> LogLines(const std::string& bytes) {
  std::vector<std::string> lines;
  size_t pos = 0;
  while (pos < bytes.size()) {
    size_t end = bytes.find("\r\n", pos);
    EXPECT_NE(end, std::string::npos) << "unterminated line: " << bytes.substr(pos);
    if (end == std::string::npos) break;
    lines.push_back(bytes.substr(pos, end - pos));
    pos = end + 2;
  }
  return lines;
}

const std::regex kLineShape(R"(^([01]\d|2[0-3]):[0-5]\d:[0-5]\d\.\d{3} \[tid=[ \d]{4}\d\] (.*)$)");

std::string TidField(uint32_t tid) {
  char buf[32];
  std::snprintf(buf, sizeof(buf), "[tid=%5u]", tid);
  return buf;
}

}  // namespace

TEST(LogLineFormat, TimeThreadAndMessage) {
  EXPECT_EQ(FormatLogLine(9, 5, 3, 7, 42, "scanner: 2 hops"), "09:05:03.007 [tid=   42] scanner: 2 hops");
  EXPECT_EQ(FormatLogLine(23, 59, 59, 999, 123456, "x"), "23:59:59.999 [tid=123456] x");
  EXPECT_EQ(FormatLogLine(0, 0, 0, 0, 0, ""), "00:00:00.000 [tid=    0] ");
  // A message is never taken as a format.
  EXPECT_EQ(FormatLogLine(1, 2, 3, 4, 5, "100%s %d"), "01:02:03.004 [tid=    5] 100%s %d");
}

TEST(FormatText, PrintfRulesAndNoLengthLimit) {
  EXPECT_EQ(FormatText("device index %d out of range (%d present)", 3, 2),
            "device index 3 out of range (2 present)");
  EXPECT_EQ(FormatText("set_center_freq(%lld) failed (%d)", -5LL, -1), "set_center_freq(-5) failed (-1)");
  EXPECT_EQ(FormatText("%.0f S/s", 2048000.0), "2048000 S/s");
  EXPECT_EQ(FormatText("%s", ""), "");
  // Texts beyond the first buffer come back whole, not cut.
  const std::string longName(700, 'x');
  EXPECT_EQ(FormatText("[%s] %d", longName.c_str(), 42), "[" + longName + "] 42");
  EXPECT_EQ(FormatText("%d%%", 5), "5%");
}

// Sets the separator FormatLocal uses for one test and reads it from the system again afterwards.
class TSeparator {
 public:
  explicit TSeparator(const std::string& s) { SetLocalDecimalSeparatorForTest(s); }
  ~TSeparator() { SetLocalDecimalSeparatorForTest(""); }
};

TEST(FormatLocal, FloatsTakeTheUsersSeparatorAndNothingElseChanges) {
  TSeparator comma(",");
  EXPECT_EQ(FormatLocal("# hop %d/%d  %s  noise %.1f dBFS", 3, 12, "145.500000 MHz", -97.25),
            "# hop 3/12  145.500000 MHz  noise -97,2 dBFS");
  EXPECT_EQ(FormatLocal("HIT\t%lld\t%lld\t%.1f\t%.1f\t%.1f", 145187500LL, 145187620LL, 24.56, -35.0, -60.04),
            "HIT\t145187500\t145187620\t24,6\t-35,0\t-60,0");
  EXPECT_EQ(FormatLocal("%.0f S/s, %5.2f|%-8.3e|%g|%G", 2048000.0, 3.14159, 1234.5, 0.5, 1e-10),
            "2048000 S/s,  3,14|1,234e+03|0,5|1E-10");
  EXPECT_EQ(FormatLocal("%*.*f|%.*f|%*d", 8, 2, 1.5, 3, 2.0, 4, 7), "    1,50|2,000|   7");
  EXPECT_EQ(FormatLocal("%zu %u %x %c %% %s %.2f", size_t{42}, 7u, 255u, 'A', "1.5", 1.0),
            "42 7 ff A % 1.5 1,00");
  const std::string longName(700, 'x');
  EXPECT_EQ(FormatLocal("[%s] %.1f", longName.c_str(), 0.25), "[" + longName + "] 0,2");
  TSeparator arabic("\xD9\xAB");  // a separator of two bytes
  EXPECT_EQ(FormatLocal("%.2f", -0.5),
            "-0\xD9\xAB"
            "50");
}

TEST(FormatLocal, APointSeparatorIsPrintfAndTheLogFollowsTheUsersSeparator) {
  {
    TSeparator point(".");
    EXPECT_EQ(FormatLocal("%.3f %s %d", 1.5, "a.b", 3), FormatText("%.3f %s %d", 1.5, "a.b", 3));
  }
  testsupport::TTempDir dir;
  SetLogPathForTest(dir.File("talvoran_engine.log"));
  SetLogEnabled(true);
  {
    TSeparator comma(",");
    LogFmt("agc: gain %.1f dB on %s", 33.8, "145.500000 MHz");
  }
  SetLogEnabled(false);
  CloseLog();
  SetLogPathForTest("");
  const std::string text = ReadWholeFile(dir.File("talvoran_engine.log"));
  EXPECT_NE(text.find("] agc: gain 33,8 dB on 145.500000 MHz\r\n"), std::string::npos) << text;
}

#if !defined(_WIN32)
TEST(FormatLocal, TheSeparatorIsTheOneTheEnvironmentsLocaleNames) {
  // The program's own C locale stays untouched; the user's locale comes from the environment.
  const std::string saved = plat::GetEnv("LC_ALL");
  plat::SetEnv("LC_ALL", "de_DE.UTF-8");
  const std::string german = plat::UserDecimalSeparator();
  plat::SetEnv("LC_ALL", "C");
  const std::string c = plat::UserDecimalSeparator();
  if (saved.empty())
    plat::UnsetEnv("LC_ALL");
  else
    plat::SetEnv("LC_ALL", saved);
  EXPECT_EQ(c, ".");
  if (german == ".") {
    if (testsupport::InCI()) FAIL() << "no German locale: the separator test cannot run";
    GTEST_SKIP() << "no German locale installed (scripts/setup.sh adds de_DE.UTF-8)";
  }
  EXPECT_EQ(german, ",");
  EXPECT_EQ(FormatText("%.1f", 1.5), "1.5");  // printf itself never changed
}
#endif

TEST(LogFilePath, BesideTheProgram) {
  EXPECT_EQ(LogFilePath(), plat::ModuleDir() + "talvoran_engine.log");
}

TEST_F(LogTest, OffWritesNothingAndCreatesNoFile) {
  SetLogEnabled(false);
  EXPECT_FALSE(LogIsEnabled());
  LogFmt("scanner: %d hops", 2);
  WriteLogLine("service: hello");
  CloseLog();
  EXPECT_FALSE(plat::FileExists(FPath));
}

TEST_F(LogTest, OnWritesOneWellFormedLinePerCall) {
  SetLogEnabled(true);
  EXPECT_TRUE(LogIsEnabled());
  EXPECT_FALSE(plat::FileExists(FPath)) << "opened before the first line";
  LogFmt("scanner: %d hops, rate=%.0f, simd=%s", 2, 2048000.0, "sse2");
  LogFmt("agc: %lld Hz", 145012500LL);
  WriteLogLine("service: 100% done");
  CloseLog();
  const std::vector<std::string> lines = LogLines(ReadWholeFile(FPath));
  ASSERT_EQ(lines.size(), 3u);
  const char* messages[] = {"scanner: 2 hops, rate=2048000, simd=sse2", "agc: 145012500 Hz",
                            "service: 100% done"};
  for (size_t i = 0; i < 3; ++i) {
    std::smatch m;
    ASSERT_TRUE(std::regex_match(lines[i], m, kLineShape)) << lines[i];
    EXPECT_EQ(m[2].str(), messages[i]);
    EXPECT_NE(lines[i].find(TidField(plat::CurrentThreadId())), std::string::npos) << lines[i];
  }
}

TEST_F(LogTest, AppendsToAnExistingFileAndReopensAfterClose) {
  ASSERT_TRUE(WriteWholeFile(FPath, "earlier run\r\n"));
  SetLogEnabled(true);
  WriteLogLine("service: first");
  CloseLog();
  WriteLogLine("service: second");  // the next line opens the file again
  CloseLog();
  const std::vector<std::string> lines = LogLines(ReadWholeFile(FPath));
  ASSERT_EQ(lines.size(), 3u);
  EXPECT_EQ(lines[0], "earlier run");
  EXPECT_TRUE(lines[1].ends_with("] service: first")) << lines[1];
  EXPECT_TRUE(lines[2].ends_with("] service: second")) << lines[2];
}

TEST_F(LogTest, SwitchingOffStopsLinesAndOnAgainGoesOn) {
  SetLogEnabled(true);
  WriteLogLine("a: 1");
  SetLogEnabled(false);
  WriteLogLine("a: 2");
  LogFmt("a: %d", 3);
  SetLogEnabled(true);
  WriteLogLine("a: 4");
  CloseLog();
  const std::vector<std::string> lines = LogLines(ReadWholeFile(FPath));
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_TRUE(lines[0].ends_with("a: 1"));
  EXPECT_TRUE(lines[1].ends_with("a: 4"));
}

TEST_F(LogTest, LongMessagesAreWrittenWhole) {
  SetLogEnabled(true);
  const std::string big(5000, 'x');
  LogFmt("dwell: %s|%d", big.c_str(), 7);
  CloseLog();
  const std::vector<std::string> lines = LogLines(ReadWholeFile(FPath));
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_TRUE(lines[0].ends_with("] dwell: " + big + "|7"));
}

TEST_F(LogTest, FallsBackToTempWhenTheFolderCannotBeWritten) {
  TTempDir temp;
  const std::string oldTemp = plat::GetEnv("TEMP");
  const bool hadTemp = plat::HasEnv("TEMP");
  plat::SetEnv("TEMP", temp.Path());
  // A folder that does not exist cannot take the file.
  SetLogPathForTest(FDir.File("missing") + plat::PathSeparator() + "talvoran_engine.log");
  SetLogEnabled(true);
  WriteLogLine("service: into temp");
  WriteLogLine("service: still there");
  CloseLog();
  if (hadTemp)
    plat::SetEnv("TEMP", oldTemp);
  else
    plat::UnsetEnv("TEMP");
  const std::vector<std::string> lines = LogLines(ReadWholeFile(temp.File("talvoran_engine.log")));
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_TRUE(lines[0].ends_with("] service: into temp"));
  EXPECT_TRUE(lines[1].ends_with("] service: still there"));
}

#if !defined(_WIN32)
// Saves an environment variable and puts it back (unset when it was unset).
class TEnvRestore {
 public:
  explicit TEnvRestore(std::string name)
      : FName(std::move(name)), FHad(plat::HasEnv(FName)), FValue(plat::GetEnv(FName)) {}
  ~TEnvRestore() {
    if (FHad)
      plat::SetEnv(FName, FValue);
    else
      plat::UnsetEnv(FName);
  }

 private:
  std::string FName;
  bool FHad;
  std::string FValue;
};

TEST_F(LogTest, WithoutATempFolderTheLogGoesToThePrivateFolderNeverThroughALink) {
  TEnvRestore temp("TEMP"), tmpdir("TMPDIR"), runtime("XDG_RUNTIME_DIR");
  TTempDir shared, own;
  std::filesystem::permissions(std::filesystem::u8path(own.Path()), std::filesystem::perms::owner_all,
                               std::filesystem::perm_options::replace);
  plat::SetEnv("XDG_RUNTIME_DIR", own.Path());
  // Another user's trap in a shared temporary folder: the log's name is a link to a file of ours.
  const std::string victim = shared.File("victim");
  ASSERT_TRUE(WriteWholeFile(victim, "keep me"));
  ASSERT_EQ(::symlink(victim.c_str(), shared.File("talvoran_engine.log").c_str()), 0);
  plat::SetEnv("TEMP", shared.Path());
  plat::UnsetEnv("TMPDIR");
  SetLogPathForTest(FDir.File("missing") + "/talvoran_engine.log");  // the program folder refuses
  SetLogEnabled(true);
  WriteLogLine("service: not through the link");
  CloseLog();
  EXPECT_EQ(ReadWholeFile(victim), "keep me");
  std::vector<std::string> lines = LogLines(ReadWholeFile(own.File("talvoran_engine.log")));
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_TRUE(lines[0].ends_with("] service: not through the link"));

  // Neither TEMP nor TMPDIR: the private folder at once, never a fixed name in /tmp.
  plat::UnsetEnv("TEMP");
  SetLogPathForTest(FDir.File("missing") + "/talvoran_engine.log");
  WriteLogLine("service: no temp at all");
  CloseLog();
  lines = LogLines(ReadWholeFile(own.File("talvoran_engine.log")));
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_TRUE(lines[1].ends_with("] service: no temp at all"));
}
#endif

TEST_F(LogTest, LinesOfManyThreadsNeverInterleave) {
  SetLogEnabled(true);
  constexpr int kThreads = 8, kLines = 150;
  std::vector<plat::TThread> threads(kThreads);
  std::vector<uint32_t> tids(kThreads);
  for (int t = 0; t < kThreads; ++t) {
    ASSERT_TRUE(threads[t].Start([t, &tids] {
      tids[t] = plat::CurrentThreadId();
      // Long enough that a torn write would show inside the line.
      const std::string body(300, static_cast<char>('a' + t));
      for (int i = 0; i < kLines; ++i) LogFmt("t%d: %d %s", t, i, body.c_str());
    }));
  }
  for (auto& th : threads) th.Join();
  CloseLog();
  const std::vector<std::string> lines = LogLines(ReadWholeFile(FPath));
  ASSERT_EQ(lines.size(), static_cast<size_t>(kThreads * kLines));
  std::vector<int> next(kThreads, 0);
  const std::regex msg(R"(^t(\d): (\d+) ([a-h]+)$)");
  for (const std::string& line : lines) {
    std::smatch m;
    ASSERT_TRUE(std::regex_match(line, m, kLineShape)) << line;
    const std::string text = m[2].str();
    std::smatch mm;
    ASSERT_TRUE(std::regex_match(text, mm, msg)) << text.substr(0, 80);
    const int t = std::stoi(mm[1].str());
    EXPECT_EQ(std::stoi(mm[2].str()), next[t]++) << "lines of one thread keep their order";
    EXPECT_EQ(mm[3].str(), std::string(300, static_cast<char>('a' + t)));
    EXPECT_NE(line.find(TidField(tids[t])), std::string::npos);
  }
}
