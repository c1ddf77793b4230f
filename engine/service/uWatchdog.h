#pragma once
// The service's watchdog and client watch. The engine is started by the plug-in and must neither
// outlive it nor sit idle for ever: every tick the watchdog frees sessions that ended by themselves,
// stops audio and the monitor once the watched client process has ended (ending the process after a
// grace time), ends the process after QUIT, and ends it after the idle limit while nothing scans, plays
// or monitors. An idle limit of 0 turns only the idle exit off.
//
// The client watch is fed by every request (its ClientPid); one process is watched at a time. Its
// process reference is shared, so the watchdog never waits on one that WatchClient is replacing.
// The tick, the grace time, the clock and the action that ends the process are injected so tests can
// watch all of it in-process; the shipped values are the defaults. The watchdog never takes the
// service's command lock, so it can stop sessions while a command runs.
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>

#include "pClock.h"
#include "pProcWatch.h"
#include "pThread.h"

class TEngineService;

struct TWatchdogTimings {
  uint32_t TickMs = 2000;          // one tick
  uint32_t ClientGraceMs = 10000;  // the process ends once the client has been gone longer than this
};

// Ends the process with an exit code; the product's closes the log first and never returns.
using TEndProcess = std::function<void(int exitCode)>;
TEndProcess DefaultEndProcess();

class TClientWatch {
 public:
  TClientWatch() = default;
  // Watches pid from now on: 0, or the pid already watched, changes nothing; any other pid replaces
  // the watched one (a pid that cannot be opened stays "watched" so it is not tried again, but no
  // process is then watched). Resets the gone time.
  void WatchClient(uint32_t pid);
  // True when a client process is watched and has ended.
  bool ClientGone() const;
  uint32_t WatchedPid() const;

  // When the client was first seen gone (clock ms; 0: not gone). The watchdog keeps it.
  std::atomic<uint64_t> GoneTick{0};

 private:
  mutable std::mutex FLock;
  uint32_t FPid = 0;
  std::shared_ptr<plat::TProcWatch> FProcess;
};

class TWatchdog {
 public:
  // idleSec: 0 turns the idle exit off; a negative value counts as the default 600.
  TWatchdog(TEngineService& service, int32_t idleSec, const TWatchdogTimings& timings, plat::IClock& clock,
            TEndProcess endProcess);
  ~TWatchdog();
  TWatchdog(const TWatchdog&) = delete;
  TWatchdog& operator=(const TWatchdog&) = delete;

  // Runs the ticks on a thread of its own (4 MiB stack).
  bool Start();
  // Ends the thread at once (an ongoing wait is cut short) and waits for it.
  void Terminate();
  // One tick's work without the wait; true when it ended the process (the thread then stops).
  bool Tick();

  int64_t IdleLimitMs() const { return FIdleLimitMs; }
  uint64_t Ticks() const { return FTicks.load(); }
  bool Ended() const { return FEnded.load(); }

 private:
  void Execute();
  void EndProcess();

  TEngineService& FService;
  int64_t FIdleLimitMs;
  TWatchdogTimings FTimings;
  plat::IClock& FClock;
  TEndProcess FEndProcess;
  plat::TThread FThread;
  std::mutex FWaitLock;
  std::condition_variable FWake;
  bool FStop = false;
  std::atomic<uint64_t> FTicks{0};
  std::atomic<bool> FEnded{false};
};
