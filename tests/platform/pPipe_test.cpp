#include "pPipe.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#if !defined(_WIN32)
#include <fcntl.h>
#include <sys/resource.h>
#include <unistd.h>

#include <cerrno>
#include <mutex>
#endif

#include "pClock.h"
#include "pProcess.h"
#include "pSystem.h"
#include "pThread.h"

namespace {

// A name of its own for every server, so test programs can run side by side.
std::string FreshName() {
  static std::atomic<int> counter{0};
  return "talv_pipe_test_" + std::to_string(plat::CurrentProcessId()) + "_" + std::to_string(++counter);
}

// Reads until the peer closes; what arrived.
std::string ReadAll(plat::TPipeConn& conn) {
  std::string text;
  char buf[4096];
  for (size_t n; (n = conn.Read(buf, sizeof buf)) > 0;) text.append(buf, n);
  return text;
}

// Reads up to and including the first LF (or to the end).
std::string ReadLine(plat::TPipeConn& conn) {
  std::string text;
  char c;
  while (conn.Read(&c, 1) == 1) {
    text.push_back(c);
    if (c == '\n') break;
  }
  return text;
}

// One client exchange: connect, write, read the reply until the server closes.
bool Exchange(const std::string& name, const std::string& request, std::string& reply) {
  auto conn = plat::PipeConnect(name, 5000);
  if (!conn) return false;
  if (!conn->Write(request.data(), request.size())) return false;
  reply = ReadAll(*conn);
  return true;
}

// A server running its accept loop on a thread of its own until the fixture ends.
class TRunningServer {
 public:
  explicit TRunningServer(std::function<void(plat::TPipeConn&)> handler) : Server(FreshName()) {
    Opened = Server.Open();
    if (Opened) Loop.Start([this, handler] { Server.Serve(handler); });
  }
  ~TRunningServer() {
    Server.Stop();
    Loop.Join();
  }
  plat::TPipeServer Server;
  plat::TThread Loop;
  bool Opened = false;
};

void EchoLine(plat::TPipeConn& conn) {
  std::string line = ReadLine(conn);
  std::string reply = "echo:" + line;
  conn.Write(reply.data(), reply.size());
}

}  // namespace

TEST(PipeName, ShippedNameAndPathForm) {
  EXPECT_STREQ(plat::kPipeName, "wfx_talvoran_v1");
#ifdef _WIN32
  EXPECT_EQ(plat::PipePath("wfx_talvoran_v1"), "\\\\.\\pipe\\wfx_talvoran_v1");
#else
  std::string path = plat::PipePath("wfx_talvoran_v1");
  ASSERT_GT(path.size(), 16u);
  EXPECT_EQ(path.substr(path.size() - 16), "/wfx_talvoran_v1");
#endif
}

TEST(PipeClient, NoServerMeansNoConnectionAfterTheTimeOut) {
  plat::TManualClock clock;
  int error = -1;
  std::string name = FreshName();
  EXPECT_EQ(plat::PipeConnect(name, 300, clock, &error), nullptr);
  EXPECT_EQ(error, 0);  // a time-out, not a system failure
  EXPECT_GE(clock.NowMs(), 1300u);
  EXPECT_FALSE(plat::PipeExists(name, 20));
}

TEST(PipeServer, ExistsOnceOpenAndGoneAfterwards) {
  std::string name = FreshName();
  {
    plat::TPipeServer server(name);
    ASSERT_TRUE(server.Open()) << server.LastError();
    EXPECT_TRUE(plat::PipeExists(name, 20));
  }
  EXPECT_FALSE(plat::PipeExists(name, 20));
}

TEST(PipeExchange, RequestAndReplyArriveWhole) {
  TRunningServer s(EchoLine);
  ASSERT_TRUE(s.Opened) << s.Server.LastError();
  std::string reply;
  ASSERT_TRUE(Exchange(s.Server.Name(), "PING\r\n", reply));
  EXPECT_EQ(reply, "echo:PING\r\n");
  ASSERT_TRUE(Exchange(s.Server.Name(), "second\n", reply));
  EXPECT_EQ(reply, "echo:second\n");
}

TEST(PipeExchange, ReplyLargerThanThePipeBufferIsNotCutOff) {
  // 1 MiB is sixteen times the buffer: the server must not disconnect before the client has read it.
  std::string big(1 << 20, 'x');
  for (size_t i = 0; i < big.size(); i += 997) big[i] = static_cast<char>('a' + i % 26);
  TRunningServer s([&big](plat::TPipeConn& conn) {
    ReadLine(conn);
    conn.Write(big.data(), big.size());
  });
  ASSERT_TRUE(s.Opened);
  std::string reply;
  ASSERT_TRUE(Exchange(s.Server.Name(), "GIVE\n", reply));
  EXPECT_EQ(reply.size(), big.size());
  EXPECT_TRUE(reply == big);
}

TEST(PipeExchange, TwentyClientsAtOnceAllAnswered) {
  std::atomic<int> served{0};
  TRunningServer s([&served](plat::TPipeConn& conn) {
    EchoLine(conn);
    ++served;
  });
  ASSERT_TRUE(s.Opened);
  constexpr int kClients = 20, kRounds = 10;
  std::atomic<int> good{0};
  std::vector<std::unique_ptr<plat::TThread>> clients;
  for (int c = 0; c < kClients; ++c) {
    clients.push_back(std::make_unique<plat::TThread>());
    ASSERT_TRUE(clients.back()->Start([&, c] {
      for (int r = 0; r < kRounds; ++r) {
        std::string request = "client " + std::to_string(c) + " round " + std::to_string(r) + "\r\n";
        std::string reply;
        if (Exchange(s.Server.Name(), request, reply) && reply == "echo:" + request) ++good;
      }
    }));
  }
  for (auto& t : clients) t->Join();
  EXPECT_EQ(good.load(), kClients * kRounds);
  EXPECT_TRUE(s.Server.WaitConnections(10000));
  EXPECT_EQ(served.load(), kClients * kRounds);
  EXPECT_EQ(s.Server.ActiveConnections(), 0);
}

TEST(PipeExchange, AClientThatReadsLateStillGetsTheWholeReply) {
  // The server has written its reply and closed its end before the client reads a byte: what was
  // written must still arrive whole (an instance disconnected meanwhile would lose it).
  std::atomic<int> served{0};
  TRunningServer s([&served](plat::TPipeConn& conn) {
    EchoLine(conn);
    ++served;
  });
  ASSERT_TRUE(s.Opened);
  for (int round = 0; round < 3; ++round) {
    auto conn = plat::PipeConnect(s.Server.Name(), 5000);
    ASSERT_NE(conn, nullptr);
    ASSERT_TRUE(conn->Write("late\n", 5));
    for (int i = 0; i < 500 && served.load() <= round; ++i) plat::SleepMs(5);
    plat::SleepMs(100);  // the server thread has closed the instance by now
    EXPECT_EQ(ReadAll(*conn), "echo:late\n") << "round " << round;
  }
}

TEST(PipeExchange, ConnectionDroppedWithoutReplyEndsTheClientsRead) {
  // The server gives up on an oversized request: the client's write fails or is ignored, and its read
  // ends with nothing instead of hanging.
  constexpr size_t kCap = 1 << 20;
  std::atomic<size_t> seen{0};
  TRunningServer s([&seen](plat::TPipeConn& conn) {
    char buf[4096];
    size_t total = 0;
    for (size_t n; total <= kCap && (n = conn.Read(buf, sizeof buf)) > 0;) total += n;
    seen = total;
  });
  ASSERT_TRUE(s.Opened);
  auto conn = plat::PipeConnect(s.Server.Name(), 5000);
  ASSERT_NE(conn, nullptr);
  std::string huge(3 * kCap, 'A');
  conn->Write(huge.data(), huge.size());  // may fail once the server has gone
  EXPECT_EQ(ReadAll(*conn), "");
  conn->Close();
  EXPECT_TRUE(s.Server.WaitConnections(10000));
  EXPECT_GT(seen.load(), kCap);
}

TEST(PipeExchange, ClientGoneBeforeTheReplyCostsNothing) {
  std::atomic<int> served{0};
  TRunningServer s([&served](plat::TPipeConn& conn) {
    EchoLine(conn);
    ++served;
  });
  ASSERT_TRUE(s.Opened);
  {
    auto conn = plat::PipeConnect(s.Server.Name(), 5000);
    ASSERT_NE(conn, nullptr);
    conn->Write("QUIT\r\n", 6);
  }  // closed without reading, as the plug-in does with QUIT
  std::string reply;
  ASSERT_TRUE(Exchange(s.Server.Name(), "next\n", reply));
  EXPECT_EQ(reply, "echo:next\n");
  EXPECT_TRUE(s.Server.WaitConnections(10000));
  EXPECT_EQ(served.load(), 2);
}

TEST(PipeServer, SecondServerOnTheSameNameIsRefused) {
  std::string name = FreshName();
  auto first = std::make_unique<plat::TPipeServer>(name);
  ASSERT_TRUE(first->Open()) << first->LastError();
  plat::TPipeServer second(name);
  EXPECT_FALSE(second.Open());
  EXPECT_TRUE(second.AlreadyRunning()) << second.LastError() << " / " << second.LastErrorCode();
  // Still refused while the first has handed out a connection and made its next instance.
  plat::TThread loop;
  ASSERT_TRUE(loop.Start([&] { first->Serve(EchoLine); }));
  std::string reply;
  ASSERT_TRUE(Exchange(name, "one\n", reply));
  EXPECT_EQ(reply, "echo:one\n");
  plat::TPipeServer third(name);
  EXPECT_FALSE(third.Open());
  EXPECT_TRUE(third.AlreadyRunning());
  first->Stop();
  loop.Join();
  first.reset();
  // Once the first has gone the name is free again.
  plat::TPipeServer fourth(name);
  EXPECT_TRUE(fourth.Open()) << fourth.LastError();
}

TEST(PipeServer, StopEndsTheAcceptLoop) {
  plat::TPipeServer server(FreshName());
  ASSERT_TRUE(server.Open());
  std::atomic<bool> returned{false};
  plat::TThread loop;
  ASSERT_TRUE(loop.Start([&] {
    server.Serve(EchoLine);
    returned = true;
  }));
  server.Stop();
  loop.Join();
  EXPECT_TRUE(returned.load());
  EXPECT_EQ(server.Accept(), nullptr);
}

TEST(PipeServer, KeepGoingIsAskedAfterEachConnection) {
  plat::TPipeServer server(FreshName());
  ASSERT_TRUE(server.Open());
  std::atomic<int> asked{0};
  plat::TThread loop;
  ASSERT_TRUE(loop.Start([&] { server.Serve(EchoLine, [&] { return ++asked < 2; }); }));
  std::string reply;
  ASSERT_TRUE(Exchange(server.Name(), "a\n", reply));
  ASSERT_TRUE(Exchange(server.Name(), "b\n", reply));
  loop.Join();  // returns by itself after the second connection
  EXPECT_EQ(asked.load(), 2);
  EXPECT_TRUE(server.WaitConnections(10000));
}

TEST(PipeServer, ShutdownAbortsAConnectionThatNeverSends) {
  std::atomic<bool> handlerDone{false};
  auto s = std::make_unique<TRunningServer>([&](plat::TPipeConn& conn) {
    char buf[16];
    while (conn.Read(buf, sizeof buf) > 0) {
    }
    handlerDone = true;
  });
  ASSERT_TRUE(s->Opened);
  auto conn = plat::PipeConnect(s->Server.Name(), 5000);
  ASSERT_NE(conn, nullptr);
  // Wait until the server has a thread blocked on the silent client.
  for (int i = 0; i < 500 && s->Server.ActiveConnections() == 0; ++i) plat::SleepMs(10);
  ASSERT_EQ(s->Server.ActiveConnections(), 1);
  EXPECT_FALSE(s->Server.WaitConnections(50));
  s.reset();  // stops, aborts the blocked read and waits for the thread
  EXPECT_TRUE(handlerDone.load());
}

TEST(PipeServer, AReadTimeOutEndsTheWaitForASilentOrStalledClient) {
  // The handler gives each connection 300 ms for its line: a silent client and one that stops in the
  // middle both lose their connection, and a prompt one is still answered.
  std::atomic<int> timedOut{0};
  TRunningServer s([&timedOut](plat::TPipeConn& conn) {
    conn.SetReadTimeout(300);
    const std::string line = ReadLine(conn);
    if (conn.TimedOut()) {
      ++timedOut;
      return;
    }
    const std::string reply = "echo:" + line;
    conn.Write(reply.data(), reply.size());
  });
  ASSERT_TRUE(s.Opened);
  auto silent = plat::PipeConnect(s.Server.Name(), 5000);
  auto stalled = plat::PipeConnect(s.Server.Name(), 5000);
  ASSERT_NE(silent, nullptr);
  ASSERT_NE(stalled, nullptr);
  stalled->Write("half a li", 9);
  EXPECT_EQ(ReadAll(*silent), "");  // ends once the server gave up, without the client closing
  EXPECT_EQ(ReadAll(*stalled), "");
  EXPECT_TRUE(s.Server.WaitConnections(10000));
  EXPECT_EQ(timedOut.load(), 2);
  std::string reply;
  ASSERT_TRUE(Exchange(s.Server.Name(), "prompt\n", reply));
  EXPECT_EQ(reply, "echo:prompt\n");
}

TEST(PipeServer, AcceptFailuresInARowWaitLongerAndAreReportedLessOften) {
  EXPECT_EQ(plat::TPipeServer::AcceptRetryDelayMs(1), 50u);
  EXPECT_EQ(plat::TPipeServer::AcceptRetryDelayMs(2), 100u);
  EXPECT_EQ(plat::TPipeServer::AcceptRetryDelayMs(5), 800u);
  EXPECT_EQ(plat::TPipeServer::AcceptRetryDelayMs(6), 1600u);
  EXPECT_EQ(plat::TPipeServer::AcceptRetryDelayMs(100000), 1600u);
  std::vector<uint32_t> reported;
  for (uint32_t n = 1; n <= 40; ++n)
    if (plat::TPipeServer::ReportAcceptFailure(n)) reported.push_back(n);
  EXPECT_EQ(reported, (std::vector<uint32_t>{1, 2, 4, 8, 16, 32}));
}

// Not in the sanitizer builds: their run-time needs descriptors of its own while the limit is tight.
#if !defined(_WIN32) && !defined(__SANITIZE_ADDRESS__) && !defined(__SANITIZE_THREAD__)
// A clock that records every pause asked of it and returns at once.
class TPauseLog : public plat::IClock {
 public:
  uint64_t NowMs() override { return 0; }
  void SleepMs(uint32_t ms) override {
    std::lock_guard<std::mutex> g(FLock);
    FPauses.push_back(ms);
  }
  std::vector<uint32_t> Pauses() {
    std::lock_guard<std::mutex> g(FLock);
    return FPauses;
  }

 private:
  std::mutex FLock;
  std::vector<uint32_t> FPauses;
};

TEST(PipeServer, OutOfHandlesTheAcceptLoopBacksOffAndRecovers) {
  TPauseLog clock;
  plat::TPipeServer server(FreshName(), clock);
  ASSERT_TRUE(server.Open()) << server.LastError();
  std::atomic<int> reported{0};
  std::atomic<int> served{0};
  rlimit old{};
  ASSERT_EQ(getrlimit(RLIMIT_NOFILE, &old), 0);
  // The lowest free descriptor number is how many are open below it; the client takes it, and the
  // limit leaves the server none for accepting.
  const int probe = ::open("/dev/null", O_RDONLY);
  ASSERT_GE(probe, 0);
  ::close(probe);
  auto client = plat::PipeConnect(server.Name(), 5000);
  ASSERT_NE(client, nullptr);
  rlimit tight = old;
  tight.rlim_cur = static_cast<rlim_t>(probe) + 1;
  ASSERT_EQ(setrlimit(RLIMIT_NOFILE, &tight), 0);
  plat::TThread loop;
  ASSERT_TRUE(loop.Start([&] {
    server.Serve([&](plat::TPipeConn& conn) { ++served; }, nullptr,
                 [&](const std::string&, int code) {
                   if (code == EMFILE) ++reported;
                 });
  }));
  for (int i = 0; i < 1000 && clock.Pauses().size() < 40; ++i) plat::SleepMs(2);
  setrlimit(RLIMIT_NOFILE, &old);
  for (int i = 0; i < 1000 && served.load() == 0; ++i) plat::SleepMs(2);
  server.Stop();
  loop.Join();
  const std::vector<uint32_t> pauses = clock.Pauses();
  ASSERT_GE(pauses.size(), 40u);
  EXPECT_EQ(std::vector<uint32_t>(pauses.begin(), pauses.begin() + 7),
            (std::vector<uint32_t>{50, 100, 200, 400, 800, 1600, 1600}));
  // Failures 1, 2, 4, 8 ... of the run are told, the others only counted.
  int told = 0;
  for (size_t n = 1; n <= pauses.size(); n *= 2) ++told;
  EXPECT_EQ(reported.load(), told) << pauses.size() << " failures in a row";
  EXPECT_EQ(served.load(), 1) << "once handles are free again the waiting client is taken";
}
#endif

#if !defined(_WIN32)
TEST(PipeServer, ASocketFolderOfSomeoneElseIsRefusedWithItsCause) {
  // The folder the socket would go in is open to others: refused, and not taken for a running server.
  const std::string saved = plat::GetEnv("XDG_RUNTIME_DIR");
  const std::string dir = "/tmp/talv_pipe_test_open_" + std::to_string(plat::CurrentProcessId());
  ASSERT_EQ(std::system(("mkdir -p " + dir + " && chmod 0777 " + dir).c_str()), 0);
  plat::SetEnv("XDG_RUNTIME_DIR", dir);
  plat::TPipeServer server(FreshName());
  EXPECT_FALSE(server.Open());
  EXPECT_FALSE(server.AlreadyRunning());
  EXPECT_NE(server.LastError().find("is not ours"), std::string::npos) << server.LastError();
  EXPECT_EQ(server.LastError().find("already running"), std::string::npos) << server.LastError();
  if (saved.empty())
    plat::UnsetEnv("XDG_RUNTIME_DIR");
  else
    plat::SetEnv("XDG_RUNTIME_DIR", saved);
  std::system(("rm -rf " + dir).c_str());
}
#endif

// Run by the next test in a child process: opens a server on the given name and ends the process at
// once, without closing anything, as a crashed engine would.
TEST(PipeHelper, ServerThatDies) {
  std::string name = plat::GetEnv("TALV_PIPE_DIE_NAME");
  if (name.empty()) return;  // only acts when the next test runs it
  static plat::TPipeServer server(name);
  std::_Exit(server.Open() ? 42 : 43);
}

TEST(PipeServer, NameLeftByADeadServerIsTakenOver) {
  std::string name = FreshName();
  plat::TProcessResult r = plat::RunProcess(plat::ProgramPath(), {"--gtest_filter=PipeHelper.ServerThatDies"},
                                            {{"TALV_PIPE_DIE_NAME", name}}, 60000);
  ASSERT_TRUE(r.Started) << r.Error;
  ASSERT_EQ(r.ExitCode, 42) << r.Output;
  // On Linux its socket file is still there, with nobody behind it.
  EXPECT_FALSE(plat::PipeExists(name, 20));
  plat::TPipeServer server(name);
  ASSERT_TRUE(server.Open()) << server.LastError();
  plat::TThread loop;
  ASSERT_TRUE(loop.Start([&] { server.Serve(EchoLine, [] { return false; }); }));
  std::string reply;
  ASSERT_TRUE(Exchange(name, "alive\n", reply));
  loop.Join();
  EXPECT_EQ(reply, "echo:alive\n");
}
