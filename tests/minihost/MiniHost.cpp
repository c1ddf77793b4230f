// A second host of the plug-in, apart from the test host: a program of its own that loads the library
// by the name it is given (relative names included, resolved against the folder it is started in), as
// an outside host does, and runs a short script:
//   init         FsInitW without callbacks
//   list PATH    one listing ("\" separated); prints each name on a line
//   cd FOLDER    makes FOLDER the current folder (as a file manager does, long after the load)
//   unload       frees the library
// After the script the program ends through exit(), with the library still loaded unless "unload"
// came, so the library's unload step runs during the process's exit. Exit status 0 unless a step
// could not be made (2: no library, 3: an export is missing or the folder cannot be entered).
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "pDynLib.h"
#include "pText.h"
#include "wfxHost.h"

namespace {

std::u16string HostText(const std::string& path) {
  std::u16string text = plat::Utf8ToUtf16(path);
#ifndef _WIN32
  for (char16_t& c : text)
    if (c == u'\\') c = u'/';
#endif
  return text;
}

bool List(plat::TDynLib lib, const std::string& path) {
  TWfxHandle(WFX_CALL * findFirst)(TWfxChar*, TWfxFindDataW*) = nullptr;
  TWfxBool(WFX_CALL * findNext)(TWfxHandle, TWfxFindDataW*) = nullptr;
  int(WFX_CALL * findClose)(TWfxHandle) = nullptr;
  if (!plat::BindDynLib(lib, "FsFindFirstW", findFirst) || !plat::BindDynLib(lib, "FsFindNextW", findNext) ||
      !plat::BindDynLib(lib, "FsFindClose", findClose))
    return false;
  std::u16string text = HostText(path);
  TWfxFindDataW fd{};
  TWfxHandle h = findFirst(reinterpret_cast<TWfxChar*>(text.data()), &fd);
  if (h == WfxInvalidHandle()) return true;
  do {
    std::printf("%s\n", plat::Utf16ToUtf8(reinterpret_cast<const char16_t*>(fd.cFileName)).c_str());
  } while (findNext(h, &fd));
  findClose(h);
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: talv_mini_host LIBRARY [init | list PATH | unload]...\n");
    return 2;
  }
  plat::TDynLib lib = plat::LoadDynLib(argv[1]);
  if (lib == nullptr) {
    std::fprintf(stderr, "cannot load %s\n", argv[1]);
    return 2;
  }
  for (int i = 2; i < argc; ++i) {
    if (lib == nullptr) return 2;
    const std::string step = argv[i];
    if (step == "init") {
      int(WFX_CALL * init)(int, TWfxProgressProcW, TWfxLogProcW, TWfxRequestProcW) = nullptr;
      if (!plat::BindDynLib(lib, "FsInitW", init)) return 3;
      init(1, nullptr, nullptr, nullptr);
    } else if (step == "list" && i + 1 < argc) {
      if (!List(lib, argv[++i])) return 3;
    } else if (step == "cd" && i + 1 < argc) {
      std::error_code error;
      std::filesystem::current_path(argv[++i], error);
      if (error) return 3;
    } else if (step == "unload") {
      plat::FreeDynLib(lib);
      lib = nullptr;
    }
  }
  std::fflush(stdout);
  std::exit(0);
}
