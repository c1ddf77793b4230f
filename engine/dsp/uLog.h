#pragma once
// The engine's diagnostic log, talvoran_engine.log beside the engine program.
//
// Every unit logs through LogFmt, which formats a message (printf rules, floats with the user's
// decimal separator: FormatLocal) and appends it as one line
// "HH:MM:SS.mmm [tid=    N] message" + CR LF. Logging is off unless the option --log switches it on
// (SetLogEnabled) or TALVORAN_LOG is exactly "1" at start; when off, a call costs one flag test and no
// file is created. The file is opened on the first line, appended to, shared for reading only, and kept
// open until CloseLog. If the program folder cannot be written, the file goes to the TEMP folder
// (on Linux TEMP, else TMPDIR, and when neither serves, the user's private folder, as for the socket;
// a symbolic link in the file's place is never followed). Any thread may log: formatting happens before the
// one log lock is taken, and no other lock is taken while it is held, so lines never interleave. Nothing is
// reported: a log that cannot be opened is skipped and the next line tries again.
// Messages begin with a component word and a colon ("scanner:", "agc:", "service:" ...).
#include <cstdarg>
#include <string>

#if defined(__MINGW32__)
#define TALV_PRINTF_FORMAT(fmtIndex, firstArg) __attribute__((format(gnu_printf, fmtIndex, firstArg)))
#elif defined(__GNUC__)
#define TALV_PRINTF_FORMAT(fmtIndex, firstArg) __attribute__((format(printf, fmtIndex, firstArg)))
#else
#define TALV_PRINTF_FORMAT(fmtIndex, firstArg)
#endif

// Formats and writes one line when logging is on.
void LogFmt(const char* fmt, ...) TALV_PRINTF_FORMAT(1, 2);
// printf rules into a text of any length, for messages and error texts. Not for numbers that a
// program reads back: those use "." whatever the locale (std::to_chars).
std::string FormatText(const char* fmt, ...) TALV_PRINTF_FORMAT(1, 2);
std::string VFormatText(const char* fmt, va_list args);
// printf rules, but floating-point numbers (%f, %e, %g, %a) written with the user's decimal separator:
// the numbers of log and console lines, which people read. Integers, texts (frequency texts from
// FormatMHz included) and everything else are left as printf writes them. Unsupported here: %n and
// positional arguments.
std::string FormatLocal(const char* fmt, ...) TALV_PRINTF_FORMAT(1, 2);
std::string VFormatLocal(const char* fmt, va_list args);
// The separator FormatLocal uses: plat::UserDecimalSeparator, read once. Tests may set another one
// (empty: read it again).
std::string LocalDecimalSeparator();
void SetLocalDecimalSeparatorForTest(const std::string& separator);

// Writes one time-stamped line when logging is on.
void WriteLogLine(const std::string& message);
// Switches writing on or off; the file is opened only by the next line.
void SetLogEnabled(bool enabled);
bool LogIsEnabled();
// Closes the file; the next line opens it again (at the path last used).
void CloseLog();
// Where the log is opened: the engine program's folder + "talvoran_engine.log" (TEMP when unknown).
std::string LogFilePath();

// The line as written, without its CR LF: "%.2d:%.2d:%.2d.%.3d [tid=%5u] %s".
std::string FormatLogLine(int hour, int minute, int second, int millisecond, unsigned threadId,
                          const std::string& message);

// For tests: closes the file and makes the next line open at path (empty: LogFilePath again).
void SetLogPathForTest(const std::string& path);
