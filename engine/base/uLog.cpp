#include "uLog.h"

#include <atomic>
#include <cstdarg>
#include <cstdio>
#include <mutex>

#include "pFile.h"
#include "pSystem.h"
#include "uTalvConfig.h"

namespace {

const char kLogFileName[] = "talvoran_engine.log";

bool EnvSwitchOn() {
  return plat::GetEnv("TALVORAN_LOG") == "1";
}

// Read once at start-up: only "1" exactly switches the log on ("true" or " 1" do not).
std::atomic<bool> gEnabled{EnvSwitchOn()};
std::atomic<bool> gReady{false};

// The lock, the path and the file. Created on first use and never destroyed, so that a unit logging
// from its own static destructor still finds a valid lock.
struct TLogState {
  std::mutex Lock;
  std::string Path;  // empty until first needed
  plat::TAppendFile File;
};

TLogState& State() {
  static TLogState* s = [] {
    TLogState* p = new TLogState();
    gReady = true;
    return p;
  }();
  return *s;
}

// Makes the lock exist before main and closes the file when the program ends.
struct TLogUnit {
  TLogUnit() { State(); }
  ~TLogUnit() {
    CloseLog();
    gReady = false;
  }
} gLogUnit;

// TEMP; on Linux also TMPDIR, else the user's private folder (never a fixed name in the shared /tmp).
std::string TempFolder() {
  std::string t = plat::GetEnv("TEMP");
  if (plat::PathSeparator() == '/') {
    if (t.empty()) t = plat::GetEnv("TMPDIR");
    if (t.empty()) t = plat::PrivateFolder();
  }
  return t;
}

std::string TempLogPath() {
  // TEMP may be empty on Windows: the log then lands in the root of the current drive.
  std::string t = TempFolder();
  return t.empty() ? std::string(1, plat::PathSeparator()) + kLogFileName : JoinPath(t, kLogFileName);
}

// Under the lock: opens the file at the known path, else in the temporary folder, else (Linux: a
// temporary folder that is shared, where another user may have put a link in its place) in the user's
// private folder.
void OpenLocked(TLogState& s) {
  if (s.Path.empty()) s.Path = LogFilePath();
  if (s.File.Open(s.Path)) return;
  s.Path = TempLogPath();
  if (s.File.Open(s.Path) || plat::PathSeparator() != '/') return;
  const std::string own = plat::PrivateFolder();
  if (own.empty()) return;
  s.Path = JoinPath(own, kLogFileName);
  s.File.Open(s.Path);
}

}  // namespace

std::string LogFilePath() {
  std::string dir = plat::ModuleDir();
  if (dir.empty()) return TempLogPath();
  return dir + kLogFileName;
}

std::string FormatLogLine(int hour, int minute, int second, int millisecond, unsigned threadId,
                          const std::string& message) {
  char head[64];
  std::snprintf(head, sizeof(head), "%.2d:%.2d:%.2d.%.3d [tid=%5u] ", hour, minute, second, millisecond,
                threadId);
  return head + message;
}

void WriteLogLine(const std::string& message) {
  if (!gEnabled.load(std::memory_order_relaxed) || !gReady.load()) return;
  // Formatting happens before the lock; the lock only guards the file.
  const plat::TLocalTime t = plat::LocalTimeNow();
  std::string line =
      FormatLogLine(t.Hour, t.Minute, t.Second, t.Millisecond, plat::CurrentThreadId(), message);
  line += "\r\n";
  TLogState& s = State();
  std::lock_guard<std::mutex> g(s.Lock);
  if (!s.File.IsOpen()) OpenLocked(s);
  if (s.File.IsOpen()) s.File.Write(line.data(), line.size());
}

// printf rules into a string of any length; one pass for the common short text.
std::string VFormatText(const char* fmt, va_list args) {
  va_list again;
  va_copy(again, args);
  char small[512];
  const int n = std::vsnprintf(small, sizeof(small), fmt, args);
  std::string text;
  if (n >= 0 && static_cast<size_t>(n) < sizeof(small)) {
    text.assign(small, static_cast<size_t>(n));
  } else if (n >= 0) {
    text.resize(static_cast<size_t>(n) + 1);
    std::vsnprintf(text.data(), text.size(), fmt, again);
    text.resize(static_cast<size_t>(n));
  }
  va_end(again);
  return text;
}

void LogFmt(const char* fmt, ...) {
  if (!gEnabled.load(std::memory_order_relaxed)) return;
  va_list args;
  va_start(args, fmt);
  const std::string message = VFormatText(fmt, args);
  va_end(args);
  WriteLogLine(message);
}

std::string FormatText(const char* fmt, ...) {
  va_list args;
  va_start(args, fmt);
  std::string text = VFormatText(fmt, args);
  va_end(args);
  return text;
}

void SetLogEnabled(bool enabled) {
  gEnabled = enabled;
}

bool LogIsEnabled() {
  return gEnabled.load();
}

void CloseLog() {
  if (!gReady.load()) return;
  TLogState& s = State();
  std::lock_guard<std::mutex> g(s.Lock);
  s.File.Close();
}

void SetLogPathForTest(const std::string& path) {
  TLogState& s = State();
  std::lock_guard<std::mutex> g(s.Lock);
  s.File.Close();
  s.Path = path;
}
