#include "uEngineSvc.h"

#include <exception>
#include <utility>

#include "pConsoleOut.h"
#include "pSystem.h"
#include "uCommands.h"
#include "uExceptText.h"
#include "uLevelTap.h"
#include "uLive.h"
#include "uLog.h"
#include "uMonitor.h"
#include "uMultiLive.h"
#include "uScanSession.h"

namespace {

plat::IClock& ClockOf(const TServiceOptions& o) {
  return o.Clock ? *o.Clock : plat::SystemClock();
}

// Takes the session out of its slot under the lock; the caller stops and frees it outside.
template <class T>
std::shared_ptr<T> TakeOut(std::mutex& lock, std::shared_ptr<T>& slot) {
  std::lock_guard<std::mutex> guard(lock);
  return std::exchange(slot, nullptr);
}

template <class T>
bool Running(const std::shared_ptr<T>& s) {
  return s && !s->Finished();
}

template <class T>
void StopWaitFree(std::shared_ptr<T>& s) {
  s->Stop();
  s->WaitFor();
  s.reset();  // the last reference frees it (a reader still holding one frees it later)
}

}  // namespace

TEngineService::TEngineService(const TServiceOptions& options)
    : FOptions(options), FClock(ClockOf(FOptions)), FStore(&plat::LocalDateTimeNow) {
  FActivityTick = FClock.NowMs();
}

TEngineService::~TEngineService() {
  StopMonitor();
  StopLive();
  StopScan();
}

// ---------------------------------------------------------------------------------------------
// Requests

void TEngineService::ServeConnection(plat::TPipeConn& conn) {
  try {
    TRequest request;
    conn.SetReadTimeout(FOptions.RequestTimeoutMs);
    const TReadState state = ReadRequest(conn, request);
    if (state == TReadState::TooLarge) {
      LogFmt("service: request over %u bytes dropped without a reply",
             static_cast<unsigned>(proto::kMaxRequestBytes));
      return;
    }
    if (conn.TimedOut()) {
      LogFmt("service: no complete request within %u ms - connection dropped",
             static_cast<unsigned>(FOptions.RequestTimeoutMs));
      return;
    }
    if (state != TReadState::Complete) return;  // ended before its terminator: no reply
    TTextLines reply;
    RunCommand(request.CommandLine, request.Body, reply);
    WriteReply(conn, reply);
  } catch (const std::exception& e) {
    // Outside a command (reading, writing): nothing can be answered any more; the connection closes.
    LogFmt("service: connection failed: %s", ExceptionText(e).c_str());
  } catch (...) {
    LogFmt("service: connection failed by an unknown exception");
  }
}

void TEngineService::RunCommand(const std::string& commandLine, const TTextLines& body, TTextLines& reply) {
  std::lock_guard<std::mutex> guard(FCommandLock);
  try {
    DispatchCommand(commandLine, body, reply);
  } catch (const std::exception& e) {
    reply.assign(1, ErrorLine(ExceptionText(e)));
  } catch (...) {
    reply.assign(1, ErrorLine("unknown exception"));
  }
}

void TEngineService::DispatchCommand(const std::string& commandLine, const TTextLines& body,
                                     TTextLines& reply) {
  const std::string word = CommandWord(commandLine);
  reply.clear();
  FActivityTick = FClock.NowMs();
  FClient.WatchClient(BodyClientPid(body));
  ReapSessions();

  if (word == proto::kPing) {
    reply.assign(1, proto::kOk);
  } else if (word == proto::kStart) {
    CmdStart(*this, body, reply);
  } else if (word == proto::kStatus) {
    CmdStatus(*this, reply);
  } else if (word == proto::kChannels) {
    CmdChannels(*this, reply);
  } else if (word == proto::kDevices) {
    CmdDevices(reply);
  } else if (word == proto::kSpectrum) {
    CmdSpectrum(*this, body, reply);
  } else if (word == proto::kEnvelope) {
    CmdEnvelope(*this, body, reply);
  } else if (word == proto::kLive) {
    CmdLive(*this, body, reply);
  } else if (word == proto::kStop) {
    StopScan();
    reply.assign(1, proto::kOk);
  } else if (word == proto::kLiveStop) {
    StopLiveThroughScan();
    StopLive();
    reply.assign(1, proto::kOk);
  } else if (word == proto::kClear) {
    FStore.Clear();
    reply.assign(1, proto::kOk);
  } else if (word == proto::kQuit) {
    FQuitRequested = true;
    reply.assign(1, proto::kOk);
  } else {
    reply.assign(1, UnknownCommandLine(word));
  }
}

// ---------------------------------------------------------------------------------------------
// Session registry

bool TEngineService::IsScanning() const {
  std::lock_guard<std::mutex> guard(FSessionsLock);
  return Running(FScan);
}

bool TEngineService::IsMonitoring() const {
  std::lock_guard<std::mutex> guard(FSessionsLock);
  return Running(FMonitor);
}

bool TEngineService::IsLive() const {
  std::lock_guard<std::mutex> guard(FSessionsLock);
  if (Running(FLive) || Running(FMulti)) return true;
  return Running(FScan) && (FLiveThroughHz.load() >= 1 || FLiveThroughMulti.load());
}

std::shared_ptr<TScanSession> TEngineService::ScanSession() const {
  std::lock_guard<std::mutex> guard(FSessionsLock);
  return FScan;
}
std::shared_ptr<TLiveSession> TEngineService::LiveSession() const {
  std::lock_guard<std::mutex> guard(FSessionsLock);
  return FLive;
}
std::shared_ptr<TMultiLiveSession> TEngineService::MultiSession() const {
  std::lock_guard<std::mutex> guard(FSessionsLock);
  return FMulti;
}
std::shared_ptr<TMonitorSession> TEngineService::MonitorSession() const {
  std::lock_guard<std::mutex> guard(FSessionsLock);
  return FMonitor;
}

void TEngineService::SetScanSession(std::shared_ptr<TScanSession> s) {
  std::lock_guard<std::mutex> guard(FSessionsLock);
  FScan = std::move(s);
}
void TEngineService::SetLiveSession(std::shared_ptr<TLiveSession> s) {
  std::lock_guard<std::mutex> guard(FSessionsLock);
  FLive = std::move(s);
}
void TEngineService::SetMultiSession(std::shared_ptr<TMultiLiveSession> s) {
  std::lock_guard<std::mutex> guard(FSessionsLock);
  FMulti = std::move(s);
}
void TEngineService::SetMonitorSession(std::shared_ptr<TMonitorSession> s) {
  std::lock_guard<std::mutex> guard(FSessionsLock);
  FMonitor = std::move(s);
}

void TEngineService::StopMonitor() {
  std::lock_guard<std::mutex> stopping(FMonitorStop);
  std::shared_ptr<TMonitorSession> m = TakeOut(FSessionsLock, FMonitor);
  if (m) StopWaitFree(m);
}

void TEngineService::StopLive() {
  std::lock_guard<std::mutex> stopping(FLiveStop);
  std::shared_ptr<TLiveSession> live = TakeOut(FSessionsLock, FLive);
  std::shared_ptr<TMultiLiveSession> multi = TakeOut(FSessionsLock, FMulti);
  if (live) {
    StopWaitFree(live);
    ClearLevelLanes();
    if (!IsScanning()) FStore.SetScanning(false);
  }
  if (multi) {
    StopWaitFree(multi);
    ClearLevelLanes();
    if (!IsScanning()) FStore.SetScanning(false);
  }
}

void TEngineService::StopScan() {
  std::lock_guard<std::mutex> stopping(FScanStop);
  std::shared_ptr<TScanSession> s = TakeOut(FSessionsLock, FScan);
  if (s) StopWaitFree(s);
  FStore.SetScanning(false);
}

void TEngineService::StopLiveThroughScan() {
  if (FLiveThroughHz.load() <= 0 && !FLiveThroughMulti.load()) return;
  FLiveThroughHz = 0;
  FLiveThroughMulti = false;
  std::shared_ptr<TScanSession> s = ScanSession();
  ApplyLiveThrough(s.get());
  ClearLevelLanes();
  LogFmt("live: stopped playing through the scan");
}

void TEngineService::ReapSessions() {
  std::shared_ptr<TScanSession> scan;
  std::shared_ptr<TLiveSession> live;
  std::shared_ptr<TMultiLiveSession> multi;
  std::shared_ptr<TMonitorSession> monitor;
  std::scoped_lock stopping(FScanStop, FLiveStop, FMonitorStop);
  {
    std::lock_guard<std::mutex> guard(FSessionsLock);
    if (FScan && FScan->Finished()) scan = std::exchange(FScan, nullptr);
    if (FLive && FLive->Finished()) live = std::exchange(FLive, nullptr);
    if (FMulti && FMulti->Finished()) multi = std::exchange(FMulti, nullptr);
    if (FMonitor && FMonitor->Finished()) monitor = std::exchange(FMonitor, nullptr);
  }
  // A session that ended by itself failed: its text goes to the service's last error, so STATUS
  // still tells why once the session is gone.
  if (scan) {
    scan->WaitFor();
    const std::string error = scan->LastError();
    scan.reset();
    if (!error.empty()) SetServiceLastError(error);
    FStore.SetScanning(false);
    LogFmt("reaped: the scan had ended - receiver released");
  }
  if (live) {
    live->WaitFor();
    const std::string error = live->ErrorText();
    live.reset();
    if (!error.empty()) SetServiceLastError(error);
    if (!IsScanning()) FStore.SetScanning(false);
    LogFmt("reaped: live audio had ended - receiver released");
  }
  if (multi) {
    multi->WaitFor();
    const std::string error = multi->ErrorText();
    multi.reset();
    if (!error.empty()) SetServiceLastError(error);
    if (!IsScanning()) FStore.SetScanning(false);
    LogFmt("reaped: multi-channel audio had ended - receiver released");
  }
  if (monitor) {
    monitor->WaitFor();
    monitor.reset();
    LogFmt("reaped: the monitor had stopped itself - receiver released");
  }
}

void TEngineService::OnLiveHits(const TChannelHitArray& hits, void* userData) {
  if (userData) static_cast<TEngineService*>(userData)->FStore.Merge(hits);
}

// ---------------------------------------------------------------------------------------------
// Live through, state

void TEngineService::SetLiveThrough(int64_t hz, TModulation mod, bool multi) {
  FLiveThroughMod = mod;
  FLiveThroughHz = hz;
  FLiveThroughMulti = multi;
}

void TEngineService::ApplyLiveThrough(TScanSession* session) const {
  if (session) session->ApplyLiveThrough(LiveThroughHz(), LiveThroughMod(), LiveThroughMulti());
}

std::string TEngineService::ServiceLastError() const {
  std::lock_guard<std::mutex> guard(FErrorLock);
  return FServiceLastError;
}

void TEngineService::SetServiceLastError(const std::string& text) {
  std::lock_guard<std::mutex> guard(FErrorLock);
  FServiceLastError = text;
}

void TEngineService::SetStopAccept(std::function<void()> stop) {
  std::lock_guard<std::mutex> guard(FStopAcceptLock);
  FStopAccept = std::move(stop);
}

void TEngineService::StopAccept() {
  std::lock_guard<std::mutex> guard(FStopAcceptLock);
  if (FStopAccept) FStopAccept();
}

// ---------------------------------------------------------------------------------------------
// The accept loop

int RunServiceWith(const TServiceOptions& options) {
  // Shared with every connection thread: a thread still running after the bounded wait at shutdown
  // keeps the locks and the store alive until it ends.
  auto service = std::make_shared<TEngineService>(options);
  plat::TPipeServer server(options.PipeName);
  service->SetStopAccept([&server] { server.Stop(); });
  TEndProcess endProcess = DefaultEndProcess();
  if (options.EndProcess) {
    // An injected end (tests) returns: the accept loop then ends as the process would have.
    endProcess = [service, end = options.EndProcess](int code) {
      end(code);
      service->StopAccept();
    };
  }
  TWatchdog watchdog(*service, options.IdleSec, options.Timings, service->Clock(), endProcess);
  watchdog.Start();

  const std::string path = server.Path();
  LogFmt("service: listening on %s", path.c_str());
  plat::WriteConsoleLine("# listening on " + path);

  if (!server.Open()) {
    LogFmt("service: CreateNamedPipe failed (%d): %s", server.LastErrorCode(), server.LastError().c_str());
    // "Already running" only when another engine serves the name; any other refusal says its cause.
    plat::WriteConsoleLine(server.AlreadyRunning() ? "# error: cannot create pipe (already running?)"
                                                   : "# error: cannot create pipe: " + server.LastError());
  } else {
    server.Serve([service](plat::TPipeConn& conn) { service->ServeConnection(conn); },
                 [service] { return !service->QuitRequested(); },
                 // Only the first instance's failure ends the service; a later one is logged and the
                 // loop tries again after a short pause.
                 [](const std::string& text, int code) { LogFmt("service: %s (%d)", text.c_str(), code); });
  }

  server.Stop();
  if (!server.WaitConnections(options.ShutdownWaitMs))
    LogFmt("service: %d connection(s) still running at shutdown", server.ActiveConnections());
  watchdog.Terminate();
  service->SetStopAccept(nullptr);
  service->StopMonitor();
  service->StopLive();
  service->StopScan();
  LogFmt("service: shutting down");
  return 0;
}

void RunService(int32_t idleSec) {
  TServiceOptions options;
  options.IdleSec = idleSec < 0 ? 600 : idleSec;
  RunServiceWith(options);
}
