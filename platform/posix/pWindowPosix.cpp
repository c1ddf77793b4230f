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

struct TStandIn {
  std::mutex Lock;
  std::map<TWindowHandle, TFakeWindow> Windows;  // ordered by creation: the first found is the oldest
  std::map<TTimerId, TFakeTimer> Timers;
  uintptr_t NextHandle = 0x1000;
};

// Made at its first use, so that PrepareThreadTimers decides how long it lives.
TStandIn& StandIn() {
  static TStandIn s;
  return s;
}

}  // namespace

void PrepareThreadTimers() {
  StandIn();
}

TWindowHandle FindTopWindow(const std::string& className) {
  TStandIn& s = StandIn();
  std::lock_guard<std::mutex> lock(s.Lock);
  for (const auto& [h, w] : s.Windows)
    if (w.ClassName == className) return h;
  return 0;
}

bool IsWindowAlive(TWindowHandle window) {
  TStandIn& s = StandIn();
  std::lock_guard<std::mutex> lock(s.Lock);
  return window != 0 && s.Windows.count(window) != 0;
}

bool PostWindowMessage(TWindowHandle window, uint32_t msg, uintptr_t wParam, intptr_t lParam) {
  TStandIn& s = StandIn();
  std::lock_guard<std::mutex> lock(s.Lock);
  auto it = s.Windows.find(window);
  if (it == s.Windows.end()) return false;
  ++it->second.Posts[{msg, wParam}];
  return true;
}

TTimerId SetThreadTimer(uint32_t periodMs, TTimerProc proc) {
  if (!proc) return 0;
  TStandIn& s = StandIn();
  std::lock_guard<std::mutex> lock(s.Lock);
  TTimerId id = s.NextHandle++;
  s.Timers[id] = {CurrentThreadId(), periodMs, proc};
  return id;
}

bool KillThreadTimer(TTimerId id) {
  TStandIn& s = StandIn();
  std::lock_guard<std::mutex> lock(s.Lock);
  auto it = s.Timers.find(id);
  if (it == s.Timers.end() || it->second.Thread != CurrentThreadId()) return false;
  s.Timers.erase(it);
  return true;
}

TWindowHandle CreateHiddenWindow(const std::string& className) {
  TStandIn& s = StandIn();
  std::lock_guard<std::mutex> lock(s.Lock);
  TWindowHandle h = s.NextHandle++;
  s.Windows[h].ClassName = className;
  s.Windows[h].Thread = CurrentThreadId();
  return h;
}

void DestroyHiddenWindow(TWindowHandle window) {
  TStandIn& s = StandIn();
  std::lock_guard<std::mutex> lock(s.Lock);
  s.Windows.erase(window);
}

int HiddenWindowPosts(TWindowHandle window, uint32_t msg, uintptr_t wParam) {
  TStandIn& s = StandIn();
  std::lock_guard<std::mutex> lock(s.Lock);
  auto it = s.Windows.find(window);
  if (it == s.Windows.end()) return 0;
  auto p = it->second.Posts.find({msg, wParam});
  return p == it->second.Posts.end() ? 0 : p->second;
}

int PumpThreadMessages(uint32_t) {
  // The calls are made outside the lock: a timer procedure may set or kill timers.
  std::vector<std::pair<TTimerId, TTimerProc>> due;
  {
    TStandIn& s = StandIn();
    std::lock_guard<std::mutex> lock(s.Lock);
    uint32_t self = CurrentThreadId();
    for (const auto& [id, t] : s.Timers)
      if (t.Thread == self) due.emplace_back(id, t.Proc);
  }
  int calls = 0;
  for (const auto& [id, proc] : due) {
    bool live;
    {
      TStandIn& s = StandIn();
      std::lock_guard<std::mutex> lock(s.Lock);
      live = s.Timers.count(id) != 0;  // an earlier call may have killed it
    }
    if (!live) continue;
    proc(id);
    ++calls;
  }
  return calls;
}

int ThreadTimerCount() {
  TStandIn& s = StandIn();
  std::lock_guard<std::mutex> lock(s.Lock);
  uint32_t self = CurrentThreadId();
  int n = 0;
  for (const auto& [id, t] : s.Timers)
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
