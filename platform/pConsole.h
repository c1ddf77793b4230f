#pragma once
// Console stop requests: Ctrl+C, Ctrl+Break and closing the console on Windows; SIGINT and SIGTERM
// elsewhere. The handler runs on a thread of the system's choosing and the process keeps running:
// the program decides when to end. The handler must only set flags and write to standard output.
namespace plat {

using TStopHandler = void (*)();

// Installs the one handler of the process; a second call replaces it.
bool InstallStopHandler(TStopHandler handler);

}  // namespace plat
