// Entry of the console program talvoran_engine.
#include "pSystem.h"
#include "uEngineMain.h"

int main(int argc, char** argv) { return EngineMain(plat::CommandLineArgs(argc, argv)); }
