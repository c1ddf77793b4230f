// Windows, thread timers and icons on Windows.
#include <windows.h>

#include <map>
#include <mutex>
#include <set>
#include <tuple>

#include "pWindow.h"
#include "wText.h"

namespace plat {
namespace {

struct TTimerRec {
  DWORD Thread = 0;
  TTimerProc Proc = nullptr;
};

std::mutex gLock;
std::map<TTimerId, TTimerRec> gTimers;
std::map<std::tuple<TWindowHandle, uint32_t, uintptr_t>, int> gPosts;
std::set<std::wstring> gClasses;

void CALLBACK TimerThunk(HWND, UINT, UINT_PTR id, DWORD) {
  TTimerProc proc = nullptr;
  {
    std::lock_guard<std::mutex> lock(gLock);
    auto it = gTimers.find(id);
    if (it != gTimers.end()) proc = it->second.Proc;
  }
  if (proc) proc(id);
}

LRESULT CALLBACK CountingProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
  if (msg >= WM_USER) {
    std::lock_guard<std::mutex> lock(gLock);
    ++gPosts[{reinterpret_cast<TWindowHandle>(hwnd), msg, wParam}];
    return 0;
  }
  return DefWindowProcW(hwnd, msg, wParam, lParam);
}

HMODULE ThisModule() {
  HMODULE module = nullptr;
  GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                     reinterpret_cast<LPCWSTR>(&ThisModule), &module);
  return module;
}

HWND W(TWindowHandle h) {
  return reinterpret_cast<HWND>(h);
}

}  // namespace

TWindowHandle FindTopWindow(const std::string& className) {
  return reinterpret_cast<TWindowHandle>(FindWindowW(ToWide(className).c_str(), nullptr));
}

bool IsWindowAlive(TWindowHandle window) {
  return window != 0 && IsWindow(W(window));
}

bool PostWindowMessage(TWindowHandle window, uint32_t msg, uintptr_t wParam, intptr_t lParam) {
  return PostMessageW(W(window), msg, wParam, lParam) != 0;
}

TTimerId SetThreadTimer(uint32_t periodMs, TTimerProc proc) {
  if (!proc) return 0;
  // Registered before the timer exists, so no tick can find the table without it.
  std::lock_guard<std::mutex> lock(gLock);
  UINT_PTR id = SetTimer(nullptr, 0, periodMs, TimerThunk);
  if (id != 0) gTimers[id] = {GetCurrentThreadId(), proc};
  return id;
}

// A DLL's unload step (DllMain) runs before the run-time destroys the DLL's static objects.
void PrepareThreadTimers() {}

bool KillThreadTimer(TTimerId id) {
  {
    std::lock_guard<std::mutex> lock(gLock);
    auto it = gTimers.find(id);
    if (it == gTimers.end() || it->second.Thread != GetCurrentThreadId()) return false;
    gTimers.erase(it);
  }
  return KillTimer(nullptr, id) != 0;
}

TWindowHandle CreateHiddenWindow(const std::string& className) {
  std::wstring cls = ToWide(className);
  HINSTANCE inst = GetModuleHandleW(nullptr);
  {
    std::lock_guard<std::mutex> lock(gLock);
    if (gClasses.insert(cls).second) {
      WNDCLASSW wc{};
      wc.lpfnWndProc = CountingProc;
      wc.hInstance = inst;
      wc.lpszClassName = cls.c_str();
      RegisterClassW(&wc);
    }
  }
  HWND h = CreateWindowExW(0, cls.c_str(), L"", WS_OVERLAPPED, 0, 0, 10, 10, nullptr, nullptr, inst, nullptr);
  return reinterpret_cast<TWindowHandle>(h);
}

void DestroyHiddenWindow(TWindowHandle window) {
  if (window) DestroyWindow(W(window));
  std::lock_guard<std::mutex> lock(gLock);
  for (auto it = gPosts.begin(); it != gPosts.end();) {
    if (std::get<0>(it->first) == window)
      it = gPosts.erase(it);
    else
      ++it;
  }
}

int HiddenWindowPosts(TWindowHandle window, uint32_t msg, uintptr_t wParam) {
  std::lock_guard<std::mutex> lock(gLock);
  auto it = gPosts.find({window, msg, wParam});
  return it == gPosts.end() ? 0 : it->second;
}

int PumpThreadMessages(uint32_t waitMs) {
  int n = 0;
  ULONGLONG deadline = GetTickCount64() + waitMs;
  for (;;) {
    MSG msg;
    while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
      TranslateMessage(&msg);
      DispatchMessageW(&msg);
      ++n;
    }
    ULONGLONG now = GetTickCount64();
    if (now >= deadline) return n;
    MsgWaitForMultipleObjects(0, nullptr, FALSE, static_cast<DWORD>(deadline - now), QS_ALLINPUT);
  }
}

int ThreadTimerCount() {
  std::lock_guard<std::mutex> lock(gLock);
  DWORD self = GetCurrentThreadId();
  int n = 0;
  for (const auto& [id, t] : gTimers)
    if (t.Thread == self) ++n;
  return n;
}

int SystemIconSize(bool small) {
  return GetSystemMetrics(small ? SM_CXSMICON : SM_CXICON);
}

uintptr_t LoadModuleIcon(int resourceId, int size) {
  HANDLE icon =
      LoadImageW(ThisModule(), MAKEINTRESOURCEW(resourceId), IMAGE_ICON, size, size, LR_DEFAULTCOLOR);
  return reinterpret_cast<uintptr_t>(icon);
}

}  // namespace plat
