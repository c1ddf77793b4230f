#pragma once
// What the RTL-SDR and HackRF bindings share: the calling convention of the receiver libraries'
// exports, the file names a library is looked for under, the search (the program's folder, or the
// folder a test named, first; then the system's search path) with its "not found" text, and the list
// of exports a binding could not resolve.
//
// Each binding keeps its own state and lock; nothing here keeps state or logs.
#include <mutex>
#include <string>
#include <vector>

#include "pDynLib.h"

// The libraries' calls are cdecl on 32-bit Windows (the default elsewhere).
#if defined(_WIN32) && !defined(_WIN64)
#define TALV_SDR_CALL __cdecl
#else
#define TALV_SDR_CALL
#endif

// The file names to try, in order, for a library's base name ("rtlsdr"): Windows "rtlsdr.dll" then
// "librtlsdr.dll"; Linux "librtlsdr.so.0". The first is the name the texts use.
std::vector<std::string> SdrLibraryFileNames(const std::string& base);

// Loads the library: each file name in `folder` (the program's folder when empty), then each through
// the system's search. On failure returns nullptr and sets `error` to
// "<first file name> not found (looked in <folder> and PATH)" ("and the library path" on Linux).
plat::TDynLib LoadSdrLibrary(const std::string& base, const std::string& folder, std::string& error);

// Names of the exports a binding holds no routine for, in its binding order. The binding offers
// `Lock` and ForEachExport(visit(name, slot)).
template <typename TBinding>
std::vector<std::string> UnboundSdrExports(TBinding& binding) {
  std::vector<std::string> missing;
  std::lock_guard<std::mutex> guard(binding.Lock);
  binding.ForEachExport([&](const char* name, auto& fn) {
    if (!fn) missing.push_back(name);
  });
  return missing;
}
