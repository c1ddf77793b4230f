#include <dlfcn.h>
#include <errno.h>
#include <langinfo.h>
#include <link.h>
#include <locale.h>
#include <pthread.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/time.h>
#include <time.h>
#include <unistd.h>

#include <climits>
#include <cstdlib>
#include <cstring>

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

// The loader knows a shared object by the name it was loaded with, which may be relative to the folder
// that was current then ("./x.so"); the program itself has no name there.
static std::string ResolveModuleDir() {
  Dl_info info{};
  link_map* module = nullptr;
  if (dladdr1(reinterpret_cast<void*>(&ResolveModuleDir), &info, reinterpret_cast<void**>(&module),
              RTLD_DL_LINKMAP) &&
      module != nullptr && module->l_name != nullptr && module->l_name[0] != '\0') {
    char resolved[PATH_MAX];
    if (realpath(module->l_name, resolved)) return FolderOf(resolved);
  }
  return FolderOf(ProgramPath());
}

std::string ModuleDir() {
  static const std::string dir = ResolveModuleDir();
  return dir;
}

// Resolved while this module is being loaded, when a relative load name still means what it meant.
[[maybe_unused]] static const bool gModuleDirResolved = !ModuleDir().empty();

std::string PrivateFolder(std::string* error) {
  std::string dir = GetEnv("XDG_RUNTIME_DIR");
  struct stat st {};
  if (dir.empty() || dir[0] != '/' || ::stat(dir.c_str(), &st) != 0 || !S_ISDIR(st.st_mode))
    dir = "/tmp/talvoran-" + std::to_string(static_cast<unsigned long>(::getuid()));
  // Created 0700 when missing; refused when it is a link, someone else's, or open to others (another
  // user could then swap what lies in it).
  std::string why;
  if (::mkdir(dir.c_str(), 0700) != 0 && errno != EEXIST)
    why = "cannot create folder " + dir + " (" + std::strerror(errno) + ")";
  else if (::lstat(dir.c_str(), &st) != 0 || !S_ISDIR(st.st_mode))
    why = "not a folder: " + dir;
  else if (st.st_uid != ::getuid())
    why = "the folder " + dir + " is not ours: another user owns it";
  else if ((st.st_mode & 077) != 0)
    why = "the folder " + dir + " is not ours alone: others may enter it";
  if (why.empty()) return dir;
  if (error) *error = why;
  return std::string();
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

std::string UserDecimalSeparator() {
  // A locale object of its own: the program's C locale stays as it is.
  locale_t loc = newlocale(LC_NUMERIC_MASK, "", static_cast<locale_t>(0));
  if (loc == static_cast<locale_t>(0)) return ".";
  const char* sep = nl_langinfo_l(RADIXCHAR, loc);
  std::string text = sep != nullptr && sep[0] != '\0' ? sep : ".";
  freelocale(loc);
  return text;
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
