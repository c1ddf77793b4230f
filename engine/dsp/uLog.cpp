#include "uLog.h"

#include <atomic>
#include <cstdarg>
#include <cstddef>
#include <cstdint>
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

namespace {

// The separator of FormatLocal, empty until first needed. Never destroyed, like the log's state, so
// a unit logging from its own static destructor still finds it.
struct TSeparatorState {
  std::mutex Lock;
  std::string Value;
};

TSeparatorState& Separator() {
  static TSeparatorState* s = new TSeparatorState();
  return *s;
}

bool IsFloatConversion(char c) {
  return c == 'f' || c == 'F' || c == 'e' || c == 'E' || c == 'g' || c == 'G' || c == 'a' || c == 'A';
}

// One conversion "%[flags][width][.precision][length]c" of fmt from i (at the '%'), appended to out;
// i moves past it. False for a conversion this formatter does not take (the rest is then copied).
bool FormatOne(const char* fmt, size_t& i, va_list& args, const std::string& separator, std::string& out) {
  size_t j = i + 1;
  std::string spec = "%";
  auto take = [&](auto pred) {
    while (fmt[j] != '\0' && pred(fmt[j])) spec += fmt[j++];
  };
  take([](char c) { return c == '-' || c == '+' || c == ' ' || c == '#' || c == '0' || c == '\''; });
  int stars[2];
  int starCount = 0;
  auto widthOrStar = [&] {
    if (fmt[j] == '*') {
      stars[starCount++] = va_arg(args, int);
      spec += fmt[j++];
    } else {
      take([](char c) { return c >= '0' && c <= '9'; });
    }
  };
  widthOrStar();
  if (fmt[j] == '.') {
    spec += fmt[j++];
    widthOrStar();
  }
  std::string length;
  while (fmt[j] == 'h' || fmt[j] == 'l' || fmt[j] == 'L' || fmt[j] == 'z' || fmt[j] == 'j' || fmt[j] == 't')
    length += fmt[j++];
  const char conv = fmt[j];
  if (conv == '\0' || conv == 'n' || conv == '$') return false;
  spec += length;
  spec += conv;
  i = j + 1;
  if (conv == '%') {
    out += '%';
    return true;
  }
  // Formats the argument with the spec and the star values, whatever its type.
  auto put = [&](auto value) {
    auto print = [&](char* buffer, size_t size) {
      if (starCount == 2) return std::snprintf(buffer, size, spec.c_str(), stars[0], stars[1], value);
      if (starCount == 1) return std::snprintf(buffer, size, spec.c_str(), stars[0], value);
      return std::snprintf(buffer, size, spec.c_str(), value);
    };
    char small[128];
    const int n = print(small, sizeof small);
    if (n < 0) return;
    std::string piece;
    if (static_cast<size_t>(n) < sizeof small) {
      piece.assign(small, static_cast<size_t>(n));
    } else {
      piece.resize(static_cast<size_t>(n) + 1);
      print(piece.data(), piece.size());
      piece.resize(static_cast<size_t>(n));
    }
    if (IsFloatConversion(conv) && separator != ".") {
      const size_t dot = piece.find('.');
      if (dot != std::string::npos) piece.replace(dot, 1, separator);
    }
    out += piece;
  };
  switch (conv) {
    case 'd':
    case 'i':
      if (length == "ll")
        put(va_arg(args, long long));
      else if (length == "l")
        put(va_arg(args, long));
      else if (length == "z")
        put(va_arg(args, size_t));
      else if (length == "j")
        put(va_arg(args, intmax_t));
      else if (length == "t")
        put(va_arg(args, ptrdiff_t));
      else
        put(va_arg(args, int));
      return true;
    case 'u':
    case 'o':
    case 'x':
    case 'X':
      if (length == "ll")
        put(va_arg(args, unsigned long long));
      else if (length == "l")
        put(va_arg(args, unsigned long));
      else if (length == "z")
        put(va_arg(args, size_t));
      else if (length == "j")
        put(va_arg(args, uintmax_t));
      else if (length == "t")
        put(va_arg(args, ptrdiff_t));
      else
        put(va_arg(args, unsigned));
      return true;
    case 'c':
      put(va_arg(args, int));
      return true;
    case 's':
      put(va_arg(args, const char*));
      return true;
    case 'p':
      put(va_arg(args, void*));
      return true;
    default:
      if (!IsFloatConversion(conv)) return false;
      if (length == "L")
        put(va_arg(args, long double));
      else
        put(va_arg(args, double));
      return true;
  }
}

}  // namespace

std::string LocalDecimalSeparator() {
  TSeparatorState& s = Separator();
  std::lock_guard<std::mutex> g(s.Lock);
  if (s.Value.empty()) s.Value = plat::UserDecimalSeparator();
  return s.Value;
}

void SetLocalDecimalSeparatorForTest(const std::string& separator) {
  TSeparatorState& s = Separator();
  std::lock_guard<std::mutex> g(s.Lock);
  s.Value = separator;
}

std::string VFormatLocal(const char* fmt, va_list args) {
  const std::string separator = LocalDecimalSeparator();
  if (separator == ".") return VFormatText(fmt, args);
  va_list walk;
  va_copy(walk, args);
  std::string out;
  size_t i = 0;
  while (fmt[i] != '\0') {
    if (fmt[i] != '%') {
      out += fmt[i++];
      continue;
    }
    if (!FormatOne(fmt, i, walk, separator, out)) {
      out += fmt + i;  // a conversion this formatter does not take: the rest as it stands
      break;
    }
  }
  va_end(walk);
  return out;
}

std::string FormatLocal(const char* fmt, ...) {
  va_list args;
  va_start(args, fmt);
  std::string text = VFormatLocal(fmt, args);
  va_end(args);
  return text;
}

void LogFmt(const char* fmt, ...) {
  if (!gEnabled.load(std::memory_order_relaxed)) return;
  va_list args;
  va_start(args, fmt);
  const std::string message = VFormatLocal(fmt, args);
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
