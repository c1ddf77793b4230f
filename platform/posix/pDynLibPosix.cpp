#include <dlfcn.h>

#include "pDynLib.h"

namespace plat {

TDynLib LoadDynLib(const std::string& fileName) {
  if (fileName.empty()) return nullptr;
  return dlopen(fileName.c_str(), RTLD_NOW | RTLD_LOCAL);
}

void* DynLibSymbol(TDynLib lib, const char* name) {
  if (!lib || !name) return nullptr;
  return dlsym(lib, name);
}

void FreeDynLib(TDynLib lib) {
  if (lib) dlclose(lib);
}

}  // namespace plat
