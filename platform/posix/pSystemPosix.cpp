#include <dlfcn.h>
#include <pthread.h>
#include <sys/syscall.h>
#include <sys/time.h>
#include <time.h>
#include <unistd.h>

#include <climits>
#include <cstdlib>

#include "pSystem.h"

namespace plat {

char PathSeparator() {
  return '/';
}

std::string GetEnv(const std::string& name) {
  const char* v = std::getenv(name.c_str());
  return v ? std::string(v) : std::string();
}

bool HasEnv(const std::string& name) {
  return std::getenv(name.c_str()) != nullptr;
}

void SetEnv(const std::string& name, const std::string& value) {
  setenv(name.c_str(), value.c_str(), 1);
}

void UnsetEnv(const std::string& name) {
  unsetenv(name.c_str());
}

static std::string FolderOf(const std::string& path) {
  size_t slash = path.rfind('/');
  return slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
}

std::string ProgramPath() {
  char buf[PATH_MAX];
  ssize_t n = readlink("/proc/self/exe", buf, sizeof(buf) - 1);
  return n > 0 ? std::string(buf, static_cast<size_t>(n)) : std::string();
}

std::string ModuleDir() {
  Dl_info info{};
  if (dladdr(reinterpret_cast<void*>(&ModuleDir), &info) && info.dli_fname && info.dli_fname[0] == '/') {
    char resolved[PATH_MAX];
    if (realpath(info.dli_fname, resolved)) return FolderOf(resolved);
  }
  return FolderOf(ProgramPath());
}

uint32_t CurrentThreadId() {
  return static_cast<uint32_t>(syscall(SYS_gettid));
}

uint32_t CurrentProcessId() {
  return static_cast<uint32_t>(getpid());
}

TLocalTime LocalTimeNow() {
  timeval tv{};
  gettimeofday(&tv, nullptr);
  tm parts{};
  time_t secs = tv.tv_sec;
  localtime_r(&secs, &parts);
  return {parts.tm_year + 1900,
          parts.tm_mon + 1,
          parts.tm_mday,
          parts.tm_hour,
          parts.tm_min,
          parts.tm_sec,
          static_cast<int>(tv.tv_usec / 1000)};
}

uint64_t TickMs() {
  timespec ts{};
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return static_cast<uint64_t>(ts.tv_sec) * 1000u + static_cast<uint64_t>(ts.tv_nsec / 1000000);
}

void SleepMs(uint32_t ms) {
  timespec ts{static_cast<time_t>(ms / 1000), static_cast<long>(ms % 1000) * 1000000L};
  while (nanosleep(&ts, &ts) != 0) {
  }
}

}  // namespace plat

namespace plat {
std::vector<std::string> CommandLineArgs(int argc, char** argv) {
  return std::vector<std::string>(argv, argv + argc);
}
}  // namespace plat
