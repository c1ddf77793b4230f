#pragma once
// The one thread base of the engine's sessions (live, multi-channel live, monitor, scan).
//
// A session is created idle, prepared by its owner, and only then started (Start) on its own 4 MiB
// thread. Terminate only sets a flag the session's loop polls; WaitFor joins. Finished turns true when
// Execute has returned by any path, an escaping exception included, whose text is kept as the
// session's error. The error text is read and written under a lock, so a reader on another thread
// never sees it half replaced. Owners must Terminate and WaitFor before destroying a started session
// (derived destructors call StopAndWait to be safe).
#include <atomic>
#include <mutex>
#include <string>

#include "pThread.h"

class TChannelRecorder;

class TSessionThread {
 public:
  TSessionThread() = default;
  virtual ~TSessionThread();
  TSessionThread(const TSessionThread&) = delete;
  TSessionThread& operator=(const TSessionThread&) = delete;

  // Runs Execute on a new thread; false when the thread cannot be created or runs already.
  bool Start();
  void Terminate() { FTerminated = true; }
  bool Terminated() const { return FTerminated.load(); }
  // The flag Terminate sets, for the waits inside the session (they end as soon as it is set).
  const std::atomic<bool>& TerminatedFlag() const { return FTerminated; }
  bool Started() const { return FThread.Started(); }
  // True once Execute has returned; also true for a session that was never started.
  bool Finished() const { return FFinished.load(); }
  void WaitFor();

  std::string LastError() const;

 protected:
  virtual void Execute() = 0;
  void SetLastError(const std::string& text);
  // A recording failure (folder, file, full disk) becomes the session's error, "recording: " + its
  // text; the session goes on. The second form takes the recorder's waiting failure, if any.
  void RecordingFailed(const std::string& text);
  void ReportRecordingFailure(TChannelRecorder& recorder);
  // Terminate and wait; for the destructors of derived sessions, before their members go.
  void StopAndWait();

 private:
  void Run();

  plat::TThread FThread;
  std::atomic<bool> FTerminated{false};
  std::atomic<bool> FFinished{true};
  mutable std::mutex FErrorLock;
  std::string FLastError;
};
