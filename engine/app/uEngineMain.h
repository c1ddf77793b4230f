#pragma once
// The engine program's body: start-up, option reading, mode choice, the top-level exception line
// and the exit code. args[0] is the program itself.
#include <string>
#include <vector>

int EngineMain(const std::vector<std::string>& args);
