#pragma once
// A scriptable stand-in for the engine's pipe service, for the plug-in's tests: it serves a pipe name of
// its own, records every complete request, and answers as the test says: a framed reply, raw bytes
// (LF-only lines, a reply cut before its ".", anything), or nothing at all (it keeps the connection
// open without answering until it is stopped). Connections that end before a whole request (the
// client's "is the pipe there" probes on Linux) are not recorded.
#include <atomic>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include "pPipe.h"
#include "pThread.h"
#include "uTalvProto.h"

namespace testsupport {

// A pipe name no other test program uses.
std::string UniquePipeName(const std::string& tag);

class TFakeEngine {
 public:
  // The raw bytes to send for a request.
  using TResponder = std::function<std::string(const TRequest&)>;

  explicit TFakeEngine(std::string pipeName = UniquePipeName("fake"));
  ~TFakeEngine();  // stops
  TFakeEngine(const TFakeEngine&) = delete;
  TFakeEngine& operator=(const TFakeEngine&) = delete;

  // Opens the pipe and starts serving; false when the pipe cannot be opened.
  bool Start();
  // Ends the service: connections held without an answer are released (their clients see the end).
  void Stop();

  // Every request answered with these reply lines, framed (status line first).
  void ReplyLines(const TTextLines& lines);
  // Every request answered with exactly these bytes.
  void ReplyRaw(const std::string& bytes);
  // Every request answered by the responder.
  void SetResponder(TResponder responder);
  // Requests are read and recorded but never answered.
  void SetSilent(bool silent);

  std::vector<TRequest> Requests() const;
  int RequestCount() const;
  // Requests whose connection is being held without an answer right now.
  int Held() const { return FHeld.load(); }
  const std::string& PipeName() const { return FName; }

 private:
  void Serve(plat::TPipeConn& conn);

  std::string FName;
  plat::TPipeServer FServer;
  plat::TThread FLoop;
  bool FStarted = false;

  mutable std::mutex FLock;
  std::condition_variable FWake;
  bool FStopping = false;
  bool FSilent = false;
  TResponder FResponder;
  std::vector<TRequest> FRequests;
  std::atomic<int> FHeld{0};
};

}  // namespace testsupport
