#include "uEngineMain.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <new>
#include <regex>
#include <stdexcept>
#include <string>
#include <vector>

#include "PeFile.h"
#include "TestSupport.h"
#include "pFile.h"
#include "pSystem.h"

using namespace testsupport;

namespace {

const bool kWindows = plat::PathSeparator() == '\\';

// A file of the source tree; under Wine the Linux path is reached through drive Z:.
std::string SourceFile(const std::string& relative) {
  std::string p = std::string(TALV_SOURCE_DIR) + "/" + relative;
  if (kWindows && !p.empty() && p[0] == '/') {
    p = "Z:" + p;
    for (char& c : p)
      if (c == '/') c = '\\';
  }
  return p;
}

// What the program prints for these lines: LF endings natively, CR LF on Windows.
std::string AsConsoleText(const std::string& lfText) {
  if (!kWindows) return lfText;
  std::string r;
  for (char c : lfText) {
    if (c == '\n') r += '\r';
    r += c;
  }
  return r;
}

// A copy of the engine in a folder of its own, so that its log lands where only this test looks.
class EngineCopy : public ::testing::Test {
 protected:
  void SetUp() override {
    plat::UnsetEnv("TALVORAN_LOG");  // the run must not inherit a switch from whoever runs the tests
    const std::string engine = EnginePath();
    const std::string name = engine.substr(engine.find_last_of("/\\") + 1);
    FProgram = FDir.File(name);
    std::error_code ec;
    std::filesystem::copy_file(std::filesystem::u8path(EnginePath()), std::filesystem::u8path(FProgram), ec);
    ASSERT_FALSE(ec) << "cannot copy " << EnginePath() << ": " << ec.message();
    FLog = FDir.File("talvoran_engine.log");
  }
  plat::TProcessResult Run(const std::vector<std::string>& args,
                           const std::vector<std::pair<std::string, std::string>>& env = {}) {
    plat::TProcessResult r = plat::RunProcess(FProgram, args, env, 120000);
    EXPECT_TRUE(r.Started) << r.Error;
    EXPECT_FALSE(r.TimedOut);
    return r;
  }
  TTempDir FDir;
  std::string FProgram, FLog;
};

// Lines of the log file, each checked for the CR LF ending and the time/thread prefix.
std::vector<std::string> LogMessages(const std::string& bytes) {
  static const std::regex shape(R"(^\d\d:\d\d:\d\d\.\d{3} \[tid=[ \d]{4}\d\] (.*)$)");
  std::vector<std::string> messages;
  size_t pos = 0;
  while (pos < bytes.size()) {
    size_t end = bytes.find("\r\n", pos);
    EXPECT_NE(end, std::string::npos) << "line without CR LF";
    if (end == std::string::npos) break;
    const std::string line = bytes.substr(pos, end - pos);
    std::smatch m;
    EXPECT_TRUE(std::regex_match(line, m, shape)) << line;
    messages.push_back(m.size() > 1 ? m[1].str() : line);
    pos = end + 2;
  }
  return messages;
}

}  // namespace

// ---------------------------------------------------------------------------------------------
// The program as a user runs it

TEST(EngineProgram, NoParametersPrintsTheUsageTextByteForByte) {
  const std::string golden = ReadWholeFile(SourceFile("tests/app/golden/usage.txt"));
  ASSERT_EQ(SplitLines(golden).size(), 44u);
  plat::TProcessResult r = RunEngine({});
  ASSERT_TRUE(r.Started) << r.Error;
  EXPECT_EQ(r.ExitCode, 0);
  EXPECT_EQ(r.Output, AsConsoleText(golden));
  EXPECT_EQ(SplitLines(r.Output), SplitLines(golden));
}

TEST(EngineProgram, OnlyUnknownParametersPrintTheUsageText) {
  const std::string golden = ReadWholeFile(SourceFile("tests/app/golden/usage.txt"));
  plat::TProcessResult r = RunEngine({"--bogus", "list", "--list=1", "---scan", "--rate=1M", "--log=1"});
  EXPECT_EQ(r.ExitCode, 0);
  EXPECT_EQ(r.Output, AsConsoleText(golden));
}

TEST(EngineProgram, FirstModeInTheFixedOrderWinsWhateverTheCommandLineOrder) {
  // Modes that end at once without a receiver, each given with modes that come later in the order.
  plat::TProcessResult r = RunEngine({"--service", "--live", "--scan", "--iqstat", "--list"});
  std::vector<std::string> lines = SplitLines(r.Output);
  EXPECT_EQ(r.ExitCode, 0);
  ASSERT_FALSE(lines.empty());
  EXPECT_EQ(lines.front().rfind("# SIMD: ", 0), 0u) << lines.front();

  r = RunEngine({"--service", "--live"});
  EXPECT_EQ(r.ExitCode, 2);
  EXPECT_EQ(SplitLines(r.Output), std::vector<std::string>{"# error: --freq is required, e.g. --freq=92.3M"});

  // --scan before --live: the receiver error, not the missing frequency.
  r = RunEngine({"--live", "--scan"});
  EXPECT_EQ(r.ExitCode, 2);
  lines = SplitLines(r.Output);
  ASSERT_EQ(lines.size(), 1u) << r.Output;
  EXPECT_EQ(lines[0].rfind("# error: ", 0), 0u);
  EXPECT_EQ(lines[0].find("--freq"), std::string::npos);
}

TEST(EngineProgram, FlagsIgnoreCase) {
  plat::TProcessResult r = RunEngine({"--scan", "-LIST"});
  EXPECT_EQ(r.ExitCode, 0);
  ASSERT_FALSE(SplitLines(r.Output).empty());
  EXPECT_EQ(SplitLines(r.Output).front().rfind("# SIMD: ", 0), 0u);
  r = RunEngine({"--Live", "--SERVICE"});
  EXPECT_EQ(SplitLines(r.Output), std::vector<std::string>{"# error: --freq is required, e.g. --freq=92.3M"});
}

namespace {
// --list always logs how loading the receiver libraries went (loaded, or why not).
bool AllLibraryLines(const std::vector<std::string>& messages) {
  return std::all_of(messages.begin(), messages.end(), [](const std::string& m) {
    return m.rfind("rtlsdr: ", 0) == 0 || m.rfind("hackrf: ", 0) == 0;
  });
}
}  // namespace

TEST_F(EngineCopy, WithoutALogSwitchNoLogFileIsMade) {
  plat::TProcessResult r = Run({"--list"});
  EXPECT_EQ(r.ExitCode, 0);
  EXPECT_FALSE(plat::FileExists(FLog));
  for (const char* value : {"true", " 1", "0", ""}) {
    r = Run({"--list"}, {{"TALVORAN_LOG", value}});
    EXPECT_EQ(r.ExitCode, 0);
    EXPECT_FALSE(plat::FileExists(FLog)) << "TALVORAN_LOG=\"" << value << "\"";
  }
}

TEST_F(EngineCopy, LogOptionCreatesTheLogBesideTheProgramAndAppends) {
  plat::TProcessResult r = Run({"--log", "--list"});
  EXPECT_EQ(r.ExitCode, 0);
  const std::vector<std::string> first = LogMessages(ReadWholeFile(FLog));
  ASSERT_FALSE(first.empty());
  EXPECT_EQ(first.front().rfind("rtlsdr: ", 0), 0u) << first.front();
  EXPECT_TRUE(AllLibraryLines(first));
  r = Run({"--list", "--LOG"});
  const std::vector<std::string> both = LogMessages(ReadWholeFile(FLog));
  ASSERT_EQ(both.size(), 2 * first.size());
  EXPECT_TRUE(std::equal(first.begin(), first.end(), both.begin()));  // appended, not replaced
}

TEST_F(EngineCopy, LogSwitchInTheEnvironmentWorksWhenExactlyOne) {
  plat::TProcessResult r = Run({"--list"}, {{"TALVORAN_LOG", "1"}});
  EXPECT_EQ(r.ExitCode, 0);
  const std::vector<std::string> messages = LogMessages(ReadWholeFile(FLog));
  ASSERT_FALSE(messages.empty());
  EXPECT_TRUE(AllLibraryLines(messages));
}

TEST_F(EngineCopy, TheUsageTextWritesNoLogLine) {
  plat::TProcessResult r = Run({"--log"});
  EXPECT_EQ(r.ExitCode, 0);
  EXPECT_EQ(SplitLines(r.Output).size(), 44u);
  EXPECT_FALSE(plat::FileExists(FLog));  // opened lazily: no line, no file
}

// ---------------------------------------------------------------------------------------------
// The Windows program runs on a bare Windows: it imports system libraries only, never the
// compiler's run-time DLLs (libstdc++, libgcc, winpthread), which no user has beside it.

TEST(EngineProgram, WindowsBuildImportsOnlySystemLibraries) {
  if (!kWindows) GTEST_SKIP() << "the Linux program links the system's shared run-time";
  const std::vector<std::string> dlls = ImportedDlls(ReadWholeFile(EnginePath()));
  for (const std::string& dll : dlls)
    EXPECT_TRUE(IsSystemDll(dll)) << EnginePath() << " needs " << dll << " beside it";
  EXPECT_NE(std::find_if(dlls.begin(), dlls.end(),
                         [](const std::string& n) { return n == "KERNEL32.dll" || n == "kernel32.dll"; }),
            dlls.end());
}

// ---------------------------------------------------------------------------------------------
// Pieces of the program, in this process (captured output is compared line by line: a capture
// may read back CR LF as LF on Windows)

namespace {
struct TProbeError : std::exception {
  const char* what() const noexcept override { return "probe failed"; }
};
}  // namespace

TEST(ExceptionGuard, PrintsClassAndMessageAndSetsExitCode9) {
  struct TCase {
    std::function<void()> Throw;
    std::string Line;
  } cases[] = {
      {[] { throw std::runtime_error("cannot open receiver"); },
       "# exception: std::runtime_error: cannot open receiver"},
      {[] { throw std::out_of_range("index 7"); }, "# exception: std::out_of_range: index 7"},
      {[] { throw std::bad_alloc(); }, "# exception: std::bad_alloc: std::bad_alloc"},
      {[] { throw TProbeError(); }, "# exception: (anonymous namespace)::TProbeError: probe failed"},
      {[] { throw 42; }, "# exception: int: exception of a type outside the standard library"},
  };
  for (const TCase& c : cases) {
    SetExitCode(0);
    ::testing::internal::CaptureStdout();
    RunModeGuarded(c.Throw);
    const std::string out = ::testing::internal::GetCapturedStdout();
    EXPECT_EQ(SplitLines(out), std::vector<std::string>{c.Line});
    EXPECT_EQ(ExitCode(), 9);
  }
}

TEST(ExceptionGuard, ANormalEndKeepsTheModesExitCode) {
  SetExitCode(0);
  ::testing::internal::CaptureStdout();
  RunModeGuarded([] { SetExitCode(4); });
  EXPECT_EQ(::testing::internal::GetCapturedStdout(), "");
  EXPECT_EQ(ExitCode(), 4);
}

TEST(StopHandler, SetsTheFlagAndSaysSoButDoesNotEndTheProgram) {
  ::testing::internal::CaptureStdout();
  ConsoleCtrlHandler();
  const std::string out = ::testing::internal::GetCapturedStdout();
  EXPECT_EQ(SplitLines(out), (std::vector<std::string>{"", "# stopping..."}));
  EXPECT_TRUE(StopRequested.load());
  ConsoleCtrlHandler();  // every event is handled the same way; the flag stays set
  EXPECT_TRUE(StopRequested.load());
}

TEST(Usage, PrintUsageWritesTheGoldenText) {
  const std::string golden = ReadWholeFile(SourceFile("tests/app/golden/usage.txt"));
  ::testing::internal::CaptureStdout();
  PrintUsage();
  EXPECT_EQ(SplitLines(::testing::internal::GetCapturedStdout()), SplitLines(golden));
}
