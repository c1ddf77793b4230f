#pragma once
// The little of the windowing system that the plug-in's units need outside its views: finding the
// host's main window by class, posting it a message, window-less thread timers, and the plug-in's
// icon resources.
//
// Thread timers fire on the thread that set them, from its message loop, and on Windows only that
// thread can kill them: callers remember the owner (see the panel refresh). The Linux backend is a
// recording stand-in: timers are kept in a table and fire only when the owning thread calls
// PumpThreadMessages; "windows" are records made by CreateHiddenWindow, and posts to them are counted.
// The Windows backend is the real thing; CreateHiddenWindow there registers a class whose window
// procedure counts the posts, so the same tests run on both.
#include <cstdint>
#include <string>

namespace plat {

using TWindowHandle = uintptr_t;  // 0: none
using TTimerId = uintptr_t;       // 0: none
using TTimerProc = void (*)(TTimerId id);

// The first top-level window of class className (exact), or 0.
TWindowHandle FindTopWindow(const std::string& className);
// The window still exists.
bool IsWindowAlive(TWindowHandle window);
// Posts msg to the window's queue without waiting; false when the post failed.
bool PostWindowMessage(TWindowHandle window, uint32_t msg, uintptr_t wParam, intptr_t lParam);

// A timer without a window that calls proc every periodMs on this thread's message loop; 0 on failure.
TTimerId SetThreadTimer(uint32_t periodMs, TTimerProc proc);
// Kills a timer of the calling thread; false when it is not one (unknown, or owned by another thread).
bool KillThreadTimer(TTimerId id);
// Makes the bookkeeping of thread timers now. A library that kills its timers in its unload step
// calls it before that step is registered, so that the bookkeeping is torn down after the step.
void PrepareThreadTimers();

// Test aids. A hidden top-level window of the given class, owned by the calling thread, that counts
// the messages posted to it; destroyed by DestroyHiddenWindow (on the same thread).
TWindowHandle CreateHiddenWindow(const std::string& className);
void DestroyHiddenWindow(TWindowHandle window);
// Posts of msg with wParam that the hidden window has received so far (0 for another window).
int HiddenWindowPosts(TWindowHandle window, uint32_t msg, uintptr_t wParam);
// Runs the calling thread's message loop: Windows dispatches for waitMs milliseconds; the stand-in
// fires each live timer of this thread once, whatever waitMs. Returns the timer calls made (stand-in)
// or the messages dispatched (Windows).
int PumpThreadMessages(uint32_t waitMs);
// Live timers the calling thread owns (the stand-in's table; Windows: the ones set through this unit
// and not yet killed).
int ThreadTimerCount();

// The icon size of the system (small or large); 0 when the system does not say.
int SystemIconSize(bool small);
// The icon group resourceId of the module that holds this code, at size x size pixels; 0 when there is
// none (always on Linux, whose builds carry no resources). The caller owns the icon.
uintptr_t LoadModuleIcon(int resourceId, int size);

}  // namespace plat
