#include <process.h>
#include <windows.h>

#include <memory>

#include "pThread.h"

namespace plat {
namespace {
unsigned __stdcall ThreadEntry(void* arg) {
  std::unique_ptr<std::function<void()>> body(static_cast<std::function<void()>*>(arg));
  (*body)();
  return 0;
}
}  // namespace

TThread::~TThread() {
  Join();
}

bool TThread::Start(std::function<void()> body, size_t stackBytes) {
  if (FHandle) return false;
  auto* arg = new std::function<void()>(std::move(body));
  uintptr_t h = _beginthreadex(nullptr, static_cast<unsigned>(stackBytes), ThreadEntry, arg,
                               STACK_SIZE_PARAM_IS_A_RESERVATION, nullptr);
  if (h == 0) {
    delete arg;
    return false;
  }
  FHandle = reinterpret_cast<void*>(h);
  return true;
}

void TThread::Join() {
  if (!FHandle) return;
  WaitForSingleObject(static_cast<HANDLE>(FHandle), INFINITE);
  CloseHandle(static_cast<HANDLE>(FHandle));
  FHandle = nullptr;
}

}  // namespace plat
