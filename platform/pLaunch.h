#pragma once
// Starting the engine from the plug-in: a program started detached (hidden, without a console window,
// inheriting no handle, in a folder of the caller's choosing) of which the caller keeps nothing; the
// WOW64 test that picks the engine for a 32-bit plug-in; and a mutex shared by every process of the
// user, so that two threads or two hosts never start two engines at once.
//
// Windows: CreateProcessW with SW_HIDE and CREATE_NO_WINDOW, handles not inherited, both process
// handles closed at once; IsWow64Process on the own process; a named mutex. Linux: posix_spawn in a
// new session (setsid), standard handles on /dev/null and every other descriptor closed; no WOW64; a
// lock file in the user's private runtime folder plus a lock within the process.
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace plat {

// Starts program with args (each passed as one argument; on Windows the command line is built with the
// program path in double quotes). False when it could not be started; errorCode then holds the
// system's code. The started process is not waited for and no handle of it is kept.
bool StartDetachedProcess(const std::string& program, const std::vector<std::string>& args,
                          const std::string& workDir, uint32_t* errorCode = nullptr);

// True only in a 32-bit build on 64-bit Windows: IsWow64Process on this process succeeded and said so.
bool RunningUnderWow64();
// True when this build is a 64-bit program.
constexpr bool Is64BitBuild() {
  return sizeof(void*) == 8;
}
// True when this build is a Windows program.
constexpr bool IsWindowsBuild() {
#ifdef _WIN32
  return true;
#else
  return false;
#endif
}

// How this process was started, as the started program sees it (the tests' stub engine reports it).
struct TStartState {
  bool Hidden = false;            // Windows: STARTF_USESHOWWINDOW with SW_HIDE; Linux: no terminal on stdio
  bool HasConsoleWindow = false;  // Windows: a console window exists; Linux: a terminal is on stdio
  uint32_t SessionId = 0;         // Linux: its session (getsid); Windows: 0
};
TStartState ThisProcessStartState();
// The current working folder (UTF-8, no trailing separator unless a root).
std::string CurrentFolder();
// The command line as the system holds it: Windows the raw text (quotes included); Linux the
// arguments joined by blanks.
std::string RawCommandLine();

// A mutex that every thread of every process of this user sees under the same name.
class TProcessMutex {
 public:
  explicit TProcessMutex(const std::string& name);
  ~TProcessMutex();  // releases a lock still held
  TProcessMutex(const TProcessMutex&) = delete;
  TProcessMutex& operator=(const TProcessMutex&) = delete;

  // Waits up to timeoutMs for the mutex; false on time-out or when the mutex could not be made (the
  // caller then goes on without it).
  bool Lock(uint32_t timeoutMs);
  void Unlock();

 private:
  struct TImpl;
  std::unique_ptr<TImpl> FImpl;
};

}  // namespace plat
