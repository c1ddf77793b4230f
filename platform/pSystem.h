#pragma once
// Process-wide facts of the operating system: environment, module folder, ids, local time, ticks.
// Text is UTF-8 on every side; the Windows backend converts at the W functions. Nothing here keeps
// state between calls but the module's folder.
#include <cstdint>
#include <string>
#include <vector>

namespace plat {

// The path separator of this system: '\\' on Windows, '/' elsewhere.
char PathSeparator();

// Value of an environment variable; empty when it is not set.
std::string GetEnv(const std::string& name);
bool HasEnv(const std::string& name);
// Sets (or with an empty value still sets to empty) a variable of this process.
void SetEnv(const std::string& name, const std::string& value);
void UnsetEnv(const std::string& name);

// Folder of the module (program or shared library) that holds this code, ending in a separator;
// empty when the system cannot tell. Always an absolute path, also for a library loaded by a
// relative name (Linux resolves it once, while the module loads).
std::string ModuleDir();
// Full file name of the running program.
std::string ProgramPath();

// A folder only this user may enter, for the engine's socket and its last-resort log. Linux:
// $XDG_RUNTIME_DIR when it is a folder, else /tmp/talvoran-<uid>, created with mode 0700; empty (and
// error set) when it cannot be made, is not a folder (a link, say), belongs to another user or is open
// to others. Windows: the TEMP folder, which the system keeps per user (empty when unset).
std::string PrivateFolder(std::string* error = nullptr);

uint32_t CurrentThreadId();
uint32_t CurrentProcessId();

struct TLocalTime {
  int Year, Month, Day, Hour, Minute, Second, Millisecond;
};
TLocalTime LocalTimeNow();
// A local time as a date-time value: whole days since 1899-12-30 (proleptic Gregorian calendar) plus
// the time of day as the fraction; the form the channel store, STATUS and the spectrum frame carry.
double DateTimeOf(const TLocalTime& t);
// DateTimeOf(LocalTimeNow()).
double LocalDateTimeNow();

// The user's decimal separator (UTF-8), for numbers shown to a person: Windows: the user's locale
// setting; Linux: LC_ALL, LC_NUMERIC or LANG as the environment names them. "." when unknown. Never
// for numbers a program reads back. Each call asks the system (on Linux it loads the locale): read it
// once for a whole text or log, not once per number.
std::string UserDecimalSeparator();

// Milliseconds from an arbitrary start, never going back.
uint64_t TickMs();
void SleepMs(uint32_t ms);

}  // namespace plat

namespace plat {
// The program's arguments as UTF-8 (on Windows read from the wide command line, not from argv).
std::vector<std::string> CommandLineArgs(int argc, char** argv);
}  // namespace plat
