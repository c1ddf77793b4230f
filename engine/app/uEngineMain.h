#pragma once
// The engine program's body: start-up, the choice of one mode per run, the usage text, the console
// stop handler, the top-level exception line and the exit code.
//
// EngineMain switches the log on for --log, installs the stop handler and runs the FIRST mode whose
// flag is present, in a fixed order whatever the order on the command line: --list, --iqstat,
// --selftest-paths, --selftest-record, --selftest-demod, --selftest, --scan, --live, --service; with
// none it prints the usage text. Modes set the process exit code (SetExitCode) and print through
// plat::WriteConsoleLine, one write per line. An exception escaping a mode is the only one caught:
// "# exception: <class>: <message>" and exit code 9; the log is closed at exit in every case.
// Exit codes: 0 success, 1 self test failed, 2 receiver not opened / no --freq, 3 read, configuration
// or preparation failed, 4 sweep failed, nothing played or the live session ended with an error,
// 9 exception.
#include <atomic>
#include <functional>
#include <string>
#include <vector>

// Set by the stop handler (Ctrl+C, SIGINT/SIGTERM), never reset; only --scan and --live poll it.
extern std::atomic<bool> StopRequested;

// The process exit code, 0 at start; the program ends with the last value set.
void SetExitCode(int code);
int ExitCode();

// The 44 lines of the usage text, one write each.
void PrintUsage();

// The stop handler: sets StopRequested, prints an empty line and "# stopping..."; the program runs on.
void ConsoleCtrlHandler();

// Runs body; an exception leaving it prints "# exception: <class>: <message>" and sets exit code 9.
void RunModeGuarded(const std::function<void()>& body);

// The program; args[0] is the program itself. Returns the exit code.
int EngineMain(const std::vector<std::string>& args);
