#pragma once
// Watching another process by its id: the engine's service follows the plug-in's process (the client)
// so that it can end itself when the client is gone. Opening takes a reference to the process that
// stays valid while this object lives (Windows: a SYNCHRONIZE handle; Linux: a pidfd, or, on kernels
// without one, the bare id tested with a null signal); Ended never waits.
//
// Nothing here kills, signals or starts a process. One object is used by any number of threads, but
// it must not be destroyed while another thread is still asking it (share it, as the service does).
#include <cstdint>
#include <memory>

namespace plat {

class TProcWatch {
 public:
  ~TProcWatch();
  TProcWatch(const TProcWatch&) = delete;
  TProcWatch& operator=(const TProcWatch&) = delete;

  // Opens process pid for waiting. Null when it cannot be opened (no such process, no right to it);
  // *error then holds the system's error code.
  static std::unique_ptr<TProcWatch> Open(uint32_t pid, int* error = nullptr);

  // True once the process has ended (a wait with a time-out of 0 reports it signalled).
  bool Ended() const;
  uint32_t Pid() const { return FPid; }

 private:
  TProcWatch(uint32_t pid, intptr_t handle) : FPid(pid), FHandle(handle) {}
  uint32_t FPid;
  intptr_t FHandle;  // Windows: process handle; Linux: pidfd, or -1 when only the id is known
};

}  // namespace plat
