#include "uModePlaceholder.h"

#include <string>

#include "pConsoleOut.h"
#include "uEngineMain.h"
#include "uLog.h"

void RunModePlaceholder(const char* flag) {
  LogFmt("engine: %s is not available in this build", flag);
  plat::WriteConsoleLine(std::string("# error: ") + flag + " is not available in this build");
  SetExitCode(3);
}
