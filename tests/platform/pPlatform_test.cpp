#include <gtest/gtest.h>

#include <atomic>
#include <cerrno>
#include <csignal>

#if !defined(_WIN32)
#include <unistd.h>
#endif

#include "TestSupport.h"
#include "pClock.h"
#include "pConsole.h"
#include "pFile.h"
#include "pSystem.h"
#include "pThread.h"

using namespace testsupport;

TEST(Environment, SetReadAndUnset) {
  plat::SetEnv("TALV_TEST_VAR", "a b=c");
  EXPECT_TRUE(plat::HasEnv("TALV_TEST_VAR"));
  EXPECT_EQ(plat::GetEnv("TALV_TEST_VAR"), "a b=c");
  plat::UnsetEnv("TALV_TEST_VAR");
  EXPECT_FALSE(plat::HasEnv("TALV_TEST_VAR"));
  EXPECT_EQ(plat::GetEnv("TALV_TEST_VAR"), "");
}

TEST(ModuleDir, IsTheFolderOfThisProgram) {
  std::string dir = plat::ModuleDir();
  ASSERT_FALSE(dir.empty());
  EXPECT_EQ(dir.back(), plat::PathSeparator());
  EXPECT_EQ(plat::ProgramPath().rfind(dir, 0), 0u) << plat::ProgramPath();
}

TEST(Thread, RunsBodyOnAnotherThreadWithItsOwnId) {
  std::atomic<uint32_t> seen{0};
  plat::TThread t;
  ASSERT_TRUE(t.Start([&] { seen = plat::CurrentThreadId(); }));
  t.Join();
  EXPECT_NE(seen.load(), 0u);
  EXPECT_NE(seen.load(), plat::CurrentThreadId());
}

TEST(Thread, FourMiBStackHoldsALargeFrame) {
  std::atomic<int> sum{0};
  plat::TThread t;
  ASSERT_TRUE(t.Start([&] {
    volatile char big[3 * 1024 * 1024];
    for (size_t i = 0; i < sizeof(big); i += 4096) big[i] = 1;
    sum = big[0] + big[4096];
  }));
  t.Join();
  EXPECT_EQ(sum.load(), 2);
}

TEST(Clock, ManualClockAdvancesOnlyWhenTold) {
  plat::TManualClock clock(500);
  EXPECT_EQ(clock.NowMs(), 500u);
  clock.SleepMs(300);
  clock.Advance(5);
  EXPECT_EQ(clock.NowMs(), 805u);
}

TEST(Clock, SleepUnlessStoppedSleepsInStepsAndEndsOnTheFlag) {
  plat::TManualClock clock(0);
  EXPECT_TRUE(plat::SleepUnlessStopped(clock, 1234, nullptr));
  EXPECT_EQ(clock.NowMs(), 1234u);
  std::atomic<bool> stop{false};
  EXPECT_TRUE(plat::SleepUnlessStopped(clock, 45, &stop));
  EXPECT_EQ(clock.NowMs(), 1279u);
  stop = true;
  EXPECT_FALSE(plat::SleepUnlessStopped(clock, 100000, &stop));
  EXPECT_EQ(clock.NowMs(), 1279u);
}

TEST(Clock, TicksNeverGoBackAndFollowASleep) {
  uint64_t last = plat::TickMs();
  for (int i = 0; i < 1000; ++i) {
    const uint64_t now = plat::TickMs();
    ASSERT_GE(now, last);
    last = now;
  }
  // Windows' tick moves in steps of 10..16 ms, so a short sleep may not show at all: sleep 50 ms
  // and ask for less than that minus one step.
  const uint64_t a = plat::TickMs();
  plat::SleepMs(50);
  EXPECT_GE(plat::TickMs(), a + 30);
}

#if !defined(_WIN32)
TEST(AppendFile, ALinkInTheFilesPlaceIsRefusedNotFollowed) {
  testsupport::TTempDir dir;
  const std::string target = dir.File("target");
  ASSERT_TRUE(testsupport::WriteWholeFile(target, "untouched"));
  ASSERT_EQ(::symlink(target.c_str(), dir.File("link.log").c_str()), 0);
  plat::TAppendFile f;
  EXPECT_FALSE(f.Open(dir.File("link.log")));
  EXPECT_EQ(testsupport::ReadWholeFile(target), "untouched");
}
#endif

TEST(AppendFile, CreatesKeepsAndAppends) {
  TTempDir dir;
  std::string path = dir.File("a.log");
  {
    plat::TAppendFile f;
    ASSERT_TRUE(f.Open(path));
    EXPECT_TRUE(f.Write("one\r\n", 5));
  }
  {
    plat::TAppendFile f;
    ASSERT_TRUE(f.Open(path));
    EXPECT_TRUE(f.Write("two\r\n", 5));
    // Another reader may look at the file while it is open.
    EXPECT_EQ(ReadWholeFile(path), "one\r\ntwo\r\n");
  }
  EXPECT_TRUE(plat::FileExists(path));
  EXPECT_FALSE(plat::DirectoryExists(path));
  EXPECT_TRUE(plat::DirectoryExists(dir.Path()));
}

TEST(AppendFile, OpenFailsInAMissingFolder) {
  TTempDir dir;
  plat::TAppendFile f;
  EXPECT_FALSE(f.Open(dir.File("missing") + plat::PathSeparator() + "a.log"));
  EXPECT_FALSE(f.IsOpen());
  EXPECT_FALSE(f.Write("x", 1));
}

TEST(RunProcess, ExtraEnvironmentReplacesInheritedValueAndOutputIsCaptured) {
  plat::SetEnv("TALV_CHILD_VAR", "inherited");
#ifdef _WIN32
  plat::TProcessResult r =
      plat::RunProcess("C:\\windows\\system32\\cmd.exe", {"/c", "echo %TALV_CHILD_VAR%& exit 7"},
                       {{"TALV_CHILD_VAR", "given"}});
#else
  plat::TProcessResult r =
      plat::RunProcess("/bin/sh", {"-c", "echo $TALV_CHILD_VAR; exit 7"}, {{"TALV_CHILD_VAR", "given"}});
#endif
  plat::UnsetEnv("TALV_CHILD_VAR");
  ASSERT_TRUE(r.Started) << r.Error;
  EXPECT_EQ(r.ExitCode, 7);
  ASSERT_FALSE(SplitLines(r.Output).empty());
  EXPECT_EQ(SplitLines(r.Output)[0], "given");
}

TEST(RunProcess, MissingProgramIsReported) {
  plat::TProcessResult r = plat::RunProcess(plat::ModuleDir() + "no_such_program_here", {});
  EXPECT_TRUE(!r.Started || r.ExitCode == 127);
}

namespace {
std::atomic<int> gStopCalls{0};
void CountStop() {
  ++gStopCalls;
  errno = EBADF;  // as a failed write inside the handler would leave it
}
}  // namespace

TEST(StopHandler, SignalsReachTheHandlerAndTheProgramRunsOnWithItsErrno) {
  if (plat::PathSeparator() == '\\') GTEST_SKIP() << "console events are not signals on Windows";
  ASSERT_TRUE(plat::InstallStopHandler(&CountStop));
  gStopCalls = 0;
  errno = 0;
  ASSERT_EQ(std::raise(SIGINT), 0);
  EXPECT_EQ(errno, 0);  // the interrupted code keeps its own errno
  ASSERT_EQ(std::raise(SIGTERM), 0);
  EXPECT_EQ(gStopCalls.load(), 2);  // both handled, and this process is still running
  std::signal(SIGINT, SIG_DFL);     // a test run stays stoppable
  std::signal(SIGTERM, SIG_DFL);
}
