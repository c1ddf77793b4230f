#pragma once
// The engine's --service mode: the pipe accept loop with one connection thread per request, the
// dispatcher that runs one command at a time, and the registry of the four sessions (scan, one-channel
// live, multi-channel live, monitor) with the routines that test, stop and reap them.
//
// Each connection reads one request outside any lock (a request over 1 MiB, one that ends before its
// terminator, or one not complete within RequestTimeoutMs, is dropped without a reply, so a silent
// client never holds its thread), runs it under the command lock, writes one reply and closes. A
// lasting accept failure (no handles left) is retried with growing pauses, not every 50 ms. An exception
// inside a command is answered "ERR <class>: <message>" and the service goes on. Every request refreshes the
// activity time, feeds the client watch and reaps ended sessions first.
//
// Sessions are held by shared references. A pointer is read or swapped only under the sessions lock;
// whoever uses a session outside the lock holds its own reference, so a session stopped meanwhile by
// the watchdog is freed only when the last user lets go. Stop routines take the reference out under
// the lock and stop and wait outside it, so a session is stopped exactly once; a second stop routine
// for the same kind waits until the first has freed it, so the receiver is never opened by a new
// session while an old one still holds it. Lock order: command lock, a stop lock, sessions lock, then
// the locks inside the store and the taps; nothing is called into while the sessions lock is held.
// Shutdown waits (bounded) for running connections before the sessions are stopped; the service state
// itself is shared with the connection threads and outlives any that are still running.
#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>

#include "pClock.h"
#include "pPipe.h"
#include "uChannelStore.h"
#include "uTalvProto.h"
#include "uWatchdog.h"

class TScanSession;
class TLiveSession;
class TMultiLiveSession;
class TMonitorSession;

struct TServiceOptions {
  std::string PipeName = plat::kPipeName;
  int32_t IdleSec = 600;  // negative: 600; 0: no idle exit (client watch and QUIT still end it)
  TWatchdogTimings Timings;
  uint32_t ShutdownWaitMs = 5000;    // longest wait for running connections at shutdown
  uint32_t RequestTimeoutMs = 5000;  // a connection's whole request must arrive within this
  plat::IClock* Clock = nullptr;     // activity, client-gone and idle times; null: the system clock
  TEndProcess EndProcess;            // null: close the log and end the process; when one is given and
                                     // returns, the accept loop ends instead
};

class TEngineService {
 public:
  explicit TEngineService(const TServiceOptions& options = TServiceOptions());
  // Stops every session that still runs.
  ~TEngineService();
  TEngineService(const TEngineService&) = delete;
  TEngineService& operator=(const TEngineService&) = delete;

  // ---- requests
  // The body of a connection thread: read one request, dispatch it under the command lock, reply.
  void ServeConnection(plat::TPipeConn& conn);
  // Runs one command (the caller holds the command lock, or is the only caller).
  void DispatchCommand(const std::string& commandLine, const TTextLines& body, TTextLines& reply);
  // DispatchCommand under the command lock with the connection thread's catch: what a connection does
  // between reading and writing.
  void RunCommand(const std::string& commandLine, const TTextLines& body, TTextLines& reply);

  // ---- session registry
  bool IsScanning() const;
  bool IsMonitoring() const;
  // A live or multi-live session runs, or the running scan plays audio through (live-through set).
  bool IsLive() const;
  void StopMonitor();
  void StopLive();
  void StopScan();
  void StopLiveThroughScan();
  void ReapSessions();

  // Reads of the session pointers (a reference the caller may use outside the lock).
  std::shared_ptr<TScanSession> ScanSession() const;
  std::shared_ptr<TLiveSession> LiveSession() const;
  std::shared_ptr<TMultiLiveSession> MultiSession() const;
  std::shared_ptr<TMonitorSession> MonitorSession() const;
  // Publishing a prepared session (the slot must be empty: its stop routine ran before).
  void SetScanSession(std::shared_ptr<TScanSession> s);
  void SetLiveSession(std::shared_ptr<TLiveSession> s);
  void SetMultiSession(std::shared_ptr<TMultiLiveSession> s);
  void SetMonitorSession(std::shared_ptr<TMonitorSession> s);

  // The hit callback of the live sessions (user data: the service): merges into the store.
  static void OnLiveHits(const TChannelHitArray& hits, void* userData);

  // ---- live through the scan (survives STOP and a new START until LIVESTOP)
  void SetLiveThrough(int64_t hz, TModulation mod, bool multi);
  int64_t LiveThroughHz() const { return FLiveThroughHz.load(); }
  TModulation LiveThroughMod() const { return static_cast<TModulation>(FLiveThroughMod.load()); }
  bool LiveThroughMulti() const { return FLiveThroughMulti.load(); }
  // Copies the values into the session (nothing for none).
  void ApplyLiveThrough(TScanSession* session) const;

  // ---- state
  TChannelStore& Store() { return FStore; }
  std::string ServiceLastError() const;
  void SetServiceLastError(const std::string& text);
  bool QuitRequested() const { return FQuitRequested.load(); }
  uint64_t ActivityTick() const { return FActivityTick.load(); }
  void SetActivityTick(uint64_t tick) { FActivityTick = tick; }
  TClientWatch& Client() { return FClient; }
  plat::IClock& Clock() { return FClock; }
  const TServiceOptions& Options() const { return FOptions; }

  // Makes the accept loop end (set by RunServiceWith; tests' end-process actions call it).
  void SetStopAccept(std::function<void()> stop);
  void StopAccept();

 private:
  TServiceOptions FOptions;
  plat::IClock& FClock;
  TChannelStore FStore;  // first member: freed last
  mutable std::mutex FSessionsLock;
  std::mutex FCommandLock;
  // Held by a stop routine (and the reaper) from taking a session out until it is freed, so a second
  // caller (a command while the watchdog stops, or the other way round) waits until the receiver is
  // released before it goes on to open it again. Taken before the sessions lock, never nested.
  std::mutex FScanStop;
  std::mutex FLiveStop;
  std::mutex FMonitorStop;
  std::shared_ptr<TScanSession> FScan;
  std::shared_ptr<TLiveSession> FLive;
  std::shared_ptr<TMultiLiveSession> FMulti;
  std::shared_ptr<TMonitorSession> FMonitor;
  std::atomic<uint64_t> FActivityTick{0};
  std::atomic<bool> FQuitRequested{false};
  std::atomic<int64_t> FLiveThroughHz{0};
  std::atomic<uint8_t> FLiveThroughMod{modNFM};
  std::atomic<bool> FLiveThroughMulti{false};
  mutable std::mutex FErrorLock;
  std::string FServiceLastError;
  TClientWatch FClient;
  std::mutex FStopAcceptLock;
  std::function<void()> FStopAccept;
};

// Runs the service until the accept loop ends: the pipe cannot be created (another engine serves it),
// or a connection arrived after QUIT. Usually the watchdog ends the process before. Returns the exit
// code (always 0).
int RunServiceWith(const TServiceOptions& options);
// The product's entry: the shipped pipe name and timings with this idle limit in seconds.
void RunService(int32_t idleSec);
