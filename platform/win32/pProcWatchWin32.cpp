// Watching a process on Windows: a handle with SYNCHRONIZE access is signalled when it ends.
#include <windows.h>

#include "pProcWatch.h"

namespace plat {

std::unique_ptr<TProcWatch> TProcWatch::Open(uint32_t pid, int* error) {
  if (error) *error = 0;
  HANDLE h = OpenProcess(SYNCHRONIZE, FALSE, static_cast<DWORD>(pid));
  if (!h) {
    if (error) *error = static_cast<int>(GetLastError());
    return nullptr;
  }
  return std::unique_ptr<TProcWatch>(new TProcWatch(pid, reinterpret_cast<intptr_t>(h)));
}

TProcWatch::~TProcWatch() {
  if (FHandle) CloseHandle(reinterpret_cast<HANDLE>(FHandle));
}

bool TProcWatch::Ended() const {
  return WaitForSingleObject(reinterpret_cast<HANDLE>(FHandle), 0) == WAIT_OBJECT_0;
}

}  // namespace plat
