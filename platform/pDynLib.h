#pragma once
// Shared libraries loaded at run time by file name, with exports resolved by name. Used for the
// receiver libraries, which the engine must never link: it runs without them.
//
// A file name with a folder is loaded from exactly there; a bare name goes through the system's
// search (Windows: the program's folder, the system folders, PATH; Linux: the loader's path). On
// Windows a library loaded by full path finds its own dependencies beside it.
#include <string>

namespace plat {

using TDynLib = void*;

// The loaded library, or nullptr when it cannot be loaded. Text is UTF-8.
TDynLib LoadDynLib(const std::string& fileName);
// The address of the export `name`, or nullptr when the library has none (or lib is nullptr).
void* DynLibSymbol(TDynLib lib, const char* name);
// Releases a library; nullptr is ignored.
void FreeDynLib(TDynLib lib);

// Resolves an export into a typed routine pointer; nullptr when missing.
template <typename TFn>
bool BindDynLib(TDynLib lib, const char* name, TFn& fn) {
  fn = reinterpret_cast<TFn>(DynLibSymbol(lib, name));
  return fn != nullptr;
}

}  // namespace plat
