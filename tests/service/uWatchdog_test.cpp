// The watchdog and the client watch, tick by tick on a manual clock: the idle limit (and its 0 and
// negative forms), QUIT, a running session keeping the engine alive, the client that ends (audio and
// live-through stop at once, the process after the grace time), and the watch's own rules.
#include "uWatchdog.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "LogCapture.h"
#include "ServiceTestSupport.h"
#include "pClock.h"
#include "uEngineSvc.h"
#include "uScanSession.h"

using namespace svctest;

namespace {

class Watchdog : public ::testing::Test {
 protected:
  Watchdog() : Svc(Options()) {}
  TServiceOptions Options() {
    TServiceOptions o;
    o.Clock = &Clock;
    return o;
  }
  std::unique_ptr<TWatchdog> Make(int32_t idleSec) {
    return std::make_unique<TWatchdog>(Svc, idleSec, TWatchdogTimings(), Clock, [this](int code) {
      EndCode = code;
      ++Ends;
    });
  }
  plat::TManualClock Clock{100000};
  TEngineService Svc;
  int EndCode = -1;
  int Ends = 0;
};

TEST_F(Watchdog, TheShippedTimings) {
  const TWatchdogTimings t;
  EXPECT_EQ(t.TickMs, 2000u);
  EXPECT_EQ(t.ClientGraceMs, 10000u);
  EXPECT_EQ(Make(600)->IdleLimitMs(), 600000);
  EXPECT_EQ(Make(-5)->IdleLimitMs(), 600000);  // a negative limit counts as the default
  EXPECT_EQ(Make(0)->IdleLimitMs(), 0);
}

TEST_F(Watchdog, EndsTheProcessOnceTheIdleLimitHasPassed) {
  auto wd = Make(600);
  TLogCapture log;
  Clock.Advance(600000);
  EXPECT_FALSE(wd->Tick());
  Clock.Advance(1);
  EXPECT_TRUE(wd->Tick());
  EXPECT_EQ(EndCode, 0);
  EXPECT_EQ(log.MessagesStarting("watchdog: idle for 600 s, not scanning and not playing - exiting").size(),
            1u);
}

TEST_F(Watchdog, ARequestStartsTheIdleTimeAgain) {
  auto wd = Make(10);
  Clock.Advance(9000);
  Ask(Svc, "PING");
  Clock.Advance(9000);
  EXPECT_FALSE(wd->Tick());
  Clock.Advance(1001);
  EXPECT_TRUE(wd->Tick());
}

TEST_F(Watchdog, IdleZeroNeverEndsForIdlenessButQuitStillEnds) {
  auto wd = Make(0);
  Clock.Advance(1000000000);
  EXPECT_FALSE(wd->Tick());
  EXPECT_EQ(Ends, 0);
  TLogCapture log;
  EXPECT_EQ(Ask(Svc, "QUIT"), TTextLines{"OK"});
  EXPECT_TRUE(wd->Tick());  // the first tick after QUIT
  EXPECT_EQ(EndCode, 0);
  EXPECT_EQ(log.MessagesStarting("watchdog: QUIT received - exiting").size(), 1u);
}

TEST_F(Watchdog, ARunningScanKeepsTheEngineAliveAndQuitStopsIt) {
  TSimScene scene;
  testsupport::TTempDir dir;
  auto wd = Make(5);
  ASSERT_EQ(Ask(Svc, "START", ThreeToneBody(dir.Path())), TTextLines{"OK"});
  Clock.Advance(60000);
  EXPECT_FALSE(wd->Tick());
  EXPECT_EQ(Svc.ActivityTick(), Clock.NowMs());
  Ask(Svc, "QUIT");
  EXPECT_TRUE(wd->Tick());
  EXPECT_FALSE(Svc.IsScanning());
  EXPECT_FALSE(Svc.Store().Scanning());
}

TEST_F(Watchdog, TicksReapSessionsThatEndedByThemselves) {
  TSimScene scene;
  testsupport::TTempDir dir;
  auto wd = Make(0);
  ASSERT_EQ(Ask(Svc, "START", ThreeToneBody(dir.Path())), TTextLines{"OK"});
  scene.Sim->FailReads = true;
  ASSERT_TRUE(WaitUntil([&] { return Svc.ScanSession()->Finished(); }));
  EXPECT_FALSE(wd->Tick());
  EXPECT_FALSE(Svc.ScanSession());
  EXPECT_NE(Svc.ServiceLastError().find("simulated read failure"), std::string::npos);
}

TEST_F(Watchdog, TheThreadTicksUntilTerminated) {
  TWatchdogTimings fast;
  fast.TickMs = 5;
  TWatchdog wd(Svc, 0, fast, Clock, [](int) {});
  ASSERT_TRUE(wd.Start());
  ASSERT_TRUE(WaitUntil([&] { return wd.Ticks() >= 3; }));
  wd.Terminate();
  const uint64_t ticks = wd.Ticks();
  plat::SleepMs(30);
  EXPECT_EQ(wd.Ticks(), ticks);
  EXPECT_FALSE(wd.Ended());
}

// ---------------------------------------------------------------------------------------------
// Client watch

TEST(ClientWatch, WatchesTheNamedProcessAndIgnoresZero) {
  TClientWatch watch;
  TLogCapture log;
  watch.WatchClient(0);
  EXPECT_EQ(watch.WatchedPid(), 0u);
  EXPECT_FALSE(watch.ClientGone());
  const uint32_t self = plat::CurrentProcessId();
  watch.WatchClient(self);
  EXPECT_EQ(watch.WatchedPid(), self);
  EXPECT_FALSE(watch.ClientGone());
  watch.WatchClient(0);  // leaves the watched one
  EXPECT_EQ(watch.WatchedPid(), self);
  watch.WatchClient(self);  // the same pid again: no second log line
  const std::vector<std::string> lines = log.MessagesStarting("client: ");
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_EQ(lines[0], "client: watching pid " + std::to_string(self));
}

TEST(ClientWatch, APidThatCannotBeOpenedStaysWatchedButWatchesNothing) {
  TClientWatch watch;
  TLogCapture log;
  const uint32_t none = 0x7ffffff0u;
  watch.WatchClient(none);
  EXPECT_EQ(watch.WatchedPid(), none);
  EXPECT_FALSE(watch.ClientGone());
  watch.WatchClient(none);
  const std::vector<std::string> lines = log.MessagesStarting("client: ");
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_EQ(lines[0].rfind("client: cannot watch pid " + std::to_string(none) + " (error ", 0), 0u)
      << lines[0];
}

TEST_F(Watchdog, AClientThatEndsStopsLiveThroughAtOnceAndTheProcessAfterTheGrace) {
  // The client is a real process: an engine of its own, which tells its pid and ends on QUIT.
  TEngineProcess client({"--service", "--idle=0"});
  client.Start();
  ASSERT_TRUE(client.WaitServing()) << client.Result.Output;
  const std::string pidText = Value(client.PipeAsk("STATUS"), "EnginePid");
  const uint32_t pid = static_cast<uint32_t>(std::stoul(pidText));

  TSimScene scene;
  testsupport::TTempDir dir;
  auto wd = Make(600);
  ASSERT_EQ(Ask(Svc, "START", With(ThreeToneBody(dir.Path()), {"ClientPid=" + pidText})), TTextLines{"OK"});
  ASSERT_EQ(Ask(Svc, "LIVE", With(ThreeToneBody(dir.Path()), {"LiveHz=145187500", "ClientPid=0"})),
            TTextLines{"OK"});
  EXPECT_EQ(Svc.Client().WatchedPid(), pid);
  EXPECT_TRUE(Svc.IsLive());
  EXPECT_FALSE(wd->Tick());
  EXPECT_EQ(Svc.Client().GoneTick.load(), 0u);

  EXPECT_EQ(client.PipeAsk("QUIT"), TTextLines{"OK"});
  ASSERT_TRUE(client.WaitDone());
  EXPECT_EQ(client.Result.ExitCode, 0);
  ASSERT_TRUE(WaitUntil([&] { return Svc.Client().ClientGone(); }));

  TLogCapture log;
  EXPECT_FALSE(wd->Tick());
  EXPECT_EQ(log.MessagesStarting("client: process ended - stopping audio and monitor").size(), 1u);
  EXPECT_FALSE(Svc.IsLive());
  EXPECT_EQ(Svc.LiveThroughHz(), 0);
  EXPECT_TRUE(Svc.IsScanning());  // the scan runs on through the grace time
  Clock.Advance(10000);
  EXPECT_FALSE(wd->Tick());
  Clock.Advance(1);
  EXPECT_TRUE(wd->Tick());
  EXPECT_EQ(EndCode, 0);
  EXPECT_FALSE(Svc.IsScanning());
  EXPECT_EQ(log.MessagesStarting("client: gone for 10000 ms - shutting down").size(), 1u);
}

}  // namespace
