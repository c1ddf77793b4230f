#include <cstdio>
#include <string>

#include "pConsoleOut.h"

namespace plat {

// The console handler runs on a thread of its own on Windows, so the locked stdio stream is safe
// here; standard output is in text mode and turns the LF into CR LF.
void WriteConsoleLine(std::string_view line) {
  std::string s(line);
  s += '\n';
  std::fwrite(s.data(), 1, s.size(), stdout);
  std::fflush(stdout);
}

}  // namespace plat
