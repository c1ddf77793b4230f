#pragma once
// Panel refresh: while a scan runs and the Channels folder is listed, a timer asks the host's main
// window (class "TTOTAL_CMD") every RefreshSec seconds to re-read its panel, by posting message 1075
// (WM_USER + 51) with wParam 540.
//
// The timer is a window-less thread timer: it fires on the thread that set it, and only that thread
// can kill it. So the unit remembers the owning thread and the current timer id. Stopping from the
// owner kills the timer at once; stopping from another thread only forgets the id, and the next tick of
// a timer whose id is no longer current kills itself there and posts nothing. Setting from a thread that
// is not the owner of a running timer forgets the old one the same way and starts a new one on the
// calling thread. All state sits under one lock; the post itself is made outside it.
#include <cstdint>
#include <string>

#include "pWindow.h"

constexpr uint32_t kRefreshMessage = 1075;  // WM_USER + 51
constexpr uintptr_t kRefreshWParam = 540;
constexpr const char* kHostWindowClass = "TTOTAL_CMD";

// Keeps window as the host's main window when it is a live window; false (nothing kept) otherwise.
bool RememberTcWindow(plat::TWindowHandle window);
// The kept window while it lives, else the first window of class "TTOTAL_CMD" (kept from now on; 0
// when none).
plat::TWindowHandle FindTcWindow();
// The timer's tick.
void RefreshTimerProc(plat::TTimerId id);
void StopRefreshTimer();
// Not enable, or seconds <= 0: stop. A running timer of the same period (set on this thread) is left
// alone. Otherwise the old timer stops and a new one of seconds x 1000 ms starts on this thread.
void SetRefreshTimer(bool enable, int32_t seconds);
// The period of the current timer in seconds, 0 when none runs.
int32_t RefreshTimerPeriod();
// Forgets the kept host window (tests).
void ForgetTcWindow();
