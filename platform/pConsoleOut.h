#pragma once
// The engine's console output: every line is handed to the system in one write and is on its way
// before the call returns (no buffer is left holding it), so lines of the program and of the stop
// handler never mix within a line and a killed program loses none. On Windows the line ends with
// CR LF, elsewhere with LF. Safe to call from the stop handler (on POSIX a signal handler: the
// backend uses write(2) only, no stdio lock and no allocation).
#include <cstddef>
#include <string_view>

namespace plat {

// Writes line plus the system's line end to standard output.
void WriteConsoleLine(std::string_view line);

}  // namespace plat
