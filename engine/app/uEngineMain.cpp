#include "uEngineMain.h"
#include <cstdio>
int EngineMain(const std::vector<std::string>& args) { std::puts("scaffold"); return 0; }
