// Detached start and the user-wide mutex on Linux.
#include <errno.h>
#include <fcntl.h>
#include <stdio.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include "pLaunch.h"
#include "pPipe.h"
#include "pSystem.h"

extern char** environ;

namespace plat {

// Two forks: the middle child starts a new session and forks the program, then ends at once, so the
// program is adopted by init (no zombie is left in the host) and belongs to no terminal. Between fork
// and exec only async-signal-safe calls are made; everything is prepared before. An exec failure comes
// back through a pipe that closes on a successful exec.
bool StartDetachedProcess(const std::string& program, const std::vector<std::string>& args,
                          const std::string& workDir, uint32_t* errorCode) {
  std::vector<std::string> all;
  all.push_back(program);
  all.insert(all.end(), args.begin(), args.end());
  std::vector<char*> argv;
  for (std::string& a : all) argv.push_back(a.data());
  argv.push_back(nullptr);
  const char* dir = workDir.empty() ? nullptr : workDir.c_str();
  long maxFd = ::sysconf(_SC_OPEN_MAX);
  if (maxFd < 256 || maxFd > 65536) maxFd = 65536;

  int report[2];
  if (::pipe2(report, O_CLOEXEC) != 0) {
    if (errorCode) *errorCode = static_cast<uint32_t>(errno);
    return false;
  }
  pid_t middle = ::fork();
  if (middle < 0) {
    int err = errno;
    ::close(report[0]);
    ::close(report[1]);
    if (errorCode) *errorCode = static_cast<uint32_t>(err);
    return false;
  }
  if (middle == 0) {
    ::setsid();
    pid_t child = ::fork();
    if (child != 0) ::_exit(child < 0 ? 1 : 0);
    int err = 0;
    if (dir && ::chdir(dir) != 0) err = errno;
    if (err == 0) {
      int null = ::open("/dev/null", O_RDWR);
      if (null >= 0) {
        ::dup2(null, 0);
        ::dup2(null, 1);
        ::dup2(null, 2);
      }
      // Inherit nothing else: every descriptor from 3 on closes, but the report pipe only at exec.
      for (int fd = 3; fd < maxFd; ++fd)
        if (fd != report[1]) ::close(fd);
      ::execve(argv[0], argv.data(), environ);
      err = errno;
    }
    ssize_t w = ::write(report[1], &err, sizeof(err));
    (void)w;
    ::_exit(127);
  }
  ::close(report[1]);
  int status = 0;
  while (::waitpid(middle, &status, 0) < 0 && errno == EINTR) {
  }
  int err = 0;
  ssize_t n;
  do {
    n = ::read(report[0], &err, sizeof(err));
  } while (n < 0 && errno == EINTR);
  ::close(report[0]);
  if (n == static_cast<ssize_t>(sizeof(err)) && err != 0) {
    if (errorCode) *errorCode = static_cast<uint32_t>(err);
    return false;
  }
  if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
    if (errorCode) *errorCode = static_cast<uint32_t>(EAGAIN);
    return false;
  }
  if (errorCode) *errorCode = 0;
  return true;
}

bool RunningUnderWow64() {
  return false;
}

// A lock file beside the pipe's socket, in the user's private folder. flock locks belong to one open
// file, so every Lock opens the file anew: two threads of one process exclude each other too.
struct TProcessMutex::TImpl {
  std::string Path;
  int Fd = -1;
};

TProcessMutex::TProcessMutex(const std::string& name) : FImpl(new TImpl) {
  FImpl->Path = PipePath(name + ".lock");
}

TProcessMutex::~TProcessMutex() {
  Unlock();
}

bool TProcessMutex::Lock(uint32_t timeoutMs) {
  if (FImpl->Fd >= 0 || FImpl->Path.empty()) return false;
  // PipePath names the folder; make sure it exists (the pipe may never have been created).
  size_t slash = FImpl->Path.rfind('/');
  if (slash != std::string::npos) ::mkdir(FImpl->Path.substr(0, slash).c_str(), 0700);
  int fd = ::open(FImpl->Path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
  if (fd < 0) return false;
  uint64_t deadline = TickMs() + timeoutMs;
  for (;;) {
    if (::flock(fd, LOCK_EX | LOCK_NB) == 0) {
      FImpl->Fd = fd;
      return true;
    }
    if (errno != EWOULDBLOCK && errno != EINTR) break;
    if (TickMs() >= deadline) break;
    SleepMs(5);
  }
  ::close(fd);
  return false;
}

void TProcessMutex::Unlock() {
  if (FImpl->Fd < 0) return;
  ::flock(FImpl->Fd, LOCK_UN);
  ::close(FImpl->Fd);
  FImpl->Fd = -1;
}

}  // namespace plat

namespace plat {

TStartState ThisProcessStartState() {
  TStartState s;
  bool tty = ::isatty(0) || ::isatty(1) || ::isatty(2);
  s.Hidden = !tty;
  s.HasConsoleWindow = tty;
  s.SessionId = static_cast<uint32_t>(::getsid(0));
  return s;
}

std::string CurrentFolder() {
  char buf[4096];
  return ::getcwd(buf, sizeof(buf)) ? std::string(buf) : std::string();
}

std::string RawCommandLine() {
  std::string bytes;
  FILE* f = ::fopen("/proc/self/cmdline", "rb");
  if (!f) return bytes;
  char buf[4096];
  size_t n;
  while ((n = ::fread(buf, 1, sizeof(buf), f)) > 0) bytes.append(buf, n);
  ::fclose(f);
  while (!bytes.empty() && bytes.back() == '\0') bytes.pop_back();
  for (char& c : bytes)
    if (c == '\0') c = ' ';
  return bytes;
}

}  // namespace plat
