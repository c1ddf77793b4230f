#include "uSdrLibrary.h"

#include "uTalvConfig.h"

std::vector<std::string> SdrLibraryFileNames(const std::string& base) {
#ifdef _WIN32
  return {base + ".dll", "lib" + base + ".dll"};
#else
  return {"lib" + base + ".so.0"};
#endif
}

plat::TDynLib LoadSdrLibrary(const std::string& base, const std::string& folder, std::string& error) {
  const std::vector<std::string> names = SdrLibraryFileNames(base);
  const std::string dir = folder.empty() ? ExeDir() : JoinPath(folder, "");
  plat::TDynLib lib = nullptr;
  for (const std::string& name : names)
    if (!lib && !dir.empty()) lib = plat::LoadDynLib(JoinPath(dir, name));
  for (const std::string& name : names)
    if (!lib) lib = plat::LoadDynLib(name);
  if (!lib) {
#ifdef _WIN32
    const char* searchText = " and PATH)";
#else
    const char* searchText = " and the library path)";
#endif
    error = names.front() + " not found (looked in " + dir + searchText;
  }
  return lib;
}
