#include <windows.h>

#include "pDynLib.h"
#include "wText.h"

namespace plat {

TDynLib LoadDynLib(const std::string& fileName) {
  if (fileName.empty()) return nullptr;
  std::wstring wide = ToWide(fileName);
  // No "cannot find DLL" message box for a library that is simply not there.
  DWORD oldMode = 0;
  SetThreadErrorMode(SEM_FAILCRITICALERRORS | SEM_NOOPENFILEERRORBOX, &oldMode);
  HMODULE module;
  if (wide.find_first_of(L"\\/") != std::wstring::npos)
    // From a folder: its dependencies are looked for beside it first.
    module = LoadLibraryExW(wide.c_str(), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
  else
    module = LoadLibraryW(wide.c_str());
  SetThreadErrorMode(oldMode, nullptr);
  return module;
}

void* DynLibSymbol(TDynLib lib, const char* name) {
  if (!lib || !name) return nullptr;
  return reinterpret_cast<void*>(GetProcAddress(static_cast<HMODULE>(lib), name));
}

void FreeDynLib(TDynLib lib) {
  if (lib) FreeLibrary(static_cast<HMODULE>(lib));
}

}  // namespace plat
