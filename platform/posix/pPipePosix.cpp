// The engine's pipe on Linux: a Unix-domain stream socket in a folder only this user can enter.
#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>

#include "pPipe.h"
#include "pSystem.h"

namespace plat {
namespace {

bool FillAddress(const std::string& path, sockaddr_un& addr) {
  std::memset(&addr, 0, sizeof(addr));
  addr.sun_family = AF_UNIX;
  if (path.empty() || path.size() >= sizeof(addr.sun_path)) return false;
  std::memcpy(addr.sun_path, path.data(), path.size());
  return true;
}

// One connection attempt; the socket, or -1 with errno set.
int TryConnect(const std::string& path) {
  sockaddr_un addr;
  if (!FillAddress(path, addr)) {
    errno = ENAMETOOLONG;
    return -1;
  }
  // Non-blocking, so that a server whose queue is full answers EAGAIN ("busy") at once instead of
  // holding the caller until it accepts; a Unix socket connects at once or not at all.
  int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
  if (fd < 0) return -1;
  int rc;
  do {
    rc = ::connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof(addr));
  } while (rc != 0 && errno == EINTR);
  if (rc != 0) {
    int err = errno;
    ::close(fd);
    errno = err;
    return -1;
  }
  int flags = ::fcntl(fd, F_GETFL);
  if (flags >= 0) ::fcntl(fd, F_SETFL, flags & ~O_NONBLOCK);
  return fd;
}

}  // namespace

std::string PipePath(const std::string& name) {
  const std::string dir = PrivateFolder();
  return dir.empty() ? std::string() : dir + "/" + name;
}

// ---- connection ----

TPipeConn::TPipeConn(intptr_t handle, bool serverSide) : FHandle(handle), FServerSide(serverSide) {}

TPipeConn::~TPipeConn() {
  Close();
}

size_t TPipeConn::Read(void* buffer, size_t size) {
  if (FAborted.load() || FHandle < 0 || size == 0) return 0;
  for (;;) {
    const int64_t left = ReadWaitLeft();
    if (left >= 0) {
      pollfd p{static_cast<int>(FHandle), POLLIN, 0};
      const int rc = ::poll(&p, 1, static_cast<int>(std::min<int64_t>(left, 60000)));
      if (rc < 0 && errno == EINTR) continue;
      if (rc == 0) {
        if (ReadWaitLeft() > 0) continue;
        FTimedOut = true;
        return 0;
      }
    }
    ssize_t n = ::recv(static_cast<int>(FHandle), buffer, size, 0);
    if (n > 0) return static_cast<size_t>(n);
    if (n < 0 && errno == EINTR && !FAborted.load()) continue;
    return 0;
  }
}

bool TPipeConn::Write(const void* data, size_t size) {
  const char* p = static_cast<const char*>(data);
  while (size > 0) {
    if (FAborted.load() || FHandle < 0) return false;
    ssize_t n = ::send(static_cast<int>(FHandle), p, size, MSG_NOSIGNAL);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    p += n;
    size -= static_cast<size_t>(n);
  }
  return true;
}

void TPipeConn::Flush() {}  // a socket delivers what was written, also after close

void TPipeConn::Abort() {
  FAborted = true;
  std::lock_guard<std::mutex> lock(FHandleLock);
  if (FHandle >= 0) ::shutdown(static_cast<int>(FHandle), SHUT_RDWR);
}

void TPipeConn::Close() {
  std::lock_guard<std::mutex> lock(FHandleLock);
  if (FHandle >= 0) ::close(static_cast<int>(FHandle));
  FHandle = -1;
}

std::unique_ptr<TPipeConn> PipeConnect(const std::string& name, uint32_t timeoutMs, IClock& clock,
                                       int* error) {
  std::string path = PipePath(name);
  uint64_t deadline = clock.NowMs() + timeoutMs;
  for (;;) {
    int fd = TryConnect(path);
    if (fd >= 0) {
      if (error) *error = 0;
      return std::unique_ptr<TPipeConn>(new TPipeConn(fd, false));
    }
    int err = errno;
    // Not there yet (no file, or a file without a server behind it): wait; anything else is final.
    bool retry = err == ENOENT || err == ECONNREFUSED || err == EAGAIN;
    if (!retry || clock.NowMs() >= deadline) {
      if (error) *error = retry ? 0 : err;
      return nullptr;
    }
    clock.SleepMs(10);
  }
}

// As the system's pipe wait: a pipe that is not there is reported at once; one that is there but busy
// counts as there. A socket connects at once or not at all, so waitMs is not needed here.
bool PipeExists(const std::string& name, uint32_t) {
  int fd = TryConnect(PipePath(name));
  if (fd >= 0) {
    ::close(fd);
    return true;
  }
  return errno == EAGAIN;  // there, but its queue is full: busy
}

// ---- busy pipe (tests) ----

TBusyPipe::TBusyPipe(std::string name) : FName(std::move(name)) {}

TBusyPipe::~TBusyPipe() {
  for (intptr_t h : FHandles) ::close(static_cast<int>(h));
  if (!FHandles.empty()) ::unlink(PipePath(FName).c_str());
}

bool TBusyPipe::Open() {
  std::string path = PipePath(FName);  // empty without a safe folder
  sockaddr_un addr;
  if (!FillAddress(path, addr)) return false;
  int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return false;
  if (::bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof(addr)) != 0 || ::listen(fd, 0) != 0) {
    ::close(fd);
    return false;
  }
  FHandles.push_back(fd);
  // Never accepted: once the queue is full every further connect is refused with EAGAIN.
  for (int i = 0; i < 16; ++i) {
    int c = TryConnect(path);
    if (c < 0) return errno == EAGAIN;
    FHandles.push_back(c);
  }
  return false;
}

// ---- server ----

bool TPipeServer::Open() {
  if (FOpen) return true;
  FAlreadyRunning = false;
  std::string error;
  const std::string dir = PrivateFolder(&error);
  if (dir.empty()) {
    SetError("no private folder for the socket: " + error, EACCES);
    return false;
  }
  std::string path = dir + "/" + FName;
  sockaddr_un addr;
  if (!FillAddress(path, addr)) {
    SetError("pipe path too long: " + path, ENAMETOOLONG);
    return false;
  }

  // The lock file makes the check-and-replace below safe against a second server starting now.
  std::string lockPath = path + ".lock";
  int lockFd = ::open(lockPath.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
  if (lockFd < 0) {
    SetError("cannot open " + lockPath + " (" + std::strerror(errno) + ")", errno);
    return false;
  }
  if (::flock(lockFd, LOCK_EX | LOCK_NB) != 0) {
    int err = errno;
    ::close(lockFd);
    FAlreadyRunning = err == EWOULDBLOCK;
    SetError(FAlreadyRunning ? "pipe " + path + " is already served (already running?)"
                             : "cannot lock " + lockPath + " (" + std::strerror(err) + ")",
             FAlreadyRunning ? EADDRINUSE : err);
    return false;
  }

  struct stat st {};
  if (::lstat(path.c_str(), &st) == 0) {
    if (!S_ISSOCK(st.st_mode)) {
      ::close(lockFd);
      SetError("not a socket: " + path, EEXIST);
      return false;
    }
    int probe = TryConnect(path);
    if (probe >= 0 || errno == EAGAIN) {  // EAGAIN: a live server whose queue is full
      if (probe >= 0) ::close(probe);
      ::close(lockFd);
      FAlreadyRunning = true;
      SetError("pipe " + path + " is already served (already running?)", EADDRINUSE);
      return false;
    }
    ::unlink(path.c_str());  // stale: left by a server that died
  }

  int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0 || ::bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof(addr)) != 0 || ::listen(fd, 128) != 0) {
    int err = errno;
    if (fd >= 0) ::close(fd);
    ::close(lockFd);
    FAlreadyRunning = err == EADDRINUSE;
    SetError("cannot create pipe " + path + " (" + std::strerror(err) + ")", err);
    return false;
  }
  ::chmod(path.c_str(), 0600);
  int wake[2];
  if (::pipe2(wake, O_CLOEXEC | O_NONBLOCK) != 0) {
    int err = errno;
    ::close(fd);
    ::unlink(path.c_str());
    ::close(lockFd);
    SetError("cannot create pipe " + path + " (" + std::strerror(err) + ")", err);
    return false;
  }
  FListen = fd;
  FLock = lockFd;
  FWake[0] = wake[0];
  FWake[1] = wake[1];
  FSocketPath = path;
  FOpen = true;
  return true;
}

std::unique_ptr<TPipeConn> TPipeServer::Accept() {
  if (!FOpen) {
    SetError("pipe not open", EBADF);
    return nullptr;
  }
  for (;;) {
    if (FStop.load()) return nullptr;
    pollfd fds[2] = {{static_cast<int>(FListen), POLLIN, 0}, {static_cast<int>(FWake[0]), POLLIN, 0}};
    int rc = ::poll(fds, 2, -1);
    if (rc < 0) {
      if (errno == EINTR) continue;
      SetError(std::string("poll failed (") + std::strerror(errno) + ")", errno);
      return nullptr;
    }
    if (FStop.load() || (fds[1].revents & POLLIN)) return nullptr;
    if (!(fds[0].revents & POLLIN)) continue;
    int fd = ::accept4(static_cast<int>(FListen), nullptr, nullptr, SOCK_CLOEXEC);
    if (fd >= 0) return std::unique_ptr<TPipeConn>(new TPipeConn(fd, true));
    int err = errno;
    if (err == EINTR || err == EAGAIN || err == ECONNABORTED) continue;
    SetError(std::string("accept failed (") + std::strerror(err) + ")", err);
    return nullptr;
  }
}

void TPipeServer::Wake() {
  if (FWake[1] >= 0) {
    char byte = 1;
    ssize_t ignored = ::write(static_cast<int>(FWake[1]), &byte, 1);
    (void)ignored;
  }
}

void TPipeServer::CloseListener() {
  if (!FOpen) return;
  ::close(static_cast<int>(FListen));
  ::unlink(FSocketPath.c_str());
  // The lock file stays: removing it could let two servers lock two different files.
  ::close(static_cast<int>(FLock));
  ::close(static_cast<int>(FWake[0]));
  ::close(static_cast<int>(FWake[1]));
  FListen = FLock = FWake[0] = FWake[1] = -1;
  FOpen = false;
}

}  // namespace plat
