#include <windows.h>

#include <atomic>

#include "pConsole.h"

namespace plat {
namespace {
std::atomic<TStopHandler> gHandler{nullptr};

BOOL WINAPI OnConsoleEvent(DWORD) {
  TStopHandler h = gHandler.load();
  if (h) h();
  return TRUE;  // handled: the program ends itself
}
}  // namespace

bool InstallStopHandler(TStopHandler handler) {
  gHandler = handler;
  return SetConsoleCtrlHandler(OnConsoleEvent, TRUE) != 0;
}

}  // namespace plat
