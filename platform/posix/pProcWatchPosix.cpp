// Watching a process on Linux: a pidfd becomes readable when the process ends (zombies included);
// without pidfd_open (kernels before 5.3) a null signal tells whether the id still exists.
#include <errno.h>
#include <poll.h>
#include <signal.h>
#include <sys/syscall.h>
#include <unistd.h>

#include "pProcWatch.h"

namespace plat {

std::unique_ptr<TProcWatch> TProcWatch::Open(uint32_t pid, int* error) {
  if (error) *error = 0;
  if (pid == 0 || pid > 0x7fffffffu) {
    if (error) *error = ESRCH;
    return nullptr;
  }
  intptr_t handle = -1;
#if defined(SYS_pidfd_open)
  long fd = ::syscall(SYS_pidfd_open, static_cast<pid_t>(pid), 0);
  if (fd >= 0) {
    handle = fd;
  } else if (errno != ENOSYS) {
    if (error) *error = errno;
    return nullptr;
  }
#endif
  if (handle < 0 && ::kill(static_cast<pid_t>(pid), 0) != 0 && errno == ESRCH) {
    if (error) *error = ESRCH;
    return nullptr;
  }
  return std::unique_ptr<TProcWatch>(new TProcWatch(pid, handle));
}

TProcWatch::~TProcWatch() {
  if (FHandle >= 0) ::close(static_cast<int>(FHandle));
}

bool TProcWatch::Ended() const {
  if (FHandle >= 0) {
    pollfd p{static_cast<int>(FHandle), POLLIN, 0};
    int rc;
    do {
      rc = ::poll(&p, 1, 0);
    } while (rc < 0 && errno == EINTR);
    return rc > 0 && (p.revents & (POLLIN | POLLHUP)) != 0;
  }
  return ::kill(static_cast<pid_t>(FPid), 0) != 0 && errno == ESRCH;
}

}  // namespace plat
