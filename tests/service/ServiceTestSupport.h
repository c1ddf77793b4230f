#pragma once
// What the service tests share: the simulated receiver put in place of every receiver the service
// opens (the scan chain check's three carriers), request bodies, waiting for a condition the engine's
// threads bring about, a pipe client that sees the raw bytes, an in-process service on a pipe of its
// own, and the engine program run as a process.
#include <gtest/gtest.h>

#include <atomic>
#include <filesystem>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "TestSupport.h"
#include "ThreeTones.h"
#include "pPipe.h"
#include "pSystem.h"
#include "pThread.h"
#include "uAudioOut.h"
#include "uEngineSvc.h"
#include "uSdrDevices.h"
#include "uSdrSim.h"
#include "uTalvProto.h"

namespace svctest {

// The three carriers of the scan chain check and their channels.
using testsupport::kChannels;
using testsupport::kTones;

// A simulated receiver that can be made to fail its reads or to throw while the scanner sets it up.
class TTestSim : public TSimDevice {
 public:
  bool ReadSync(uint8_t* buffer, int32_t count, int32_t& bytesRead) override {
    if (FailReads.load()) {
      bytesRead = 0;
      LastError = "simulated read failure";
      return false;
    }
    return TSimDevice::ReadSync(buffer, count, bytesRead);
  }
  bool SetSampleRate(double rate) override {
    if (ThrowOnRate.load()) throw std::runtime_error("rate setter exploded");
    return TSimDevice::SetSampleRate(rate);
  }
  std::atomic<bool> FailReads{false};
  std::atomic<bool> ThrowOnRate{false};
};

// While it lives, every receiver the engine opens is this simulated one, and audio goes nowhere.
class TSimScene {
 public:
  TSimScene() { SetNullAudio(true); }
  ~TSimScene() { SetNullAudio(false); }
  TSimScene(const TSimScene&) = delete;
  TSimScene& operator=(const TSimScene&) = delete;
  std::shared_ptr<TTestSim> Sim = ThreeToneSim();

 private:
  static std::shared_ptr<TTestSim> ThreeToneSim() {
    auto sim = std::make_shared<TTestSim>();
    testsupport::AddThreeTones(*sim);
    sim->Open(0);
    return sim;
  }
  TDeviceOverrideScope FOverride{Sim, "Simulated SDR"};
};

// The settings lines of a three-tone scan (no gain control, no settle time, no recording).
inline TTextLines ThreeToneBody(const std::string& recordDir) {
  return {"StartHz=144000000", "StopHz=146000000", "SampleRate=2048000", "NFft=4096",
          "AvgSegments=8",     "SnrDb=12",         "GridHz=12500",       "GainDb=0",
          "SettleMs=0",        "RecordAudio=0",    "IfRecording=0",      "RecordDir=" + recordDir,
          "MaxDwellMs=300",    "HangTimeMs=200"};
}

inline TTextLines With(TTextLines body, const std::vector<std::string>& more) {
  body.insert(body.end(), more.begin(), more.end());
  return body;
}

using testsupport::WaitUntil;

// One request through the service's connection path (command lock, catch), without a pipe.
inline TTextLines Ask(TEngineService& svc, const std::string& command, const TTextLines& body = {}) {
  TTextLines reply;
  svc.RunCommand(command, body, reply);
  return reply;
}

// The value of the first "Key=" line, or "<none>".
inline std::string Value(const TTextLines& lines, const std::string& key) {
  for (size_t i = 1; i < lines.size(); ++i)
    if (lines[i].rfind(key + "=", 0) == 0) return lines[i].substr(key.size() + 1);
  return "<none>";
}

// The keys of the data lines, in order.
inline std::vector<std::string> Keys(const TTextLines& lines) {
  std::vector<std::string> keys;
  for (size_t i = 1; i < lines.size(); ++i) keys.push_back(lines[i].substr(0, lines[i].find('=')));
  return keys;
}

// ---------------------------------------------------------------------------------------------
// Pipe clients

// Sends raw bytes and returns everything the server sent back until it closed the connection.
inline std::string RawExchange(const std::string& pipeName, const std::string& bytes,
                               bool* connected = nullptr) {
  std::unique_ptr<plat::TPipeConn> conn = plat::PipeConnect(pipeName, 10000);
  if (connected) *connected = conn != nullptr;
  if (!conn) return "<no connection>";
  conn->Write(bytes.data(), bytes.size());
  std::string out;
  char buf[4096];
  for (;;) {
    size_t n = conn->Read(buf, sizeof(buf));
    if (n == 0) break;
    out.append(buf, n);
  }
  return out;
}

// One framed request and its reply lines; {"<no reply>"} when the reply did not end properly.
inline TTextLines PipeAsk(const std::string& pipeName, const std::string& command,
                          const TTextLines& body = {}) {
  std::unique_ptr<plat::TPipeConn> conn = plat::PipeConnect(pipeName, 10000);
  if (!conn) return {"<no connection>"};
  if (!SendRequest(*conn, command, body)) return {"<send failed>"};
  TTextLines lines;
  if (!ReadReply(*conn, lines)) return {"<no reply>"};
  return lines;
}

// A pipe name no other test program uses at the same time.
inline std::string UniquePipeName() {
  static std::atomic<int> counter{0};
  return "talv_svc_test_" + std::to_string(plat::CurrentProcessId()) + "_" + std::to_string(++counter);
}

// ---------------------------------------------------------------------------------------------
// The service in-process, on a pipe of its own, on a thread of its own

class TServiceRun {
 public:
  // The watchdog ticks every tickMs with the given idle limit; ending the process is recorded
  // (EndCode) and stops the accept loop instead.
  explicit TServiceRun(int32_t idleSec = 0, uint32_t tickMs = 2000, uint32_t graceMs = 10000)
      : Name(UniquePipeName()) {
    Options.PipeName = Name;
    Options.IdleSec = idleSec;
    Options.Timings.TickMs = tickMs;
    Options.Timings.ClientGraceMs = graceMs;
    Options.EndProcess = [this](int code) {
      EndCode = code;
      ++Ends;
    };
  }
  ~TServiceRun() { Stop(); }

  // Starts the loop and waits until the pipe answers.
  bool Start() {
    Thread.Start([this] {
      RunServiceWith(Options);
      Returned = true;
    });
    return WaitUntil([this] { return Returned.load() || PipeAsk(Name, "PING") == TTextLines{"OK"}; });
  }
  // Ends the loop: QUIT, then one more connection so the loop sees it (the watchdog may be first).
  void Stop() {
    if (!Thread.Started() || Returned.load()) {
      Thread.Join();
      return;
    }
    PipeAsk(Name, "QUIT");
    WaitUntil([this] {
      if (Returned.load()) return true;
      PipeAsk(Name, "PING");
      return Returned.load();
    });
    Thread.Join();
  }
  bool WaitReturned(uint32_t timeoutMs = 30000) {
    return WaitUntil([this] { return Returned.load(); }, timeoutMs);
  }

  std::string Name;
  TServiceOptions Options;
  std::atomic<int> EndCode{-1};
  std::atomic<int> Ends{0};
  std::atomic<bool> Returned{false};
  plat::TThread Thread;
};

// ---------------------------------------------------------------------------------------------
// The engine program as a process

// On Linux the pipe's folder follows XDG_RUNTIME_DIR: the test program sets it once, before any thread
// runs, to a private folder of its own, so its engines (which inherit it) never meet another program's
// engine, and the environment is never written while threads read it. On Windows the engines serve the
// product's named pipe.
inline bool UsePrivateRuntimeDir() {
#if !defined(_WIN32)
  static testsupport::TTempDir dir;
  // A runtime folder must be private to its user, or the engine refuses to put its socket there.
  std::filesystem::permissions(std::filesystem::u8path(dir.Path()), std::filesystem::perms::owner_all,
                               std::filesystem::perm_options::replace);
  plat::SetEnv("XDG_RUNTIME_DIR", dir.Path());
#endif
  return true;
}
inline const bool kPrivateRuntimeDir = UsePrivateRuntimeDir();

// Runs the engine with args on a thread, as a user (or the plug-in) would start it.
class TEngineProcess {
 public:
  explicit TEngineProcess(std::vector<std::string> args) : Args(std::move(args)) {}
  ~TEngineProcess() {
    if (Thread.Started() && !Done.load()) PipeAsk("QUIT");
    Thread.Join();
  }
  void Start() {
    Thread.Start([this] {
      Result = testsupport::RunEngine(Args, {}, 60000);
      Done = true;
    });
  }
  // Waits until the engine answers PING (false when it ended first or never answered).
  bool WaitServing() {
    return WaitUntil([this] { return Done.load() || PipeAsk("PING") == TTextLines{"OK"}; }, 30000) &&
           !Done.load();
  }
  bool WaitDone(uint32_t timeoutMs = 60000) {
    return WaitUntil([this] { return Done.load(); }, timeoutMs);
  }

  TTextLines PipeAsk(const std::string& command, const TTextLines& body = {}) {
    return svctest::PipeAsk(plat::kPipeName, command, body);
  }
  std::string Raw(const std::string& bytes) { return RawExchange(plat::kPipeName, bytes); }

  std::vector<std::string> Args;
  plat::TThread Thread;
  std::atomic<bool> Done{false};
  plat::TProcessResult Result;
};

}  // namespace svctest
