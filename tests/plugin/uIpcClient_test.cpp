#include "uIpcClient.h"

#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include "FakeEngine.h"
#include "TestSupport.h"
#include "pClock.h"
#include "pFile.h"
#include "pLaunch.h"
#include "pPipe.h"
#include "pSystem.h"
#include "uPluginConfig.h"

using testsupport::TFakeEngine;

namespace {

// A client of the fake engine; no engine program lies in its engine folder.
TEngineClientSetup SetupFor(const std::string& pipeName, const std::string& engineFolder) {
  TEngineClientSetup s;
  s.PipeName = pipeName;
  s.EngineFolder = engineFolder;
  s.EngineFile = "no_engine_here.exe";
  s.ReplyTimeoutMs = 3000;
  return s;
}

struct TFakeClient {
  testsupport::TTempDir Dir;
  TFakeEngine Fake;
  TEngineClient Client;
  TFakeClient() : Client(SetupFor(Fake.PipeName(), Dir.Path())) {}
  bool Start() { return Fake.Start(); }
  bool Request(const char* command, TTextLines& reply, const TTextLines* body = nullptr,
               bool autoStart = false) {
    return Client.EngineRequest(command, body, reply, autoStart);
  }
};

}  // namespace

// ---------------------------------------------------------------------------------------------
// Parsers

TEST(SpectrumReply, OddValuesAndTheCountCheck) {
  TTalvFrame f;
  EXPECT_TRUE(ParseSpectrumReply(
      {"OK", "Center=145000000", "Rate=2048000.5", "Noise=-97.25", "Seq=42", "Source=scan 1", "Count=3",
       "LoHz=144000000", "HiHz=146000000", "Bin=-80.5 x  -79", "Mark=145012500 18.5 extra", "Mark=145",
       "Pano=100 200", "Pano=100 200 x", "Pano=5", "Pano=1 2 -1", "Unknown=1", "=7"},
      f));
  EXPECT_EQ(f.Center, 145000000);
  EXPECT_EQ(f.Rate, 2048000.5);
  EXPECT_EQ(f.Noise, -97.25);
  EXPECT_EQ(f.Seq, 42);
  EXPECT_EQ(f.Source, "scan 1");
  EXPECT_EQ(f.LoHz, 144000000);
  EXPECT_EQ(f.HiHz, 146000000);
  EXPECT_EQ(f.Bins, (std::vector<float>{-80.5f, -140.0f, -79.0f}));
  ASSERT_EQ(f.Marks.size(), 1u);  // "Mark=145" has no blank: nothing
  EXPECT_EQ(f.Marks[0].HzValue, 145012500);
  EXPECT_EQ(f.Marks[0].Snr, 18.5);
  ASSERT_EQ(f.Pano.size(), 4u);
  EXPECT_EQ(f.Pano[0].LoHz, 100);
  EXPECT_EQ(f.Pano[0].HiHz, 0);
  EXPECT_EQ(f.Pano[0].AgeMs, 0);
  EXPECT_EQ(f.Pano[1].HiHz, 200);
  EXPECT_EQ(f.Pano[1].AgeMs, -1);
  EXPECT_EQ(f.Pano[2].LoHz, 0);
  EXPECT_EQ(f.Pano[3].AgeMs, -1);

  EXPECT_FALSE(ParseSpectrumReply({"OK", "Count=4", "Bin=1 2 3"}, f));
  EXPECT_EQ(f.Bins.size(), 3u);  // what was parsed stays
  EXPECT_TRUE(ParseSpectrumReply({"OK", "Bin=1", "Bin=2"}, f));
  EXPECT_FALSE(ParseSpectrumReply({"OK", "Count=0"}, f));
  // Line 0 is the status line, never data; a bad noise value is -100, a missing one 0.
  EXPECT_TRUE(ParseSpectrumReply({"Bin=9", "Bin=1", "Noise=loud"}, f));
  EXPECT_EQ(f.Bins, (std::vector<float>{1.0f}));
  EXPECT_EQ(f.Noise, -100);
  EXPECT_TRUE(ParseSpectrumReply({"OK", "Bin=1"}, f));
  EXPECT_EQ(f.Noise, 0);
}

TEST(EnvelopeReply, LanesLevelsAndDefaults) {
  TTalvLaneArray lanes;
  int64_t seq = 0;
  bool live = true;
  int32_t rate = 9;
  EXPECT_TRUE(ParseEnvelopeReply({"OK", "Env=0.5,0.2", "Live=1", "Rate=62", "Lane=145000000 1234",
                                  "Env=0.5,0.2 ,0.1  0.3,0.1 nocomma 0.9,x", "Lane=146000000", "Env=1,1"},
                                 77, lanes, seq, live, rate));
  EXPECT_EQ(seq, 77);  // no Seq line: the one asked for
  EXPECT_TRUE(live);
  EXPECT_EQ(rate, 62);
  ASSERT_EQ(lanes.size(), 2u);
  EXPECT_EQ(lanes[0].Hz, 145000000);
  EXPECT_EQ(lanes[0].Count, 1234);
  ASSERT_EQ(lanes[0].Levels.size(), 3u);  // ",0.1" and "nocomma" skipped; "0.9,x" gives rms 0
  EXPECT_FLOAT_EQ(lanes[0].Levels[0].Peak, 0.5f);
  EXPECT_FLOAT_EQ(lanes[0].Levels[1].Rms, 0.1f);
  EXPECT_FLOAT_EQ(lanes[0].Levels[2].Peak, 0.9f);
  EXPECT_FLOAT_EQ(lanes[0].Levels[2].Rms, 0.0f);
  EXPECT_EQ(lanes[1].Hz, 146000000);
  EXPECT_EQ(lanes[1].Count, 0);
  EXPECT_EQ(lanes[1].Levels.size(), 1u);

  EXPECT_TRUE(
      ParseEnvelopeReply({"OK", "Seq=x", "Live=yes", "Rate=many", "Lane=bad 5"}, 5, lanes, seq, live, rate));
  EXPECT_EQ(seq, 5);
  EXPECT_FALSE(live);
  EXPECT_EQ(rate, 0);
  ASSERT_EQ(lanes.size(), 1u);
  EXPECT_EQ(lanes[0].Hz, 0);
  EXPECT_EQ(lanes[0].Count, 5);
  EXPECT_TRUE(ParseEnvelopeReply({"OK", "Seq=900"}, 5, lanes, seq, live, rate));
  EXPECT_EQ(seq, 900);
  EXPECT_TRUE(lanes.empty());
}

TEST(EngineProgram, NameByBitnessAndWow64) {
  EXPECT_EQ(EngineFileNameFor(true, false), "talvoran_engine64.exe");
  EXPECT_EQ(EngineFileNameFor(true, true), "talvoran_engine64.exe");
  EXPECT_EQ(EngineFileNameFor(false, true), "talvoran_engine64.exe");
  EXPECT_EQ(EngineFileNameFor(false, false), "talvoran_engine32.exe");
  if (plat::IsWindowsBuild())
    EXPECT_EQ(EngineFileName(), EngineFileNameFor(plat::Is64BitBuild(), plat::RunningUnderWow64()));
  else
    EXPECT_EQ(EngineFileName(), "talvoran_engine");
  if (plat::Is64BitBuild()) {
    EXPECT_FALSE(plat::RunningUnderWow64());
  }
  // Windows gives a WOW64 process the variable PROCESSOR_ARCHITEW6432 (the machine's own kind): an
  // oracle that does not ask IsWow64Process. So a 32-bit plug-in on 64-bit Windows starts engine64.
  if (plat::PathSeparator() == '\\') {
    EXPECT_EQ(plat::RunningUnderWow64(), plat::HasEnv("PROCESSOR_ARCHITEW6432"));
  }
  TEngineClient client;
  EXPECT_EQ(client.EnginePath(), JoinPath(PluginFolder(), EngineFileName()));
}

// ---------------------------------------------------------------------------------------------
// Requests against the fake engine

TEST(ClientRequest, FramesTheBodyAndReturnsTheReply) {
  TFakeClient t;
  t.Fake.ReplyLines({"OK", "Running=1", ".starts with a dot", "..two dots"});
  ASSERT_TRUE(t.Start());
  TTextLines body = {"Key=v", ".", "..x", ".y"};
  TTextLines reply;
  ASSERT_TRUE(t.Request("STATUS", reply, &body)) << EngineLastError();
  EXPECT_EQ(reply, (TTextLines{"OK", "Running=1", ".starts with a dot", "..two dots"}));
  EXPECT_EQ(EngineLastError(), "");
  auto requests = t.Fake.Requests();
  ASSERT_EQ(requests.size(), 1u);
  EXPECT_EQ(requests[0].CommandLine, "STATUS");
  EXPECT_EQ(requests[0].Body, body);  // a lone "." in the body did not end the request
}

TEST(ClientRequest, ReplyJudgingAndErrorTexts) {
  TFakeClient t;
  ASSERT_TRUE(t.Start());
  struct TCase {
    std::string Raw;
    bool Ok;
    const char* Error;
    TTextLines Lines;
  } cases[] = {
      {"ERR no frequency given\r\n.\r\n", false, "no frequency given", {"ERR no frequency given"}},
      {"ERR\r\n.\r\n", false, "ERR", {"ERR"}},
      {"ERR   \t \r\n.\r\n", false, "ERR   \t ", {"ERR   \t "}},
      {"OKAY fine\r\n.\r\n", true, "", {"OKAY fine"}},
      {"ok\r\n.\r\n", false, "ok", {"ok"}},
      {"OK\nA=1\n..B\n.\n", true, "", {"OK", "A=1", ".B"}},
      {"..OK\r\n.\r\n", false, "K", {"..OK"}},  // the status line is never un-stuffed
      {"OK\r\nA=1\r\n", false, "no reply from engine", {}},
      {".\r\n", false, "no reply from engine", {}},
      {"", false, "no reply from engine", {}},
      {"OK\r\n.\r\nafter the end\r\n", true, "", {"OK"}},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.Raw);
    t.Fake.ReplyRaw(c.Raw);
    SetEngineLastError("stale");
    TTextLines reply;
    EXPECT_EQ(t.Request("PING", reply), c.Ok);
    EXPECT_EQ(EngineLastError(), c.Error);
    EXPECT_EQ(reply, c.Lines);
  }
}

TEST(ClientRequest, AnEngineThatNeverAnswersIsNoReply) {
  TFakeClient t;
  t.Fake.SetSilent(true);
  ASSERT_TRUE(t.Start());
  TEngineClientSetup s = t.Client.Setup();
  s.ReplyTimeoutMs = 300;
  TEngineClient client(s);
  uint64_t start = plat::TickMs();
  TTextLines reply;
  EXPECT_FALSE(client.EngineRequest("STATUS", nullptr, reply, false));
  uint64_t took = plat::TickMs() - start;
  EXPECT_EQ(EngineLastError(), "no reply from engine");
  EXPECT_GE(took, 250u);
  EXPECT_LT(took, 5000u);
  EXPECT_EQ(t.Fake.RequestCount(), 1);
  t.Fake.Stop();
}

TEST(ClientRequest, NoEngineMeansNotRunningAndNothingStarted) {
  testsupport::TTempDir dir;
  plat::TManualClock clock;
  TEngineClientSetup s = SetupFor(testsupport::UniquePipeName("absent"), dir.Path());
  s.Clock = &clock;
  TEngineClient client(s);
  EXPECT_FALSE(client.EngineAlive());
  std::string error = "stale";
  uint64_t start = clock.NowMs();
  EXPECT_FALSE(client.StopScan(error));
  EXPECT_EQ(error, "engine is not running");
  EXPECT_EQ(EngineLastError(), "engine is not running");
  EXPECT_GE(clock.NowMs() - start, 500u);  // the whole connect time-out was waited
  // A request that may start the engine, with no engine program there.
  EXPECT_FALSE(client.StartScan(TTalvConfig{}, error));
  EXPECT_EQ(error, "engine not found: " + JoinPath(dir.Path(), "no_engine_here.exe"));
  client.SendQuit();  // nothing there: nothing happens, nothing reported
}

TEST(ClientRequest, EveryInstanceBusyCountsAsThereButDoesNotConnect) {
  std::string name = testsupport::UniquePipeName("busy");
  plat::TBusyPipe busy(name);
  ASSERT_TRUE(busy.Open());
  testsupport::TTempDir dir;
  // The real clock: on Windows a busy pipe is waited for with the system's own pipe wait.
  TEngineClient client(SetupFor(name, dir.Path()));
  EXPECT_TRUE(client.EngineAlive());
  EXPECT_TRUE(client.EnsureEngine());  // there: nothing is started
  TTextLines reply;
  uint64_t start = plat::TickMs();
  EXPECT_FALSE(client.EngineRequest("STATUS", nullptr, reply, false));
  EXPECT_EQ(EngineLastError(), "engine is not running");
  EXPECT_GE(plat::TickMs() - start, 450u);
}

TEST(ClientRequest, TheLastErrorBelongsToTheThreadThatAsked) {
  TFakeClient t;
  t.Fake.SetResponder([](const TRequest& r) {
    return r.CommandLine == "BAD" ? std::string("ERR bad one\r\n.\r\n") : std::string("OK\r\n.\r\n");
  });
  ASSERT_TRUE(t.Start());
  std::atomic<int> wrong{0};
  auto worker = [&](bool bad) {
    for (int i = 0; i < 20; ++i) {
      TTextLines reply;
      bool ok = t.Client.EngineRequest(bad ? "BAD" : "GOOD", nullptr, reply, false);
      if (ok == bad || EngineLastError() != (bad ? "bad one" : "")) ++wrong;
    }
  };
  std::thread a(worker, true), b(worker, false), c(worker, true);
  a.join();
  b.join();
  c.join();
  EXPECT_EQ(wrong.load(), 0);
  EXPECT_EQ(t.Fake.RequestCount(), 60);
}

TEST(ClientCommands, BodiesOfEveryWrapper) {
  TFakeClient t;
  t.Fake.SetResponder([](const TRequest& r) {
    std::string word = CommandWord(r.CommandLine);
    if (word == "SPECTRUM") return FrameReply({"OK", "Center=145000000", "Count=2", "Bin=-90.5 -91"});
    if (word == "ENVELOPE")
      return FrameReply({"OK", "Seq=10", "Live=1", "Rate=62", "Lane=1 2", "Env=0.5,0.25"});
    return FrameReply({"OK"});
  });
  ASSERT_TRUE(t.Start());
  TEngineClientSetup s = t.Client.Setup();
  s.ClientPid = 4242;
  TEngineClient client(s);
  TTalvConfig cfg;
  cfg.RecordDir = "C:\\Aufnahmen ü";
  std::string error = "stale";
  ASSERT_TRUE(client.StartScan(cfg, error));
  EXPECT_EQ(error, "");
  ASSERT_TRUE(client.StopScan(error));
  ASSERT_TRUE(client.StartLive(cfg, 145012500, modAM, error));
  ASSERT_TRUE(client.StartLiveMulti(cfg, error));
  ASSERT_TRUE(client.StopLive(error));
  TTalvFrame frame;
  ASSERT_TRUE(client.Spectrum(cfg, 145000000, 2048, 144000000, 146000000, frame));
  EXPECT_EQ(frame.Bins, (std::vector<float>{-90.5f, -91.0f}));
  TTalvLevelArray levels;
  int64_t seq = 0;
  bool live = false;
  int32_t rate = 0;
  ASSERT_TRUE(client.EnvelopeFirst(cfg, 7, 512, levels, seq, live, rate));
  EXPECT_EQ(seq, 10);
  EXPECT_TRUE(live);
  EXPECT_EQ(rate, 62);
  ASSERT_EQ(levels.size(), 1u);
  EXPECT_FLOAT_EQ(levels[0].Rms, 0.25f);

  std::vector<TRequest> r = t.Fake.Requests();
  ASSERT_EQ(r.size(), 7u);
  TTextLines settings;
  for (int i = 0; i < ConfigKeyCount(); ++i)
    settings.push_back(ConfigKeyName(i) + "=" + ConfigValueText(cfg, ConfigKeyName(i)));
  settings.push_back("ClientPid=4242");
  EXPECT_EQ(settings[13], "RecordDir=C:\\Aufnahmen ü");  // UTF-8 on the wire
  auto with = [&](TTextLines extra) {
    TTextLines all = settings;
    all.insert(all.end(), extra.begin(), extra.end());
    return all;
  };
  EXPECT_EQ(r[0].CommandLine, "START");
  EXPECT_EQ(r[0].Body, settings);
  EXPECT_EQ(r[1].CommandLine, "STOP");
  EXPECT_TRUE(r[1].Body.empty());
  EXPECT_EQ(r[2].CommandLine, "LIVE");
  EXPECT_EQ(r[2].Body, with({"LiveHz=145012500", "LiveMod=AM"}));
  EXPECT_EQ(r[3].Body, with({"LiveMulti=1"}));
  EXPECT_EQ(r[4].CommandLine, "LIVESTOP");
  EXPECT_EQ(r[5].CommandLine, "SPECTRUM");
  EXPECT_EQ(r[5].Body,
            with({"SpecCenter=145000000", "SpecBins=2048", "SpecLo=144000000", "SpecHi=146000000"}));
  EXPECT_EQ(r[6].CommandLine, "ENVELOPE");
  EXPECT_EQ(r[6].Body, (TTextLines{"AudioRate=48000", "EnvAfter=7", "EnvMax=512", "ClientPid=4242"}));
}

TEST(ClientCommands, FailedDataRequestsLeaveEmptyResults) {
  TFakeClient t;
  t.Fake.SetResponder([](const TRequest& r) {
    if (CommandWord(r.CommandLine) == "SPECTRUM") return FrameReply({"OK", "Count=5", "Bin=1 2"});
    return FrameReply({"ERR no spectrum yet"});
  });
  ASSERT_TRUE(t.Start());
  TTalvFrame frame;
  frame.Seq = 99;
  EXPECT_FALSE(t.Client.Spectrum(TTalvConfig{}, 0, 16, 0, 0, frame));
  EXPECT_EQ(EngineLastError(), "");  // the reply was OK; only its bins disagree with its count
  TTalvLaneArray lanes(3);
  int64_t seq = 0;
  bool live = true;
  int32_t rate = 5;
  EXPECT_FALSE(t.Client.Envelope(TTalvConfig{}, 31, 16, lanes, seq, live, rate));
  EXPECT_EQ(EngineLastError(), "no spectrum yet");
  EXPECT_TRUE(lanes.empty());
  EXPECT_EQ(seq, 31);
  EXPECT_FALSE(live);
  EXPECT_EQ(rate, 0);
}

TEST(ClientCommands, QuitIsWrittenWithoutWaitingForAReply) {
  TFakeClient t;
  t.Fake.SetSilent(true);  // a reply would never come: SendQuit must not wait for one
  ASSERT_TRUE(t.Start());
  uint64_t start = plat::TickMs();
  t.Client.SendQuit();
  EXPECT_LT(plat::TickMs() - start, 2000u);
  for (int i = 0; i < 200 && t.Fake.RequestCount() == 0; ++i) plat::SleepMs(10);
  ASSERT_EQ(t.Fake.RequestCount(), 1);
  EXPECT_EQ(t.Fake.Requests()[0].CommandLine, "QUIT");
  EXPECT_TRUE(t.Fake.Requests()[0].Body.empty());
  t.Fake.Stop();
}

// ---------------------------------------------------------------------------------------------
// Starting the engine program (the stub engine stands in for it)

namespace {

std::string StubFolder() {
  std::string program = plat::ProgramPath();
  size_t sep = program.find_last_of("\\/");
  return program.substr(0, sep);
}

// Environment the stub reads, set for the length of one test (the started program inherits it).
class TStubEnv {
 public:
  TStubEnv(const testsupport::TTempDir& dir, const std::string& pipe, const std::string& mode) {
    Record = dir.File("record.txt");
    Starts = dir.File("starts.txt");
    plat::SetEnv("TALV_STUB_RECORD", Record);
    plat::SetEnv("TALV_STUB_STARTS", Starts);
    plat::SetEnv("TALV_STUB_PIPE", pipe);
    plat::SetEnv("TALV_STUB_MODE", mode);
  }
  ~TStubEnv() {
    for (const char* k : {"TALV_STUB_RECORD", "TALV_STUB_STARTS", "TALV_STUB_PIPE", "TALV_STUB_MODE"})
      plat::UnsetEnv(k);
  }
  // The record's value of key, waiting up to 10 s for the record.
  std::string Value(const std::string& key) const {
    for (int i = 0; i < 1000 && !plat::FileExists(Record); ++i) plat::SleepMs(10);
    for (const std::string& line : testsupport::SplitLines(testsupport::ReadWholeFile(Record)))
      if (line.compare(0, key.size() + 1, key + "=") == 0) return line.substr(key.size() + 1);
    return "<missing>";
  }
  int StartCount() const {
    return static_cast<int>(testsupport::SplitLines(testsupport::ReadWholeFile(Starts)).size());
  }
  std::string Record, Starts;
};

TEngineClientSetup StubSetup(const std::string& pipe) {
  TEngineClientSetup s;
  s.PipeName = pipe;
  s.EngineFolder = StubFolder();
  s.EngineFile = TALV_STUB_ENGINE_FILE;
  return s;
}

std::string Lower(std::string s) {
  return AsciiLower(s);
}

}  // namespace

TEST(EngineStart, StartedHiddenWithServiceFromThePluginFolder) {
  testsupport::TTempDir dir;
  std::string pipe = testsupport::UniquePipeName("stub");
  TStubEnv env(dir, pipe, "serve");
  TEngineClient client(StubSetup(pipe));
  std::string error;
  ASSERT_TRUE(client.StartScan(TTalvConfig{}, error)) << error;
  EXPECT_EQ(env.Value("args"), "--service");
  EXPECT_EQ(Lower(env.Value("cwd")), Lower(StubFolder()));
  EXPECT_EQ(env.Value("hidden"), "1");
  EXPECT_EQ(env.Value("console"), "0");
  // On Linux it leads no session of ours: a hang-up of the host's terminal does not reach it.
  EXPECT_EQ(env.Value("session") == std::to_string(plat::ThisProcessStartState().SessionId),
            plat::PathSeparator() == '\\');
  if (plat::PathSeparator() == '\\') {
    EXPECT_EQ(Lower(env.Value("cmdline")), Lower("\"" + client.EnginePath() + "\" --service"));
  }
  // Now it is there: a second request starts nothing.
  ASSERT_TRUE(client.StartScan(TTalvConfig{}, error)) << error;
  EXPECT_EQ(env.StartCount(), 1);
  client.SendQuit();
  bool gone = false;
  for (int i = 0; i < 500 && !gone; ++i) {
    gone = !client.EngineAlive();
    if (!gone) plat::SleepMs(10);
  }
  EXPECT_TRUE(gone);
}

TEST(EngineStart, AnEngineThatNeverOpensThePipeIsPolledFortyTimes) {
  testsupport::TTempDir dir;
  std::string pipe = testsupport::UniquePipeName("stub");
  TStubEnv env(dir, pipe, "silent");
  plat::TManualClock clock;
  TEngineClientSetup s = StubSetup(pipe);
  s.Clock = &clock;
  TEngineClient client(s);
  uint64_t start = clock.NowMs();
  EXPECT_FALSE(client.EnsureEngine());
  EXPECT_EQ(EngineLastError(), "engine started but did not answer on the pipe");
  EXPECT_EQ(clock.NowMs() - start, 40u * 50u);
  EXPECT_EQ(env.Value("args"), "--service");
  EXPECT_EQ(env.StartCount(), 1);
}

TEST(EngineStart, AFileThatIsNoProgramCannotBeStarted) {
  testsupport::TTempDir dir;
  // Text under the engine's name: found, but the system refuses to run it.
  ASSERT_TRUE(testsupport::WriteWholeFile(dir.File("broken_engine.exe"), "not a program\n"));
  TEngineClientSetup s = SetupFor(testsupport::UniquePipeName("broken"), dir.Path());
  s.EngineFile = "broken_engine.exe";
  TEngineClient client(s);
  std::string error;
  EXPECT_FALSE(client.StartScan(TTalvConfig{}, error));
  const std::string head = "cannot start engine (error ";
  ASSERT_EQ(error.compare(0, head.size(), head), 0) << error;
  EXPECT_EQ(error.back(), ')');
  EXPECT_NE(error, head + "0)");  // the system's code, not a made-up one
}

TEST(EngineStart, TwoThreadsThatFindNoEngineStartOne) {
  testsupport::TTempDir dir;
  std::string pipe = testsupport::UniquePipeName("stub");
  TStubEnv env(dir, pipe, "serve");
  TEngineClient client(StubSetup(pipe));
  std::atomic<int> ok{0};
  std::vector<std::thread> threads;
  for (int i = 0; i < 4; ++i)
    threads.emplace_back([&] {
      TTextLines reply;
      if (client.EngineRequest("STATUS", nullptr, reply, true) && reply.size() == 2 && reply[1] == "Stub=1")
        ++ok;
    });
  for (std::thread& t : threads) t.join();
  EXPECT_EQ(ok.load(), 4);
  EXPECT_EQ(env.StartCount(), 1);
  client.SendQuit();
}
