#include <errno.h>
#include <signal.h>

#include <atomic>

#include "pConsole.h"

namespace plat {
namespace {
std::atomic<TStopHandler> gHandler{nullptr};

// The handler interrupts whatever the thread was doing: a write that fails inside it must not leave
// its errno to the interrupted code, which may be just about to read its own.
void OnSignal(int) {
  const int savedErrno = errno;
  TStopHandler h = gHandler.load();
  if (h) h();
  errno = savedErrno;
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
