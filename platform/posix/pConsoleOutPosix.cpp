#include <errno.h>
#include <unistd.h>

#include "pConsoleOut.h"

namespace plat {

namespace {
void WriteAll(const char* p, size_t n) {
  while (n > 0) {
    ssize_t w = ::write(STDOUT_FILENO, p, n);
    if (w < 0 && errno == EINTR) continue;
    if (w <= 0) return;  // a closed or full pipe: the line is dropped, the program goes on
    p += w;
    n -= static_cast<size_t>(w);
  }
}
}  // namespace

void WriteConsoleLine(std::string_view line) {
  // Short lines are joined with their LF in a stack buffer so that they leave in one write.
  char buf[1024];
  if (line.size() < sizeof(buf)) {
    for (size_t i = 0; i < line.size(); ++i) buf[i] = line[i];
    buf[line.size()] = '\n';
    WriteAll(buf, line.size() + 1);
  } else {
    WriteAll(line.data(), line.size());
    WriteAll("\n", 1);
  }
}

}  // namespace plat
