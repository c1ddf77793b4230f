// The parts of the pipe server that are the same on every system: the accept loop with its connection
// threads, and the waiting for them at the end.
#include "pPipe.h"

#include <utility>
#include <vector>

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
  while (!FStop.load()) {
    ReapFinished();
    std::unique_ptr<TPipeConn> conn = Accept();
    if (conn) {
      auto slot = std::make_unique<TConnSlot>();
      TConnSlot* s = slot.get();
      s->Conn = std::move(conn);
      ++FActive;
      // The slot is listed only once its thread handle is stored: a connection that ends at once could
      // otherwise be reaped (joined and freed) while Start is still writing that handle.
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
      if (!started) {
        s->Conn->Close();
        --FActive;
        s->Done = true;
        if (onError) onError("cannot start a connection thread", 0);
      }
      {
        std::lock_guard<std::mutex> lock(FSlotsLock);
        FSlots.push_back(std::move(slot));
      }
    } else if (!FStop.load()) {
      if (onError) onError(FLastError, FLastErrorCode);
      FClock.SleepMs(50);
    }
    if (keepGoing && !keepGoing()) break;
  }
  ReapFinished();
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
