#pragma once
// The engine's local pipe: a byte stream between one server (the engine) and its clients (the plug-in,
// the tests). One connection carries one request and one reply; this unit only moves bytes, the framing
// lives in the protocol unit.
//
// Windows: the named pipe "\\.\pipe\<name>", byte mode, up to 255 instances, 64 KiB buffers each way,
// default security, remote clients rejected (only this machine connects). The first instance is created
// with FILE_FLAG_FIRST_PIPE_INSTANCE, so a second server on the same name fails at Open ("already
// running"). The server always keeps one listening instance: the next one is created before a connected
// one is handed out, so the name never lapses.
// Linux: a Unix-domain stream socket at $XDG_RUNTIME_DIR/<name>, or, without that folder, in a private
// folder /tmp/talvoran-<uid>/ (mode 0700, owned by this user, never a symbolic link), so only the same
// user can connect. A lock file beside the socket is held while a server runs; a socket with a live
// server behind it means "already running", a stale socket file is replaced.
//
// The name is a parameter so that tests can run servers side by side; the product passes kPipeName.
// Waits read their time through plat::IClock. Nothing here parses or formats protocol text.
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <list>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "pClock.h"
#include "pThread.h"

namespace plat {

// The shipped pipe name (Windows path "\\.\pipe\wfx_talvoran_v1").
constexpr const char* kPipeName = "wfx_talvoran_v1";

// Full system path of a pipe name: "\\.\pipe\<name>" on Windows, the socket's file path elsewhere
// (empty when no safe folder for it can be had).
std::string PipePath(const std::string& name);

// One connected end of a pipe. Read and Write block; Abort may be called from any other thread and
// makes a blocked or later Read/Write fail at once; SetReadTimeout bounds how long reads wait, so a
// peer that sends nothing cannot hold the connection. Close (or the destructor) ends the connection:
// what was written stays readable for the client after the server's end is closed, so a reply is
// never cut off (on Windows an instance is flushed and closed, never disconnected).
class TPipeConn {
 public:
  ~TPipeConn();
  TPipeConn(const TPipeConn&) = delete;
  TPipeConn& operator=(const TPipeConn&) = delete;

  // Reads up to size bytes; returns how many arrived, 0 at the end of the stream, on failure or when
  // the read time-out ran out (TimedOut then turns true).
  size_t Read(void* buffer, size_t size);
  // Every later Read waits for data only until ms from now in all (0: no limit), on both sides: a
  // server facing a silent client, a client facing an engine that accepts and never answers.
  void SetReadTimeout(uint32_t ms);
  bool TimedOut() const { return FTimedOut.load(); }
  // Writes all bytes; false when the other side is gone.
  bool Write(const void* data, size_t size);
  // Waits until the peer has read what was written (Windows); nothing to do on a socket.
  void Flush();
  void Abort();
  void Close();

 private:
  friend class TPipeServer;
  friend std::unique_ptr<TPipeConn> PipeConnect(const std::string&, uint32_t, IClock&, int*);
  TPipeConn(intptr_t handle, bool serverSide);

  intptr_t FHandle;
  bool FServerSide;
  std::atomic<bool> FAborted{false};
  std::mutex FHandleLock;      // Abort never touches a handle that Close is releasing
  void* FEvent = nullptr;      // Windows: event of the overlapped server-side I/O
  uint64_t FReadDeadline = 0;  // plat::TickMs at which reads give up; 0: never
  std::atomic<bool> FTimedOut{false};

  // Milliseconds a read may still wait (-1: no limit; 0: the time is up).
  int64_t ReadWaitLeft() const;
};

// Connects to the server of a pipe name, waiting up to timeoutMs for a free instance or for the pipe to
// appear. Null when it cannot; *error then holds the system's error code (0 for a time-out).
std::unique_ptr<TPipeConn> PipeConnect(const std::string& name, uint32_t timeoutMs,
                                       IClock& clock = SystemClock(), int* error = nullptr);

// True when a server listens on the name: it answered within waitMs, or every instance is busy. A
// name nobody serves is reported at once. On Linux this costs one empty connection, which the server
// drops.
bool PipeExists(const std::string& name, uint32_t waitMs);

// Test aid: a pipe of the given name that exists but whose every instance is taken, so a client sees
// "busy" (Windows: ERROR_PIPE_BUSY; Linux: a socket that never accepts with its queue full) until this
// object is destroyed. Open is false when the name is already served.
class TBusyPipe {
 public:
  explicit TBusyPipe(std::string name);
  ~TBusyPipe();
  TBusyPipe(const TBusyPipe&) = delete;
  TBusyPipe& operator=(const TBusyPipe&) = delete;
  bool Open();

 private:
  std::string FName;
  std::vector<intptr_t> FHandles;  // the listening end, then the connections that fill it
};

class TPipeServer {
 public:
  explicit TPipeServer(std::string name = kPipeName, IClock& clock = SystemClock());
  // Stops accepting, aborts the I/O of open connections and waits for their threads.
  ~TPipeServer();
  TPipeServer(const TPipeServer&) = delete;
  TPipeServer& operator=(const TPipeServer&) = delete;

  // Creates the first instance. False when another server owns the name (AlreadyRunning) or the
  // system refuses; LastError / LastErrorCode tell why.
  bool Open();
  bool AlreadyRunning() const { return FAlreadyRunning; }

  // Waits for the next client. Null when stopped or when the instance failed (LastError is set; the
  // caller may log, wait briefly and call again).
  std::unique_ptr<TPipeConn> Accept();

  // The accept loop: every connection gets its own thread (4 MiB stack) that runs onConnection and
  // then closes the connection (when no thread can be started, the loop runs it itself). After each accepted
  // or failed connection keepGoing is asked (when given) whether to go on; an Accept failure is reported
  // through onError, then the loop waits (AcceptRetryDelayMs) and tries again. Returns when Stop was called
  // or keepGoing said no; connection threads may still run then (see WaitConnections). Call Open first.
  void Serve(const std::function<void(TPipeConn&)>& onConnection,
             const std::function<bool()>& keepGoing = nullptr,
             const std::function<void(const std::string&, int)>& onError = nullptr);

  // Any thread: Accept and Serve return soon; no new connection is taken.
  void Stop();
  bool Stopped() const { return FStop.load(); }

  // Waits up to timeoutMs until no connection thread of Serve runs; true when none runs.
  bool WaitConnections(uint32_t timeoutMs);
  int ActiveConnections() const { return FActive.load(); }

  const std::string& Name() const { return FName; }
  std::string Path() const { return PipePath(FName); }
  const std::string& LastError() const { return FLastError; }
  int LastErrorCode() const { return FLastErrorCode; }

  // The pause after the n-th Accept failure in a row (n >= 1): 50 ms, doubling up to 1600 ms, so a
  // lasting failure (no handles left) neither spins nor floods the log. Only failures 1, 2, 4, 8 ...
  // are reported.
  static uint32_t AcceptRetryDelayMs(uint32_t failures);
  static bool ReportAcceptFailure(uint32_t failures);

 private:
  struct TConnSlot {
    TThread Thread;
    std::unique_ptr<TPipeConn> Conn;
    std::atomic<bool> Done{false};
  };

  // Backend parts: wake a blocked Accept; release the listening instance or socket.
  void Wake();
  void CloseListener();
  void SetError(const std::string& text, int code);
  void ReapFinished();
  void AbortAll();

  std::string FName;
  IClock& FClock;
  std::atomic<bool> FStop{false};
  bool FOpen = false;
  bool FAlreadyRunning = false;
  std::string FLastError;
  int FLastErrorCode = 0;

  // Windows: the listening instance and the events of its connect and of Stop.
  // Linux: the listening socket, the lock file and the wake-up pipe of Stop.
  intptr_t FListen = -1;
  intptr_t FLock = -1;
  intptr_t FWake[2] = {-1, -1};
  void* FConnectEvent = nullptr;
  void* FStopEvent = nullptr;
  std::string FSocketPath;

  std::mutex FSlotsLock;
  std::list<std::unique_ptr<TConnSlot>> FSlots;
  std::atomic<int> FActive{0};
};

}  // namespace plat
