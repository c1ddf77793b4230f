#include <signal.h>

#include <atomic>

#include "pConsole.h"

namespace plat {
namespace {
std::atomic<TStopHandler> gHandler{nullptr};

void OnSignal(int) {
  TStopHandler h = gHandler.load();
  if (h) h();
}
}  // namespace

bool InstallStopHandler(TStopHandler handler) {
  gHandler = handler;
  struct sigaction sa {};
  sa.sa_handler = OnSignal;
  sigemptyset(&sa.sa_mask);
  sa.sa_flags = SA_RESTART;
  return sigaction(SIGINT, &sa, nullptr) == 0 && sigaction(SIGTERM, &sa, nullptr) == 0;
}

}  // namespace plat
