#include "FakeEngine.h"

#include "pSystem.h"

namespace testsupport {

std::string UniquePipeName(const std::string& tag) {
  static std::atomic<int> counter{0};
  return "talv_" + tag + "_" + std::to_string(plat::CurrentProcessId()) + "_" + std::to_string(++counter);
}

TFakeEngine::TFakeEngine(std::string pipeName) : FName(pipeName), FServer(std::move(pipeName)) {
  ReplyLines({"OK"});
}

TFakeEngine::~TFakeEngine() {
  Stop();
}

bool TFakeEngine::Start() {
  if (FStarted) return true;
  if (!FServer.Open()) return false;
  FStarted = FLoop.Start([this] { FServer.Serve([this](plat::TPipeConn& conn) { Serve(conn); }); });
  return FStarted;
}

void TFakeEngine::Stop() {
  {
    std::lock_guard<std::mutex> lock(FLock);
    FStopping = true;
  }
  FWake.notify_all();
  if (!FStarted) return;
  FServer.Stop();
  FLoop.Join();
  FServer.WaitConnections(10000);
  FStarted = false;
}

void TFakeEngine::ReplyLines(const TTextLines& lines) {
  std::string bytes = FrameReply(lines);
  SetResponder([bytes](const TRequest&) { return bytes; });
}

void TFakeEngine::ReplyRaw(const std::string& bytes) {
  SetResponder([bytes](const TRequest&) { return bytes; });
}

void TFakeEngine::SetResponder(TResponder responder) {
  std::lock_guard<std::mutex> lock(FLock);
  FResponder = std::move(responder);
}

void TFakeEngine::SetSilent(bool silent) {
  std::lock_guard<std::mutex> lock(FLock);
  FSilent = silent;
}

std::vector<TRequest> TFakeEngine::Requests() const {
  std::lock_guard<std::mutex> lock(FLock);
  return FRequests;
}

int TFakeEngine::RequestCount() const {
  std::lock_guard<std::mutex> lock(FLock);
  return static_cast<int>(FRequests.size());
}

void TFakeEngine::Serve(plat::TPipeConn& conn) {
  TRequest request;
  if (ReadRequest(conn, request) != TReadState::Complete) return;
  TResponder responder;
  {
    std::unique_lock<std::mutex> lock(FLock);
    FRequests.push_back(request);
    if (FSilent) {
      ++FHeld;
      FWake.wait(lock, [this] { return FStopping; });
      --FHeld;
      return;
    }
    responder = FResponder;
  }
  std::string bytes = responder ? responder(request) : std::string();
  if (!bytes.empty()) conn.Write(bytes.data(), bytes.size());
  conn.Flush();
}

}  // namespace testsupport
