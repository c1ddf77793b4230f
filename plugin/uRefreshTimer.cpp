#include "uRefreshTimer.h"

#include <mutex>

#include "pSystem.h"

namespace {

struct TRefreshState {
  std::mutex Lock;
  plat::TWindowHandle Host = 0;
  plat::TTimerId Timer = 0;  // the current timer; 0 when none runs
  uint32_t Owner = 0;        // the thread that set it
  int32_t Period = 0;        // seconds
};

TRefreshState& State() {
  static TRefreshState s;
  return s;
}

// Forgets the current timer; kills it when the calling thread owns it. A timer of another thread
// stays alive until its next tick, which finds it no longer current and kills it there.
void StopLocked(TRefreshState& s) {
  if (s.Timer != 0 && s.Owner == plat::CurrentThreadId()) plat::KillThreadTimer(s.Timer);
  s.Timer = 0;
  s.Owner = 0;
  s.Period = 0;
}

}  // namespace

bool RememberTcWindow(plat::TWindowHandle window) {
  if (window == 0 || !plat::IsWindowAlive(window)) return false;
  TRefreshState& s = State();
  std::lock_guard<std::mutex> lock(s.Lock);
  s.Host = window;
  return true;
}

plat::TWindowHandle FindTcWindow() {
  TRefreshState& s = State();
  plat::TWindowHandle kept;
  {
    std::lock_guard<std::mutex> lock(s.Lock);
    kept = s.Host;
  }
  if (kept != 0 && plat::IsWindowAlive(kept)) return kept;
  plat::TWindowHandle found = plat::FindTopWindow(kHostWindowClass);
  std::lock_guard<std::mutex> lock(s.Lock);
  s.Host = found;
  return found;
}

void RefreshTimerProc(plat::TTimerId id) {
  TRefreshState& s = State();
  {
    std::lock_guard<std::mutex> lock(s.Lock);
    if (id != s.Timer) {
      // Stopped or replaced from another thread: only this thread can end it.
      plat::KillThreadTimer(id);
      return;
    }
  }
  plat::TWindowHandle host = FindTcWindow();
  if (host != 0) plat::PostWindowMessage(host, kRefreshMessage, kRefreshWParam, 0);
}

void StopRefreshTimer() {
  TRefreshState& s = State();
  std::lock_guard<std::mutex> lock(s.Lock);
  StopLocked(s);
}

void SetRefreshTimer(bool enable, int32_t seconds) {
  TRefreshState& s = State();
  std::lock_guard<std::mutex> lock(s.Lock);
  if (!enable || seconds <= 0) {
    StopLocked(s);
    return;
  }
  uint32_t self = plat::CurrentThreadId();
  if (s.Timer != 0 && s.Period == seconds && s.Owner == self) return;
  StopLocked(s);
  plat::TTimerId id = plat::SetThreadTimer(static_cast<uint32_t>(seconds) * 1000u, RefreshTimerProc);
  if (id != 0) {
    s.Timer = id;
    s.Owner = self;
    s.Period = seconds;
  }
}

int32_t RefreshTimerPeriod() {
  TRefreshState& s = State();
  std::lock_guard<std::mutex> lock(s.Lock);
  return s.Period;
}

void ForgetTcWindow() {
  TRefreshState& s = State();
  std::lock_guard<std::mutex> lock(s.Lock);
  s.Host = 0;
}
