// The parts of the pipe server that are the same on every system: the accept loop with its connection
// threads, and the waiting for them at the end.
#include "pPipe.h"

#include <algorithm>
#include <utility>
#include <vector>

#include "pSystem.h"

namespace plat {

TPipeServer::TPipeServer(std::string name, IClock& clock) : FName(std::move(name)), FClock(clock) {}

TPipeServer::~TPipeServer() {
  Stop();
  AbortAll();
  std::list<std::unique_ptr<TConnSlot>> slots;
  {
    std::lock_guard<std::mutex> lock(FSlotsLock);
    slots.swap(FSlots);
  }
  for (auto& slot : slots) slot->Thread.Join();
  CloseListener();
}

void TPipeServer::SetError(const std::string& text, int code) {
  FLastError = text;
  FLastErrorCode = code;
}

void TPipeServer::Stop() {
  FStop = true;
  Wake();
}

void TPipeServer::ReapFinished() {
  std::vector<std::unique_ptr<TConnSlot>> done;
  {
    std::lock_guard<std::mutex> lock(FSlotsLock);
    for (auto it = FSlots.begin(); it != FSlots.end();) {
      if ((*it)->Done.load()) {
        done.push_back(std::move(*it));
        it = FSlots.erase(it);
      } else {
        ++it;
      }
    }
  }
  for (auto& slot : done) slot->Thread.Join();
}

void TPipeServer::AbortAll() {
  std::lock_guard<std::mutex> lock(FSlotsLock);
  for (auto& slot : FSlots)
    if (!slot->Done.load() && slot->Conn) slot->Conn->Abort();
}

void TPipeServer::Serve(const std::function<void(TPipeConn&)>& onConnection,
                        const std::function<bool()>& keepGoing,
                        const std::function<void(const std::string&, int)>& onError) {
  // The threads may outlive this call, so they hold their own copy of the handler.
  auto handler = std::make_shared<std::function<void(TPipeConn&)>>(onConnection);
  uint32_t failures = 0;  // Accept failures in a row
  while (!FStop.load()) {
    ReapFinished();
    std::unique_ptr<TPipeConn> conn = Accept();
    if (conn) {
      auto slot = std::make_unique<TConnSlot>();
      TConnSlot* s = slot.get();
      s->Conn = std::move(conn);
      ++FActive;
      // Listed only once Start has returned: a reaper on another thread (WaitConnections) could
      // otherwise free the slot of a quick connection while Start still writes its thread handle.
      bool started = s->Thread.Start([this, s, handler] {
        try {
          (*handler)(*s->Conn);
        } catch (...) {
          // The handler answers its own failures; nothing may end the server from here.
        }
        s->Conn->Close();
        --FActive;
        s->Done = true;
      });
      {
        std::lock_guard<std::mutex> lock(FSlotsLock);
        FSlots.push_back(std::move(slot));
      }
      if (!started) {
        // No thread to be had (the system is out of them): the client is served here rather than
        // dropped without a reply; its request time-out bounds how long the loop is held.
        if (onError) onError("cannot start a connection thread - served on the accept thread", 0);
        try {
          (*handler)(*s->Conn);
        } catch (...) {
        }
        s->Conn->Close();
        --FActive;
        s->Done = true;
      }
      failures = 0;
    } else if (!FStop.load()) {
      ++failures;
      if (onError && ReportAcceptFailure(failures)) onError(FLastError, FLastErrorCode);
      FClock.SleepMs(AcceptRetryDelayMs(failures));
    }
    if (keepGoing && !keepGoing()) break;
  }
  ReapFinished();
}

uint32_t TPipeServer::AcceptRetryDelayMs(uint32_t failures) {
  const uint32_t doublings = failures < 1 ? 0 : std::min<uint32_t>(failures - 1, 5);
  return 50u << doublings;
}

bool TPipeServer::ReportAcceptFailure(uint32_t failures) {
  return failures > 0 && (failures & (failures - 1)) == 0;
}

void TPipeConn::SetReadTimeout(uint32_t ms) {
  FReadDeadline = ms == 0 ? 0 : TickMs() + ms;
  FTimedOut = false;
}

int64_t TPipeConn::ReadWaitLeft() const {
  if (FReadDeadline == 0) return -1;
  const uint64_t now = TickMs();
  return now >= FReadDeadline ? 0 : static_cast<int64_t>(FReadDeadline - now);
}

bool TPipeServer::WaitConnections(uint32_t timeoutMs) {
  uint64_t deadline = FClock.NowMs() + timeoutMs;
  while (FActive.load() > 0) {
    if (FClock.NowMs() >= deadline) return false;
    FClock.SleepMs(5);
  }
  ReapFinished();
  return true;
}

}  // namespace plat
