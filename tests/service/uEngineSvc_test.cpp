// The service: the dispatcher's fixed replies, the request framing over the real pipe (byte-exact
// replies, malformed and oversized requests, a failing command), many clients at once, sessions started
// and stopped from several threads, reaping of sessions that ended by themselves, "already running",
// and the engine program itself serving its pipe as a process.
#include "uEngineSvc.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "LogCapture.h"
#include "ServiceTestSupport.h"
#include "pThread.h"
#include "uDspKernels.h"
#include "uLevelTap.h"
#include "uLive.h"
#include "uScanSession.h"

using namespace svctest;

namespace {

std::string Framed(const TTextLines& lines) {
  return FrameReply(lines);
}

// The STATUS data lines of an engine with nothing running and nothing failed.
TTextLines IdleStatus(uint32_t pid) {
  return {"OK",
          "Running=0",
          "EnginePid=" + std::to_string(pid),
          "Simd=" + KernelDescription(),
          "Channels=0",
          "Monitor=0",
          "Live=0"};
}

// ---------------------------------------------------------------------------------------------
// Dispatcher

TEST(ServiceDispatch, FixedReplies) {
  TEngineService svc;
  EXPECT_EQ(Ask(svc, "PING"), TTextLines{"OK"});
  EXPECT_EQ(Ask(svc, " ping\t"), TTextLines{"OK"});
  EXPECT_EQ(Ask(svc, "Foo"), TTextLines{"ERR unknown command: FOO"});
  EXPECT_EQ(Ask(svc, "CLEAR"), TTextLines{"OK"});
  EXPECT_EQ(Ask(svc, "STOP"), TTextLines{"OK"});
  EXPECT_EQ(Ask(svc, "LIVESTOP"), TTextLines{"OK"});
  EXPECT_FALSE(svc.QuitRequested());
  EXPECT_EQ(Ask(svc, "quit"), TTextLines{"OK"});
  EXPECT_TRUE(svc.QuitRequested());
}

TEST(ServiceDispatch, StatusOfAnIdleEngineHasTheFixedLineSet) {
  TEngineService svc;
  EXPECT_EQ(Ask(svc, "STATUS"), IdleStatus(plat::CurrentProcessId()));
}

TEST(ServiceDispatch, EveryRequestRefreshesTheActivityTime) {
  plat::TManualClock clock(5000);
  TServiceOptions o;
  o.Clock = &clock;
  TEngineService svc(o);
  EXPECT_EQ(svc.ActivityTick(), 5000u);
  clock.Advance(1234);
  Ask(svc, "NOSUCH");
  EXPECT_EQ(svc.ActivityTick(), 6234u);
}

TEST(ServiceDispatch, AnExceptionInACommandIsOneErrLineAndTheNextRequestIsServed) {
  TSimScene scene;
  scene.Sim->ThrowOnRate = true;
  TEngineService svc;
  testsupport::TTempDir dir;
  EXPECT_EQ(Ask(svc, "START", ThreeToneBody(dir.Path())),
            TTextLines{"ERR std::runtime_error: rate setter exploded"});
  EXPECT_EQ(Ask(svc, "PING"), TTextLines{"OK"});
  EXPECT_FALSE(svc.IsScanning());
}

// ---------------------------------------------------------------------------------------------
// Over the real pipe

class ServicePipe : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(Run.Start()); }
  TServiceRun Run;
};

TEST_F(ServicePipe, RepliesAreByteExact) {
  EXPECT_EQ(RawExchange(Run.Name, "PING\r\n.\r\n"), "OK\r\n.\r\n");
  EXPECT_EQ(RawExchange(Run.Name, "ping\n.\n"), "OK\r\n.\r\n");  // LF alone is a line end too
  EXPECT_EQ(RawExchange(Run.Name, "hello world\r\n.\r\n"), "ERR unknown command: HELLO WORLD\r\n.\r\n");
  // Bytes after the terminator are not read.
  EXPECT_EQ(RawExchange(Run.Name, "PING\r\n.\r\nSTATUS\r\n.\r\n"), "OK\r\n.\r\n");
  EXPECT_EQ(RawExchange(Run.Name, "STATUS\r\n.\r\n"), Framed(IdleStatus(plat::CurrentProcessId())));
  ClearLevelLanes();
  EXPECT_EQ(RawExchange(Run.Name, "ENVELOPE\r\nAudioRate=44100\r\n.\r\n"),
            "OK\r\nSeq=0\r\nLive=0\r\nRate=57\r\n.\r\n");
}

TEST_F(ServicePipe, MalformedRequestsGetNoReplyAndTheServiceGoesOn) {
  bool connected = false;
  EXPECT_EQ(RawExchange(Run.Name, ".\r\n", &connected), "");  // the terminator first
  EXPECT_TRUE(connected);
  {
    // A request that ends before its terminator.
    std::unique_ptr<plat::TPipeConn> conn = plat::PipeConnect(Run.Name, 5000);
    ASSERT_TRUE(conn);
    conn->Write("PING\r\nKey=1\r\n", 13);
  }
  EXPECT_EQ(RawExchange(Run.Name, "\r\n.\r\n"), "ERR unknown command: \r\n.\r\n");  // an empty command line
  EXPECT_EQ(PipeAsk(Run.Name, "PING"), TTextLines{"OK"});
}

TEST(ServicePipeRun, SilentAndStalledClientsLoseTheirConnectionAfterTheRequestTimeOut) {
  TServiceRun run;
  run.Options.RequestTimeoutMs = 300;
  ASSERT_TRUE(run.Start());
  TLogCapture log;
  std::vector<std::unique_ptr<plat::TPipeConn>> held;
  for (int i = 0; i < 8; ++i) {
    held.push_back(plat::PipeConnect(run.Name, 5000));
    ASSERT_TRUE(held.back());
    if (i % 2 == 1) held.back()->Write("STATUS\r\nKey=", 12);  // stops in the middle
  }
  // Every held connection is closed by the engine (the read ends) without a reply.
  for (auto& conn : held) {
    char buf[64];
    EXPECT_EQ(conn->Read(buf, sizeof(buf)), 0u);
  }
  EXPECT_TRUE(WaitUntil(
      [&] { return log.MessagesStarting("service: no complete request within 300 ms").size() == 8u; }));
  EXPECT_EQ(PipeAsk(run.Name, "PING"), TTextLines{"OK"});
}

TEST_F(ServicePipe, ARequestOverOneMebibyteIsDroppedWithoutAReply) {
  TLogCapture log;
  std::unique_ptr<plat::TPipeConn> conn = plat::PipeConnect(Run.Name, 5000);
  ASSERT_TRUE(conn);
  std::string request = "PING\r\n" + std::string(70, 'x') + "\r\n";
  const std::string line = "Key=" + std::string(1000, 'v') + "\r\n";
  while (request.size() <= proto::kMaxRequestBytes + 4096) request += line;
  conn->Write(request.data(), request.size());  // may fail once the server has dropped us
  char buf[256];
  EXPECT_EQ(conn->Read(buf, sizeof(buf)), 0u);
  conn.reset();
  EXPECT_EQ(PipeAsk(Run.Name, "PING"), TTextLines{"OK"});
  const std::vector<std::string> lines = log.MessagesStarting("service: request over");
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_EQ(lines[0], "service: request over 1048576 bytes dropped without a reply");
}

TEST_F(ServicePipe, DotStuffedBodyLinesArriveUnstuffed) {
  // A body line ".." (a single dot, stuffed) must not end the request early; the LIVE handler then
  // sees LiveHz from the line after it.
  EXPECT_EQ(PipeAsk(Run.Name, "LIVE", {".", "LiveHz=0"}), TTextLines{"ERR no frequency given"});
}

TEST_F(ServicePipe, ManyClientsAtOnceAreAllAnswered) {
  constexpr int kClients = 16;
  constexpr int kRequests = 20;
  std::atomic<int> good{0};
  std::vector<std::unique_ptr<plat::TThread>> threads;
  for (int c = 0; c < kClients; ++c) {
    threads.push_back(std::make_unique<plat::TThread>());
    threads.back()->Start([&, c] {
      for (int i = 0; i < kRequests; ++i) {
        const bool status = (i + c) % 2 == 0;
        TTextLines reply = PipeAsk(Run.Name, status ? "STATUS" : "PING");
        if (status ? (reply.size() == 7 && reply[0] == "OK" && reply[1] == "Running=0")
                   : reply == TTextLines{"OK"})
          ++good;
      }
    });
  }
  for (auto& t : threads) t->Join();
  EXPECT_EQ(good.load(), kClients * kRequests);
}

TEST_F(ServicePipe, QuitIsAnsweredAndTheServiceEnds) {
  // Either the watchdog's next tick ends the process (code 0), or the accept loop, asking after the
  // connection, already sees the QUIT and returns; no second request is needed.
  EXPECT_EQ(RawExchange(Run.Name, "QUIT\r\n.\r\n"), "OK\r\n.\r\n");
  EXPECT_TRUE(Run.WaitReturned(6000));
  EXPECT_LE(Run.Ends.load(), 1);
  if (Run.Ends.load() == 1) {
    EXPECT_EQ(Run.EndCode.load(), 0);
  }
}

TEST(ServicePipeRun, EveryStatusRightAfterALiveGetsItsWholeReply) {
  TSimScene scene;
  testsupport::TTempDir dir;
  TServiceRun run;
  ASSERT_TRUE(run.Start());
  const TTextLines live = With(ThreeToneBody(dir.Path()), {"LiveHz=145187500"});
  int incomplete = 0;
  for (int i = 0; i < 30; ++i) {
    if (PipeAsk(run.Name, "LIVE", live) != TTextLines{"OK"}) ++incomplete;
    const TTextLines status = PipeAsk(run.Name, "STATUS");  // "<no reply>" when it ended before "."
    if (status.empty() || status[0] != "OK" || Value(status, "Live") != "1") ++incomplete;
  }
  EXPECT_EQ(incomplete, 0);
  EXPECT_EQ(PipeAsk(run.Name, "LIVESTOP"), TTextLines{"OK"});
}

TEST(ServicePipeRun, ASecondServiceOnTheSameNameSaysAlreadyRunningAndReturns) {
  TServiceRun first;
  ASSERT_TRUE(first.Start());
  TLogCapture log;
  TServiceOptions second = first.Options;
  second.EndProcess = [](int) {};
  EXPECT_EQ(RunServiceWith(second), 0);  // returns at once, nothing served
  const std::vector<std::string> failed = log.MessagesStarting("service: CreateNamedPipe failed");
  EXPECT_EQ(failed.size(), 1u);
  EXPECT_EQ(PipeAsk(first.Name, "PING"), TTextLines{"OK"});  // the first one still serves
}

#if !defined(_WIN32)
TEST(ServicePipeRun, ASocketFolderThatIsNotOursIsNamedNotTakenForARunningEngine) {
  // Someone made the folder first and left it open to others: the engine refuses it (safe) and says
  // why, instead of "already running?".
  const std::string saved = plat::GetEnv("XDG_RUNTIME_DIR");
  testsupport::TTempDir open;
  std::filesystem::permissions(std::filesystem::u8path(open.Path()), std::filesystem::perms::all,
                               std::filesystem::perm_options::replace);
  plat::SetEnv("XDG_RUNTIME_DIR", open.Path());
  TServiceOptions options;
  options.PipeName = UniquePipeName();
  options.IdleSec = 0;
  options.EndProcess = [](int) {};
  ::testing::internal::CaptureStdout();
  const int code = RunServiceWith(options);
  const std::string out = ::testing::internal::GetCapturedStdout();
  plat::SetEnv("XDG_RUNTIME_DIR", saved);
  EXPECT_EQ(code, 0);
  EXPECT_EQ(out.find("already running"), std::string::npos) << out;
  EXPECT_NE(out.find("# error: cannot create pipe: no private folder for the socket: the folder " +
                     open.Path() + " is not ours alone"),
            std::string::npos)
      << out;
}
#endif

TEST(ServicePipeRun, AnIdleLimitEndsAnIdleService) {
  TServiceRun run(1, 50);
  TLogCapture log;
  ASSERT_TRUE(run.Start());
  EXPECT_TRUE(run.WaitReturned());
  EXPECT_EQ(run.EndCode.load(), 0);
  EXPECT_EQ(log.MessagesStarting("watchdog: idle for 1 s, not scanning and not playing - exiting").size(),
            1u);
}

// ---------------------------------------------------------------------------------------------
// Session registry

TEST(ServiceRegistry, AScanThatFailsOnItsOwnLeavesItsErrorInStatusAndStopsTheActiveFlags) {
  TSimScene scene;
  testsupport::TTempDir dir;
  TEngineService svc;
  TLogCapture log;
  ASSERT_EQ(Ask(svc, "START", ThreeToneBody(dir.Path())), TTextLines{"OK"});
  ASSERT_TRUE(WaitUntil([&] { return svc.ScanSession() && svc.ScanSession()->Sweeps() >= 1; }));
  scene.Sim->FailReads = true;
  ASSERT_TRUE(WaitUntil([&] { return svc.ScanSession()->Finished(); }));
  const TTextLines status = Ask(svc, "STATUS");  // reaps first
  EXPECT_EQ(Value(status, "Running"), "0");
  EXPECT_EQ(Value(status, "Device"), "<none>");
  EXPECT_NE(Value(status, "LastError").find("simulated read failure"), std::string::npos)
      << Value(status, "LastError");
  EXPECT_FALSE(svc.Store().Scanning());
  EXPECT_EQ(log.MessagesStarting("reaped: the scan had ended - receiver released").size(), 1u);
  EXPECT_EQ(log.MessagesStarting("session: sweep failed: ").size(), 1u);
}

TEST(ServiceRegistry, ALiveSessionThatFailsOnItsOwnIsReapedWithItsErrorAndClearsTheScanningFlag) {
  TSimScene scene;
  testsupport::TTempDir dir;
  TEngineService svc;
  ASSERT_EQ(Ask(svc, "LIVE", With(ThreeToneBody(dir.Path()), {"LiveHz=145187500"})), TTextLines{"OK"});
  EXPECT_TRUE(svc.Store().Scanning());
  EXPECT_TRUE(svc.IsLive());
  scene.Sim->FailReads = true;
  ASSERT_TRUE(WaitUntil([&] { return svc.LiveSession()->Finished(); }));
  svc.ReapSessions();
  EXPECT_FALSE(svc.LiveSession());
  EXPECT_FALSE(svc.Store().Scanning());
  const TTextLines status = Ask(svc, "STATUS");
  EXPECT_EQ(Value(status, "Live"), "0");
  EXPECT_NE(Value(status, "LastError").find("simulated read failure"), std::string::npos)
      << Value(status, "LastError");
}

// Asks on a thread of its own and waits a bounded time: a wedged request fails the test instead of
// hanging it at this point.
TTextLines AskWithin(TEngineService& svc, const std::string& command, const TTextLines& body = {},
                     uint32_t boundMs = 15000) {
  auto reply = std::make_shared<TTextLines>();
  auto done = std::make_shared<std::atomic<bool>>(false);
  plat::TThread t;
  t.Start([&svc, command, body, reply, done] {
    *reply = Ask(svc, command, body);
    *done = true;
  });
  if (!WaitUntil([&] { return done->load(); }, boundMs)) {
    ADD_FAILURE() << command << " got no reply";
    std::abort();  // the thread cannot be joined: end here rather than hang the whole run
  }
  t.Join();
  return *reply;
}

TEST(ServiceRegistry, AbsurdDurationsInTheSettingsNeverWedgeStopOrLaterRequests) {
  TSimScene scene;
  testsupport::TTempDir dir;
  TEngineService svc;
  const TTextLines wild = With(ThreeToneBody(dir.Path()), {"SettleMs=2147483647", "HangTimeMs=2147483647",
                                                           "MaxDwellMs=2147483647", "RecordAudio=1"});
  ASSERT_EQ(AskWithin(svc, "START", wild), TTextLines{"OK"});
  ASSERT_TRUE(WaitUntil([&] { return svc.ScanSession() && svc.ScanSession()->HopIndex() >= 0; }));
  EXPECT_EQ(AskWithin(svc, "STATUS")[0], "OK");
  EXPECT_EQ(AskWithin(svc, "STOP"), TTextLines{"OK"});
  EXPECT_FALSE(svc.IsScanning());

  ASSERT_EQ(AskWithin(svc, "LIVE", With(wild, {"LiveHz=145187500"})), TTextLines{"OK"});
  EXPECT_EQ(AskWithin(svc, "LIVESTOP"), TTextLines{"OK"});
  EXPECT_FALSE(svc.IsLive());

  // The monitor's retune to a new centre settles as the settings say: stopping it must not wait.
  AskWithin(svc, "SPECTRUM", With(wild, {"SpecCenter=145000000"}));
  ASSERT_TRUE(svc.IsMonitoring());
  AskWithin(svc, "SPECTRUM", With(wild, {"SpecCenter=144500000"}));
  ASSERT_EQ(AskWithin(svc, "START", wild), TTextLines{"OK"});
  EXPECT_FALSE(svc.IsMonitoring());
  EXPECT_EQ(AskWithin(svc, "QUIT"), TTextLines{"OK"});
}

TEST(ServiceRegistry, ARecordingFailureShowsInStatusWhileTheScanGoesOn) {
  TSimScene scene;
  testsupport::TTempDir dir;
  const std::string blocked = dir.File("not a folder");
  ASSERT_TRUE(testsupport::WriteWholeFile(blocked, "a file where the recordings folder should be"));
  TEngineService svc;
  ASSERT_EQ(Ask(svc, "START", With(ThreeToneBody(blocked), {"RecordAudio=1"})), TTextLines{"OK"});
  ASSERT_TRUE(WaitUntil([&] { return !svc.ScanSession()->LastError().empty(); }));
  const int32_t sweeps = svc.ScanSession()->Sweeps();
  const TTextLines status = Ask(svc, "STATUS");
  EXPECT_EQ(Value(status, "Running"), "1");
  EXPECT_EQ(Value(status, "LastError").rfind("recording: cannot create ", 0), 0u)
      << Value(status, "LastError");
  EXPECT_NE(Value(status, "LastError").find("not a folder"), std::string::npos);
  EXPECT_TRUE(WaitUntil([&] { return svc.ScanSession()->Sweeps() > sweeps; })) << "the scan goes on";
  EXPECT_EQ(Ask(svc, "STOP"), TTextLines{"OK"});
}

TEST(ServiceRegistry, StopRoutinesFreeEachSessionOnceWhateverThreadCallsThem) {
  TSimScene scene;
  testsupport::TTempDir dir;
  TEngineService svc;
  const TTextLines body = ThreeToneBody(dir.Path());
  std::atomic<bool> stop{false};
  std::atomic<int> answered{0};
  // Commands from several threads (serialised by the command lock) while a watchdog-like thread
  // stops and reaps without it.
  auto commands = [&](int seed) {
    const char* const words[] = {"START", "STATUS",   "LIVE",     "SPECTRUM",
                                 "STOP",  "LIVESTOP", "ENVELOPE", "CHANNELS"};
    for (int i = 0; i < 24; ++i) {
      const std::string word = words[(i * 3 + seed) % 8];
      TTextLines b = body;
      if (word == "LIVE") b.push_back(i % 2 ? "LiveHz=145187500" : "LiveMulti=1");
      TTextLines reply = Ask(svc, word, b);
      if (!reply.empty() && (reply[0] == "OK" || reply[0].rfind("ERR ", 0) == 0)) ++answered;
    }
  };
  plat::TThread stopper;
  stopper.Start([&] {
    int i = 0;
    while (!stop.load()) {
      switch (i++ % 4) {
        case 0:
          svc.StopLive();
          break;
        case 1:
          svc.StopMonitor();
          break;
        case 2:
          svc.ReapSessions();
          break;
        default:
          svc.IsLive();
          svc.IsScanning();
          svc.IsMonitoring();
          break;
      }
      plat::SleepMs(3);
    }
  });
  plat::TThread a, b, c;
  a.Start([&] { commands(0); });
  b.Start([&] { commands(1); });
  c.Start([&] { commands(2); });
  a.Join();
  b.Join();
  c.Join();
  stop = true;
  stopper.Join();
  EXPECT_EQ(answered.load(), 3 * 24);
  Ask(svc, "LIVESTOP");
  Ask(svc, "STOP");
  svc.StopMonitor();
  EXPECT_FALSE(svc.IsScanning());
  EXPECT_FALSE(svc.IsLive());
  EXPECT_FALSE(svc.IsMonitoring());
  EXPECT_FALSE(svc.Store().Scanning());
}

// ---------------------------------------------------------------------------------------------
// The engine program

TEST(EngineProcess, ServesItsPipeAndEndsOnQuit) {
  TEngineProcess engine({"--service", "--idle=0"});
  engine.Start();
  ASSERT_TRUE(engine.WaitServing()) << engine.Result.Output;

  EXPECT_EQ(engine.Raw("PING\r\n.\r\n"), "OK\r\n.\r\n");
  EXPECT_EQ(engine.Raw("ENVELOPE\r\n.\r\n"), "OK\r\nSeq=0\r\nLive=0\r\nRate=62\r\n.\r\n");
  const TTextLines status = engine.PipeAsk("STATUS");
  const std::vector<std::string> keys = {"Running", "EnginePid", "Simd", "Channels", "Monitor", "Live"};
  EXPECT_EQ(Keys(status), keys);
  EXPECT_EQ(Value(status, "Running"), "0");
  EXPECT_NE(Value(status, "EnginePid"), std::to_string(plat::CurrentProcessId()));

  // A second engine finds the pipe taken and ends at once with exit code 0.
  TEngineProcess second({"--service", "--idle=0"});
  second.Start();
  ASSERT_TRUE(second.WaitDone());
  EXPECT_EQ(second.Result.ExitCode, 0);
  EXPECT_NE(second.Result.Output.find("# error: cannot create pipe (already running?)"), std::string::npos)
      << second.Result.Output;
  EXPECT_EQ(engine.Raw("PING\r\n.\r\n"), "OK\r\n.\r\n");

  EXPECT_EQ(engine.PipeAsk("QUIT"), TTextLines{"OK"});
  ASSERT_TRUE(engine.WaitDone(10000));
  EXPECT_EQ(engine.Result.ExitCode, 0);
  // The whole console line: the pipe's path, then the line end.
  const std::string listening = "# listening on " + plat::PipePath(plat::kPipeName);
  EXPECT_EQ(testsupport::SplitLines(engine.Result.Output).at(0), listening) << engine.Result.Output;
}

TEST(EngineProcess, EndsByItselfAfterTheIdleLimit) {
  TEngineProcess engine({"--service", "--idle=1"});
  engine.Start();
  ASSERT_TRUE(engine.WaitServing()) << engine.Result.Output;
  ASSERT_TRUE(engine.WaitDone(20000));
  EXPECT_EQ(engine.Result.ExitCode, 0);
  EXPECT_FALSE(engine.Result.TimedOut);
  EXPECT_EQ(engine.Result.Output.find("# error"), std::string::npos) << engine.Result.Output;
}

}  // namespace
