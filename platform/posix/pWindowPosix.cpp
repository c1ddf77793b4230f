// The recording stand-in of windows and thread timers on Linux (no windowing system is used): hidden
// "windows" are records that count the posts they receive; timers are kept per owning thread and fire
// when that thread pumps.
#include <map>
#include <mutex>
#include <tuple>
#include <vector>

#include "pSystem.h"
#include "pWindow.h"

namespace plat {
namespace {

struct TFakeWindow {
  std::string ClassName;
  uint32_t Thread = 0;
  std::map<std::pair<uint32_t, uintptr_t>, int> Posts;
};

struct TFakeTimer {
  uint32_t Thread = 0;
  uint32_t PeriodMs = 0;
  TTimerProc Proc = nullptr;
};

std::mutex gLock;
std::map<TWindowHandle, TFakeWindow> gWindows;  // ordered by creation: the first found is the oldest
std::map<TTimerId, TFakeTimer> gTimers;
uintptr_t gNextHandle = 0x1000;

}  // namespace

TWindowHandle FindTopWindow(const std::string& className) {
  std::lock_guard<std::mutex> lock(gLock);
  for (const auto& [h, w] : gWindows)
    if (w.ClassName == className) return h;
  return 0;
}

bool IsWindowAlive(TWindowHandle window) {
  std::lock_guard<std::mutex> lock(gLock);
  return window != 0 && gWindows.count(window) != 0;
}

bool PostWindowMessage(TWindowHandle window, uint32_t msg, uintptr_t wParam, intptr_t lParam) {
  std::lock_guard<std::mutex> lock(gLock);
  auto it = gWindows.find(window);
  if (it == gWindows.end()) return false;
  ++it->second.Posts[{msg, wParam}];
  return true;
}

TTimerId SetThreadTimer(uint32_t periodMs, TTimerProc proc) {
  if (!proc) return 0;
  std::lock_guard<std::mutex> lock(gLock);
  TTimerId id = gNextHandle++;
  gTimers[id] = {CurrentThreadId(), periodMs, proc};
  return id;
}

bool KillThreadTimer(TTimerId id) {
  std::lock_guard<std::mutex> lock(gLock);
  auto it = gTimers.find(id);
  if (it == gTimers.end() || it->second.Thread != CurrentThreadId()) return false;
  gTimers.erase(it);
  return true;
}

TWindowHandle CreateHiddenWindow(const std::string& className) {
  std::lock_guard<std::mutex> lock(gLock);
  TWindowHandle h = gNextHandle++;
  gWindows[h].ClassName = className;
  gWindows[h].Thread = CurrentThreadId();
  return h;
}

void DestroyHiddenWindow(TWindowHandle window) {
  std::lock_guard<std::mutex> lock(gLock);
  gWindows.erase(window);
}

int HiddenWindowPosts(TWindowHandle window, uint32_t msg, uintptr_t wParam) {
  std::lock_guard<std::mutex> lock(gLock);
  auto it = gWindows.find(window);
  if (it == gWindows.end()) return 0;
  auto p = it->second.Posts.find({msg, wParam});
  return p == it->second.Posts.end() ? 0 : p->second;
}

int PumpThreadMessages(uint32_t) {
  // The calls are made outside the lock: a timer procedure may set or kill timers.
  std::vector<std::pair<TTimerId, TTimerProc>> due;
  {
    std::lock_guard<std::mutex> lock(gLock);
    uint32_t self = CurrentThreadId();
    for (const auto& [id, t] : gTimers)
      if (t.Thread == self) due.emplace_back(id, t.Proc);
  }
  int calls = 0;
  for (const auto& [id, proc] : due) {
    bool live;
    {
      std::lock_guard<std::mutex> lock(gLock);
      live = gTimers.count(id) != 0;  // an earlier call may have killed it
    }
    if (!live) continue;
    proc(id);
    ++calls;
  }
  return calls;
}

int ThreadTimerCount() {
  std::lock_guard<std::mutex> lock(gLock);
  uint32_t self = CurrentThreadId();
  int n = 0;
  for (const auto& [id, t] : gTimers)
    if (t.Thread == self) ++n;
  return n;
}

int SystemIconSize(bool) {
  return 0;
}
uintptr_t LoadModuleIcon(int, int) {
  return 0;
}

}  // namespace plat
