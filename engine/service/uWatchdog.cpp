#include "uWatchdog.h"

#include <chrono>
#include <cstdlib>

#include "uEngineSvc.h"
#include "uLog.h"

TEndProcess DefaultEndProcess() {
  return [](int exitCode) {
    CloseLog();
    // At once: connection threads and the accept loop are not waited for, and no static object is
    // torn down under a thread that still uses it.
    std::_Exit(exitCode);
  };
}

// ---------------------------------------------------------------------------------------------
// Client watch

void TClientWatch::WatchClient(uint32_t pid) {
  if (pid == 0) return;
  int error = 0;
  bool opened = false;
  {
    std::lock_guard<std::mutex> guard(FLock);
    if (pid == FPid) return;
    FPid = pid;
    // The old reference is only dropped here; a ClientGone still asking it holds its own.
    FProcess = std::shared_ptr<plat::TProcWatch>(plat::TProcWatch::Open(pid, &error));
    opened = FProcess != nullptr;
  }
  GoneTick = 0;
  if (opened)
    LogFmt("client: watching pid %u", static_cast<unsigned>(pid));
  else
    LogFmt("client: cannot watch pid %u (error %d)", static_cast<unsigned>(pid), error);
}

bool TClientWatch::ClientGone() const {
  std::shared_ptr<plat::TProcWatch> process;
  {
    std::lock_guard<std::mutex> guard(FLock);
    process = FProcess;
  }
  return process && process->Ended();
}

uint32_t TClientWatch::WatchedPid() const {
  std::lock_guard<std::mutex> guard(FLock);
  return FPid;
}

// ---------------------------------------------------------------------------------------------
// Watchdog

TWatchdog::TWatchdog(TEngineService& service, int32_t idleSec, const TWatchdogTimings& timings,
                     plat::IClock& clock, TEndProcess endProcess)
    : FService(service),
      FIdleLimitMs(static_cast<int64_t>(idleSec < 0 ? 600 : idleSec) * 1000),
      FTimings(timings),
      FClock(clock),
      FEndProcess(std::move(endProcess)) {
  if (!FEndProcess) FEndProcess = DefaultEndProcess();
}

TWatchdog::~TWatchdog() {
  Terminate();
}

bool TWatchdog::Start() {
  if (FThread.Started()) return false;
  return FThread.Start([this] { Execute(); });
}

void TWatchdog::Terminate() {
  {
    std::lock_guard<std::mutex> guard(FWaitLock);
    FStop = true;
  }
  FWake.notify_all();
  FThread.Join();
}

void TWatchdog::Execute() {
  std::unique_lock<std::mutex> lock(FWaitLock);
  for (;;) {
    FWake.wait_for(lock, std::chrono::milliseconds(FTimings.TickMs), [this] { return FStop; });
    if (FStop) return;
    lock.unlock();
    const bool ended = Tick();
    lock.lock();
    if (ended) return;
  }
}

void TWatchdog::EndProcess() {
  FEnded = true;
  FEndProcess(0);
}

bool TWatchdog::Tick() {
  ++FTicks;
  FService.ReapSessions();
  const uint64_t now = FClock.NowMs();

  // The client: audio and the monitor stop at once, the process after the grace time.
  TClientWatch& client = FService.Client();
  if (client.ClientGone()) {
    if (FService.IsLive() || FService.IsMonitoring()) {
      LogFmt("client: process ended - stopping audio and monitor");
      FService.StopLiveThroughScan();
      FService.StopLive();
      FService.StopMonitor();
    }
    const uint64_t gone = client.GoneTick.load();
    if (gone == 0) {
      client.GoneTick = now == 0 ? 1 : now;
    } else if (now - gone > FTimings.ClientGraceMs) {
      LogFmt("client: gone for %u ms - shutting down", static_cast<unsigned>(FTimings.ClientGraceMs));
      FService.StopScan();
      EndProcess();
      return true;
    }
  } else {
    client.GoneTick = 0;
  }

  if (FService.QuitRequested()) {
    LogFmt("watchdog: QUIT received - exiting");
    FService.StopLive();
    FService.StopMonitor();
    FService.StopScan();
    EndProcess();
    return true;
  }

  if (FIdleLimitMs > 0) {
    if (FService.IsScanning() || FService.IsLive() || FService.IsMonitoring()) {
      FService.SetActivityTick(now);
    } else if (const uint64_t last = FService.ActivityTick();
               now > last && now - last > static_cast<uint64_t>(FIdleLimitMs)) {
      LogFmt("watchdog: idle for %d s, not scanning and not playing - exiting",
             static_cast<int>(FIdleLimitMs / 1000));
      EndProcess();
      return true;
    }
  }
  return false;
}
